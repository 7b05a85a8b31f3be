// The engine's fields and the order and branches of the Install procedure.
#include "recording_logger.h"
#include "test_profile.h"

#include <gtest/gtest.h>

namespace {

TEST(EngineInitialize, DerivesSourceAndTempFoldersFromTheFolderAsGiven) {
    RecordingLogger logger;
    TestProfile engine;
    EXPECT_TRUE(engine.installDir.empty());
    engine.Initialize(L"C:\\A", &logger);
    EXPECT_EQ(engine.installDir, L"C:\\A");
    EXPECT_EQ(engine.installSourceDir, L"C:\\A\\Install");
    EXPECT_EQ(engine.tempDir, L"C:\\A\\temp");
    EXPECT_EQ(engine.logger, &logger);

    RecordingLogger other;
    engine.Initialize(L"D:\\B\\", &other);  // not normalised: the backslash doubles
    EXPECT_EQ(engine.installDir, L"D:\\B\\");
    EXPECT_EQ(engine.installSourceDir, L"D:\\B\\\\Install");
    EXPECT_EQ(engine.tempDir, L"D:\\B\\\\temp");
    EXPECT_EQ(engine.logger, &other);
}

TEST(EngineDefaults, NoCOMFilesAndNot64Bit) {
    struct Bare : TestProfile {
        DWORD GetAllFileNamesForCOMRegistration(COMServerFileMap& files) override {
            return PluginInstallationManager::GetAllFileNamesForCOMRegistration(files);
        }
        bool Is64BitApplication() override { return PluginInstallationManager::Is64BitApplication(); }
    } engine;
    COMServerFileMap files;
    EXPECT_EQ(engine.GetAllFileNamesForCOMRegistration(files), 0u);
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(engine.Is64BitApplication());
}

}  // namespace
