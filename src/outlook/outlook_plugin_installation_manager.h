// The Outlook profile: the add-in tolvane.dll / tolvane64.dll, registered with Outlook
// under "Tolvane.OutlookAddin.1". Which file and which registry view apply follows the
// bitness of the Outlook that detection found.
#pragma once

#include "engine/plugin_installation_manager.h"

#include <string>

// A file whose records of being disabled are looked for (repair: a file name found anywhere
// in a record; uninstall: a path named by a record), and the view they are read through.
struct DisabledItemTarget {
    std::wstring file;
    DWORD view;
};

class OutlookPluginInstallationManager : public PluginInstallationManager {
public:
    ~OutlookPluginInstallationManager() override = default;

    DWORD GetSourceFilesForVerification(std::vector<std::wstring>& fileNames) override;
    DWORD GetInstalledApplicationList(ApplicationPathList& appInstallLocationList) override;
    DWORD GetSourceFileWithDestinationPaths(const ApplicationPathList& applicationPaths,
                                            FileCopyMap& files) override;
    DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList& applicationPaths,
                                               FileCopyMap& files) override;
    DWORD GetCLSID(std::wstring& clsid) override;
    bool IsCOMRegistrationRequired() override;
    bool IsINIEntryRequired() override;
    bool IsRegistrySettingRequired() override;
    DWORD GetFileNameForCOMRegistration(std::wstring& fileName) override;
    DWORD GetAllFileNamesForCOMRegistration(COMServerFileMap& files) override;
    bool Is64BitApplication() override;
    DWORD GetRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys) override;
    DWORD GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys) override;
    DWORD GetINIFileEntryInfo(INIFileEntryInfo& entry) override;
    DWORD EnablePlugin(const ApplicationPathList& applicationPaths, bool removeIfDisabled,
                       bool& pluginEnabled) override;
    bool IsApplicationListRequiredForCleanUp() override;
    DWORD GetInstallerConfigSectionName(std::wstring& section) override;

    virtual DWORD Get32BitRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys);
    virtual DWORD Get64BitRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys);
    // Resets Outlook's per-user records of the add-in in one loaded hive; logs failures.
    virtual void RepairMiscRegistryKeys(const std::wstring& hiveName);
    // The add-in files whose disabled-item records an uninstall removes: the agent folder's
    // own copy of each, with the registry view its records are read through.
    std::vector<DisabledItemTarget> GetUninstallTargets() const;

protected:
    // Valid only after GetInstalledApplicationList: set by the first 64-bit find and
    // never cleared, so an uninstall on a fresh object works on the 32-bit add-in.
    bool is64BitOutlook = false;
};

// Whether one of the paths in Outlook's record of a disabled add-in is `path`, compared as
// Windows compares paths.
bool RecordNamesPath(const std::wstring& recordText, const std::wstring& path);

// Position of `word` in `text` ignoring the case of ASCII letters, or npos.
std::wstring::size_type FindStringNoCase(const std::wstring& text, const std::wstring& word);

// Add-in identity, shared by the deployment description and the health repair.
inline constexpr const wchar_t* kAddinFile32 = L"tolvane.dll";
inline constexpr const wchar_t* kAddinFile64 = L"tolvane64.dll";
inline constexpr const wchar_t* kAddinProgId = L"Tolvane.OutlookAddin.1";
inline constexpr const wchar_t* kAddinClsid = L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
inline constexpr const wchar_t* kAddinKeyPath =
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
