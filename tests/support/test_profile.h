// A profile whose every answer a test sets, to drive the engine's procedures and steps
// through their branches. It records the profile slots called, in order.
#pragma once

#include "engine/plugin_installation_manager.h"

#include <string>
#include <vector>

class TestProfile : public PluginInstallationManager {
public:
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

    // Number of calls of a slot by name, e.g. Calls(L"EnablePlugin").
    int Calls(const std::wstring& slot) const;

    using PluginInstallationManager::installDir;
    using PluginInstallationManager::installSourceDir;
    using PluginInstallationManager::logger;
    using PluginInstallationManager::tempDir;

    // Answers; each slot appends or sets these and returns its result.
    std::vector<std::wstring> sourceFiles;
    DWORD sourceFilesResult = 0;
    ApplicationPathList applications;
    DWORD applicationsResult = 0;
    FileCopyMap files;
    DWORD filesResult = 0;
    FileCopyMap allFiles;
    DWORD allFilesResult = 0;
    std::wstring clsid;
    DWORD clsidResult = 0;
    bool comRequired = false;
    bool iniRequired = false;
    bool registryRequired = false;
    std::wstring comFile;
    DWORD comFileResult = 0;
    COMServerFileMap allComFiles;
    DWORD allComFilesResult = 0;
    bool is64Bit = false;
    std::vector<RegistryKeyValueData> keys;
    DWORD keysResult = 0;
    std::vector<RegistryKeyValueData> allKeys;
    DWORD allKeysResult = 0;
    INIFileEntryInfo iniEntry;
    DWORD iniEntryResult = 0;
    DWORD enableResult = 0;
    bool enableFindsDisabled = false;  // EnablePlugin clears pluginEnabled
    bool applicationListForCleanUp = false;
    std::wstring section;              // given only with sectionResult 0
    DWORD sectionResult = ERROR_NOT_SUPPORTED;

    std::vector<std::wstring> calls;
    std::vector<bool> enableRemoveFlags;  // removeIfDisabled of each EnablePlugin call
};
