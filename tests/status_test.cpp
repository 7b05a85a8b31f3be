// `installer-host status`: one simulated machine per reason the add-in does not load, each
// installed through the exported DLL and then broken by hand; the diagnosis must name the
// cause, the request that fixes it and the exit code, in the report and in its JSON. And it
// keeps its promise: once the requests it names have run, it finds nothing that a request
// would fix; a machine it calls healthy gets 6 from Repair, which changes nothing.
#include "listing.h"
#include "machine.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "status.h"
#include "status_output.h"

#include <nlohmann/json.hpp>

namespace {

using nlohmann::ordered_json;

constexpr const char* kVerdicts[] = {"healthy", "needs-fixing", "outlook-not-installed"};
// The machine's hive 1 comes after the prefix's two (.Default and its user).
constexpr const char* kOwnHive = "/users/2";

struct Row {
    const char* name;
    Outlook outlook;
    bool install;
    Undo (*breakMachine)(Machine&);
    int exitCode;
    const char* problem;  // the one problem found; null for none
    std::vector<std::string> fix;
    std::string factPointer;  // a fact of the JSON document that shows the cause
    ordered_json fact;
};

// Outlook's record that it disabled `dll`, in the view the machine's Outlook writes.
Undo Disable(Machine& m, const std::wstring& dll) {
    return Record(m, L"2F1A", m.outlook.view, DisabledRecord(dll));
}

const Row kRows[] = {
    {"Healthy", kOutlook64, true, [](Machine&) { return Undo(); }, 0, nullptr, {}, "/outlook/requestBitness", 64},
    {"NoOutlook", kNoOutlook, false, [](Machine&) { return Undo(); }, 2, "outlook-not-installed", {},
     "/outlook/installations", ordered_json::array()},
    {"AddinNotInstalled", kOutlook64, false, [](Machine&) { return Undo(); }, 1, "not-installed", {"install"},
     "/files/deployed/1/present", false},
    {"DisabledByOutlook64", kOutlook64, true, [](Machine& m) { return Disable(m, m.Dll()); },
     1, "disabled-by-outlook", {"uninstall", "install"}, std::string(kOwnHive) + "/disabledItems/0/views", {64}},
    {"DisabledByOutlook32", kOutlook32, true, [](Machine& m) { return Disable(m, m.Dll()); },
     1, "disabled-by-outlook", {"uninstall", "install"}, std::string(kOwnHive) + "/disabledItems/0/views", {32}},
    // Another add-in file of that name, elsewhere: no request of ours removes its record.
    {"DisabledElsewhere", kOutlook64, true, [](Machine& m) { return Disable(m, L"C:\\Other\\tolvane64.dll"); }, 1,
     "disabled-by-outlook", {}, std::string(kOwnHive) + "/disabledItems/0/agentCopy", false},
    // Outlook honours a value whatever the case of its name.
    {"PerUserLoadBehaviorInOtherCase", kOutlook64, true,
     [](Machine& m) { SetDword(HKEY_USERS, m.Hive(1) + kUserAddin, L"loadbehavior", 0); return Undo(); },
     1, "load-behavior", {"repair"}, std::string(kOwnHive) + "/loadBehavior", 0},
    {"PerUserLoadBehaviorReadOnly", kOutlook64, true,
     [](Machine& m) {
         SetDword(HKEY_USERS, m.Hive(1) + kUserAddin, L"LoadBehavior", 0);
         return MakeReadOnly(HKEY_USERS, m.Hive(1) + kUserAddin, 0);
     },
     1, "load-behavior", {}, std::string(kOwnHive) + "/loadBehavior", 0},
    {"WrongBitness", kOutlook32, true,
     [](Machine&) {  // Outlook reinstalled as 64-bit
         SetValue(HKEY_LOCAL_MACHINE, kInstallRoot15, L"Path", REG_SZ,
                  Bytes(L"C:\\Program Files\\Microsoft Office\\Office15\\"), KEY_WOW64_64KEY);
         return Undo();
     },
     1, "wrong-bitness", {"uninstall", "install"}, "/files/deployed/0/present", true},
    {"DeployedFileMissing", kOutlook64, true,
     [](Machine& m) { DeleteFileW(m.Agent(L"tolvane64.dll").c_str()); return Undo(); },
     1, "file-missing", {"repair"}, "/files/deployed/1/present", false},
    {"DeployedFileOlderThanInstall", kOutlook64, true,
     [](Machine& m) { CopyFileW(Fixture(L"v2\\tolvane64.dll").c_str(), m.Source(L"tolvane64.dll").c_str(), FALSE); return Undo(); },
     1, "file-outdated", {"repair"}, "/files/source/1/fileVersion", "1.0.0.2"},
    {"ComClassMissing", kOutlook64, true,
     [](Machine&) { DeleteTree(HKEY_LOCAL_MACHINE, kAddinClassKey, KEY_WOW64_64KEY); return Undo(); },
     1, "class-missing", {"repair"}, "/comClass/views/1/registered", false},
    {"ComClassPointsElsewhere", kOutlook64, true,
     [](Machine&) {
         SetValue(HKEY_LOCAL_MACHINE, kAddinClassKey + L"\\InprocServer32", L"", REG_SZ,
                  Bytes(L"C:\\Old\\tolvane64.dll"), KEY_WOW64_64KEY);
         return Undo();
     },
     1, "class-elsewhere", {"install"}, "/comClass/views/1/server", "C:\\Old\\tolvane64.dll"},
    {"AddinKeyValueChanged", kOutlook64, true,
     [](Machine&) { SetDword(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"LoadBehavior", 0, KEY_WOW64_64KEY); return Undo(); },
     1, "key-value", {"repair"}, "/addinKey/views/1/values/4/actual", "0"},
    {"AddinKeyMissing", kOutlook64, true,
     [](Machine&) { DeleteTree(HKEY_LOCAL_MACHINE, kAddinKeyPath, KEY_WOW64_64KEY); return Undo(); },
     1, "key-missing", {"repair"}, "/addinKey/views/1/present", false},
    // A value's name in another case is the same value to Windows, and to the diagnosis.
    {"AddinKeyNameInOtherCase", kOutlook64, true,
     [](Machine&) {
         RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"LoadBehavior");
         SetDword(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"loadBEHAVIOR", 3, KEY_WOW64_64KEY);
         return Undo();
     },
     0, nullptr, {}, "/addinKey/views/1/values/4/matches", true},
    {"SourceMissing", kOutlook64, true, [](Machine& m) { DeleteFileW(m.Source(L"tolvane.dll").c_str()); return Undo(); },
     1, "source-missing", {}, "/files/source/0/present", false},
    {"AgentFolderWritableByOthers", kOutlook64, true, [](Machine& m) { return LetOthersWrite(m.home); }, 1,
     "unsafe-folder", {}, "/safety/unsafePlaces/0/account", "Everyone"},
    {"DeployedFileWritableByOthers", kOutlook64, true, [](Machine& m) { return LetOthersWrite(m.Dll()); }, 1,
     "unsafe-file", {"install"}, "/safety/unsafePlaces/0/rights", "write, append"},
    {"LinkAtTemp", kOutlook64, true, [](Machine& m) { return LinkTo(m.Temp(), m.Agent(L"Install")); }, 1, "link", {},
     "/safety/links/0", "C:\\Agent\\Outlook\\temp"},
    {"DeployedFileDeletedAtRestart", kOutlook64, true,
     [](Machine& m) { MoveFileExW(m.Agent(L"tolvane64.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); return Undo(); },
     1, "pending-deletion", {}, "/files/pendingDeletions/0", "C:\\Agent\\Outlook\\tolvane64.dll"},
    {"BrokerNotRegisteredFor32BitOutlook", kOutlook32, true,
     [](Machine&) { return UnregisterBroker(); }, 1, "broker-missing", {},
     "/comClass/broker/registered", false},
};

class StatusFinds : public ::testing::TestWithParam<Row> {};

TEST_P(StatusFinds, TheCauseItsFixAndTheExitCode) {
    const Row& row = GetParam();
    Machine machine(row.outlook);
    if (row.install) {
        ASSERT_EQ(machine.Run(L"install"), 0u);
    }
    const Undo undo = row.breakMachine(machine);
    const status::Report report = status::Diagnose(machine.folder);
    const ordered_json json = status::ReportJson(report);
    EXPECT_EQ(report.exitCode, row.exitCode);
    EXPECT_EQ(json["exitCode"], row.exitCode);
    EXPECT_EQ(json["verdict"], kVerdicts[row.exitCode]);
    std::vector<std::string> codes;
    for (const ordered_json& problem : json["problems"]) codes.push_back(problem["code"]);
    EXPECT_EQ(codes, row.problem ? std::vector<std::string>{row.problem} : std::vector<std::string>{})
        << json["problems"].dump(2);
    if (codes.empty() && row.exitCode == status::kExitHealthy) {
        const Listing before = ListPrefix();
        EXPECT_EQ(machine.Run(L"repair"), 6u);
        EXPECT_EQ(ChangedSince(before), L"")
            << "a repair of a healthy machine changed it";
    }
    if (codes.size() != 1) return;
    EXPECT_EQ(json["problems"][0]["fix"], ordered_json(row.fix));
    EXPECT_EQ(json.at(ordered_json::json_pointer(row.factPointer)), row.fact) << json.dump(2);
    const std::wstring text = status::ReportText(report);
    const std::wstring advice = row.fix.empty() ? L"no request fixes this: " : L"fix: " + std::wstring(
                                                                                   row.fix[0].begin(), row.fix[0].end());
    EXPECT_NE(text.find(advice), std::wstring::npos);

    for (const std::string& request : row.fix) machine.Run(std::wstring(request.begin(), request.end()));
    for (const status::Problem& left : status::Diagnose(machine.folder).problems)
        EXPECT_TRUE(left.fix.empty()) << "after its fix, " << left.code << " still names a fix";
    if (undo) undo();
}

INSTANTIATE_TEST_SUITE_P(Machines, StatusFinds, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return CaseName(info.param.name); });

}  // namespace
