#include "outlook/outlook_plugin_installation_manager.h"

#include <cstdlib>
#include <iterator>

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
    return Answer(fileNames, [](std::vector<std::wstring>& names) {
        names.push_back(kAddinFile32);
        names.push_back(kAddinFile64);
    });
}

// The add-in goes into the agent folder, not into the Outlook folders found.
DWORD OutlookPluginInstallationManager::GetSourceFileWithDestinationPaths(
    const ApplicationPathList&, FileCopyMap& files) {
    return Answer(files, [this](FileCopyMap& map) {
        map.emplace(is64BitOutlook ? kAddinFile64 : kAddinFile32, std::vector<std::wstring>{installDir});
    });
}

DWORD OutlookPluginInstallationManager::GetAllSourceFileWithDestinationPaths(
    const ApplicationPathList&, FileCopyMap& files) {
    return Answer(files, [this](FileCopyMap& map) {
        map.emplace(kAddinFile32, std::vector<std::wstring>{installDir});
        map.emplace(kAddinFile64, std::vector<std::wstring>{installDir});
    });
}

DWORD OutlookPluginInstallationManager::GetCLSID(std::wstring& clsid) {
    return Answer(clsid, [](std::wstring& text) { text = kAddinClsid; });
}

bool OutlookPluginInstallationManager::IsCOMRegistrationRequired() { return true; }
bool OutlookPluginInstallationManager::IsINIEntryRequired() { return false; }
bool OutlookPluginInstallationManager::IsRegistrySettingRequired() { return true; }

DWORD OutlookPluginInstallationManager::GetFileNameForCOMRegistration(std::wstring& fileName) {
    return Answer(fileName, [this](std::wstring& name) { name = is64BitOutlook ? kAddinFile64 : kAddinFile32; });
}

// Both files are unregistered whatever was detected.
DWORD OutlookPluginInstallationManager::GetAllFileNamesForCOMRegistration(COMServerFileMap& files) {
    return Answer(files, [](COMServerFileMap& map) {
        map.emplace(kAddinFile32, false);
        map.emplace(kAddinFile64, true);
    });
}

bool OutlookPluginInstallationManager::Is64BitApplication() { return is64BitOutlook; }

DWORD OutlookPluginInstallationManager::GetRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    return is64BitOutlook ? Get64BitRegistryKeyValueData(keys) : Get32BitRegistryKeyValueData(keys);
}

// Both keys are removed whatever was detected.
DWORD OutlookPluginInstallationManager::GetAllRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    std::vector<RegistryKeyValueData> both;
    if (DWORD r = Get32BitRegistryKeyValueData(both)) return r;
    if (DWORD r = Get64BitRegistryKeyValueData(both)) return r;
    return Answer(keys, [&both](std::vector<RegistryKeyValueData>& list) {
        list.insert(list.end(), std::make_move_iterator(both.begin()), std::make_move_iterator(both.end()));
    });
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
    return Answer(keys, [](std::vector<RegistryKeyValueData>& list) {
        list.push_back(AddinKey(kAddinValues32, KEY_WOW64_32KEY));
    });
}

DWORD OutlookPluginInstallationManager::Get64BitRegistryKeyValueData(
    std::vector<RegistryKeyValueData>& keys) {
    return Answer(keys, [](std::vector<RegistryKeyValueData>& list) {
        list.push_back(AddinKey(kAddinValues64, KEY_WOW64_64KEY));
    });
}
