#include "test_profile.h"

#include <algorithm>

DWORD TestProfile::GetSourceFilesForVerification(std::vector<std::wstring>& fileNames) {
    calls.push_back(L"GetSourceFilesForVerification");
    fileNames.insert(fileNames.end(), sourceFiles.begin(), sourceFiles.end());
    return sourceFilesResult;
}

DWORD TestProfile::GetInstalledApplicationList(ApplicationPathList& appInstallLocationList) {
    calls.push_back(L"GetInstalledApplicationList");
    appInstallLocationList.insert(appInstallLocationList.end(), applications.begin(),
                                  applications.end());
    return applicationsResult;
}

DWORD TestProfile::GetSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& out) {
    calls.push_back(L"GetSourceFileWithDestinationPaths");
    out.insert(files.begin(), files.end());
    return filesResult;
}

DWORD TestProfile::GetAllSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& out) {
    calls.push_back(L"GetAllSourceFileWithDestinationPaths");
    out.insert(allFiles.begin(), allFiles.end());
    return allFilesResult;
}

DWORD TestProfile::GetCLSID(std::wstring& out) {
    calls.push_back(L"GetCLSID");
    if (clsidResult == 0) out = clsid;
    return clsidResult;
}

bool TestProfile::IsCOMRegistrationRequired() { return comRequired; }
bool TestProfile::IsINIEntryRequired() { return iniRequired; }
bool TestProfile::IsRegistrySettingRequired() { return registryRequired; }

DWORD TestProfile::GetFileNameForCOMRegistration(std::wstring& fileName) {
    calls.push_back(L"GetFileNameForCOMRegistration");
    if (comFileResult == 0) fileName = comFile;
    return comFileResult;
}

DWORD TestProfile::GetAllFileNamesForCOMRegistration(COMServerFileMap& out) {
    calls.push_back(L"GetAllFileNamesForCOMRegistration");
    out.insert(allComFiles.begin(), allComFiles.end());
    return allComFilesResult;
}

bool TestProfile::Is64BitApplication() { return is64Bit; }

DWORD TestProfile::GetRegistryKeyValueData(std::vector<RegistryKeyValueData>& out) {
    calls.push_back(L"GetRegistryKeyValueData");
    out.insert(out.end(), keys.begin(), keys.end());
    return keysResult;
}

DWORD TestProfile::GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>& out) {
    calls.push_back(L"GetAllRegistryKeyValueData");
    out.insert(out.end(), allKeys.begin(), allKeys.end());
    return allKeysResult;
}

DWORD TestProfile::GetINIFileEntryInfo(INIFileEntryInfo& entry) {
    calls.push_back(L"GetINIFileEntryInfo");
    if (iniEntryResult == 0) entry = iniEntry;
    return iniEntryResult;
}

DWORD TestProfile::EnablePlugin(const ApplicationPathList&, bool removeIfDisabled, bool& pluginEnabled) {
    calls.push_back(L"EnablePlugin");
    enableRemoveFlags.push_back(removeIfDisabled);
    pluginEnabled = !enableFindsDisabled;
    return enableResult;
}

bool TestProfile::IsApplicationListRequiredForCleanUp() { return applicationListForCleanUp; }

DWORD TestProfile::GetInstallerConfigSectionName(std::wstring& out) {
    calls.push_back(L"GetInstallerConfigSectionName");
    if (sectionResult == 0) out = section;
    return sectionResult;
}

int TestProfile::Calls(const std::wstring& slot) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), slot));
}
