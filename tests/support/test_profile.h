// A profile whose every answer a test sets, to drive the engine's procedures and steps
// through what the Outlook profile never reaches: INI entries, the installer config file,
// failing profile slots.
#pragma once

#include "engine/plugin_installation_manager.h"
#include "machine.h"

#include <string>
#include <vector>

class TestProfile : public PluginInstallationManager {
public:
    // Deploys "addin.txt" from folder\Install into the folder itself, for C:\App1 and
    // C:\App2, with the item "tolvane" in the AddinManagers list of the INI files `ini`.
    TestProfile(const std::wstring& folder, PluginInstallerLogger& logger, std::vector<std::wstring> ini) {
        RemoveTree(folder);
        for (const wchar_t* sub : {L"\\Install", L"\\temp", L"\\ini"}) CreateFolders(folder + sub);
        WriteFileBytes(folder + L"\\Install\\addin.txt", "add-in");
        Initialize(folder, &logger);
        files = {{L"addin.txt", {folder}}};
        iniEntry = {std::move(ini), L"Extensions", L"AddinManagers", L"tolvane", L","};
    }
    ~TestProfile() override { RemoveTree(installDir); }

    DWORD GetSourceFilesForVerification(std::vector<std::wstring>& names) override {
        return names.insert(names.end(), sourceFiles.begin(), sourceFiles.end()), 0;
    }
    DWORD GetInstalledApplicationList(ApplicationPathList& list) override {
        return list.insert(list.end(), applications.begin(), applications.end()), applicationsResult;
    }
    DWORD GetSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& out) override {
        return out.insert(files.begin(), files.end()), 0;
    }
    DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& out) override {
        return out.insert(files.begin(), files.end()), allFilesResult;
    }
    DWORD GetCLSID(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    bool IsCOMRegistrationRequired() override { return comRequired; }
    bool IsINIEntryRequired() override { return iniRequired; }
    bool IsRegistrySettingRequired() override { return registryRequired; }
    DWORD GetFileNameForCOMRegistration(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    DWORD GetAllFileNamesForCOMRegistration(COMServerFileMap&) override { return allComFilesResult; }
    DWORD GetRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return 0; }
    DWORD GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return allKeysResult; }
    DWORD GetINIFileEntryInfo(INIFileEntryInfo& entry) override { return entry = iniEntry, 0; }
    // Logs its call, so that a transcript shows when the engine asks.
    DWORD EnablePlugin(const ApplicationPathList&, bool removeIfDisabled, bool& pluginEnabled) override {
        Log(kLogTrace) << L"(test profile) EnablePlugin removeIfDisabled=" << removeIfDisabled;
        pluginEnabled = !enableFindsDisabled;
        return enableResult;
    }
    bool IsApplicationListRequiredForCleanUp() override { return applicationListForCleanUp; }
    DWORD GetInstallerConfigSectionName(std::wstring& out) override { return out = section, sectionResult; }

    std::vector<std::wstring> sourceFiles{L"addin.txt"};
    ApplicationPathList applications{L"C:\\App1", L"C:\\App2"};
    FileCopyMap files;  // also every file the removal looks for
    INIFileEntryInfo iniEntry;
    bool iniRequired = true, comRequired = false, registryRequired = false, applicationListForCleanUp = false;
    bool enableFindsDisabled = false;
    DWORD applicationsResult = 0, allFilesResult = 0, allComFilesResult = 0, allKeysResult = 0, enableResult = 0;
    std::wstring section;
    DWORD sectionResult = ERROR_NOT_SUPPORTED;
};
