#include "engine/plugin_installation_manager.h"

#include "sys/sessions.h"

DWORD PluginInstallationManager::Install() {
    bool deploying = false;
    try {
        return InstallSteps(deploying);
    } catch (...) {
        // Out of memory: what was laid down goes, as after any failed step; the exception
        // then answers the request.
        if (deploying) {
            try {
                CleanUp(/*isUninstall=*/false);
            } catch (...) {
            }
        }
        throw;
    }
}

DWORD PluginInstallationManager::InstallSteps(bool& deploying) {
    ApplicationPathList appInstallLocationList;
    INIFileEntryInfo iniFileEntryInfo;
    std::wstring sectionName;
    const bool compareVersions = false;

    if (DWORD r = VerifySource()) {
        ReportFailure(L"Install: VerifySource failure.", r);
        return kResultSourceMissing;
    }
    if (DWORD r = GetInstalledApplicationList(appInstallLocationList))
        return ReportFailure(L"Install: GetInstalledApplicationList failure.", r);
    if (appInstallLocationList.empty()) return kResultNotInstalled;

    deploying = true;
    if (DWORD r = CopyFiles(appInstallLocationList, compareVersions))
        return ReportFailureAndRollBack(L"Install: CopyFiles failure.", r);
    if (IsCOMRegistrationRequired()) {
        if (DWORD r = RegisterCOMServer())
            return ReportFailureAndRollBack(L"Install: RegisterCOMServer failure.", r);
    }
    if (IsRegistrySettingRequired()) {
        if (DWORD r = AddSettingsToRegistry())
            return ReportFailureAndRollBack(L"Install: AddSettingsToRegistry failure.", r);
    }
    if (IsINIEntryRequired()) {
        const DWORD r = AddEntryToINIFile(iniFileEntryInfo);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogInfo) << L"Install: AddEntryToINIFile failure, INI file path doesn't found so "
                             L"returning application not installed error";
            CleanUp(/*isUninstall=*/false);
            return kResultNotInstalled;
        }
        if (r) {
            // A thread left acting as another user must not roll back as that user.
            if (sys::Sessions::IsThreadImpersonating())
                return ReportFailure(L"Install: AddEntryToINIFile failure.", r);
            return ReportFailureAndRollBack(L"Install: AddEntryToINIFile failure.", r);
        }
    }

    const DWORD sectionResult = GetInstallerConfigSectionName(sectionName);
    if (sectionResult != ERROR_SUCCESS && sectionResult != kResultNotSupported)
        return kResultStepFailed;
    if (sectionName.empty()) return kResultSuccess;

    if (DWORD r = CleanUpInstallerConfigFile())
        return ReportFailureAndRollBack(L"Install: CleanUpInstallerConfigFile failure.", r);
    if (DWORD r = UpdateInstallerConfigFile(sectionName, appInstallLocationList))
        return ReportFailureAndRollBack(
            L"Install: UpdateInstallerConfigFile failure while inserting appInstallLocationList.", r);
    if (IsINIEntryRequired()) {
        if (DWORD r = UpdateInstallerConfigFile(sectionName, iniFileEntryInfo))
            return ReportFailureAndRollBack(
                L"Install: UpdateInstallerConfigFile failure while inserting iniFileEntryInfo.", r);
    }
    return kResultSuccess;
}
