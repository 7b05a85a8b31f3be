#include "outlook/outlook_plugin_installation_manager.h"

#include "outlook/health_repair.h"
#include "sys/file_system.h"
#include "sys/registry.h"

namespace {

using sys::Registry::RegistryValueData;

std::wstring HivePath(const std::wstring& hive, const wchar_t* keyPath) { return hive + L"\\" + keyPath; }

}  // namespace

// Repair looks for records of the file a request lays down for the Outlook found; an
// uninstall removes the records of the agent folder's own copy of either file, each read
// through that file's view, whatever is deployed now.
DWORD OutlookPluginInstallationManager::EnablePlugin(const ApplicationPathList&, bool removeIfDisabled,
                                                     bool& pluginEnabled) {
    pluginEnabled = true;
    std::vector<std::wstring> hives;
    if (DWORD r = sys::Registry::EnumSubKeys(HKEY_USERS, L"", hives, kPerUserRecordsView)) {
        Log(kLogTrace) << L"EnablePlugin:- EnumSubKeys failure" << r;
        return r;
    }
    std::vector<DisabledItemTarget> targets;
    if (removeIfDisabled) {
        targets = GetUninstallTargets();
    } else {
        const DWORD view = is64BitOutlook ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        targets.push_back({is64BitOutlook ? kAddinFile64 : kAddinFile32, view});
    }

    DWORD result = ERROR_SUCCESS;
    for (const std::wstring& hive : hives) {
        RepairMiscRegistryKeys(hive);
        for (const wchar_t* keyPath : kDisabledItemsKeys) {
            const std::wstring path = HivePath(hive, keyPath);
            Log(kLogTrace) << L"EnablePlugin:- Get values of the key" << path;
            for (const DisabledItemTarget& target : targets) {
                std::vector<RegistryValueData> values;
                const DWORD r = sys::Registry::GetValue(HKEY_USERS, path, values, target.view);
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
                    const std::wstring text = value.BinaryDataAsText();
                    const bool names = removeIfDisabled ? RecordNamesPath(text, target.file)
                                                        : text.find(target.file) != std::wstring::npos;
                    if (!names) continue;
                    pluginEnabled = false;
                    Log(kLogTrace) << L"Outlook Plug-in is found to be disabled";
                    if (!removeIfDisabled) return kResultNotSupported;
                    Log(kLogTrace) << L"EnablePlugin:- Outlook Plugin is found to be disabled so deleting "
                                   << L" Subkey = " << path << L" Name = " << value.Name;
                    if (DWORD removed = sys::Registry::RemoveValue(HKEY_USERS, path, value.Name, target.view)) {
                        Log(kLogTrace) << L"EnablePlugin:- RemoveValue failure" << removed;
                        result = removed;
                    }
                }
            }
        }
    }
    return result;
}

std::vector<DisabledItemTarget> OutlookPluginInstallationManager::GetUninstallTargets() const {
    return {{sys::FileSystem::JoinPath(installDir, kAddinFile32), KEY_WOW64_32KEY},
            {sys::FileSystem::JoinPath(installDir, kAddinFile64), KEY_WOW64_64KEY}};
}

// Outlook's record holds the add-in's path and its name, each a run of text between NULs and
// the small numbers of its header. Only an absolute path that ends in the file's name is
// resolved: a relative one would resolve against whatever folder the process is in.
bool RecordNamesPath(const std::wstring& recordText, const std::wstring& path) {
    const std::wstring fileName = path.substr(path.find_last_of(L"\\/") + 1);
    size_t start = 0;
    while (start < recordText.size()) {
        size_t end = start;
        while (end < recordText.size() && recordText[end] >= L' ') ++end;
        const std::wstring run = recordText.substr(start, end - start);
        const bool absolute = (run.size() > 2 && run[1] == L':' && (run[2] == L'\\' || run[2] == L'/')) ||
                              run.rfind(L"\\\\", 0) == 0;
        if (absolute && run.size() >= fileName.size() &&
            sys::Registry::SameName(run.substr(run.size() - fileName.size()), fileName) &&
            sys::FileSystem::SamePath(run, path))
            return true;
        start = end + 1;
    }
    return false;
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
