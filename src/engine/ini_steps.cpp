#include "engine/plugin_installation_manager.h"

#include "state/installer_config_file.h"
#include "sys/file_system.h"
#include "sys/ini_file.h"
#include "sys/sessions.h"

#include <algorithm>

namespace fs = sys::FileSystem;
namespace ini = sys::IniFile;
namespace sessions = sys::Sessions;

namespace {

constexpr const wchar_t* kAddStart = L"AddEntryToINIFile Start";
constexpr const wchar_t* kAddEnd = L"AddEntryToINIFile End";
constexpr const wchar_t* kAddEntryInfoFailure = L"AddEntryToINIFile: GetINIFileEntryInfo failure";
constexpr const wchar_t* kAddNoFiles =
    L"AddEntryToINIFile: GetINIFileEntryInfo failure, INIFileEntryInfo is empty so returning "
    L"error ERROR_FILE_NOT_FOUND";
constexpr const wchar_t* kAdding = L"Adding INI entry:";
constexpr const wchar_t* kAddUpdateFailure = L"AddEntryToINIFile: UpdateINILotusExtension failure";

constexpr const wchar_t* kRemoveStart = L"RemoveEntryFromINIFile Start";
constexpr const wchar_t* kRemoveEnd = L"RemoveEntryFromINIFile End";
constexpr const wchar_t* kRemoveEntryInfoFailure =
    L"RemoveEntryFromINIFile: GetINIFileEntryInfo failure";
constexpr const wchar_t* kRemoveGetPathsFailure = L"RemoveEntryFromINIFile: GetINIPaths failure";
// Stands where the code would: a missing config file only means nothing was recorded.
constexpr const wchar_t* kNoConfigFile = L"installer config file doesn't found";
constexpr const wchar_t* kNothingToRemove = L"INI path list is empty so return success";
constexpr const wchar_t* kRemoving = L"Removing INI entry:";
constexpr const wchar_t* kRemoveUpdateFailure =
    L"RemoveEntryFromINIFile: UpdateINILotusExtension failure";

constexpr const wchar_t* kVerifyEntryInfoFailure = L"VerifyIniSettings: GetINIFileEntryInfo failure";
constexpr const wchar_t* kVerifyNoFiles = L"VerifyIniSettings: No ini file found, Need Repair";
constexpr const wchar_t* kGetting = L"Getting INI entry:";
constexpr const wchar_t* kVerifyUpdateFailure = L"VerifyIniSettings: UpdateINILotusExtension failure";

constexpr const wchar_t* kNoLoggedOnUsers = L"UpdateINILotusExtension: No Logged on users found";
constexpr const wchar_t* kRevertFailure = L"UpdateINILotusExtension: RevertToSelf failure";

constexpr const wchar_t* kAddValueFailure = L"GetUpdateIniValuesIntoFile: AddValue failure";
constexpr const wchar_t* kRemoveValueFailure = L"GetUpdateIniValuesIntoFile: RemoveValue failure";
constexpr const wchar_t* kGetValuesFailure = L"GetUpdateIniValuesIntoFile: GetValues failure";
constexpr const wchar_t* kIniFileGone =
    L"GetUpdateIniValuesIntoFile: failure, INI file path doesn't found INI file = ";
constexpr const wchar_t* kForgettingIniFile =
    L"GetUpdateIniValuesIntoFile: INI file path doesn't found so removing it from installer "
    L"config file";
constexpr const wchar_t* kRemoveIniValueFailure = L"GetUpdateIniValuesIntoFile: RemoveINIValue failure";

}  // namespace

DWORD PluginInstallationManager::AddEntryToINIFile(INIFileEntryInfo& iniFileEntryInfo) {
    Log(kLogTrace) << kAddStart;
    if (DWORD r = GetINIFileEntryInfo(iniFileEntryInfo)) {
        Log(kLogError) << kAddEntryInfoFailure << kErrorSuffix << r;
        return r;
    }
    if (iniFileEntryInfo.iniFilePaths.empty()) {
        Log(kLogTrace) << kAddNoFiles;
        Log(kLogTrace) << kAddEnd;
        return ERROR_FILE_NOT_FOUND;
    }

    // Every file is tried; the most recent failure is the result.
    DWORD lastFailure = ERROR_SUCCESS;
    for (const std::wstring& path : iniFileEntryInfo.iniFilePaths) {
        Log(kLogTrace) << kAdding << path << L" " << iniFileEntryInfo.section << L" "
                       << iniFileEntryInfo.key << L"=" << iniFileEntryInfo.value;
        std::vector<std::wstring> items;
        bool reached = false;
        const DWORD r = UpdateINILotusExtension(path, iniFileEntryInfo, kIniAdd, std::wstring(), items, reached);
        if (r) {
            Log(kLogError) << kAddUpdateFailure << kErrorSuffix << r;
            // A thread stuck as someone else must not touch the next file.
            if (sessions::IsThreadImpersonating()) return r;
            lastFailure = r;
        }
    }
    Log(kLogTrace) << kAddEnd;
    return lastFailure;
}

DWORD PluginInstallationManager::RemoveEntryFromINIFile(std::vector<std::wstring>& itemLeftIn) {
    Log(kLogTrace) << kRemoveStart;
    INIFileEntryInfo entry;
    if (DWORD r = GetINIFileEntryInfo(entry)) {
        Log(kLogError) << kRemoveEntryInfoFailure << kErrorSuffix << r;
        return r;
    }
    std::wstring sectionName;
    const DWORD sectionResult = GetInstallerConfigSectionName(sectionName);
    if (sectionResult != ERROR_SUCCESS && sectionResult != kResultNotSupported) return sectionResult;

    // Files recorded at install time are cleaned too, also when the profile no longer names them.
    if (!sectionName.empty()) {
        const DWORD r = InstallerConfigFile(installDir).GetINIPaths(sectionName, entry.iniFilePaths);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogTrace) << kRemoveGetPathsFailure << kErrorSuffix << kNoConfigFile;
        } else if (r) {
            Log(kLogError) << kRemoveGetPathsFailure << kErrorSuffix << r;
            return r;
        }
    }
    if (entry.iniFilePaths.empty()) {
        Log(kLogTrace) << kNothingToRemove;
        return ERROR_SUCCESS;
    }

    // Each file once, in code order; paths that differ in letter case stay apart.
    std::vector<std::wstring> paths = entry.iniFilePaths;
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    DWORD lastFailure = ERROR_SUCCESS;
    for (const std::wstring& path : paths) {
        Log(kLogTrace) << kRemoving << path << L" " << entry.section << L" " << entry.key << L"="
                       << entry.value;
        std::vector<std::wstring> items;
        bool reached = false;
        const DWORD r = UpdateINILotusExtension(path, entry, kIniRemove, sectionName, items, reached);
        if (r || !reached) itemLeftIn.push_back(path);
        if (r) {
            Log(kLogError) << kRemoveUpdateFailure << kErrorSuffix << r;
            if (sessions::IsThreadImpersonating()) return r;
            lastFailure = r;
        }
    }
    Log(kLogTrace) << kRemoveEnd;
    return lastFailure;
}

DWORD PluginInstallationManager::VerifyIniSettings(bool& settingsOk) {
    INIFileEntryInfo entry;
    if (DWORD r = GetINIFileEntryInfo(entry)) {
        Log(kLogError) << kVerifyEntryInfoFailure << kErrorSuffix << r;
        return r;
    }
    if (entry.iniFilePaths.empty()) {
        Log(kLogTrace) << kVerifyNoFiles;
        settingsOk = false;
        return ERROR_SUCCESS;
    }

    for (const std::wstring& path : entry.iniFilePaths) {
        Log(kLogTrace) << kGetting << path << L" " << entry.section << L" " << entry.key;
        std::vector<std::wstring> items;
        bool reached = false;
        if (DWORD r = UpdateINILotusExtension(path, entry, kIniRead, std::wstring(), items, reached)) {
            Log(kLogError) << kVerifyUpdateFailure << kErrorSuffix << r;
            return r;
        }
        // As adding compares: an item in other letter case is the add-in's, which adding
        // would not write again.
        if (std::none_of(items.begin(), items.end(),
                         [&](const std::wstring& item) { return sys::IniFile::SameItem(item, entry.value); })) {
            Log(kLogTrace) << L"No value " << entry.value << L"found for Path= " << path;
            settingsOk = false;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;
}

// Works as the service's own account when it can see the file, otherwise as each user of an
// active session in turn until one can; the thread is itself again before the next try.
DWORD PluginInstallationManager::UpdateINILotusExtension(const std::wstring& iniFilePath,
                                                         const INIFileEntryInfo& entry,
                                                         IniOperation operation,
                                                         const std::wstring& sectionName,
                                                         std::vector<std::wstring>& items,
                                                         bool& reached) {
    reached = false;
    std::wstring longPath = iniFilePath;
    if (DWORD r = AddLongPathPrefix(longPath)) return r;

    bool exists = false;
    DWORD existsResult = fs::DoesFileExists(longPath, exists);
    reached = exists;
    if (exists)
        return GetUpdateIniValuesIntoFile(longPath, iniFilePath, entry, operation, sectionName, items);
    CheckIfFileAccessible(longPath, existsResult);

    std::vector<sessions::SessionInfo> sessionList;
    if (DWORD r = sessions::GetLoggedOnSessions(sessionList)) {
        Log(kLogInfo) << kNoLoggedOnUsers << kErrorSuffix << r;
        return ERROR_SUCCESS;
    }
    for (const sessions::SessionInfo& session : sessionList) {
        if (session.State != sessions::kSessionActive) continue;
        sys::UniqueKernelHandle token;
        if (sessions::QueryUserToken(session.SessionId, token)) continue;
        // Declared after the token, so that the thread reverts before the token is closed.
        sessions::Impersonation impersonation;
        if (sessions::Impersonate(token.get(), impersonation)) continue;

        existsResult = fs::DoesFileExists(longPath, exists);
        reached = exists;
        DWORD result = ERROR_SUCCESS;
        if (exists)
            result = GetUpdateIniValuesIntoFile(longPath, iniFilePath, entry, operation, sectionName,
                                                items);
        else
            CheckIfFileAccessible(longPath, existsResult);

        if (DWORD r = impersonation.Revert()) {
            Log(kLogError) << kRevertFailure << kErrorSuffix << r;
            return r;
        }
        if (exists) return result;
    }
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::GetUpdateIniValuesIntoFile(const std::wstring& iniFilePath,
                                                            const std::wstring& recordedPath,
                                                            const INIFileEntryInfo& entry,
                                                            IniOperation operation,
                                                            const std::wstring& sectionName,
                                                            std::vector<std::wstring>& items) {
    switch (operation) {
    case kIniAdd: {
        const DWORD r =
            ini::AddValue(iniFilePath, entry.section, entry.key, entry.value, entry.separator);
        if (r) Log(kLogError) << kAddValueFailure << kErrorSuffix << r;
        return r;
    }
    case kIniRemove: {
        const DWORD r =
            ini::RemoveValue(iniFilePath, entry.section, entry.key, entry.value, entry.separator);
        bool stillThere = false;
        if (r == ERROR_FILE_NOT_FOUND && fs::DoesFileExists(iniFilePath, stillThere) == ERROR_SUCCESS && !stillThere) {
            // A file that is gone is no failure of the removal; the config file forgets it.
            Log(kLogTrace) << kIniFileGone << iniFilePath;
            if (!sectionName.empty()) {
                Log(kLogTrace) << kForgettingIniFile;
                if (DWORD removed = InstallerConfigFile(installDir).RemoveINIValue(sectionName,
                                                                                  recordedPath))
                    Log(kLogInfo) << kRemoveIniValueFailure << kErrorSuffix << removed;
            }
            return ERROR_SUCCESS;
        }
        if (r) Log(kLogError) << kRemoveValueFailure << kErrorSuffix << r;
        return r;
    }
    case kIniRead: {
        const DWORD r = ini::GetValues(iniFilePath, entry.section, entry.key, entry.separator, items);
        if (r) Log(kLogError) << kGetValuesFailure << kErrorSuffix << r;
        return r;
    }
    default:
        return ERROR_SUCCESS;
    }
}
