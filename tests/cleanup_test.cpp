// Which removal steps run after which failures, and which code CleanUp and Uninstall report.
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "test_profile.h"

#include <gtest/gtest.h>

namespace {

// A profile with COM, registry settings and files switched on and nothing deployed, so
// that each removal step succeeds unless a test makes one of the profile's answers fail.
class CleanUpProcedure : public ::testing::Test {
protected:
    void SetUp() override {
        engine.Initialize(folder.path(), &logger);
        engine.comRequired = true;
        engine.registryRequired = true;
    }
    bool Ran(const wchar_t* slot) const { return engine.Calls(slot) > 0; }
    bool RanUnRegisterCOMServer() const { return Ran(L"GetAllFileNamesForCOMRegistration"); }
    bool RanDeleteFiles() const { return Ran(L"GetAllSourceFileWithDestinationPaths"); }

    ScopedTempDir folder;
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(CleanUpProcedure, UninstallWithEverythingInPlaceLogsNoErrorAndReturns0) {
    EXPECT_EQ(engine.Uninstall(), 0u);
    EXPECT_TRUE(logger.TextsAt(kLogError).empty());
    EXPECT_TRUE(RanUnRegisterCOMServer());
    EXPECT_TRUE(RanDeleteFiles());
    EXPECT_EQ(engine.enableRemoveFlags, std::vector<bool>{true});
}

TEST_F(CleanUpProcedure, FailedSettingsRemovalKeepsCOMAndFilesButCleansTheConfig) {
    engine.allKeysResult = 5;
    EXPECT_EQ(engine.CleanUp(true), 5u);
    EXPECT_FALSE(RanUnRegisterCOMServer());
    EXPECT_FALSE(RanDeleteFiles());
    EXPECT_GE(engine.Calls(L"GetInstallerConfigSectionName"), 1);
    EXPECT_TRUE(logger.Contains(5, L"CleanUp: RemoveSettingsFromRegistry failure Error=5"));

    logger.Clear();
    EXPECT_EQ(engine.Uninstall(), 1u);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"Uninstall: failure Error=5"}));
}

TEST_F(CleanUpProcedure, FailedUnregistrationKeepsTheFiles) {
    engine.allComFilesResult = 1722;
    EXPECT_EQ(engine.CleanUp(true), 1722u);
    EXPECT_FALSE(RanDeleteFiles());
    EXPECT_TRUE(logger.Contains(5, L"CleanUp: UnRegisterCOMServer failure Error=1722"));
    EXPECT_GE(engine.Calls(L"GetInstallerConfigSectionName"), 1);
}

TEST_F(CleanUpProcedure, EnablePluginFailureStillDeletesFilesAndWins) {
    engine.enableResult = 13;
    EXPECT_EQ(engine.CleanUp(true), 13u);
    EXPECT_TRUE(RanUnRegisterCOMServer());
    EXPECT_TRUE(RanDeleteFiles());
    EXPECT_TRUE(logger.Contains(5, L"CleanUp: EnablePlugin failure Error=13"));

    // A later failure does not replace it.
    logger.Clear();
    engine.allFilesResult = 87;
    EXPECT_EQ(engine.CleanUp(true), 13u);
    EXPECT_TRUE(logger.Contains(5, L"CleanUp: DeleteFiles failure Error=87"));
}

TEST_F(CleanUpProcedure, DisabledEntriesFoundDuringUninstallCountAsSuccess) {
    engine.enableResult = 50;
    engine.enableFindsDisabled = true;
    EXPECT_EQ(engine.Uninstall(), 0u);
    EXPECT_TRUE(logger.TextsAt(kLogError).empty());
}

TEST_F(CleanUpProcedure, RollBackNeverAsksEnablePlugin) {
    EXPECT_EQ(engine.CleanUp(false), 0u);
    EXPECT_EQ(engine.Calls(L"EnablePlugin"), 0);
    EXPECT_TRUE(RanDeleteFiles());
}

TEST_F(CleanUpProcedure, TheMostRecentListStepDecidesWhetherCOMIsUnregistered) {
    // The application list fails, the registry removal after it succeeds: COM still goes,
    // but the files stay because a removal step before them failed.
    engine.applicationListForCleanUp = true;
    engine.applicationsResult = 1629;
    EXPECT_EQ(engine.CleanUp(false), 1629u);
    EXPECT_TRUE(RanUnRegisterCOMServer());
    EXPECT_FALSE(RanDeleteFiles());
    EXPECT_TRUE(logger.Contains(5, L"CleanUp: GetInstalledApplicationList failure Error=1629"));
}

TEST_F(CleanUpProcedure, ConfigCleanUpFailureIsReportedWithoutPrefix) {
    engine.sectionResult = 87;
    EXPECT_EQ(engine.CleanUp(false), 87u);
    EXPECT_TRUE(logger.Contains(5, L"CleanUpInstallerConfigFile failure Error=87"));
}

}  // namespace
