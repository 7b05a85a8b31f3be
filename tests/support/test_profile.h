// A profile whose every answer a test sets, to drive the engine's procedures and steps
// through what the Outlook profile never reaches: INI entries and the installer config file.
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
        names.insert(names.end(), sourceFiles.begin(), sourceFiles.end());
        return 0;
    }
    DWORD GetInstalledApplicationList(ApplicationPathList& list) override {
        list.insert(list.end(), applications.begin(), applications.end());
        return 0;
    }
    DWORD GetSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& out) override {
        out.insert(files.begin(), files.end());
        return 0;
    }
    // Logs the folders it is given, so that a transcript shows each of them once.
    DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList& paths, FileCopyMap& out) override {
        LogLine line = Log(kLogTrace);
        line << L"(test profile) files of";
        for (const std::wstring& path : paths) line << L" " << path;
        out.insert(files.begin(), files.end());
        return 0;
    }
    DWORD GetCLSID(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    bool IsCOMRegistrationRequired() override { return false; }
    bool IsINIEntryRequired() override { return true; }
    bool IsRegistrySettingRequired() override { return false; }
    DWORD GetFileNameForCOMRegistration(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    DWORD GetAllFileNamesForCOMRegistration(COMServerFileMap&) override { return 0; }
    DWORD GetRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return 0; }
    DWORD GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return 0; }
    DWORD GetINIFileEntryInfo(INIFileEntryInfo& entry) override {
        return Answer(entry, [this](INIFileEntryInfo& answer) { answer = iniEntry; });
    }
    // Logs its call, so that a transcript shows when the engine asks.
    DWORD EnablePlugin(const ApplicationPathList&, bool removeIfDisabled, bool& pluginEnabled) override {
        Log(kLogTrace) << L"(test profile) EnablePlugin removeIfDisabled=" << removeIfDisabled;
        pluginEnabled = !enableFindsDisabled;
        return 0;
    }
    bool IsApplicationListRequiredForCleanUp() override { return listForCleanUp; }
    DWORD GetInstallerConfigSectionName(std::wstring& out) override {
        out = section;
        return sectionResult;
    }

    std::vector<std::wstring> sourceFiles{L"addin.txt"};
    ApplicationPathList applications{L"C:\\App1", L"C:\\App2"};
    FileCopyMap files;  // also every file the removal looks for
    INIFileEntryInfo iniEntry;
    bool enableFindsDisabled = false;
    bool listForCleanUp = false;
    std::wstring section;
    DWORD sectionResult = ERROR_NOT_SUPPORTED;
};
