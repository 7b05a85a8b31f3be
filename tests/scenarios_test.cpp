// Requests through the exported DLL on a simulated machine, one row a case: the machine
// and the fault it is given, the requests ("(install)" runs first, unlogged), their
// transcript (transcripts/*.txt, result codes included) and the machine's state once the
// fault is gone. Every case ends the same way: then an Uninstall leaves nothing. The rows
// whose outcome hangs on comparing two paths run with the agent folder in every spelling a
// host may give it.
#include "machine.h"
#include "outlook/outlook_plugin_installation_manager.h"

#include <algorithm>

namespace {

using Setup = std::function<Undo(Machine&)>;
using Check = std::function<std::string(const Machine&)>;

struct Case {
    const char* name;  // of its transcript
    Outlook outlook;
    const wchar_t* requests;
    Setup fault;
    Check after;
    std::wstring folder = kAgentFolder;
};

const std::string kMegabyte(1 << 20, 'x');

const Check kWorking = &Machine::Working;
const Check kNothing = &Machine::NothingLeft;

Undo Replace(const std::wstring& path, const std::wstring& fixture) {
    RemoveTree(path);
    EXPECT_TRUE(CopyFileW(Fixture(fixture).c_str(), path.c_str(), FALSE));
    return nullptr;
}

Undo Delete(const std::wstring& path) { RemoveTree(path); return Undo(); }

Undo Folder(const std::wstring& path) {
    RemoveTree(path);
    CreateDirectoryW(path.c_str(), nullptr);
    WriteFileBytes(path + L"\\notes.txt", "stray");
    return Undo();
}

// The deployed DLL in use where no temp folder is there to set it aside in.
Undo InUseNoTemp(Machine& m) {
    RemoveTree(m.Temp());
    return [&m, loaded = KeepLoaded(m.Dll())] {
        loaded();
        CreateDirectoryW(m.Temp().c_str(), nullptr);
    };
}

std::string Fails(bool bad, const char* what) { return bad ? what : ""; }

bool HasRecord(const Machine& m, const std::wstring& name, DWORD view) {
    std::string bytes;
    return ReadValue(HKEY_USERS, m.Hive(1) + kDisabledItems15, name, view, bytes);
}

Check And(Check a, Check b) {
    return [a, b](const Machine& m) { return a(m) + b(m); };
}

const Check kKept = [](const Machine& m) { return Fails(!Exists(m.Dll()), "the file is gone"); };

// Someone else's folder, which a link points to: it keeps its file whatever the library does.
Undo LinkToVictim(Machine& m, const std::wstring& link) {
    CreateFolders(m.Agent(L"Victim"));
    WriteFileBytes(m.Agent(L"Victim\\keep.txt"), "keep");
    return LinkTo(link, m.Agent(L"Victim"));
}

// The deployed DLL in use, and a link to someone else's folder at `link`: temp, or an entry in it.
Undo InUseWithLink(Machine& m, const std::wstring& link) {
    return [&m, loaded = KeepLoaded(m.Dll()), unlink = LinkToVictim(m, link)] {
        loaded();
        unlink();
        CreateDirectoryW(m.Temp().c_str(), nullptr);
    };
}

const Check kVictimKept = [](const Machine& m) {
    return Fails(FolderEntries(m.Agent(L"Victim")) != std::vector<std::wstring>{L"keep.txt"},
                 "the folder the link points to changed");
};

const Check kSetAside = [](const Machine& m) {
    const auto entries = FolderEntries(m.Temp());
    const auto pending = m.PendingDeletions();
    return Fails(entries.size() != 1 || pending.size() != 1 || !SamePlace(pending[0], m.Temp() + L"\\" + entries[0]),
                 "no file set aside for deletion at restart");
};

const Case kCases[] = {
    {"e2e-x86", kOutlook32, L"install repair uninstall", nullptr, kNothing},
    {"e2e-no-outlook", kNoOutlook, L"install repair uninstall", nullptr, kNothing},

    {"repair-deleted", kOutlook64, L"(install) repair repair", [](Machine& m) { return Delete(m.Dll()); }, kWorking},
    {"repair-changed-type", kOutlook64, L"(install) repair",
     [](Machine&) {
         SetValue(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"LoadBehavior", REG_SZ, Bytes(L"3"), KEY_WOW64_64KEY);
         return Undo();
     },
     kWorking},
    // Another program may store a value's name in any case: it is the same value to Windows.
    {"repair-name-in-other-case", kOutlook64, L"(install) repair",
     [](Machine&) {
         DeleteTree(HKEY_LOCAL_MACHINE, kAddinKeyPath, KEY_WOW64_64KEY);
         SetValue(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"fileName", REG_SZ, Bytes(L"tolvane64.dll"), KEY_WOW64_64KEY);
         SetValue(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"FRIENDLYNAME", REG_SZ, Bytes(L"Outlook2K3 Addin"), KEY_WOW64_64KEY);
         SetValue(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"description", REG_SZ, Bytes(L"ATLCOM Outlook Addin"), KEY_WOW64_64KEY);
         SetDword(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"commandLineSafe", 0, KEY_WOW64_64KEY);
         SetDword(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"loadBehavior", 3, KEY_WOW64_64KEY);
         return Undo();
     },
     kWorking},
    {"repair-user-records", kOutlook64, L"(install) repair",
     [](Machine& m) {
         SetValue(HKEY_USERS, m.Hive(1) + kLoadTimes15, kAddinProgId, REG_BINARY, "time");
         SetDword(HKEY_USERS, m.Hive(1) + kUserAddin, L"LoadBehavior", 0);
         return Record(m, L"other", 0, DisabledRecord(L"C:\\other.dll"));
     },
     [](const Machine& m) {
         std::string bytes;
         return Fails(ReadValue(HKEY_USERS, m.Hive(1) + kLoadTimes15, kAddinProgId, 0, bytes), "load time kept") +
                Fails(!HasRecord(m, L"other", 0), "another add-in's record removed") + m.Working();
     }},
    // A copy cut short where the file had its full size reserved: the rest is zeros.
    {"repair-cut-short", kOutlook64, L"(install) repair",
     [](Machine& m) {
         const std::string source = ReadFileBytes(m.Source(m.outlook.dll));
         std::string cut = source.substr(0, source.size() / 2);
         WriteFileBytes(m.Dll(), cut.append(source.size() - cut.size(), '\0'));
         return Undo();
     },
     kWorking},
    // A copy longer than its source, zeros after it, is no copy cut short: nothing to repair.
    {"repair-padded", kOutlook64, L"(install) repair",
     [](Machine& m) { WriteFileBytes(m.Dll(), ReadFileBytes(m.Dll()) + std::string(64, '\0')); return Undo(); }, kKept},
    {"repair-x86-newer", kOutlook32, L"(install) repair",
     [](Machine& m) { return Replace(m.Source(m.outlook.dll), L"v2\\tolvane.dll"); }, kWorking},
    {"repair-turned-64", kOutlook32, L"(install) repair uninstall",
     [](Machine& m) {
         SetValue(HKEY_LOCAL_MACHINE, kInstallRoot15, L"Path", REG_SZ,
                  Bytes(L"C:\\Program Files\\Microsoft Office\\Office15\\"), KEY_WOW64_64KEY);
         DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\14.0", KEY_WOW64_32KEY);
         m.outlook = kOutlook64;
         return Undo();
     },
     kNothing},

    // Install meets a fault: it fails and leaves nothing, or works around it.
    {"install-source-missing", kOutlook64, L"install", [](Machine& m) { return Delete(m.Source(L"tolvane.dll")); },
     kNothing},
    {"install-in-use-no-temp", kOutlook64, L"install",
     [](Machine& m) {
         Replace(m.Dll(), L"v2\\tolvane64.dll");
         return InUseNoTemp(m);
     },
     kKept},
    {"install-folder-in-place", kOutlook64, L"install", [](Machine& m) { return Folder(m.Dll()); }, kNothing},
    {"install-x86-sta", kOutlook32, L"install", [](Machine&) { return EnterSingleThreadedApartment(); }, kNothing},

    // Repair meets a fault: it fails and leaves the add-in working once the fault is gone.
    {"repair-sta", kOutlook64, L"(install) repair", [](Machine&) { return EnterSingleThreadedApartment(); }, kWorking},
    {"repair-in-use-no-temp", kOutlook64, L"(install) repair",
     [](Machine& m) {
         Replace(m.Source(m.outlook.dll), L"v2\\tolvane64.dll");
         return InUseNoTemp(m);
     },
     kKept},
    {"repair-folder-in-place", kOutlook64, L"(install) repair", [](Machine& m) { return Folder(m.Dll()); }, kNothing},

    // Uninstall meets a fault: it reports it, and a second Uninstall once the fault is gone
    // leaves nothing.
    {"uninstall-empty-record", kOutlook64, L"(install) uninstall", [](Machine& m) { return Record(m, L"empty", 0, ""); },
     kNothing},
    {"uninstall-x86-broker-unregistered", kOutlook32, L"(install) uninstall",
     [](Machine&) { return UnregisterBroker(); }, kKept},
    {"uninstall-x86-record-read-only", kOutlook32, L"(install) uninstall",
     [](Machine& m) {
         Record(m, L"1", KEY_WOW64_32KEY, DisabledRecord(m.Dll()));
         return MakeReadOnly(HKEY_USERS, m.Hive(1) + kDisabledItems15, KEY_WOW64_32KEY);
     },
     kNothing},

    // Links where the add-in's file and temp belong are never followed.
    {"install-link-at-addin", kOutlook64, L"install", [](Machine& m) { return LinkToVictim(m, m.Dll()); }, kVictimKept},
    {"uninstall-link-at-addin", kOutlook64, L"(install) uninstall", [](Machine& m) { return LinkToVictim(m, m.Dll()); },
     kVictimKept},
    // A file in use is not set aside through a link at temp; a link among temp's entries stays.
    // (Repair replaces a file as Install does.)
    {"install-in-use-link-at-temp", kOutlook64, L"install",
     [](Machine& m) {
         Replace(m.Dll(), L"v2\\tolvane64.dll");
         return InUseWithLink(m, m.Temp());
     },
     And(kVictimKept, kKept)},
    {"uninstall-in-use-link-at-temp", kOutlook64, L"(install) uninstall",
     [](Machine& m) { return InUseWithLink(m, m.Temp()); }, And(kVictimKept, kKept)},
    {"install-in-use-link-in-temp", kOutlook64, L"install",
     [](Machine& m) {
         Replace(m.Dll(), L"v2\\tolvane64.dll");
         return InUseWithLink(m, m.Temp() + L"\\link");
     },
     And(kVictimKept, And(kWorking, kSetAside))},
    {"uninstall-in-use-link-in-temp", kOutlook64, L"(install) uninstall",
     [](Machine& m) { return InUseWithLink(m, m.Temp() + L"\\link"); }, And(kVictimKept, kSetAside)},

    // Where others may write, the add-in is not loaded: Install and Repair fail before it is,
    // Uninstall removes its class directly. A file others may change is replaced, not written into.
    {"install-unsafe-folder", kOutlook64, L"install", [](Machine& m) { return LetOthersWrite(m.home); }, kNothing},
    {"repair-unsafe-folder", kOutlook64, L"(install) repair", [](Machine& m) { return LetOthersWrite(m.home); },
     kWorking},
    {"uninstall-unsafe-folder", kOutlook64, L"(install) uninstall", [](Machine& m) { return LetOthersWrite(m.home); },
     kNothing},
    {"install-unsafe-source", kOutlook64, L"install",
     [](Machine& m) { return LetOthersWrite(m.Source(m.outlook.dll)); }, kNothing},
    {"install-unsafe-file", kOutlook64, L"install",
     [](Machine& m) {
         Replace(m.Dll(), L"v1\\tolvane64.dll");
         LetOthersWrite(m.Dll());
         return Undo();
     },
     kWorking},

    // What a host, a user or another program may hand over.
    {"hostile-missing-folder", kOutlook64, L"install", [](Machine& m) { return Delete(m.folder); },
     [](const Machine& m) { return Fails(Exists(m.folder), "the folder was created"); }},
    {"hostile-names", kOutlook64, L"install repair uninstall", nullptr, kNothing,
     L"C:\\Agent \u0410\u0433\u0435\u043d\u0442 \u4ee3\u7406 \U0001F4E6\\Outlook"},
    {"hostile-long-folder", kOutlook32, L"install repair uninstall", nullptr, kNothing,
     L"C:\\Agent\\" + std::wstring(100, L'a') + L"\\" + std::wstring(100, L'b') + L"\\" + std::wstring(100, L'c')},
    {"hostile-path-binary", kOutlook64, L"install",
     [](Machine&) { SetValue(HKEY_LOCAL_MACHINE, kInstallRoot15, L"Path", REG_BINARY, "OFFICE15", KEY_WOW64_64KEY); return Undo(); },
     kNothing},
    // The longest value name the registry takes, 16,383 characters, in a user's records.
    {"hostile-longest-value-name", kOutlook64, L"(install) repair",
     [](Machine& m) { return Record(m, std::wstring(16383, L'n'), 0, DisabledRecord(L"C:\\other.dll")); }, kWorking},
    {"hostile-records-of-a-megabyte", kOutlook64, L"(install) repair",
     [](Machine& m) { return Record(m, L"other", 0, kMegabyte + DisabledRecord(L"C:\\other.dll")); }, kWorking},
    {"hostile-zero-bytes", kOutlook64, L"install",
     [](Machine& m) { WriteFileBytes(m.Source(m.outlook.dll), ""); return Undo(); }, kNothing},
    {"hostile-unversioned", kOutlook64, L"install repair uninstall",
     [](Machine& m) { return Replace(m.Source(m.outlook.dll), L"unversioned\\tolvane64.dll"); }, kNothing},

    // Requests repeated and in any order.
    {"repeat-install", kOutlook64, L"install install", nullptr, kWorking},
    {"repeat-uninstall", kOutlook64, L"(install) uninstall uninstall", nullptr, kNothing},
    {"repeat-nothing-installed", kOutlook64, L"uninstall repair", nullptr, kWorking},
    {"repeat-after-uninstall", kOutlook64, L"(install) uninstall install uninstall repair", nullptr, kWorking},
};

// The rows whose outcome hangs on comparing two paths: a registered server or a record's file
// with the agent folder's copy, a set-aside file with the deletions pending, the diagnosis.
// (The broker registers the 32-bit DLL under the path it is given, which then always matches.)
const Case kPathCases[] = {
    // Whole runs on the two machines the add-in serves, and on one without Outlook.
    {"e2e-x64", kOutlook64, L"install repair uninstall", nullptr, kNothing},
    // Repair of what Outlook or a user broke.
    {"repair-disabled", kOutlook64, L"(install) repair uninstall",
     [](Machine& m) { return Record(m, L"1", 0, DisabledRecord(m.Dll())); },
     And(kNothing, [](const Machine& m) { return Fails(HasRecord(m, L"1", 0), "the record is still there"); })},
    {"repair-outdated-in-use", kOutlook64, L"(install) repair",
     [](Machine& m) {
         Replace(m.Source(m.outlook.dll), L"v2\\tolvane64.dll");
         return KeepLoaded(m.Dll());
     },
     And(kWorking, kSetAside)},
    {"install-in-use", kOutlook64, L"install",
     [](Machine& m) {
         Replace(m.Dll(), L"v2\\tolvane64.dll");
         return KeepLoaded(m.Dll());
     },
     And(kWorking, kSetAside)},
    {"uninstall-in-use", kOutlook64, L"(install) uninstall", [](Machine& m) { return KeepLoaded(m.Dll()); },
     And(kNothing, kSetAside)},
    {"uninstall-deleted", kOutlook64, L"(install) uninstall", [](Machine& m) { return Delete(m.Dll()); }, kNothing},
    // A class that names another file is someone else's: it stays until its owner removes it.
    {"uninstall-class-elsewhere", kOutlook64, L"(install) uninstall",
     [](Machine& m) {
         const std::wstring server = kAddinClassKey + L"\\InprocServer32";
         SetValue(HKEY_LOCAL_MACHINE, server, L"", REG_SZ, Bytes(L"C:\\Other\\tolvane64.dll"), KEY_WOW64_64KEY);
         Delete(m.Dll());
         return [server] {
             std::string bytes;
             EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, server, L"", KEY_WOW64_64KEY, bytes)) << "another's class removed";
             DeleteTree(HKEY_LOCAL_MACHINE, kAddinClassKey, KEY_WOW64_64KEY);
         };
     },
     kNothing},
    // A copy cut short in its headers over a registered DLL cannot be loaded to unregister itself.
    {"uninstall-cut-short", kOutlook64, L"(install) uninstall",
     [](Machine& m) {
         const std::string source = ReadFileBytes(m.Source(m.outlook.dll));
         WriteFileBytes(m.Dll(), source.substr(0, 64) + std::string(source.size() - 64, '\0'));
         return Undo();
     },
     kNothing},
    // Records of the agent folder's copy go, whatever is deployed; another's stay.
    {"uninstall-records", kOutlook64, L"uninstall",
     [](Machine& m) {
         Record(m, L"ours", KEY_WOW64_64KEY, DisabledRecord(m.Dll()));
         return Record(m, L"other", KEY_WOW64_64KEY, DisabledRecord(L"C:\\Other\\tolvane64.dll"));
     },
     [](const Machine& m) {
         return Fails(HasRecord(m, L"ours", KEY_WOW64_64KEY), "the agent folder's record is still there") +
                Fails(!HasRecord(m, L"other", KEY_WOW64_64KEY), "another's record is gone");
     }},
};

// The agent folder as a host may spell it; Windows resolves every spelling to one folder.
struct Spelling {
    const char* name;
    std::wstring (*spell)(const std::wstring& folder);
};
const Spelling kAsGiven{"as-given", [](const std::wstring& f) { return f; }};
const Spelling kSpellings[] = {
    kAsGiven,
    {"trailing-backslash", [](const std::wstring& f) { return f + L"\\"; }},
    {"lower-case", [](const std::wstring& f) {
         std::wstring lower = f;
         for (wchar_t& c : lower) c = towlower(c);
         return lower;
     }},
    {"forward-slashes", [](const std::wstring& f) {
         std::wstring slashed = f;
         std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
         return slashed;
     }},
    {"long-path-prefix", [](const std::wstring& f) { return L"\\\\?\\" + f; }},
    {"dot-inside", [](const std::wstring& f) { return f.substr(0, f.rfind(L'\\')) + L"\\." + f.substr(f.rfind(L'\\')); }},
};

class Scenario : public ::testing::TestWithParam<std::tuple<Case, Spelling>> {};

TEST_P(Scenario, LogsItsTranscriptAndLeavesTheMachineAsExpected) {
    const auto& [c, spelling] = GetParam();
    Machine m(c.outlook, spelling.spell(c.folder));
    std::wistringstream requests(c.requests);
    std::wstring request;
    if (requests >> request && request == L"(install)") {
        EXPECT_EQ(m.Run(L"install"), 0u);
        m.log.lines.clear();
    } else {
        requests.seekg(0);
    }
    const Undo undo = c.fault ? c.fault(m) : Undo();
    while (requests >> request) m.Run(request);
    ExpectTranscript(c.name, m.log.lines, m.folder);
    if (undo) undo();
    EXPECT_EQ(c.after(m), "");
    m.log.lines.clear();
    EXPECT_EQ(m.Run(L"uninstall"), 0u) << "once the fault is gone";
    EXPECT_EQ(m.NothingLeft(), "") << "once the fault is gone";
}

std::string RowName(const ::testing::TestParamInfo<Scenario::ParamType>& info) {
    const auto& [c, spelling] = info.param;
    return CaseName(spelling.name == kAsGiven.name ? c.name : std::string(c.name) + "-" + spelling.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, Scenario, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Values(kAsGiven)),
                         RowName);
INSTANTIATE_TEST_SUITE_P(PathCases, Scenario,
                         ::testing::Combine(::testing::ValuesIn(kPathCases), ::testing::ValuesIn(kSpellings)), RowName);

}  // namespace
