// The engine's procedures with a profile that uses what the Outlook profile switches off:
// an item in the INI files of the application, the installer config file, and profile
// answers that fail. One row a case: what it does, its transcript, what it leaves.
#include "machine.h"
#include "state/installer_config_file.h"
#include "sys/ini_file.h"
#include "test_profile.h"

namespace {

constexpr const wchar_t* kSection = L"TestApp";

// The test profile's deployment, recorded in section TestApp of the installer config file.
struct Engine {
    Engine() {
        for (const wchar_t* name : {L"a.ini", L"b.ini", L"c.ini"})
            WriteFileBytes(Ini(name), "[Extensions]\r\nAddinManagers=x\r\n");
        p.section = kSection;
        p.sectionResult = 0;
    }

    std::wstring Ini(const std::wstring& name) const { return folder + L"\\ini\\" + name; }
    bool Deployed() const { return Exists(folder + L"\\addin.txt"); }
    // "install", "repair", "uninstall" or "rollback", one after the other.
    void Run(const std::string& steps) {
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            const DWORD result = step == "install"     ? p.Install()
                                 : step == "repair"    ? p.Repair()
                                 : step == "uninstall" ? p.Uninstall()
                                                       : p.CleanUp(false);
            log.lines.push_back(L"result " + std::to_wstring(result));
        }
    }
    // The AddinManagers list of an INI file, and a list of the config file, decoded.
    std::wstring List(const std::wstring& name) const {
        std::wstring value;
        sys::IniFile::ReadValue(Ini(name), L"Extensions", L"AddinManagers", value);
        return value;
    }
    std::wstring Recorded(bool iniPaths) const {
        std::vector<std::wstring> paths;
        const InstallerConfigFile config(folder);
        if (iniPaths) config.GetINIPaths(kSection, paths);
        else config.GetInstalledApplicationPaths(kSection, paths);
        std::wstring text;
        for (const std::wstring& path : paths) text += path + L";";
        return text;
    }
    std::string Expect(bool ok, const char* what) const { return ok ? "" : std::string(what) + "; "; }

    const std::wstring folder = L"C:\\Agent\\Engine";
    Transcript log;
    TestProfile p{folder, log, {Ini(L"a.ini")}};
};

struct Case {
    const char* name;
    std::function<std::string(Engine&)> run;  // what is wrong afterwards
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case kCases[] = {
    // The item goes into every file and both lists are recorded; a second Install replaces them.
    {"ini-install", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini"), e.Ini(L"a.ini")};
         e.Run("install");
         std::string wrong = e.Expect(e.List(L"a.ini") == L"x,tolvane" && e.List(L"b.ini") == L"x,tolvane", "items");
         wrong += e.Expect(e.Recorded(true) == e.Ini(L"a.ini") + L";" + e.Ini(L"b.ini") + L";", "INI paths");
         e.p.applications = {L"C:\\App3"};
         e.p.iniEntry.iniFilePaths = {e.Ini(L"c.ini")};
         e.Run("install");
         return wrong + e.Expect(e.Recorded(false) == L"C:\\App3;" && e.Recorded(true) == e.Ini(L"c.ini") + L";",
                                 "lists replaced");
     }},
    // A missing item is added again and the recorded lists are extended, not replaced.
    {"ini-repair", [](Engine& e) {
         e.Run("install repair");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini")};
         e.Run("repair");
         return e.Expect(e.List(L"b.ini") == L"x,tolvane", "item added") +
                e.Expect(e.Recorded(true) == e.Ini(L"a.ini") + L";" + e.Ini(L"b.ini") + L";", "INI paths extended");
     }},
    // An item in other letter case counts as there when adding, as missing when verifying.
    {"ini-other-case", [](Engine& e) {
         WriteFileBytes(e.Ini(L"a.ini"), "[Extensions]\r\nAddinManagers=x,TOLVANE\r\n");
         e.Run("install repair");
         return e.Expect(e.List(L"a.ini") == L"x,TOLVANE", "list unchanged");
     }},
    // Files only the config file still names lose the item too; both lists are emptied.
    {"ini-uninstall", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini")};
         e.Run("install");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini")};
         e.Run("uninstall");
         return e.Expect(e.List(L"a.ini") == L"x" && e.List(L"b.ini") == L"x", "items removed") +
                e.Expect(e.Recorded(true).empty() && e.Recorded(false).empty() && !e.Deployed(), "all removed");
     }},
    // A file that still holds the item stays recorded until an Uninstall removes it: one
    // that cannot be opened, one that no account can see.
    {"ini-item-left", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini"), e.Ini(L"unseen.ini")};
         e.Run("install");
         const Undo locked = HoldOpen(e.Ini(L"b.ini"));
         e.Run("uninstall");
         const std::string wrong =
             e.Expect(e.Recorded(true) == e.Ini(L"b.ini") + L";" + e.Ini(L"unseen.ini") + L";", "kept");
         locked();
         e.Run("uninstall");
         return wrong + e.Expect(e.List(L"a.ini") == L"x" && e.List(L"b.ini") == L"x", "items removed") +
                e.Expect(e.Recorded(true) == e.Ini(L"unseen.ini") + L";", "the unseen file kept");
     }},
    // Without INI files the application counts as not installed: Install rolls back,
    // Repair keeps what is deployed.
    {"ini-none", [](Engine& e) {
         e.p.iniEntry.iniFilePaths.clear();
         e.Run("install");
         const std::string wrong = e.Expect(!e.Deployed() && !Exists(e.folder + L"\\Installer.ini"), "rolled back");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini")};
         e.Run("install");
         e.p.iniEntry.iniFilePaths.clear();
         e.Run("repair");
         return wrong + e.Expect(e.Deployed(), "deployment kept");
     }},
    // Other application folders than those recorded: the old deployment goes, a new one comes.
    {"reinstalled", [](Engine& e) {
         e.Run("install");
         e.p.applications = {L"C:\\App3"};
         e.Run("repair");
         return e.Expect(e.Recorded(false) == L"C:\\App3;" && e.Deployed(), "laid down again");
     }},
    // The clean-up matrix: which removal steps run after which failures, and what is reported.
    {"cleanup-removal-fails", [](Engine& e) {
         e.p.comRequired = e.p.registryRequired = true;
         e.p.iniRequired = false;
         WriteFileBytes(e.folder + L"\\addin.txt", "deployed");
         e.p.allKeysResult = 5;
         e.Run("uninstall");
         e.p.allKeysResult = 0;
         e.p.allComFilesResult = 1722;
         e.Run("uninstall");
         return e.Expect(e.Deployed(), "file kept");
     }},
    {"cleanup-enable-fail", [](Engine& e) {
         e.p.iniRequired = false;
         e.p.enableResult = 13;
         e.Run("uninstall");
         e.p.allFilesResult = 87;
         e.Run("uninstall");
         e.p.enableResult = ERROR_NOT_SUPPORTED;
         e.p.enableFindsDisabled = true;
         e.p.allFilesResult = 0;
         return e.Run("uninstall"), std::string();
     }},
    // The most recent of the list and registry steps decides whether COM is unregistered.
    {"cleanup-rollback", [](Engine& e) {
         e.p.comRequired = e.p.registryRequired = true;
         e.p.iniRequired = false;
         e.p.applicationListForCleanUp = true;
         e.p.applicationsResult = 1629;
         e.Run("rollback");
         e.p.applicationsResult = 0;
         e.p.sectionResult = 87;
         return e.Run("rollback"), std::string();
     }},
};

class EngineCase : public ::testing::TestWithParam<Case> {};

TEST_P(EngineCase, LogsItsTranscriptAndLeavesWhatItShould) {
    Engine e;
    EXPECT_EQ(GetParam().run(e), "");
    ExpectTranscript(GetParam().name, e.log.lines, e.folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineCase, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) c = c == '-' ? '_' : c;
    return name;
});

}  // namespace
