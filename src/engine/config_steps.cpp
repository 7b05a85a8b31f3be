#include "engine/plugin_installation_manager.h"

#include "state/installer_config_file.h"

namespace {

constexpr const wchar_t* kUpdateApplicationPathsStart =
    L"UpdateInstallerConfigFile ApplicationPathList Start";
constexpr const wchar_t* kUpdateApplicationPathsEnd =
    L"UpdateInstallerConfigFile ApplicationPathList End";
constexpr const wchar_t* kUpdateIniPathsStart = L"UpdateInstallerConfigFile INIPathList Start";
constexpr const wchar_t* kUpdateIniPathsEnd = L"UpdateInstallerConfigFile INIPathList End";
constexpr const wchar_t* kUpdateCommandLineStart =
    L"UpdateInstallerConfigFile CommandLine INIPathList Start";
constexpr const wchar_t* kUpdateCommandLineEnd =
    L"UpdateInstallerConfigFile CommandLine INIPathList End";

constexpr const wchar_t* kCleanUpStart = L"Cleaning up installer config file Start";
constexpr const wchar_t* kCleanUpEnd = L"Cleaning up installer config file End";
// A missing file is no failure: the line carries no code.
constexpr const wchar_t* kCleanUpNoFile = L"CleanUpInstallerConfigFile: failure, Error=";
constexpr const wchar_t* kCleanUpNoFileReason = L" Installer config file doesn't found";
constexpr const wchar_t* kClearApplicationListFailure =
    L"CleanUpInstallerConfigFile: ClearApplicationList failure";
constexpr const wchar_t* kClearIniListFailure = L"CleanUpInstallerConfigFile: ClearINIList failure";

}  // namespace

DWORD PluginInstallationManager::UpdateInstallerConfigFile(
    const std::wstring& section, const ApplicationPathList& applicationPaths) {
    Log(kLogTrace) << kUpdateApplicationPathsStart;
    const DWORD result =
        InstallerConfigFile(installDir).AddApplicationPaths(section, applicationPaths);
    Log(kLogTrace) << kUpdateApplicationPathsEnd;
    return result;
}

// The command-line list is emptied whatever became of the INI paths; their failure wins.
DWORD PluginInstallationManager::UpdateInstallerConfigFile(
    const std::wstring& section, const INIFileEntryInfo& iniFileEntryInfo) {
    const InstallerConfigFile configFile(installDir);
    Log(kLogTrace) << kUpdateIniPathsStart;
    const DWORD iniResult = configFile.AddINIPaths(section, iniFileEntryInfo);
    Log(kLogTrace) << kUpdateIniPathsEnd;
    Log(kLogTrace) << kUpdateCommandLineStart;
    const DWORD commandLineResult = configFile.ClearCommandLineINIList(section);
    Log(kLogTrace) << kUpdateCommandLineEnd;
    return iniResult != ERROR_SUCCESS ? iniResult : commandLineResult;
}

// Empties the profile's two path lists; the keys, the section and the file stay.
DWORD PluginInstallationManager::CleanUpInstallerConfigFile() {
    Log(kLogTrace) << kCleanUpStart;
    std::wstring section;
    DWORD result = GetInstallerConfigSectionName(section);
    if (result == kResultNotSupported) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;

    const InstallerConfigFile configFile(installDir);
    result = configFile.ClearApplicationList(section);
    if (result == ERROR_FILE_NOT_FOUND) {
        Log(kLogTrace) << kCleanUpNoFile << kCleanUpNoFileReason;
        return ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << kClearApplicationListFailure << kErrorSuffix << result;
        return result;
    }

    result = configFile.ClearINIList(section);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        Log(kLogError) << kClearIniListFailure << kErrorSuffix << result;
        return result;
    }
    Log(kLogTrace) << kCleanUpEnd;
    return ERROR_SUCCESS;
}
