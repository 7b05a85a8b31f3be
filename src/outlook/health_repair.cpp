#include "outlook/outlook_plugin_installation_manager.h"

#include "outlook/health_repair.h"
#include "sys/file_system.h"
#include "sys/registry.h"

namespace {

using sys::Registry::RegistryValueData;

std::wstring HivePath(const std::wstring& hive, const wchar_t* keyPath) { return hive + L"\\" + keyPath; }

}  // namespace

DWORD OutlookPluginInstallationManager::EnablePlugin(const ApplicationPathList&, bool removeIfDisabled,
                                                     bool& pluginEnabled) {
    pluginEnabled = true;
    std::vector<std::wstring> hives;
    if (DWORD r = sys::Registry::EnumSubKeys(HKEY_USERS, L"", hives, kPerUserRecordsView)) {
        Log(kLogTrace) << L"EnablePlugin:- EnumSubKeys failure" << r;
        return r;
    }
    std::wstring fileName;
    DWORD view = 0;
    GetDisabledItemTarget(removeIfDisabled, fileName, view);

    DWORD result = ERROR_SUCCESS;
    for (const std::wstring& hive : hives) {
        RepairMiscRegistryKeys(hive);
        for (const wchar_t* keyPath : kDisabledItemsKeys) {
            const std::wstring path = HivePath(hive, keyPath);
            Log(kLogTrace) << L"EnablePlugin:- Get values of the key" << path;
            std::vector<RegistryValueData> values;
            const DWORD r = sys::Registry::GetValue(HKEY_USERS, path, values, view);
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
                Log(kLogTrace) << L"EnablePlugin:- GetValue failure" << r;
                return r;
            }
            for (const RegistryValueData& value : values) {
                if (value.ValueType != REG_BINARY) continue;
                // An empty record names no file: it cannot be the add-in's.
                if (value.BinaryData.empty()) {
                    Log(kLogTrace) << L"EnablePlugin:- Name = " << value.Name << L" holds no BINARY data, skipped";
                    continue;
                }
                if (value.BinaryDataAsText().find(fileName) == std::wstring::npos) continue;
                pluginEnabled = false;
                Log(kLogTrace) << L"Outlook Plug-in is found to be disabled";
                if (!removeIfDisabled) return kResultNotSupported;
                Log(kLogTrace) << L"EnablePlugin:- Outlook Plugin is found to be disabled so deleting "
                               << L" Subkey = " << path << L" Name = " << value.Name;
                if (DWORD removed = sys::Registry::RemoveValue(HKEY_USERS, path, value.Name, view)) {
                    Log(kLogTrace) << L"EnablePlugin:- RemoveValue failure" << removed;
                    result = removed;
                }
            }
        }
    }
    return result;
}

// An uninstall has not looked for Outlook: the add-in deployed in the folder tells whose
// records to remove.
void OutlookPluginInstallationManager::GetDisabledItemTarget(bool removeIfDisabled, std::wstring& fileName,
                                                             DWORD& view) const {
    bool deployed64 = false;
    const bool is64Bit = is64BitOutlook ||
                         (removeIfDisabled && sys::FileSystem::DoesFileExists(installDir + L"\\" + kAddinFile64,
                                                                              deployed64) == ERROR_SUCCESS &&
                          deployed64);
    fileName = is64Bit ? kAddinFile64 : kAddinFile32;
    view = is64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// Failures are logged and swallowed: the caller goes on with the next hive.
void OutlookPluginInstallationManager::RepairMiscRegistryKeys(const std::wstring& hiveName) {
    const std::wstring loadTimes = HivePath(hiveName, kLoadTimesKey);
    bool exists = false;
    if (DWORD r = sys::Registry::DoesKeyExist(HKEY_USERS, loadTimes, exists, kPerUserRecordsView))
        Log(kLogTrace) << L"RepairMiscRegistryKeys: DoesKeyExist failure for AddInLoadTimes" << kErrorSuffix << r;
    if (exists) {
        if (DWORD r = sys::Registry::RemoveValue(HKEY_USERS, loadTimes, kAddinProgId, kPerUserRecordsView))
            Log(kLogTrace) << L"RepairMiscRegistryKeys: AddInLoadTimes remove value failure" << kErrorSuffix << r;
    }

    const std::wstring addinKey = HivePath(hiveName, kAddinKeyPath);
    exists = false;
    if (DWORD r = sys::Registry::DoesKeyExist(HKEY_USERS, addinKey, exists, kPerUserRecordsView))
        Log(kLogTrace) << L"RepairMiscRegistryKeys: DoesKeyExist failure for LoadBehavior" << kErrorSuffix << r;
    if (exists) {
        RegistryValueData loadBehavior;
        loadBehavior.ValueType = REG_DWORD;
        loadBehavior.Name = kLoadBehaviorValue;
        loadBehavior.Value = kLoadBehaviorEnabled;
        if (DWORD r = sys::Registry::SetValue(HKEY_USERS, addinKey, {loadBehavior}, kPerUserRecordsView))
            Log(kLogTrace) << L"RepairMiscRegistryKeys: LoadBehavior reset value failure" << kErrorSuffix << r;
    }
}
