// Where each procedure writes. A full listing of the prefix's files and registry is taken
// before and after Install, Repair and Uninstall; every difference must lie in the add-in's
// places: the agent folder (its temp subfolder included), the add-in key and the COM class
// in both registry views, and Outlook's per-user records under HKEY_USERS.
#include "figures.h"
#include "file_fixtures.h"
#include "host_process.h"
#include "prefix_listing.h"
#include "scenarios.h"
#include "simulated_machine.h"
#include "sys/handles.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <sstream>

namespace {

// The add-in's places as the listing names them: the registry as stored, where the
// 32-bit view of HKLM\Software is its Wow6432Node subkey and 32-bit classes are kept
// under Software\Classes\Wow6432Node. A place covers its key and everything below.
const wchar_t* const kRegistryPlaces[] = {
    LR"(HKLM\\Software(\\Wow6432Node)?\\Microsoft\\Office\\Outlook\\Addins\\Tolvane\.OutlookAddin\.1)",
    LR"(HKLM\\Software\\Classes(\\Wow6432Node)?\\CLSID\\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18\})",
    // Outlook's per-user records: disabled items, load times, the per-user add-in key.
    LR"(HKU\\[^\\]+\\Software(\\Wow6432Node)?\\Microsoft\\Office\\[^\\]+\\Outlook\\Resiliency\\DisabledItems)",
    LR"(HKU\\[^\\]+\\Software(\\Wow6432Node)?\\Microsoft\\Office\\15\.0\\Outlook\\AddInLoadTimes)",
    LR"(HKU\\[^\\]+\\Software(\\Wow6432Node)?\\Microsoft\\Office\\Outlook\\Addins\\Tolvane\.OutlookAddin\.1)",
};
// Windows' list of files to delete at the next restart. MoveFileExW writes it on the
// library's behalf when a file in use is set aside (MOVEFILE_DELAY_UNTIL_REBOOT); the one
// value is allowed, nothing else of the key. Wine keeps the key under CurrentControlSet,
// Windows under the ControlSet00n that CurrentControlSet links to.
const wchar_t* const kRestartListKey =
    LR"(HKLM\\System\\(CurrentControlSet|ControlSet\d{3})\\Control\\Session Manager)";
constexpr const wchar_t* kRestartListValue = L"PendingFileRenameOperations";
// What Wine itself changes, whatever program runs: its service manager counts in this
// value the service processes it starts (the services that start with a Wine session,
// RpcSs at the first COM call), so it may change between any two listings.
const wchar_t* const kServiceCounterKey =
    LR"(HKLM\\System\\CurrentControlSet\\Control\\ServiceCurrent)";

constexpr const wchar_t* kOutlookAddinsKey = L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins";
constexpr const wchar_t* kOutlookKey = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook";
constexpr const wchar_t* kUserAddinKey =
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
constexpr const wchar_t* kLoadTimesKey =
    L"Software\\Microsoft\\Office\\15.0\\Outlook\\AddInLoadTimes";
constexpr const wchar_t* kProgId = L"Tolvane.OutlookAddin.1";

bool Matches(const wchar_t* pattern, const std::wstring& path) {
    return std::regex_match(path, std::wregex(pattern, std::regex::icase));
}

bool UnderPlace(const std::wstring& path, const wchar_t* place) {
    return Matches((std::wstring(place) + LR"((\\.*)?)").c_str(), path);
}

bool InAgentFolder(const std::wstring& path, const std::wstring& agentFolder) {
    return _wcsnicmp(path.c_str(), agentFolder.c_str(), agentFolder.size()) == 0 &&
           (path.size() == agentFolder.size() || path[agentFolder.size()] == L'\\');
}

bool InPlace(const Change& change, const std::wstring& agentFolder) {
    const EntryName& name = change.name;
    if (name.kind == EntryKind::kFile) return InAgentFolder(name.path, agentFolder);
    for (const wchar_t* place : kRegistryPlaces)
        if (UnderPlace(name.path, place)) return true;
    return name.kind == EntryKind::kValue && name.value == kRestartListValue &&
           Matches(kRestartListKey, name.path);
}

bool WinesOwn(const Change& change) {
    return change.name.kind == EntryKind::kValue && change.name.value.empty() &&
           Matches(kServiceCounterKey, change.name.path);
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// Writing a value or adding or deleting a subkey stamps the key with the time: a key
// whose only change is its stamp is explained by such a change of its own.
template <typename Explained>
bool StampedBy(const Change& change, const std::vector<Change>& changes, Explained explained) {
    if (change.kind != ChangeKind::kChanged || change.name.kind != EntryKind::kKey) return false;
    for (const Change& other : changes) {
        const bool ofThisKey =
            (other.name.kind == EntryKind::kValue && other.name.path == change.name.path) ||
            (other.name.kind == EntryKind::kKey && other.kind != ChangeKind::kChanged &&
             Parent(other.name.path) == change.name.path);
        if (ofThisKey && explained(other)) return true;
    }
    return false;
}

// The changes that `explained` does not account for, one per line.
template <typename Explained>
std::string Unexplained(const std::vector<Change>& changes, Explained explained) {
    std::ostringstream out;
    for (const Change& change : changes)
        if (!explained(change) && !StampedBy(change, changes, explained))
            out << Describe(change) << "\n";
    return out.str();
}

std::wstring CurrentUserHive() {
    for (const std::wstring& name : RawSubKeys(HKEY_USERS, L"", 0))
        if (name.rfind(L"S-1-5-21", 0) == 0) return name;
    return {};
}

class WriteScope : public ::testing::TestWithParam<Scenario> {
protected:
    // Runs the request between two listings and checks every difference.
    void ExpectWritesInPlace(const wchar_t* request, DWORD expected) {
        const Listing before = ListPrefix();
        const HostOutcome run = RunHost(request, machine.agentFolder());
        const Listing after = ListPrefix();
        ASSERT_EQ(run.exitCode, expected) << run.output;

        const std::vector<Change> changes = Compare(before, after);
        const std::string outOfPlace = Unexplained(changes, [this](const Change& change) {
            return InPlace(change, machine.agentFolder()) || WinesOwn(change);
        });
        WriteScopeFigures& figures = Figures::Get().WriteScope();
        ++figures.checked;
        figures.changes += static_cast<int>(changes.size());
        if (outOfPlace.empty()) ++figures.clean;
        EXPECT_FALSE(changes.empty()) << "the request changed nothing";
        EXPECT_EQ(outOfPlace, "") << "written outside the add-in's places by "
                                  << std::string(request, request + std::wcslen(request));
    }

    const Scenario& scenario = GetParam();
    SimulatedMachine machine{scenario.officeVersion, scenario.view, scenario.officeFolder};
    // Outlook's own add-ins key, under which the add-in's key goes.
    ScopedRegistryKey outlookAddins{HKEY_LOCAL_MACHINE, kOutlookAddinsKey, scenario.view};
    const std::wstring hive = CurrentUserHive();
};

TEST(WriteScopeRules, ExplainOnlyTheAddinsPlacesTheirKeysStampsAndWinesOwnValue) {
    const std::wstring agent = L"C:\\users\\root\\Temp\\opi-1";
    const std::wstring addin =
        L"HKLM\\Software\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
    const std::wstring classKey =
        L"HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
    const std::wstring sessionManager =
        L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager";
    const std::wstring outlook = L"HKU\\S-1-5-21-1\\Software\\Microsoft\\Office\\15.0\\Outlook";
    const auto file = [](ChangeKind kind, const std::wstring& path) {
        return Change{kind, {EntryKind::kFile, path, {}}};
    };
    const auto key = [](ChangeKind kind, const std::wstring& path) {
        return Change{kind, {EntryKind::kKey, path, {}}};
    };
    const auto value = [](const std::wstring& path, const std::wstring& name) {
        return Change{ChangeKind::kAdded, {EntryKind::kValue, path, name}};
    };
    const std::vector<Change> changes = {
        file(ChangeKind::kChanged, agent),                            // its stamp
        file(ChangeKind::kAdded, agent + L"\\temp\\tolvane.dll_42"),  // set aside
        file(ChangeKind::kAdded, agent + L"0\\tolvane.dll"),          // a folder beside it
        file(ChangeKind::kChanged, L"C:\\users\\root\\Temp"),
        key(ChangeKind::kAdded, addin),
        key(ChangeKind::kChanged,
            L"HKLM\\Software\\Microsoft\\Office\\Outlook\\Addins"),  // stamped by it
        key(ChangeKind::kAdded, addin + L"0"),                       // another add-in
        key(ChangeKind::kChanged,
            L"HKLM\\Software\\Microsoft\\Office"),  // stamped by nothing in place
        value(classKey + L"\\InprocServer32", L""),
        value(
            L"HKLM\\Software\\Wow6432Node\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}",
            L""),
        value(sessionManager, L"PendingFileRenameOperations"),
        value(sessionManager, L"BootExecute"),
        value(outlook + L"\\Resiliency\\DisabledItems", L"1A2B"),
        value(outlook + L"\\Preferences", L"1A2B"),
        value(L"HKLM\\System\\CurrentControlSet\\Control\\ServiceCurrent", L""),
    };
    EXPECT_EQ(
        Unexplained(
            changes,
            [&](const Change& change) { return InPlace(change, agent) || WinesOwn(change); }),
        "added file C:\\users\\root\\Temp\\opi-10\\tolvane.dll\n"
        "changed file C:\\users\\root\\Temp\n"
        "added key HKLM\\Software\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.10\n"
        "changed key HKLM\\Software\\Microsoft\\Office\n"
        "added value "
        "HKLM\\Software\\Wow6432Node\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18} : \n"
        "added value HKLM\\System\\CurrentControlSet\\Control\\Session Manager : BootExecute\n"
        "added value HKU\\S-1-5-21-1\\Software\\Microsoft\\Office\\15.0\\Outlook\\Preferences : "
        "1A2B\n");
}

TEST(WriteScopeOfWine, AProgramThatDoesNothingChangesOnlyWhatWineChangesItself) {
    // The exclusions on Wine's account are exactly what changes around a program that
    // loads no library and writes nothing.
    const Listing before = ListPrefix();
    const HostOutcome usage = RunHostUsage();
    const Listing after = ListPrefix();
    ASSERT_TRUE(usage.started);
    EXPECT_EQ(Unexplained(Compare(before, after), WinesOwn), "");
}

TEST_P(WriteScope, InstallRepairAndUninstallWriteOnlyInTheAddinsPlaces) {
    ASSERT_FALSE(hive.empty());
    // Records Outlook keeps for the user, which Repair and Uninstall set right.
    ScopedRegistryKey loadTimes(HKEY_USERS, hive + L"\\" + kLoadTimesKey, 0);
    const BYTE loadTime[] = {1, 2, 3, 4};
    loadTimes.SetRaw(L"", kProgId, REG_BINARY, loadTime, sizeof(loadTime));
    ScopedRegistryKey userAddin(HKEY_USERS, hive + L"\\" + kUserAddinKey, 0);
    const DWORD disabledByUser = 2;
    userAddin.SetRaw(L"", L"LoadBehavior", REG_DWORD, &disabledByUser, sizeof(disabledByUser));

    ExpectWritesInPlace(L"install", 0);

    {
        // A newer version while the deployed file is in use: the copy sets it aside, and
        // Windows is asked to delete it at the next restart.
        const PendingRenames restartList;
        const sys::UniqueFile inUse(CreateFileW(machine.AgentFile(scenario.addinFile).c_str(),
                                                GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse);
        CopyAddin(std::wstring(L"v2\\") + scenario.addinFile, machine.agentFolder() + L"\\Install",
                  scenario.addinFile);
        ExpectWritesInPlace(L"repair", 0);
        EXPECT_EQ(FolderEntries(machine.TempFolder()).size(), 1u) << "the file in use was not set aside";
    }

    // Outlook disabled the add-in for the user. A fresh installer has not detected Outlook,
    // so Uninstall looks for the 32-bit file name through the 32-bit view.
    ScopedRegistryKey disabled(
        HKEY_USERS, hive + L"\\" + kOutlookKey + L"\\Resiliency\\DisabledItems", KEY_WOW64_32KEY);
    const std::wstring record = L"\x0001" + machine.AgentFile(L"tolvane.dll");
    disabled.SetRaw(L"", L"1A2B", REG_BINARY, record.data(),
                    static_cast<DWORD>(record.size() * sizeof(wchar_t)));
    ExpectWritesInPlace(L"uninstall", 0);
}

INSTANTIATE_TEST_SUITE_P(Procedures, WriteScope, ::testing::Values(k64BitOutlook, k32BitOutlook),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.id);
                         });

}  // namespace
