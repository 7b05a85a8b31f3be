// The Repair procedure's branches and its reinstall check, through the test profile on
// real files.
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "state/installer_config_file.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kSection = L"TestApp";

// A profile that deploys one plain file (no version resource, so any copy verifies) from
// folder\Install into folder itself, for an application at C:\App.
class RepairProcedure : public ::testing::Test {
protected:
    void SetUp() override {
        engine.Initialize(folder.path(), &logger);
        std::filesystem::create_directories(engine.installSourceDir);
        std::filesystem::create_directories(engine.tempDir);
        WriteTextFile(engine.installSourceDir + L"\\addin.txt", "add-in");
        engine.sourceFiles = {L"addin.txt"};
        engine.files = {{L"addin.txt", {folder.path()}}};
        engine.allFiles = engine.files;
        engine.applications = {L"C:\\App"};
    }
    void Deploy() { WriteTextFile(folder / L"addin.txt", "add-in"); }
    bool Deployed() const { return std::filesystem::exists(folder / L"addin.txt"); }
    bool Ran(const wchar_t* slot) const { return engine.Calls(slot) > 0; }

    ScopedTempDir folder;
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(RepairProcedure, EverythingInPlaceReturns6AndCopiesNothing) {
    Deploy();
    const auto before = std::filesystem::last_write_time(folder / L"addin.txt");
    EXPECT_EQ(engine.Repair(), 6u);
    EXPECT_EQ(std::filesystem::last_write_time(folder / L"addin.txt"), before);
    EXPECT_EQ(logger.IndexOf(L"CopyFiles Start"), -1);
    EXPECT_NE(logger.IndexOf(L"VerifySettings Start"), -1);
    EXPECT_EQ(engine.enableRemoveFlags, std::vector<bool>{false});
}

TEST_F(RepairProcedure, AMissingFileIsLaidDownAgain) {
    EXPECT_EQ(engine.Repair(), 0u);
    EXPECT_TRUE(Deployed());
    EXPECT_TRUE(logger.Contains(0, L"VerifyIfFilesExists: File " + (folder / L"addin.txt") + L" not found"));
}

TEST_F(RepairProcedure, DisabledAddinReturns3AndDoesNothingElse) {
    engine.enableResult = 50;
    engine.enableFindsDisabled = true;
    EXPECT_EQ(engine.Repair(), 3u);
    EXPECT_FALSE(Ran(L"GetSourceFileWithDestinationPaths"));
    EXPECT_FALSE(Ran(L"GetInstallerConfigSectionName"));
    EXPECT_TRUE(logger.TextsAt(kLogError).empty());
}

TEST_F(RepairProcedure, EnabledAgainWithNothingMissingReturns0) {
    Deploy();
    engine.enableFindsDisabled = true;  // cleared the flag but removed nothing: result 0
    EXPECT_EQ(engine.Repair(), 0u);
    EXPECT_EQ(logger.IndexOf(L"CopyFiles Start"), -1);
}

TEST_F(RepairProcedure, EarlyFailures) {
    struct Case {
        const char* name;
        void (*arrange)(TestProfile&);
        DWORD result;
        LogEntry line;
        int enablePluginCalls;
    };
    const Case cases[] = {
        {"application not installed", [](TestProfile& e) { e.applications.clear(); }, 2,
         {3, L"Application is either not installed or removed"}, 0},
        {"detection fails", [](TestProfile& e) { e.applicationsResult = 1629; }, 1,
         {5, L"Repair: GetInstalledApplicationList failure Error=1629"}, 0},
        {"EnablePlugin fails", [](TestProfile& e) { e.enableResult = 5; }, 1,
         {5, L"Repair: EnablePlugin failure Error=5"}, 1},
        {"source verification fails", [](TestProfile& e) { e.sourceFiles = {L"missing.dll"}; }, 4,
         {5, L"Repair: VerifySource failure Error=2"}, 0},
        {"verification fails", [](TestProfile& e) { e.filesResult = 87; }, 1,
         {5, L"Repair: VerifySettings failure Error=87"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLogger caseLogger;
        TestProfile probe;
        probe.Initialize(folder.path(), &caseLogger);
        probe.sourceFiles = engine.sourceFiles;
        probe.files = engine.files;
        probe.applications = engine.applications;
        c.arrange(probe);
        EXPECT_EQ(probe.Repair(), c.result);
        EXPECT_TRUE(caseLogger.Contains(c.line.level, c.line.text));
        EXPECT_EQ(probe.Calls(L"EnablePlugin"), c.enablePluginCalls);
    }
}

TEST_F(RepairProcedure, CopyFailureRollsBackWithoutEnablePlugin) {
    engine.files = {{L"addin.txt", {folder / L"no-such-folder"}}};
    EXPECT_EQ(engine.Repair(), 1u);
    const int failure = logger.IndexOf(L"Repair: CopyFiles failure Error=3");
    ASSERT_NE(failure, -1);
    EXPECT_EQ(logger.entries[failure].level, 5);
    EXPECT_NE(logger.IndexOf(L"DeleteFiles Start", failure), -1);  // the roll back
    EXPECT_EQ(engine.Calls(L"EnablePlugin"), 1);
}

TEST_F(RepairProcedure, ReinstalledApplicationIsCleanedUpAndLaidDownWithoutVerifying) {
    Deploy();
    engine.sectionResult = 0;
    engine.section = kSection;  // no Installer.ini yet: counts as reinstalled
    EXPECT_EQ(engine.Repair(), 0u);
    EXPECT_TRUE(logger.Contains(0, L"IsApplicationReinstalled: failure, Error= Installer config file doesn't found"));
    EXPECT_EQ(logger.IndexOf(L"VerifySettings Start"), -1);
    EXPECT_TRUE(Deployed());
    std::vector<std::wstring> recorded;
    EXPECT_EQ(InstallerConfigFile(folder.path()).GetInstalledApplicationPaths(kSection, recorded), 0u);
    EXPECT_EQ(recorded, std::vector<std::wstring>{L"C:\\App"});
}

class ReinstallCheck : public RepairProcedure {
protected:
    void SetUp() override {
        RepairProcedure::SetUp();
        engine.sectionResult = 0;
        engine.section = kSection;
    }
    void Record(const ApplicationPathList& paths) {
        ASSERT_EQ(InstallerConfigFile(folder.path()).AddApplicationPaths(kSection, paths), 0u);
    }
    bool Reinstalled(const ApplicationPathList& current) {
        bool reinstalled = false;
        EXPECT_EQ(engine.IsApplicationReinstalled(current, reinstalled), 0u);
        return reinstalled;
    }
};

TEST_F(ReinstallCheck, ProfileWithoutConfigRecordIsNeverReinstalled) {
    engine.sectionResult = 50;
    bool reinstalled = true;
    EXPECT_EQ(engine.IsApplicationReinstalled({L"C:\\App"}, reinstalled), 0u);
    EXPECT_FALSE(reinstalled);
    EXPECT_FALSE(std::filesystem::exists(folder / L"Installer.ini"));
}

TEST_F(ReinstallCheck, ComparesTheRecordedFoldersExactlyButInAnyOrder) {
    EXPECT_TRUE(Reinstalled({L"C:\\A"}));  // no config file
    Record({L"C:\\A", L"D:\\B"});
    EXPECT_FALSE(Reinstalled({L"D:\\B", L"C:\\A"}));
    logger.Clear();
    EXPECT_TRUE(Reinstalled({L"C:\\A"}));
    EXPECT_EQ(logger.Texts(),
              (std::vector<std::wstring>{L"IsApplicationReinstalled:: Application installed path and config file "
                                         L"application path no differs so application is assumed to be "
                                         L"reinstalled"}));
    logger.Clear();
    EXPECT_TRUE(Reinstalled({L"c:\\a", L"D:\\B"}));
    EXPECT_EQ(logger.Texts(),
              (std::vector<std::wstring>{L"IsApplicationReinstalled:Could not find application path=c:\\a in a "
                                         L"config file so application is assumed to be reinstalled"}));
}

TEST_F(ReinstallCheck, AnEmptyRecordMeansReinstalled) {
    Record({L"C:\\A"});
    ASSERT_EQ(InstallerConfigFile(folder.path()).ClearApplicationList(kSection), 0u);
    logger.Clear();
    EXPECT_TRUE(Reinstalled({L"C:\\A"}));
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{L"IsApplicationReinstalled:: Application path list is "
                                                         L"empty so application is assumed to be reinstalled"}));
}

}  // namespace
