// The engine's installer config file steps: what they log, return and leave in
// "Installer.ini".
#include "outlook/outlook_plugin_installation_manager.h"
#include "state/installer_config_file.h"

#include "file_state.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "test_profile.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kSection = L"Profile";

const LogEntry kUpdatePathsStart{0, L"UpdateInstallerConfigFile ApplicationPathList Start"};
const LogEntry kUpdatePathsEnd{0, L"UpdateInstallerConfigFile ApplicationPathList End"};
const std::vector<LogEntry> kUpdateIniLines{
    {0, L"UpdateInstallerConfigFile INIPathList Start"},
    {0, L"UpdateInstallerConfigFile INIPathList End"},
    {0, L"UpdateInstallerConfigFile CommandLine INIPathList Start"},
    {0, L"UpdateInstallerConfigFile CommandLine INIPathList End"},
};
const LogEntry kCleanUpStart{0, L"Cleaning up installer config file Start"};
const LogEntry kCleanUpEnd{0, L"Cleaning up installer config file End"};

std::string Encoded(const std::wstring& path) {
    const std::wstring item = EncodePath(path);
    return std::string(item.begin(), item.end());
}

class ConfigSteps : public ::testing::Test {
protected:
    ConfigSteps() {
        engine.Initialize(dir.path(), &logger);
        engine.sectionResult = 0;
        engine.section = kSection;
    }
    std::wstring File() const { return dir / L"Installer.ini"; }

    ScopedTempDir dir;
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(ConfigSteps, UpdateRecordsTheApplicationPaths) {
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, ApplicationPathList{L"C:\\App"}), 0u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{kUpdatePathsStart, kUpdatePathsEnd}));
    EXPECT_EQ(StoredIniText(File(), "APPLICATION_PATHS"), Encoded(L"C:\\App"));
}

TEST_F(ConfigSteps, UpdateWithNoApplicationPathsCreatesNoFile) {
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, ApplicationPathList{}), 0u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{kUpdatePathsStart, kUpdatePathsEnd}));
    EXPECT_FALSE(CaptureFile(File()).exists);
}

TEST_F(ConfigSteps, UpdateLogsItsEndAlsoOnFailure) {
    engine.Initialize(dir / L"no such folder", &logger);
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, ApplicationPathList{L"C:\\App"}),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{kUpdatePathsStart, kUpdatePathsEnd}));
}

TEST_F(ConfigSteps, UpdateRecordsTheINIPathsAndEmptiesTheCommandLineList) {
    WriteTextFile(File(), "[Profile]\r\nCOMMANDLINE_INI_PATHS=118,\r\n");
    INIFileEntryInfo entry;
    entry.iniFilePaths = {L"C:\\App\\app.ini"};
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, entry), 0u);
    EXPECT_EQ(logger.entries, kUpdateIniLines);
    EXPECT_EQ(StoredIniText(File(), "INI_PATHS"), Encoded(L"C:\\App\\app.ini"));
    EXPECT_EQ(StoredIniText(File(), "COMMANDLINE_INI_PATHS"), "");
}

// With nothing to add no file is made, so emptying the command-line list finds none.
TEST_F(ConfigSteps, UpdateINIPathsWithoutAFileGivesTheCommandLineResult) {
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, INIFileEntryInfo{}), 2u);
    EXPECT_EQ(logger.entries, kUpdateIniLines);
    EXPECT_FALSE(CaptureFile(File()).exists);
}

TEST_F(ConfigSteps, UpdateINIPathsFailureWinsOverTheCommandLineResult) {
    engine.Initialize(dir / L"no such folder", &logger);
    INIFileEntryInfo entry;
    entry.iniFilePaths = {L"C:\\App\\app.ini"};
    EXPECT_EQ(engine.UpdateInstallerConfigFile(kSection, entry),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(logger.entries, kUpdateIniLines);
}

TEST_F(ConfigSteps, CleanUpEmptiesBothListsAndKeepsTheKeys) {
    WriteTextFile(File(), "[Profile]\r\nAPPLICATION_PATHS=1,2,\r\nINI_PATHS=3,\r\n"
                          "COMMANDLINE_INI_PATHS=4,\r\n[Other]\r\nAPPLICATION_PATHS=5,\r\n");
    EXPECT_EQ(engine.CleanUpInstallerConfigFile(), 0u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{kCleanUpStart, kCleanUpEnd}));
    EXPECT_EQ(ReadTextFile(File()), "[Profile]\r\nAPPLICATION_PATHS=\r\nINI_PATHS=\r\n"
                                    "COMMANDLINE_INI_PATHS=4,\r\n[Other]\r\nAPPLICATION_PATHS=5,\r\n");
}

TEST_F(ConfigSteps, CleanUpWithoutTheFileIsNoFailure) {
    EXPECT_EQ(engine.CleanUpInstallerConfigFile(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  kCleanUpStart,
                  {0, L"CleanUpInstallerConfigFile: failure, Error= Installer config file doesn't found"}}));
    EXPECT_FALSE(CaptureFile(File()).exists);
}

TEST_F(ConfigSteps, CleanUpStopsAtTheSectionName) {
    WriteTextFile(File(), "[Profile]\r\nAPPLICATION_PATHS=1,\r\n");
    BackdateFile(File());
    const FileState before = CaptureFile(File());
    for (DWORD sectionResult : {static_cast<DWORD>(ERROR_NOT_SUPPORTED), DWORD{1359}}) {
        SCOPED_TRACE(sectionResult);
        logger.Clear();
        engine.sectionResult = sectionResult;
        EXPECT_EQ(engine.CleanUpInstallerConfigFile(),
                  sectionResult == ERROR_NOT_SUPPORTED ? 0u : sectionResult);
        EXPECT_EQ(logger.entries, std::vector<LogEntry>{kCleanUpStart});
    }
    EXPECT_EQ(CaptureFile(File()), before);
}

TEST_F(ConfigSteps, CleanUpReportsAFailedClearOfTheApplicationList) {
    WriteTextFile(File(), "[Profile]\r\nAPPLICATION_PATHS=1,\r\nINI_PATHS=3,\r\n");
    const ScopedWriteBlock block(File());
    ASSERT_TRUE(block);
    EXPECT_EQ(engine.CleanUpInstallerConfigFile(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  kCleanUpStart,
                  {5, L"CleanUpInstallerConfigFile: ClearApplicationList failure Error=32"}}));
}

TEST_F(ConfigSteps, CleanUpReportsAFailedClearOfTheINIList) {
    WriteTextFile(File(), "[Profile]\r\nAPPLICATION_PATHS=\r\nINI_PATHS=3,\r\n");
    const ScopedWriteBlock block(File());
    ASSERT_TRUE(block);
    EXPECT_EQ(engine.CleanUpInstallerConfigFile(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  kCleanUpStart, {5, L"CleanUpInstallerConfigFile: ClearINIList failure Error=32"}}));
}

TEST(OutlookConfigSteps, CleanUpLogsOnlyItsStartAndLeavesTheFile) {
    ScopedTempDir dir;
    const std::wstring file = dir / L"Installer.ini";
    WriteTextFile(file, "[Outlook]\r\nAPPLICATION_PATHS=1,\r\nINI_PATHS=3,\r\n");
    BackdateFile(file);
    const FileState before = CaptureFile(file);

    RecordingLogger logger;
    OutlookPluginInstallationManager outlook;
    outlook.Initialize(dir.path(), &logger);
    EXPECT_EQ(outlook.CleanUpInstallerConfigFile(), 0u);
    EXPECT_EQ(logger.entries, std::vector<LogEntry>{kCleanUpStart});
    EXPECT_EQ(CaptureFile(file), before);
}

}  // namespace
