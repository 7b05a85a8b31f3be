#include "engine/plugin_installation_manager.h"

#include "state/installer_config_file.h"
#include "sys/file_system.h"
#include "sys/sessions.h"

#include <algorithm>

DWORD PluginInstallationManager::Repair() {
    ApplicationPathList appInstallLocationList;
    INIFileEntryInfo iniFileEntryInfo;
    std::wstring sectionName;
    const bool removeIfDisabled = false;
    bool pluginEnabled = true;
    const bool compareVersions = true;  // files already current are not copied again

    if (DWORD r = VerifySource()) {
        ReportFailure(L"Repair: VerifySource failure", r);
        return kResultSourceMissing;
    }
    if (DWORD r = GetInstalledApplicationList(appInstallLocationList))
        return ReportFailure(L"Repair: GetInstalledApplicationList failure", r);
    if (appInstallLocationList.empty()) {
        Log(kLogInfo) << L"Application is either not installed or removed";
        return kResultNotInstalled;
    }

    const DWORD enableResult = EnablePlugin(appInstallLocationList, removeIfDisabled, pluginEnabled);
    if (enableResult == kResultNotSupported) {
        if (!pluginEnabled) return kResultPluginDisabled;
    } else if (enableResult != ERROR_SUCCESS) {
        return ReportFailure(L"Repair: EnablePlugin failure", enableResult);
    }

    bool reinstalled = false;
    if (DWORD r = IsApplicationReinstalled(appInstallLocationList, reinstalled))
        return ReportFailure(L"Repair: IsApplicationReinstalled failure", r);
    if (reinstalled) {
        // The deployment belongs to an earlier installation of the application.
        CleanUp(/*isUninstall=*/false);
    } else {
        bool repairNeeded = false;
        if (DWORD r = VerifySettings(appInstallLocationList, repairNeeded))
            return ReportFailure(L"Repair: VerifySettings failure", r);
        if (!repairNeeded) return pluginEnabled ? kResultNothingToRepair : kResultSuccess;
    }

    if (DWORD r = CopyFiles(appInstallLocationList, compareVersions))
        return ReportFailureAndRollBack(L"Repair: CopyFiles failure", r);
    if (IsCOMRegistrationRequired()) {
        if (DWORD r = RegisterCOMServer()) return ReportFailureAndRollBack(L"Repair: RegisterCOMServer failure", r);
    }
    if (IsRegistrySettingRequired()) {
        if (DWORD r = AddSettingsToRegistry())
            return ReportFailureAndRollBack(L"Repair: AddSettingsToRegistry failure", r);
    }
    if (IsINIEntryRequired()) {
        const DWORD r = AddEntryToINIFile(iniFileEntryInfo);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogInfo) << L"Repair: AddEntryToINIFile failure, INI file path doesn't found so "
                             L"returning application not installed error";
            return kResultNotInstalled;
        }
        if (r) {
            // A thread left acting as another user must not roll back as that user.
            if (sys::Sessions::IsThreadImpersonating())
                return ReportFailure(L"Repair: AddEntryToINIFile failure", r);
            return ReportFailureAndRollBack(L"Repair: AddEntryToINIFile failure", r);
        }
    }

    const DWORD sectionResult = GetInstallerConfigSectionName(sectionName);
    if (sectionResult != ERROR_SUCCESS && sectionResult != kResultNotSupported) return kResultStepFailed;
    if (sectionName.empty()) return kResultSuccess;

    // The recorded lists are extended, not replaced.
    if (DWORD r = UpdateInstallerConfigFile(sectionName, appInstallLocationList))
        return ReportFailureAndRollBack(
            L"Repair: UpdateInstallerConfigFile failure while inserting appInstallLocationList", r);
    if (IsINIEntryRequired()) {
        if (DWORD r = UpdateInstallerConfigFile(sectionName, iniFileEntryInfo))
            return ReportFailureAndRollBack(
                L"Repair: UpdateInstallerConfigFile failure while inserting iniFileEntryInfo", r);
    }
    return kResultSuccess;
}

DWORD PluginInstallationManager::IsApplicationReinstalled(const ApplicationPathList& applicationPaths,
                                                          bool& reinstalled) {
    std::wstring section;
    if (GetInstallerConfigSectionName(section) == kResultNotSupported) {
        reinstalled = false;
        return ERROR_SUCCESS;
    }
    std::vector<std::wstring> recorded;
    const DWORD r = InstallerConfigFile(installDir).GetInstalledApplicationPaths(section, recorded);
    if (r == ERROR_FILE_NOT_FOUND) {
        Log(kLogTrace) << L"IsApplicationReinstalled: failure, Error=" << L" Installer config file doesn't found";
        reinstalled = true;
        return ERROR_SUCCESS;
    }
    if (r != ERROR_SUCCESS) {
        Log(kLogError) << L"IsApplicationReinstalled: GetInstalledApplicationPaths failure" << kErrorSuffix << r;
        return r;
    }
    if (recorded.empty()) {
        reinstalled = true;
        Log(kLogTrace) << L"IsApplicationReinstalled:: Application path list is empty so application is "
                          L"assumed to be reinstalled";
        return ERROR_SUCCESS;
    }
    if (recorded.size() != applicationPaths.size()) {
        reinstalled = true;
        Log(kLogTrace) << L"IsApplicationReinstalled:: Application installed path and config file "
                          L"application path no differs so application is assumed to be reinstalled";
        return ERROR_SUCCESS;
    }
    for (const std::wstring& path : applicationPaths) {
        if (std::none_of(recorded.begin(), recorded.end(),
                         [&](const std::wstring& folder) { return sys::FileSystem::SamePath(folder, path); })) {
            reinstalled = true;
            Log(kLogTrace) << L"IsApplicationReinstalled:" << L"Could not find application path=" << path
                           << L" in a config file so application is assumed to be reinstalled";
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;
}

// The verifications run in a fixed order; the first that finds something missing ends it.
DWORD PluginInstallationManager::VerifySettings(const ApplicationPathList& applicationPaths,
                                                bool& repairNeeded) {
    repairNeeded = false;
    Log(kLogTrace) << L"VerifySettings Start";

    bool ok = true;
    if (DWORD r = VerifyIfFilesExists(applicationPaths, ok)) {
        Log(kLogError) << L"VerifySettings: VerifyIfFilesExists failure" << kErrorSuffix << r;
        return r;
    }
    if (!ok) {
        repairNeeded = true;
        return ERROR_SUCCESS;
    }
    ok = true;
    if (IsCOMRegistrationRequired()) {
        if (DWORD r = VerifyCOMRegistration(ok)) {
            Log(kLogError) << L"VerifySettings: VerifyCOMRegistration failure" << kErrorSuffix << r;
            return r;
        }
        if (!ok) {
            repairNeeded = true;
            return ERROR_SUCCESS;
        }
    }
    ok = true;
    if (IsRegistrySettingRequired()) {
        if (DWORD r = VerifyRegistrySettings(ok)) {
            Log(kLogError) << L"VerifySettings: VerifyRegistrySettings failure" << kErrorSuffix << r;
            return r;
        }
        if (!ok) {
            repairNeeded = true;
            return ERROR_SUCCESS;
        }
    }
    ok = true;
    if (IsINIEntryRequired()) {
        if (DWORD r = VerifyIniSettings(ok)) {
            Log(kLogError) << L"VerifySettings: VerifyIniSettings failure" << kErrorSuffix << r;
            return r;
        }
        if (!ok) repairNeeded = true;
    }
    return ERROR_SUCCESS;
}
