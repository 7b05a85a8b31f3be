#include "engine/plugin_installation_manager.h"

#include "sys/sessions.h"

DWORD PluginInstallationManager::Install() {
    // Locals are kept apart as the procedure names them: a failure after copying has
    // begun rolls back, and a roll back is never an uninstall.
    ApplicationPathList appInstallLocationList;
    INIFileEntryInfo iniFileEntryInfo;
    std::wstring sectionName;
    const bool compareVersions = false;
    const bool isUninstall = false;

    const auto fail = [this](const wchar_t* text, DWORD code) {
        Log(kLogError) << text << kErrorSuffix << code;
        return kResultStepFailed;
    };
    const auto failAndRollBack = [&](const wchar_t* text, DWORD code) {
        fail(text, code);
        CleanUp(isUninstall);
        return kResultStepFailed;
    };

    if (DWORD r = VerifySource()) {
        fail(L"Install: VerifySource failure.", r);
        return kResultSourceMissing;
    }
    if (DWORD r = GetInstalledApplicationList(appInstallLocationList))
        return fail(L"Install: GetInstalledApplicationList failure.", r);
    if (appInstallLocationList.empty()) return kResultNotInstalled;

    if (DWORD r = CopyFiles(appInstallLocationList, compareVersions))
        return failAndRollBack(L"Install: CopyFiles failure.", r);
    if (IsCOMRegistrationRequired()) {
        if (DWORD r = RegisterCOMServer())
            return failAndRollBack(L"Install: RegisterCOMServer failure.", r);
    }
    if (IsRegistrySettingRequired()) {
        if (DWORD r = AddSettingsToRegistry())
            return failAndRollBack(L"Install: AddSettingsToRegistry failure.", r);
    }
    if (IsINIEntryRequired()) {
        const DWORD r = AddEntryToINIFile(iniFileEntryInfo);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogInfo) << L"Install: AddEntryToINIFile failure, INI file path doesn't found so "
                             L"returning application not installed error";
            CleanUp(isUninstall);
            return kResultNotInstalled;
        }
        if (r) {
            // A thread left acting as another user must not roll back as that user.
            if (sys::Sessions::IsThreadImpersonating()) return fail(L"Install: AddEntryToINIFile failure.", r);
            return failAndRollBack(L"Install: AddEntryToINIFile failure.", r);
        }
    }

    const DWORD sectionResult = GetInstallerConfigSectionName(sectionName);
    if (sectionResult != ERROR_SUCCESS && sectionResult != kResultNotSupported)
        return kResultStepFailed;
    if (sectionName.empty()) return kResultSuccess;

    if (DWORD r = CleanUpInstallerConfigFile())
        return failAndRollBack(L"Install: CleanUpInstallerConfigFile failure.", r);
    if (DWORD r = UpdateInstallerConfigFile(sectionName, appInstallLocationList))
        return failAndRollBack(
            L"Install: UpdateInstallerConfigFile failure while inserting appInstallLocationList.", r);
    if (IsINIEntryRequired()) {
        if (DWORD r = UpdateInstallerConfigFile(sectionName, iniFileEntryInfo))
            return failAndRollBack(
                L"Install: UpdateInstallerConfigFile failure while inserting iniFileEntryInfo.", r);
    }
    return kResultSuccess;
}
