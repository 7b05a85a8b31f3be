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
    // "install", "repair", "uninstall", "rollback" one after the other, and "state": a line
    // with the deployed file, the lists of the INI files and the config file's two records.
    void Run(const std::string& steps) {
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            if (step == "state") {
                log.lines.push_back(L"state: addin.txt " + std::wstring(Exists(folder + L"\\addin.txt") ? L"there" : L"gone") +
                                    List(L"a.ini") + List(L"b.ini") + List(L"c.ini") + L", applications" +
                                    Recorded(&InstallerConfigFile::GetInstalledApplicationPaths) + L", INI files" +
                                    Recorded(&InstallerConfigFile::GetINIPaths));
                continue;
            }
            const DWORD result = step == "install"     ? p.Install()
                                 : step == "repair"    ? p.Repair()
                                 : step == "uninstall" ? p.Uninstall()
                                                       : p.CleanUp(false);
            log.lines.push_back(L"result " + std::to_wstring(result));
        }
    }
    std::wstring List(const std::wstring& name) const {
        std::wstring value;
        sys::IniFile::ReadValue(Ini(name), L"Extensions", L"AddinManagers", value);
        return L", " + name + L" " + value;
    }
    using Record = DWORD (InstallerConfigFile::*)(const std::wstring&, std::vector<std::wstring>&) const;
    std::wstring Recorded(Record record) const {
        std::vector<std::wstring> paths;
        (InstallerConfigFile(folder).*record)(kSection, paths);
        std::wstring text;
        for (const std::wstring& path : paths) text += L" " + path;
        return text;
    }

    const std::wstring folder = L"C:\\Agent\\Engine";
    Transcript log;
    TestProfile p{folder, log, {Ini(L"a.ini")}};
};

struct Case {
    const char* name;  // of its transcript
    std::function<void(Engine&)> run;
};

const Case kCases[] = {
    // The item goes into every file and both lists are recorded; a second Install replaces them.
    {"ini-install", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini"), e.Ini(L"a.ini")};
         e.Run("install state");
         e.p.applications = {L"C:\\App3"};
         e.p.iniEntry.iniFilePaths = {e.Ini(L"c.ini")};
         e.Run("install state");
     }},
    // A missing item is added again, the recorded lists extended; one that enabled the add-in gives 0.
    {"ini-repair", [](Engine& e) {
         e.p.enableFindsDisabled = true;
         e.Run("install repair");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini")};
         e.Run("repair state");
     }},
    // An item in other letter case is the add-in's, to adding and to verifying alike.
    {"ini-other-case", [](Engine& e) {
         WriteFileBytes(e.Ini(L"a.ini"), "[Extensions]\r\nAddinManagers=x,TOLVANE\r\n");
         e.Run("install repair state");
     }},
    // Files only the config file still names lose the item too; both lists are emptied. The
    // folders found and those recorded are the same: each is looked at once.
    {"ini-uninstall", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini")};
         e.p.listForCleanUp = true;
         e.Run("install");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini")};
         e.Run("uninstall state");
     }},
    // A file that cannot be opened fails a verification. One that still holds the item stays
    // recorded until an Uninstall removes it: one that cannot be opened, one no account sees.
    {"ini-item-left", [](Engine& e) {
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini"), e.Ini(L"b.ini"), e.Ini(L"unseen.ini")};
         e.Run("install");
         const Undo locked = HoldOpen(e.Ini(L"b.ini"));
         e.Run("repair uninstall");
         locked();
         e.Run("state uninstall state");
     }},
    // Without INI files the application counts as not installed: Install rolls back,
    // Repair keeps what is deployed.
    {"ini-none", [](Engine& e) {
         e.p.iniEntry.iniFilePaths.clear();
         e.Run("install state");
         e.p.iniEntry.iniFilePaths = {e.Ini(L"a.ini")};
         e.Run("install");
         e.p.iniEntry.iniFilePaths.clear();
         e.Run("repair state");
     }},
    // Other application folders than those recorded, or no record: the old deployment goes, a
    // new one comes. A config file that cannot be opened fails the request, which rolls back.
    {"reinstalled", [](Engine& e) {
         e.Run("install");
         e.p.applications = {L"C:\\App3"};
         e.Run("repair state");
         DeleteFileW((e.folder + L"\\Installer.ini").c_str());
         e.Run("repair");
         e.p.applications = {L"C:\\App4"};
         e.Run("repair");
         const Undo held = HoldOpen(e.folder + L"\\Installer.ini");
         e.Run("repair install uninstall");
         held();
         e.Run("uninstall state");
     }},
};

class EngineCase : public ::testing::TestWithParam<Case> {};

TEST_P(EngineCase, LogsItsTranscriptAndLeavesWhatItShould) {
    Engine e;
    GetParam().run(e);
    ExpectTranscript(GetParam().name, e.log.lines, e.folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return CaseName(info.param.name); });

}  // namespace
