#include "outlook/outlook_plugin_installation_manager.h"

#include <cstdlib>

namespace {

struct ValueText {
    const wchar_t* name;
    const wchar_t* type;  // registry type number as decimal text
    const wchar_t* value;
};

// The values Outlook reads under the add-in key; FileName is filled in per bitness.
constexpr const wchar_t* kFileNameValue = L"FileName";
constexpr ValueText kAddinValues32[] = {
    {kFileNameValue, L"1", kAddinFile32},
    {L"FriendlyName", L"1", L"Outlook2K3 Addin"},
    {L"Description", L"1", L"ATLCOM Outlook Addin"},
    {L"CommandLineSafe", L"4", L"00000000"},
    {L"LoadBehavior", L"4", L"00000003"},
};
constexpr ValueText kAddinValues64[] = {
    {kFileNameValue, L"1", kAddinFile64},
    {L"FriendlyName", L"1", L"Outlook2K3 Addin"},
    {L"Description", L"1", L"ATLCOM Outlook Addin"},
    {L"CommandLineSafe", L"4", L"00000000"},
    {L"LoadBehavior", L"4", L"00000003"},
};

template <size_t N>
RegistryKeyValueData AddinKey(const ValueText (&values)[N], DWORD view) {
    RegistryKeyValueData key;
    key.root = HKEY_LOCAL_MACHINE;
    key.subKey = kAddinKeyPath;
    key.registryView = view;
    for (const ValueText& value : values) {
        const DWORD type = _wtoi(value.type) == REG_DWORD ? REG_DWORD : REG_SZ;
        key.regValueList.push_back({value.name, type, value.value});
    }
    return key;
}

}  // namespace

DWORD OutlookPluginInstallationManager::GetSourceFilesForVerification(
    std::vector<std::wstring>& fileNames) {
    fileNames.push_back(kAddinFile32);
    fileNames.push_back(kAddinFile64);
    return ERROR_SUCCESS;
}

// The add-in goes into the agent folder, not into the Outlook folders found.
DWORD OutlookPluginInstallationManager::GetSourceFileWithDestinationPaths(
    const ApplicationPathList&, FileCopyMap& files) {
    files.emplace(is64BitOutlook ? kAddinFile64 : kAddinFile32, std::vector<std::wstring>{installDir});
    return ERROR_SUCCESS;
}

DWORD OutlookPluginInstallationManager::GetAllSourceFileWithDestinationPaths(
    const ApplicationPathList&, FileCopyMap& files) {
    files.emplace(kAddinFile32, std::vector<std::wstring>{installDir});
    files.emplace(kAddinFile64, std::vector<std::wstring>{installDir});
    return ERROR_SUCCESS;
}

DWORD OutlookPluginInstallationManager::GetCLSID(std::wstring& clsid) {
    clsid = kAddinClsid;
    return ERROR_SUCCESS;
}

bool OutlookPluginInstallationManager::IsCOMRegistrationRequired() { return true; }
bool OutlookPluginInstallationManager::IsINIEntryRequired() { return false; }
bool OutlookPluginInstallationManager::IsRegistrySettingRequired() { return true; }

DWORD OutlookPluginInstallationManager::GetFileNameForCOMRegistration(std::wstring& fileName) {
    fileName = is64BitOutlook ? kAddinFile64 : kAddinFile32;
    return ERROR_SUCCESS;
}

// Both files are unregistered whatever was detected.
DWORD OutlookPluginInstallationManager::GetAllFileNamesForCOMRegistration(COMServerFileMap& files) {
    files.emplace(kAddinFile32, false);
    files.emplace(kAddinFile64, true);
    return ERROR_SUCCESS;
}

bool OutlookPluginInstallationManager::Is64BitApplication() { return is64BitOutlook; }

DWORD OutlookPluginInstallationManager::GetRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    return is64BitOutlook ? Get64BitRegistryKeyValueData(keys) : Get32BitRegistryKeyValueData(keys);
}

// Both keys are removed whatever was detected.
DWORD OutlookPluginInstallationManager::GetAllRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    Get32BitRegistryKeyValueData(keys);
    Get64BitRegistryKeyValueData(keys);
    return ERROR_SUCCESS;
}

DWORD OutlookPluginInstallationManager::GetINIFileEntryInfo(INIFileEntryInfo&) {
    return ERROR_SUCCESS;
}

bool OutlookPluginInstallationManager::IsApplicationListRequiredForCleanUp() { return false; }

DWORD OutlookPluginInstallationManager::GetInstallerConfigSectionName(std::wstring&) {
    return ERROR_NOT_SUPPORTED;
}

DWORD OutlookPluginInstallationManager::Get32BitRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    keys.push_back(AddinKey(kAddinValues32, KEY_WOW64_32KEY));
    return ERROR_SUCCESS;
}

DWORD OutlookPluginInstallationManager::Get64BitRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    keys.push_back(AddinKey(kAddinValues64, KEY_WOW64_64KEY));
    return ERROR_SUCCESS;
}
