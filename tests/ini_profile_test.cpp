// Install, Repair and Uninstall for a profile that extends its application through an INI
// file and keeps a record in "Installer.ini".
#include "state/installer_config_file.h"

#include "file_state.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kSection = L"TestApp";

void WriteIni(const std::wstring& path, const std::string& list) {
    WriteTextFile(path, "[Extensions]\r\nAddinManagers=" + list + "\r\n");
}

std::string StoredList(const std::wstring& path) {
    return StoredIniText(path, "AddinManagers").value_or("<no key>");
}

// Deploys one plain file from folder\Install into folder, adds "tolvane" to the
// AddinManagers list of the INI files it names, and records both in section TestApp.
class IniProfile : public ::testing::Test {
protected:
    void SetUp() override {
        engine.Initialize(folder.path(), &logger);
        std::filesystem::create_directories(engine.installSourceDir);
        std::filesystem::create_directories(engine.tempDir);
        WriteTextFile(engine.installSourceDir + L"\\addin.txt", "add-in");
        engine.sourceFiles = {L"addin.txt"};
        engine.files = {{L"addin.txt", {folder.path()}}};
        engine.allFiles = engine.files;
        engine.applications = {L"C:\\App1", L"C:\\App2"};
        engine.iniRequired = true;
        engine.iniEntry.section = L"Extensions";
        engine.iniEntry.key = L"AddinManagers";
        engine.iniEntry.value = L"tolvane";
        engine.iniEntry.separator = L",";
        engine.sectionResult = 0;
        engine.section = kSection;
        for (const wchar_t* name : {L"a.ini", L"b.ini", L"c.ini"}) WriteIni(ini / name, "x");
    }
    std::wstring ConfigFile() const { return folder / L"Installer.ini"; }
    std::vector<std::wstring> RecordedApplications() const {
        std::vector<std::wstring> paths;
        EXPECT_EQ(InstallerConfigFile(folder.path()).GetInstalledApplicationPaths(kSection, paths),
                  0u);
        return paths;
    }
    std::vector<std::wstring> RecordedIniFiles() const {
        std::vector<std::wstring> paths;
        EXPECT_EQ(InstallerConfigFile(folder.path()).GetINIPaths(kSection, paths), 0u);
        return paths;
    }
    bool Deployed() const { return std::filesystem::exists(folder / L"addin.txt"); }

    ScopedTempDir folder;
    ScopedTempDir ini;
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(IniProfile, InstallRecordsFoldersAndINIFilesAndASecondInstallReplacesThem) {
    engine.iniEntry.iniFilePaths = {ini / L"a.ini", ini / L"b.ini"};
    EXPECT_EQ(engine.Install(), 0u);
    EXPECT_EQ(RecordedApplications(), (std::vector<std::wstring>{L"C:\\App1", L"C:\\App2"}));
    EXPECT_EQ(RecordedIniFiles(), engine.iniEntry.iniFilePaths);
    EXPECT_EQ(StoredList(ini / L"a.ini"), "x,tolvane");
    EXPECT_EQ(StoredList(ini / L"b.ini"), "x,tolvane");

    engine.applications = {L"C:\\App3"};
    engine.iniEntry.iniFilePaths = {ini / L"c.ini"};
    EXPECT_EQ(engine.Install(), 0u);
    EXPECT_EQ(RecordedApplications(), std::vector<std::wstring>{L"C:\\App3"});
    EXPECT_EQ(RecordedIniFiles(), std::vector<std::wstring>{ini / L"c.ini"});
    EXPECT_EQ(StoredList(ini / L"c.ini"), "x,tolvane");
}

TEST_F(IniProfile, RepairOfAMissingItemExtendsTheRecordedLists) {
    engine.iniEntry.iniFilePaths = {ini / L"a.ini"};
    ASSERT_EQ(engine.Install(), 0u);
    EXPECT_EQ(engine.Repair(), 6u);
    INIFileEntryInfo earlier;
    earlier.iniFilePaths = {ini / L"old.ini"};
    ASSERT_EQ(InstallerConfigFile(folder.path()).AddINIPaths(kSection, earlier), 0u);

    engine.iniEntry.iniFilePaths = {ini / L"a.ini", ini / L"b.ini"};
    logger.Clear();
    EXPECT_EQ(engine.Repair(), 0u);
    EXPECT_TRUE(logger.Contains(0, L"No value tolvanefound for Path= " + (ini / L"b.ini")));
    EXPECT_EQ(StoredList(ini / L"a.ini"), "x,tolvane");
    EXPECT_EQ(StoredList(ini / L"b.ini"), "x,tolvane");
    EXPECT_EQ(RecordedApplications(), (std::vector<std::wstring>{L"C:\\App1", L"C:\\App2"}));
    EXPECT_EQ(RecordedIniFiles(),
              (std::vector<std::wstring>{ini / L"a.ini", ini / L"old.ini", ini / L"b.ini"}));
}

// Also the files that only the config file still names lose the item.
TEST_F(IniProfile, UninstallEmptiesBothListsAndRemovesTheItemFromEveryFile) {
    engine.iniEntry.iniFilePaths = {ini / L"a.ini", ini / L"b.ini"};
    ASSERT_EQ(engine.Install(), 0u);
    engine.iniEntry.iniFilePaths = {ini / L"a.ini"};

    EXPECT_EQ(engine.Uninstall(), 0u);
    EXPECT_TRUE(logger.TextsAt(kLogError).empty());
    EXPECT_EQ(StoredList(ini / L"a.ini"), "x");
    EXPECT_EQ(StoredList(ini / L"b.ini"), "x");
    EXPECT_EQ(StoredIniText(ConfigFile(), "APPLICATION_PATHS"), "");
    EXPECT_EQ(StoredIniText(ConfigFile(), "INI_PATHS"), "");
    EXPECT_FALSE(Deployed());
}

TEST_F(IniProfile, InstallWithoutINIFilesReturns2AndRollsBack) {
    EXPECT_EQ(engine.Install(), 2u);
    const int end = logger.IndexOf(L"AddEntryToINIFile End");
    const int notInstalled = logger.IndexOf(
        L"Install: AddEntryToINIFile failure, INI file path doesn't found so returning "
        L"application not installed error");
    ASSERT_GT(end, 0);
    EXPECT_EQ(logger.entries[end - 1].text,
              L"AddEntryToINIFile: GetINIFileEntryInfo failure, INIFileEntryInfo is empty so "
              L"returning error ERROR_FILE_NOT_FOUND");
    EXPECT_EQ(notInstalled, end + 1);
    EXPECT_EQ(logger.entries[notInstalled].level, kLogInfo);
    EXPECT_GT(logger.IndexOf(L"RemoveEntryFromINIFile Start"), notInstalled);
    EXPECT_FALSE(Deployed());
    EXPECT_FALSE(CaptureFile(ConfigFile()).exists);
}

TEST_F(IniProfile, RepairWithoutINIFilesReturns2AndKeepsTheDeployment) {
    engine.iniEntry.iniFilePaths = {ini / L"a.ini"};
    ASSERT_EQ(engine.Install(), 0u);
    engine.iniEntry.iniFilePaths.clear();
    logger.Clear();

    EXPECT_EQ(engine.Repair(), 2u);
    EXPECT_TRUE(logger.Contains(0, L"VerifyIniSettings: No ini file found, Need Repair"));
    EXPECT_EQ(logger.entries.back(),
              (LogEntry{3, L"Repair: AddEntryToINIFile failure, INI file path doesn't found so "
                           L"returning application not installed error"}));
    EXPECT_TRUE(Deployed());
    EXPECT_EQ(RecordedIniFiles(), std::vector<std::wstring>{ini / L"a.ini"});
}

TEST_F(IniProfile, WithoutINIEntriesNoINIStepRuns) {
    engine.iniRequired = false;
    engine.iniEntry.iniFilePaths = {ini / L"a.ini"};
    EXPECT_EQ(engine.Install(), 0u);
    EXPECT_EQ(engine.Repair(), 6u);
    EXPECT_EQ(engine.Uninstall(), 0u);
    EXPECT_EQ(engine.Calls(L"GetINIFileEntryInfo"), 0);
    EXPECT_EQ(StoredList(ini / L"a.ini"), "x");
}

}  // namespace
