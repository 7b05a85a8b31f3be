#include "status.h"

#include "engine/registry_steps.h"
#include "outlook/detection.h"
#include "outlook/health_repair.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "sys/com_registration.h"
#include "sys/file_security.h"
#include "sys/file_system.h"
#include "sys/handles.h"
#include "sys/registry.h"
#include "sys/version_info.h"

#include <objbase.h>

#include <algorithm>
#include <cstdlib>

namespace status {
namespace {

namespace fs = sys::FileSystem;
namespace reg = sys::Registry;
using reg::RegistryValueData;

constexpr int kBitnesses[] = {32, 64};
constexpr const wchar_t* kRequestInstall = L"install";
constexpr const wchar_t* kRequestRepair = L"repair";
constexpr const wchar_t* kRequestUninstall = L"uninstall";
constexpr size_t kClsidTextLength = 39;
constexpr const wchar_t* kLibraryFile = L"OutlookPluginInstaller.dll";

DWORD ViewOf(int bitness) { return bitness == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
int BitnessOf(DWORD view) { return view == KEY_WOW64_64KEY ? 64 : 32; }

bool IsAbsent(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

using fs::SamePath;

bool IsInFolder(const std::wstring& path, const std::wstring& folder) {
    const std::wstring full = fs::FullPath(path);
    std::wstring prefix = fs::FullPath(folder);
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
    return full.size() > prefix.size() && SamePath(full.substr(0, prefix.size()), prefix);
}

std::wstring TypeName(DWORD type) {
    switch (type) {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_DWORD: return L"REG_DWORD";
    case REG_BINARY: return L"REG_BINARY";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    default: return L"type " + std::to_wstring(type);
    }
}

std::wstring ValueText(const RegistryValueData& value) {
    switch (value.ValueType) {
    case REG_SZ:
    case REG_EXPAND_SZ: return value.Value;
    case REG_DWORD: return std::to_wstring(value.DwordValue);
    case REG_BINARY: return std::to_wstring(value.BinaryData.size()) + L" bytes";
    default: return L"";
    }
}

// A number of the value table is decimal text ("00000003"), written as the registry layer
// converts it.
std::wstring ExpectedText(const RegistryValueEntry& entry) {
    return entry.ValueType == REG_DWORD ? std::to_wstring(static_cast<DWORD>(_wtoi(entry.Value.c_str())))
                                        : entry.Value;
}

// The program of a command line: the quoted part, or everything up to the first blank.
std::wstring ProgramOf(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"') return command.substr(1, command.find(L'"', 1) - 1);
    return command.substr(0, command.find(L' '));
}

class Diagnosis {
public:
    Diagnosis(const std::wstring& agentFolder, const std::wstring& dllPath) : dllPath_(dllPath) {
        report_.agentFolder = agentFolder;
        profile_.Initialize(agentFolder, nullptr);
    }

    Report Run() {
        Read(L"library", &Diagnosis::ReadLibrary);
        Read(L"Outlook", &Diagnosis::ReadOutlook);
        Read(L"files", &Diagnosis::ReadFiles);
        Read(L"COM class", &Diagnosis::ReadComClass);
        Read(L"add-in key", &Diagnosis::ReadAddinKey);
        Read(L"users", &Diagnosis::ReadUsers);
        Read(L"safety", &Diagnosis::ReadSafety);
        Judge();
        return std::move(report_);
    }

private:
    // A part that cannot be read to its end (a file or value too large to hold) is a read
    // failure, and what was read of it is not judged.
    void Read(const wchar_t* part, void (Diagnosis::*read)()) {
        try {
            (this->*read)();
        } catch (const std::exception&) {
            ReadFailure(part, ERROR_NOT_ENOUGH_MEMORY);
            incomplete_ = true;
        }
    }

    void Add(const char* code, const std::wstring& subject, const std::wstring& what,
             std::vector<std::wstring> fix, const std::wstring& reason) {
        report_.problems.push_back({code, subject, what, std::move(fix), reason});
    }

    // What cannot be read cannot be judged, and a request that reads it fails the same way.
    void ReadFailure(const std::wstring& subject, DWORD code) {
        Add("read-failure", subject, L"could not be read: error " + std::to_wstring(code), {},
            L"the entry is unreadable or of the wrong type; it has to be mended by hand (status run as "
            L"another account than the agent's may also be refused)");
    }

    // What the add-in is made of comes from the profile; an answer it could not give (memory ran
    // out) is a failed read of that part.
    void Described(const wchar_t* part, DWORD code) {
        if (code != ERROR_SUCCESS) ReadFailure(part, code);
    }

    // Which build support staff diagnose with. Not judged: the agent may load its own copy.
    void ReadLibrary() {
        FileFact& dll = report_.dll;
        dll.path = dllPath_;
        dll.unreadable = fs::DoesFileExists(dll.path, dll.present) != ERROR_SUCCESS;
        if (dll.present) sys::VersionInfo::GetFileVersionString(dll.path, dll.fileVersion);
    }

    void ReadOutlook() {
        for (const int bitness : kBitnesses) {
            for (const wchar_t* key : kInstallRootKeys) {
                std::wstring path;
                const DWORD r = reg::GetStringValue(HKEY_LOCAL_MACHINE, key, kInstallRootValue, path,
                                                    ViewOf(bitness));
                if (r != ERROR_SUCCESS && !IsAbsent(r)) ReadFailure(std::wstring(L"HKLM\\") + key, r);
                if (r != ERROR_SUCCESS || path.empty()) continue;
                const bool supported = std::any_of(
                    std::begin(kOfficeFolderKeywords), std::end(kOfficeFolderKeywords),
                    [&](const wchar_t* word) { return FindStringNoCase(path, word) != std::wstring::npos; });
                report_.outlooks.push_back({key, bitness, path, supported});
            }
        }
        // The bitness is the profile's own decision, as a request makes it.
        ApplicationPathList found;
        detectionFailed_ = profile_.GetInstalledApplicationList(found) != ERROR_SUCCESS;
        if (!detectionFailed_ && !found.empty()) {
            report_.requestBitness = profile_.Is64BitApplication() ? 64 : 32;
            Described(L"the add-in's file", profile_.GetFileNameForCOMRegistration(report_.requestFile));
        }
    }

    FileFact ReadFileFact(const std::wstring& folder, const std::wstring& name) {
        FileFact file;
        file.name = name;
        file.path = fs::JoinPath(folder, name);
        if (const DWORD r = fs::DoesFileExists(file.path, file.present)) {
            ReadFailure(file.path, r);
            file.unreadable = true;
        }
        if (file.present) {
            // A file without a version resource has none to show; any other failure is a failed read.
            const HRESULT r = sys::VersionInfo::GetFileVersionString(file.path, file.fileVersion);
            if (FAILED(r) && HRESULT_CODE(r) != ERROR_RESOURCE_DATA_NOT_FOUND) ReadFailure(file.path, HRESULT_CODE(r));
        }
        return file;
    }

    void ReadFiles() {
        std::vector<std::wstring> sources;
        Described(L"the add-in's source files", profile_.GetSourceFilesForVerification(sources));
        for (const std::wstring& name : sources)
            report_.sourceFiles.push_back(ReadFileFact(profile_.GetInstallSourceDir(), name));

        const ApplicationPathList unused;
        FileCopyMap all;
        FileCopyMap expected;
        Described(L"the add-in's deployed files", profile_.GetAllSourceFileWithDestinationPaths(unused, all));
        if (report_.requestBitness != 0)
            Described(L"the add-in's deployed files", profile_.GetSourceFileWithDestinationPaths(unused, expected));
        for (const auto& [name, folders] : all) {
            for (const std::wstring& folder : folders) {
                FileFact file = ReadFileFact(folder, name);
                file.expected = expected.count(name) != 0;
                bool differs = true;
                const DWORD compared = file.present
                    ? fs::CompareFileVersions(name, profile_.GetInstallSourceDir(), folder, differs)
                    : ERROR_FILE_NOT_FOUND;
                // As repair verifies: files without version resources are not compared.
                file.matchesSource = compared == ERROR_RESOURCE_DATA_NOT_FOUND ||
                                     (compared == ERROR_SUCCESS && !differs);
                // What could not be compared is not judged outdated.
                if (file.present && compared != ERROR_SUCCESS && compared != ERROR_RESOURCE_DATA_NOT_FOUND) {
                    ReadFailure(file.path, compared);
                    file.unreadable = true;
                }
                report_.deployedFiles.push_back(std::move(file));
            }
        }

        std::vector<std::wstring> pending;
        if (const DWORD r = fs::GetPendingDeletions(pending)) ReadFailure(L"PendingFileRenameOperations", r);
        for (const std::wstring& path : pending)
            if (IsInFolder(path, report_.agentFolder)) report_.pendingDeletions.push_back(path);

        const std::wstring& temp = profile_.GetTempDir();
        if (IsLink(temp)) return;  // what it points to is not temp's
        WIN32_FIND_DATAW entry;
        const sys::UniqueFind search(::FindFirstFileW(fs::JoinPath(temp, L"*").c_str(), &entry));
        if (!search) {
            if (const DWORD r = ::GetLastError(); !IsAbsent(r)) ReadFailure(temp, r);
            return;
        }
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = fs::JoinPath(temp, name);
            const bool pendingDeletion = std::any_of(report_.pendingDeletions.begin(), report_.pendingDeletions.end(),
                                                     [&](const std::wstring& p) { return SamePath(p, path); });
            report_.temp.push_back({name, pendingDeletion});
        } while (::FindNextFileW(search.get(), &entry));
        if (const DWORD r = ::GetLastError(); r != ERROR_NO_MORE_FILES) ReadFailure(temp, r);
    }

    // Whether the place is a link; one whose attributes cannot be read is a failed read.
    bool IsLink(const std::wstring& path) {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (const DWORD r = ::GetLastError(); !IsAbsent(r)) ReadFailure(path, r);
            return false;
        }
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }

    void ReadComClass() {
        const DWORD named = profile_.GetCLSID(report_.addinClsid);
        Described(L"the add-in's COM class", named);
        COMServerFileMap servers;  // without the class's name, none is looked at
        if (named == ERROR_SUCCESS)
            Described(L"the add-in's COM servers", profile_.GetAllFileNamesForCOMRegistration(servers));
        for (const auto& [name, is64Bit] : servers) {
            ClassView view;
            view.view = is64Bit ? 64 : 32;
            view.expected = view.view == report_.requestBitness;
            sys::ComRegistration::ClassRegistration registration;
            if (const DWORD r = sys::ComRegistration::ReadClassRegistration(report_.addinClsid, ViewOf(view.view),
                                                                            registration)) {
                ReadFailure(L"COM class " + report_.addinClsid, r);
                view.unreadable = true;
            }
            view.registered = registration.registered;
            view.server = registration.inprocServer;
            view.threadingModel = registration.threadingModel;
            view.agentCopy = !view.server.empty() && SamePath(view.server, fs::JoinPath(report_.agentFolder, name));
            report_.classViews.push_back(std::move(view));
        }

        // Asking the broker would start it; its registration tells whether COM can.
        wchar_t clsid[kClsidTextLength] = {};
        ::StringFromGUID2(sys::ComRegistration::kBrokerClsid, clsid, kClsidTextLength);
        BrokerFact& broker = report_.broker;
        broker.clsid = clsid;
        broker.required = report_.requestBitness == 32;
        for (const int bitness : {64, 32}) {
            sys::ComRegistration::ClassRegistration registration;
            if (const DWORD r = sys::ComRegistration::ReadClassRegistration(broker.clsid, ViewOf(bitness), registration))
                ReadFailure(L"COM class " + broker.clsid, r);
            if (registration.localServer.empty()) continue;
            broker.view = bitness;
            broker.server = registration.localServer;
            fs::DoesFileExists(ProgramOf(broker.server), broker.programPresent);
            broker.registered = broker.programPresent;
            break;
        }
    }

    void ReadAddinKey() {
        std::vector<RegistryKeyValueData> keys;
        std::vector<RegistryKeyValueData> expected;
        Described(L"the add-in's key", profile_.GetAllRegistryKeyValueData(keys));
        if (report_.requestBitness != 0) Described(L"the add-in's key", profile_.GetRegistryKeyValueData(expected));
        for (const RegistryKeyValueData& key : keys) {
            report_.addinKeyPath = key.subKey;
            AddinKeyView view;
            view.view = BitnessOf(key.registryView);
            view.expected = !expected.empty() && expected.front().registryView == key.registryView;
            std::vector<RegistryValueData> values;
            const DWORD r = reg::GetValue(key.root, key.subKey, values, key.registryView);
            view.unreadable = r != ERROR_SUCCESS && !IsAbsent(r);
            if (view.unreadable) ReadFailure(L"HKLM\\" + key.subKey, r);
            view.present = r == ERROR_SUCCESS;
            for (const RegistryValueEntry& entry : key.regValueList) {
                ValueFact fact;
                fact.name = entry.Name;
                fact.type = TypeName(entry.ValueType);
                fact.expected = ExpectedText(entry);
                for (const RegistryValueData& value : values) {
                    if (!reg::SameName(value.Name, entry.Name)) continue;
                    fact.present = true;
                    fact.actualType = TypeName(value.ValueType);
                    fact.actual = ValueText(value);
                    fact.matches = MatchesExpectedValue(entry, value);
                }
                view.values.push_back(std::move(fact));
            }
            report_.addinKeys.push_back(std::move(view));
        }
    }

    // The values of HKU\path, none when the key is absent.
    std::vector<RegistryValueData> HiveValues(const std::wstring& path, DWORD view) {
        std::vector<RegistryValueData> values;
        const DWORD r = reg::GetValue(HKEY_USERS, path, values, view);
        if (r != ERROR_SUCCESS && !IsAbsent(r)) ReadFailure(L"HKU\\" + path, r);
        return values;
    }

    void ReadDisabledItems(UserHive& hive) {
        const wchar_t* files[] = {kAddinFile32, kAddinFile64};
        for (const wchar_t* key : kDisabledItemsKeys) {
            for (const int bitness : kBitnesses) {
                for (const RegistryValueData& value : HiveValues(hive.name + L"\\" + key, ViewOf(bitness))) {
                    if (value.ValueType != REG_BINARY) continue;
                    const std::wstring text = value.BinaryDataAsText();
                    for (const wchar_t* file : files) {
                        if (text.find(file) == std::wstring::npos) continue;
                        // Both views of one key are usually the same key: one record, two views.
                        auto same = std::find_if(hive.disabledItems.begin(), hive.disabledItems.end(),
                                                 [&](const DisabledItem& item) {
                                                     return item.key == key && item.value == value.Name &&
                                                            item.fileNamed == file;
                                                 });
                        if (same == hive.disabledItems.end())
                            hive.disabledItems.push_back(
                                {key, value.Name, file, {bitness},
                                 RecordNamesPath(text, fs::JoinPath(report_.agentFolder, file))});
                        else
                            same->views.push_back(bitness);
                    }
                }
            }
        }
    }

    void ReadUsers() {
        std::vector<std::wstring> hives;
        if (const DWORD r = reg::EnumSubKeys(HKEY_USERS, L"", hives, kPerUserRecordsView)) ReadFailure(L"HKU", r);
        const RegistryValueEntry enabled{kLoadBehaviorValue, REG_DWORD, kLoadBehaviorEnabled};
        for (const std::wstring& name : hives) {
            UserHive hive;
            hive.name = name;
            ReadDisabledItems(hive);
            for (const RegistryValueData& value :
                 HiveValues(name + L"\\" + kAddinKeyPath, kPerUserRecordsView)) {
                if (!reg::SameName(value.Name, kLoadBehaviorValue)) continue;
                hive.loadBehaviorSet = true;
                hive.loadBehaviorType = value.ValueType;
                hive.loadBehaviorNumber = value.DwordValue;
                hive.loadBehavior = ValueText(value);
                hive.loadBehaviorOverrides = !MatchesExpectedValue(enabled, value);
            }
            // Opening for writing writes nothing; it tells whether repair could set it back.
            if (hive.loadBehaviorOverrides) {
                sys::UniqueKey key;
                hive.loadBehaviorWriteError = static_cast<DWORD>(
                    ::RegOpenKeyExW(HKEY_USERS, (name + L"\\" + kAddinKeyPath).c_str(), 0,
                                    KEY_SET_VALUE | kPerUserRecordsView, key.put()));
            }
            for (const RegistryValueData& value : HiveValues(name + L"\\" + kLoadTimesKey, kPerUserRecordsView))
                hive.loadTimeRecord = hive.loadTimeRecord || reg::SameName(value.Name, kAddinProgId);
            report_.users.push_back(std::move(hive));
        }
    }

    // Who else may change where the add-in is loaded from, and links where requests refuse them.
    void ReadSafety() {
        std::vector<std::wstring> places{report_.agentFolder, profile_.GetInstallSourceDir()};
        for (const FileFact& file : report_.sourceFiles)
            if (file.present) places.push_back(file.path);
        for (const FileFact& file : report_.deployedFiles)
            if (file.present) places.push_back(file.path);
        for (const std::wstring& place : places) {
            if (IsLink(place)) continue;
            sys::FileSecurity::Writer writer;
            if (const DWORD r = sys::FileSecurity::FindUntrustedWriter(place, writer)) ReadFailure(place, r);
            if (!writer.account.empty()) report_.unsafePlaces.push_back({place, writer.account, writer.rights});
        }
        std::vector<std::wstring> linkable{profile_.GetInstallSourceDir(), profile_.GetTempDir()};
        for (const FileFact& file : report_.deployedFiles) linkable.push_back(file.path);
        for (const std::wstring& path : linkable)
            if (IsLink(path)) report_.links.push_back(path);
    }

    void JudgeSafety() {
        for (const UnsafePlace& unsafe : report_.unsafePlaces) {
            const std::wstring what = unsafe.account + L" may change it (" + unsafe.rights + L")";
            const bool deployed = std::any_of(report_.deployedFiles.begin(), report_.deployedFiles.end(),
                                              [&](const FileFact& file) { return SamePath(file.path, unsafe.place); });
            if (deployed)
                Add("unsafe-file", unsafe.place, what, {kRequestInstall},
                    L"install replaces the file with a copy that has the agent folder's ACL; repair refuses to load it");
            else
                Add("unsafe-folder", unsafe.place, what, {},
                    L"the ACL of the agent folder, Install and its files must be tightened: install and repair refuse "
                    L"to load the add-in from where others may write, and uninstall removes it without loading it");
        }
        for (const std::wstring& link : report_.links)
            Add("link", link, L"a link stands where the add-in's file, Install or temp belong", {},
                L"requests neither follow nor remove a link there, and fail where they meet it; it has to be removed "
                L"by hand");
    }

    void JudgeDeployment() {
        const auto ownFile = std::find_if(report_.deployedFiles.begin(), report_.deployedFiles.end(),
                                          [](const FileFact& f) { return f.expected; });
        const auto ownClass = std::find_if(report_.classViews.begin(), report_.classViews.end(),
                                           [](const ClassView& c) { return c.expected; });
        const auto ownKey = std::find_if(report_.addinKeys.begin(), report_.addinKeys.end(),
                                         [](const AddinKeyView& k) { return k.expected; });
        if (ownFile == report_.deployedFiles.end() || ownClass == report_.classViews.end() ||
            ownKey == report_.addinKeys.end())
            return;
        // What could not be read has its read failure; judging it as missing would name a fix.
        if (ownFile->unreadable || ownClass->unreadable || ownKey->unreadable) return;
        const bool anyOwn = ownFile->present || ownClass->registered || ownKey->present;
        std::wstring other;
        for (const FileFact& file : report_.deployedFiles)
            if (!file.expected && file.present) other = file.path;
        for (const AddinKeyView& key : report_.addinKeys)
            if (!key.expected && key.present && other.empty())
                other = L"HKLM\\" + report_.addinKeyPath + L" (" + std::to_wstring(key.view) + L"-bit view)";
        const std::wstring bits = std::to_wstring(report_.requestBitness);

        if (!other.empty())
            Add("wrong-bitness", other,
                L"the add-in of the other bitness is deployed; this Outlook is " + bits + L"-bit and loads " +
                    report_.requestFile,
                {kRequestUninstall, kRequestInstall},
                L"uninstall removes both bitnesses' files, keys and classes; install lays down " + report_.requestFile +
                    L"; repair would add it but leave the other one behind");
        if (!anyOwn) {
            if (other.empty())
                Add("not-installed", report_.agentFolder, L"the add-in is not installed", {kRequestInstall},
                    L"install deploys " + report_.requestFile + L", registers it and writes the add-in key");
            return;
        }

        const bool sourcePresent = std::all_of(report_.sourceFiles.begin(), report_.sourceFiles.end(),
                                               [](const FileFact& f) { return f.present; });
        if (!ownFile->present)
            Add("file-missing", ownFile->path, L"the deployed add-in file is missing", {kRequestRepair},
                L"repair finds it missing and copies it from Install");
        else if (sourcePresent && !ownFile->unreadable && !ownFile->matchesSource)
            Add("file-outdated", ownFile->path,
                L"the deployed add-in file (FileVersion " + ownFile->fileVersion + L") differs from Install's",
                {kRequestRepair}, L"repair compares FileVersions and copies Install's file");

        if (!ownClass->registered)
            Add("class-missing", L"COM class " + report_.addinClsid + L" (" + bits + L"-bit view)",
                L"the add-in's COM class is not registered", {kRequestRepair},
                L"repair finds the class missing and registers " + report_.requestFile);
        else if (!ownClass->agentCopy)
            Add("class-elsewhere", L"COM class " + report_.addinClsid + L" (" + bits + L"-bit view)",
                L"the add-in's COM class points to " +
                    (ownClass->server.empty() ? std::wstring(L"no server") : ownClass->server) +
                    L", not to the agent folder's " + report_.requestFile,
                {kRequestInstall},
                L"install registers the agent folder's copy again; repair re-registers only a class that COM "
                L"cannot load");

        const std::wstring keyName = L"HKLM\\" + report_.addinKeyPath + L" (" + bits + L"-bit view)";
        if (!ownKey->present) {
            Add("key-missing", keyName, L"the add-in key is missing", {kRequestRepair},
                L"repair finds it missing and writes it");
            return;
        }
        for (const ValueFact& value : ownKey->values) {
            if (value.matches) continue;
            Add("key-value", keyName + L" : " + value.name,
                value.name + L" is " + (value.present ? value.actualType + L" " + value.actual : L"missing") +
                    L", expected " + value.type + L" " + value.expected,
                {kRequestRepair}, L"repair verifies every value of the add-in key and writes it again");
        }
    }

    void JudgeUsers() {
        // The records repair stops at: those naming the file of the Outlook found, through its
        // view. Those an uninstall removes: those naming the agent folder's own copy of either
        // file, through that file's view.
        for (const UserHive& hive : report_.users) {
            for (const DisabledItem& item : hive.disabledItems) {
                const int fileBitness = item.fileNamed == kAddinFile64 ? 64 : 32;
                const bool seen = std::find(item.views.begin(), item.views.end(), fileBitness) != item.views.end();
                const bool stopsRepair = item.fileNamed == report_.requestFile && seen;
                const bool removable = item.agentCopy && seen;
                std::wstring reason = stopsRepair ? L"repair does not undo it: it reports 3 and repairs nothing "
                                                    L"else while the record is there; "
                                                  : L"repair does not look for it; ";
                reason += removable ? L"uninstall removes the record, install lays the add-in down again"
                                    : L"uninstall removes only records of the agent folder's own " + item.fileNamed +
                                          L" seen through the " + std::to_wstring(fileBitness) +
                                          L"-bit view; the user enables the add-in again in Outlook (Disabled "
                                          L"Items), or the value is deleted by hand";
                Add("disabled-by-outlook", L"HKU\\" + hive.name + L"\\" + item.key + L" : " + item.value,
                    L"Outlook disabled " + item.fileNamed + L" for this user",
                    removable ? std::vector<std::wstring>{kRequestUninstall, kRequestInstall}
                              : std::vector<std::wstring>{},
                    reason);
            }
            if (!hive.loadBehaviorOverrides) continue;
            const std::wstring subject =
                L"HKU\\" + hive.name + L"\\" + report_.addinKeyPath + L" : " + kLoadBehaviorValue;
            const std::wstring what = L"this user's LoadBehavior is " + hive.loadBehavior + L", not 3";
            if (hive.loadBehaviorWriteError == ERROR_SUCCESS)
                Add("load-behavior", subject, what, {kRequestRepair},
                    L"repair sets every loaded user's LoadBehavior back to 3");
            else
                Add("load-behavior", subject, what, {},
                    L"repair cannot write this user's key (error " +
                        std::to_wstring(hive.loadBehaviorWriteError) +
                        L") and leaves it; the key's permissions have to be mended by hand");
        }
    }

    void Judge() {
        if (detectionFailed_ || incomplete_) {  // its read failure says why; without a bitness nothing else is judged
            report_.verdict = Verdict::kNeedsFixing;
            report_.exitCode = kExitNeedsFixing;
            return;
        }
        if (report_.requestBitness == 0) {
            Add("outlook-not-installed", L"Outlook", L"no supported Outlook is installed", {},
                L"install and repair return 2 until Outlook (Office 10 to 15) is installed");
            report_.verdict = Verdict::kOutlookNotInstalled;
            report_.exitCode = kExitOutlookNotInstalled;
            return;
        }
        for (const FileFact& file : report_.sourceFiles)
            if (!file.present && !file.unreadable)
                Add("source-missing", file.path, L"the add-in file is missing from Install", {},
                    L"install and repair return 4 until the agent puts tolvane.dll and tolvane64.dll into Install");
        JudgeSafety();
        JudgeDeployment();
        for (const std::wstring& path : report_.pendingDeletions) {
            for (const FileFact& file : report_.deployedFiles) {
                if (!SamePath(path, file.path)) continue;
                Add("pending-deletion", file.path, L"the deployed add-in file is to be deleted at the next restart", {},
                    L"Windows deletes it at the restart whatever a request does now; after the restart, repair lays "
                    L"the file down again");
            }
        }
        if (report_.broker.required && !report_.broker.registered)
            Add("broker-missing", L"COM class " + report_.broker.clsid,
                L"the registration broker is not registered, or its program is missing", {},
                L"the agent's setup registers it (ComRegistrationBroker.exe /RegServer); install, repair and "
                L"uninstall of the 32-bit add-in fail without it");
        JudgeUsers();
        report_.verdict = report_.problems.empty() ? Verdict::kHealthy : Verdict::kNeedsFixing;
        report_.exitCode = report_.problems.empty() ? kExitHealthy : kExitNeedsFixing;
    }

    const std::wstring dllPath_;
    OutlookPluginInstallationManager profile_;
    bool detectionFailed_ = false;
    bool incomplete_ = false;
    Report report_;
};

}  // namespace

std::wstring DllBesideProgram() {
    wchar_t path[MAX_PATH];
    const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return program.substr(0, program.find_last_of(L'\\') + 1) + kLibraryFile;
}

Report Diagnose(const std::wstring& agentFolder, const std::wstring& dllPath) {
    try {
        return Diagnosis(agentFolder, dllPath).Run();
    } catch (const std::exception&) {
        // Memory ran out outside the parts read: nothing read can be trusted.
        Report failed;
        failed.verdict = Verdict::kNeedsFixing;
        failed.exitCode = kExitNeedsFixing;
        try {
            failed.agentFolder = agentFolder;
            failed.problems.push_back({"read-failure", agentFolder, L"could not be read: error 8", {}, L"memory ran out"});
        } catch (const std::exception&) {
        }
        return failed;
    }
}

}  // namespace status
