// `installer-host status`: one simulated machine per reason the add-in does not load, each
// installed through the exported DLL and then broken by hand; the diagnosis must name the
// cause, the request that fixes it and the exit code, in the report and in its JSON. It
// must also leave the machine exactly as it found it.
#include "file_fixtures.h"
#include "interrupted/prefix_listing.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "simulated_machine.h"
#include "status.h"
#include "status_output.h"
#include "sys/handles.h"
#include "user_hives.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>

namespace {

using nlohmann::ordered_json;

constexpr const wchar_t* kClasses = L"SOFTWARE\\Classes\\CLSID";
constexpr const wchar_t* kBrokerClsid = L"{2F4C9A17-6B3E-4D85-A1C0-93E7B52D8F46}";
constexpr const wchar_t* kDisabledItems = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
constexpr const char* kVerdicts[] = {"healthy", "needs-fixing", "outlook-not-installed"};
// The test's own hive comes after the prefix's two (.Default and its user).
constexpr const char* kOwnHive = "/users/2";

struct Scene {
    Scene(const wchar_t* officeVersion, DWORD view, const wchar_t* officeFolder)
        : machine(officeVersion, view, officeFolder) {}
    PendingRenames pending;  // put back after the row
    SimulatedMachine machine;
    ScopedUserHives hives{1};
    std::unique_ptr<ScopedRegistryKey> extraKey;
};

std::wstring AgentFile(const Scene& scene, const std::wstring& name) {
    return scene.machine.agentFolder() + L"\\" + name;
}

struct Row {
    const char* name;
    const wchar_t* officeVersion;  // empty: no Outlook
    DWORD view;
    const wchar_t* officeFolder;
    bool install;
    void (*breakMachine)(Scene&);
    int exitCode;
    const char* problem;  // the one problem found; null for none
    std::vector<std::string> fix;
    std::string factPointer;  // a fact of the JSON document that shows the cause
    ordered_json fact;
};

void SetRawValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
                 DWORD size, DWORD view) {
    sys::UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | view, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

// Outlook's record of a disabled add-in: binary data holding the DLL's path as UTF-16.
void Disable(Scene& scene, const wchar_t* file) {
    const std::wstring text = L"\x0001" + AgentFile(scene, file);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    scene.hives.SetRaw(0, kDisabledItems, L"2F1A", REG_BINARY,
                       std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t)));
}

void DeleteClass(const wchar_t* clsid) {
    sys::UniqueKey classes;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClasses, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, classes.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(classes.get(), clsid), ERROR_SUCCESS);
}

// A built fixture beside the test program, e.g. L"v2\\tolvane64.dll".
std::wstring Fixture(const wchar_t* name) {
    wchar_t program[MAX_PATH];
    const std::wstring path(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\')) + L"\\fixtures\\" + name;
}

const Row kRows[] = {
    {"Healthy", L"15.0", KEY_WOW64_64KEY, L"Office15", true, [](Scene&) {}, 0, nullptr, {},
     "/outlook/requestBitness", 64},
    {"NoOutlook", L"", 0, L"", false, [](Scene&) {}, 2, "outlook-not-installed", {},
     "/outlook/installations", ordered_json::array()},
    {"AddinNotInstalled", L"15.0", KEY_WOW64_64KEY, L"Office15", false, [](Scene&) {}, 1, "not-installed",
     {"install"}, "/files/deployed/1/present", false},
    {"DisabledByOutlook64", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene& s) { Disable(s, L"tolvane64.dll"); }, 1, "disabled-by-outlook", {},
     std::string(kOwnHive) + "/disabledItems/0/fileNamed", "tolvane64.dll"},
    {"DisabledByOutlook32", L"14.0", KEY_WOW64_32KEY, L"Office14", true,
     [](Scene& s) { Disable(s, L"tolvane.dll"); }, 1, "disabled-by-outlook", {"uninstall", "install"},
     std::string(kOwnHive) + "/disabledItems/0/views", {32, 64}},
    {"PerUserLoadBehavior", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene& s) { s.hives.SetDword(0, kAddinKeyPath, L"LoadBehavior", 2); }, 1, "load-behavior", {"repair"},
     std::string(kOwnHive) + "/loadBehavior", 2},
    {"WrongBitness", L"14.0", KEY_WOW64_32KEY, L"Office14", true,
     [](Scene& s) {  // Outlook reinstalled as 64-bit
         s.extraKey = std::make_unique<ScopedRegistryKey>(
             HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot", KEY_WOW64_64KEY);
         s.extraKey->SetString(L"", L"Path", L"C:\\Program Files\\Microsoft Office\\Office15\\");
     },
     1, "wrong-bitness", {"uninstall", "install"}, "/files/deployed/0/present", true},
    {"DeployedFileMissing", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene& s) { std::filesystem::remove(AgentFile(s, L"tolvane64.dll")); }, 1, "file-missing",
     {"repair"}, "/files/deployed/1/present", false},
    {"DeployedFileOlderThanInstall", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene& s) {
         CopyFileW(Fixture(L"v2\\tolvane64.dll").c_str(), AgentFile(s, L"Install\\tolvane64.dll").c_str(), FALSE);
     },
     1, "file-outdated", {"repair"}, "/files/source/1/fileVersion", "1.0.0.2"},
    {"ComClassMissing", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene&) { DeleteClass(kAddinClsid); },
     1, "class-missing", {"repair"}, "/comClass/views/1/registered", false},
    {"ComClassPointsElsewhere", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene&) {
         const std::wstring other = L"C:\\Other\\tolvane64.dll";
         SetRawValue(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + L"\\" + kAddinClsid + L"\\InprocServer32", nullptr, REG_SZ, other.c_str(),
                     static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t)), KEY_WOW64_64KEY);
     },
     1, "class-elsewhere", {"install"}, "/comClass/views/1/agentCopy", false},
    {"AddinKeyValueChanged", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene&) {
         const DWORD never = 0;
         SetRawValue(HKEY_LOCAL_MACHINE, kAddinKeyPath, L"LoadBehavior", REG_DWORD, &never, sizeof(never),
                     KEY_WOW64_64KEY);
     },
     1, "key-value", {"repair"}, "/addinKey/views/1/values/4/actual", "0"},
    {"DeployedFileDeletedAtRestart", L"15.0", KEY_WOW64_64KEY, L"Office15", true,
     [](Scene& s) {
         MoveFileExW(AgentFile(s, L"tolvane64.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
     },
     1, "pending-deletion", {}, "/files/deployed/1/present", true},
    {"BrokerNotRegisteredFor32BitOutlook", L"14.0", KEY_WOW64_32KEY, L"Office14", true,
     [](Scene&) { DeleteClass(kBrokerClsid); }, 1, "broker-missing", {}, "/comClass/broker/registered", false},
};

class StatusFinds : public ::testing::TestWithParam<Row> {};

TEST_P(StatusFinds, TheCauseItsFixAndTheExitCode) {
    const Row& row = GetParam();
    Scene scene(row.officeVersion, row.view, row.officeFolder);
    if (row.install) {
        ASSERT_EQ(scene.machine.Run(L"install"), 0u);
    }
    row.breakMachine(scene);

    const status::Report report = status::Diagnose(scene.machine.agentFolder());
    const ordered_json json = status::ReportJson(report);
    EXPECT_EQ(report.exitCode, row.exitCode);
    EXPECT_EQ(json["exitCode"], row.exitCode);
    EXPECT_EQ(json["verdict"], kVerdicts[row.exitCode]);
    std::vector<std::string> codes;
    for (const ordered_json& problem : json["problems"]) codes.push_back(problem["code"]);
    EXPECT_EQ(codes, row.problem ? std::vector<std::string>{row.problem} : std::vector<std::string>{})
        << json["problems"].dump(2);
    if (codes.size() != 1) return;
    EXPECT_EQ(json["problems"][0]["fix"], ordered_json(row.fix));
    EXPECT_EQ(json.at(ordered_json::json_pointer(row.factPointer)), row.fact) << json.dump(2);
    const std::wstring text = status::ReportText(report);
    const std::wstring advice = row.fix.empty() ? L"no request fixes this: " : L"fix: " + std::wstring(
                                                                                   row.fix[0].begin(), row.fix[0].end());
    EXPECT_NE(text.find(advice), std::wstring::npos);
}

INSTANTIATE_TEST_SUITE_P(Machines, StatusFinds, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Status, ChangesNothingOnTheMachine) {
    Scene scene(L"15.0", KEY_WOW64_64KEY, L"Office15");
    ASSERT_EQ(scene.machine.Run(L"install"), 0u);
    Disable(scene, L"tolvane64.dll");
    scene.hives.SetDword(0, kAddinKeyPath, L"LoadBehavior", 2);
    std::filesystem::remove(AgentFile(scene, L"tolvane64.dll"));

    const Listing before = ListPrefix();
    const status::Report report = status::Diagnose(scene.machine.agentFolder());
    std::vector<std::string> changes;
    for (const Change& change : Compare(before, ListPrefix())) changes.push_back(Describe(change));
    EXPECT_EQ(report.problems.size(), 3u);
    EXPECT_TRUE(changes.empty()) << ::testing::PrintToString(changes);
}

}  // namespace
