#include "engine/plugin_installation_manager.h"

#include "sys/sessions.h"

DWORD PluginInstallationManager::Uninstall() {
    const bool isUninstall = true;
    const DWORD r = CleanUp(isUninstall);
    if (r == ERROR_SUCCESS) return kResultSuccess;
    Log(kLogError) << L"Uninstall: failure" << kErrorSuffix << r;
    return kResultStepFailed;
}

// Removes what a deployment laid down, going on after failures where it can.
// `last` is the code of the most recent of the application-list, INI and registry steps
// that ran: the COM server stays registered when that one failed, and the files stay
// unless every removal before succeeded. A failure of EnablePlugin wins over the rest.
DWORD PluginInstallationManager::CleanUp(bool isUninstall) {
    ApplicationPathList appInstallLocationList;
    std::vector<std::wstring> itemLeftIn;
    DWORD result = ERROR_SUCCESS;
    DWORD last = ERROR_SUCCESS;
    DWORD enableResult = ERROR_SUCCESS;

    const auto fail = [this, &result](const wchar_t* text, DWORD code) {
        Log(kLogError) << text << kErrorSuffix << code;
        result = code;
    };

    if (IsApplicationListRequiredForCleanUp()) {
        last = GetInstalledApplicationList(appInstallLocationList);
        if (last) fail(L"CleanUp: GetInstalledApplicationList failure", last);
    }
    if (isUninstall) {
        bool pluginEnabled = true;
        const DWORD r = EnablePlugin(appInstallLocationList, isUninstall, pluginEnabled);
        if (r != ERROR_SUCCESS && r != kResultNotSupported) {
            Log(kLogError) << L"CleanUp: EnablePlugin failure" << kErrorSuffix << r;
            enableResult = r;
        }
    }
    if (IsINIEntryRequired()) {
        last = RemoveEntryFromINIFile(itemLeftIn);
        if (last) {
            fail(L"CleanUp: RemoveFromINIFile failure", last);
            // A thread left acting as another user does no further work.
            if (sys::Sessions::IsThreadImpersonating()) return last;
        }
    }
    if (IsRegistrySettingRequired()) {
        last = RemoveSettingsFromRegistry();
        if (last) fail(L"CleanUp: RemoveSettingsFromRegistry failure", last);
    }
    if (last == ERROR_SUCCESS && IsCOMRegistrationRequired()) {
        if (DWORD r = UnRegisterCOMServer()) fail(L"CleanUp: UnRegisterCOMServer failure", r);
    }
    if (result == ERROR_SUCCESS) {
        if (DWORD r = DeleteFiles(appInstallLocationList)) fail(L"CleanUp: DeleteFiles failure", r);
    }
    if (DWORD r = CleanUpInstallerConfigFile()) fail(L"CleanUpInstallerConfigFile failure", r);
    // Files that may still hold the item stay recorded, so that a later Uninstall removes it.
    std::wstring section;
    if (!itemLeftIn.empty() && GetInstallerConfigSectionName(section) == ERROR_SUCCESS && !section.empty()) {
        INIFileEntryInfo left;
        left.iniFilePaths = itemLeftIn;
        if (DWORD r = UpdateInstallerConfigFile(section, left)) fail(L"CleanUp: UpdateInstallerConfigFile failure", r);
    }

    return enableResult != ERROR_SUCCESS ? enableResult : result;
}
