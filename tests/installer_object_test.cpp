// The installer object as the host sees it, through the exported functions of the DLL.
#include "installer/outlook_plugin_installer_impl.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "simulated_machine.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <new>

namespace {

class ExportedInstaller : public ::testing::Test {
protected:
    PluginInstaller* create() const { return library.Create(); }
    void destroy(PluginInstaller* installer) const { library.Delete(installer); }

    ExportedLibrary library;
};

TEST_F(ExportedInstaller, DeleteAcceptsNullAndUninitialisedObjects) {
    destroy(nullptr);
    destroy(create());
}

TEST_F(ExportedInstaller, InitializeRefusesNullOrEmptyArgumentsWithoutLogging) {
    RecordingLogger logger;
    PluginInstaller* installer = create();
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(installer->Initialize(nullptr, &logger), 5u);
    EXPECT_EQ(installer->Initialize(L"C:\\A", nullptr), 5u);
    EXPECT_EQ(installer->Initialize(L"", &logger), 5u);
    EXPECT_TRUE(logger.entries.empty());
    destroy(installer);
}

TEST_F(ExportedInstaller, RequestsBeforeASuccessfulInitializeReturn5AndLogNothing) {
    RecordingLogger logger;
    PluginInstaller* installer = create();
    EXPECT_EQ(installer->Install(), 5u);
    EXPECT_EQ(installer->Repair(), 5u);
    EXPECT_EQ(installer->Uninstall(), 5u);

    // A failed Initialize after a good one leaves the object refusing requests too.
    ScopedTempDir folder;
    ASSERT_EQ(installer->Initialize(folder.path().c_str(), &logger), 0u);
    EXPECT_EQ(installer->Initialize(L"", &logger), 5u);
    EXPECT_EQ(installer->Install(), 5u);
    EXPECT_TRUE(logger.entries.empty());
    destroy(installer);
}

TEST_F(ExportedInstaller, InstallWithoutSourceFilesLogsStartFailureAndEndAtLevel3) {
    RecordingLogger logger;
    ScopedTempDir folder;  // no "Install" subfolder
    PluginInstaller* installer = create();
    ASSERT_EQ(installer->Initialize(folder.path().c_str(), &logger), 0u);
    EXPECT_EQ(installer->Install(), 4u);

    const std::vector<std::wstring> info = logger.TextsAt(kLogInfo);
    EXPECT_EQ(info, (std::vector<std::wstring>{L"Install started", L"Install: failure Error=4",
                                               L"Install completed"}));
    EXPECT_EQ(logger.entries.front(), (LogEntry{3, L"Install started"}));
    EXPECT_EQ(logger.entries.back(), (LogEntry{3, L"Install completed"}));
    destroy(installer);
}

TEST_F(ExportedInstaller, SecondInitializeReplacesTheFolder) {
    RecordingLogger first;
    RecordingLogger second;
    ScopedTempDir folderA;
    ScopedTempDir folderB;
    PluginInstaller* installer = create();
    ASSERT_EQ(installer->Initialize(folderA.path().c_str(), &first), 0u);
    ASSERT_EQ(installer->Initialize(folderB.path().c_str(), &second), 0u);
    installer->Install();
    EXPECT_TRUE(first.entries.empty());
    EXPECT_EQ(second.IndexOf(L"VerifySource failureSourcefile = " + folderB.path() +
                             L"\\Install\\tolvane.dll Error=2"),
              2);
    destroy(installer);
}

class ThrowingProfile : public TestProfile {
public:
    DWORD Install() override { throw std::bad_alloc(); }
    DWORD Uninstall() override { return 1; }
    DWORD Repair() override { return 0xFFFFFFFF; }
};

TEST(InstallerRequest, EngineExceptionBecomes8WithFailureAndEndLines) {
    RecordingLogger logger;
    ThrowingProfile engine;
    EXPECT_EQ(OutlookPluginInstallerImpl::RunRequest(&logger, engine, &PluginInstallationManager::Install,
                                                     L"Install started", L"Install: failure",
                                                     L"Install completed"),
              8u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{{3, L"Install started"},
                                                     {3, L"Install: failure Error=8"},
                                                     {3, L"Install completed"}}));
}

TEST(InstallerRequest, PassesTheEngineResultOnAndPrintsItSigned) {
    RecordingLogger logger;
    ThrowingProfile engine;
    EXPECT_EQ(OutlookPluginInstallerImpl::RunRequest(&logger, engine, &PluginInstallationManager::Uninstall,
                                                     L"Uninstall started", L"Uninstall: failure",
                                                     L"Uninstall completed"),
              1u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{{3, L"Uninstall started"},
                                                     {3, L"Uninstall: failure Error=1"},
                                                     {3, L"Uninstall completed"}}));
    logger.Clear();
    EXPECT_EQ(OutlookPluginInstallerImpl::RunRequest(&logger, engine, &PluginInstallationManager::Repair,
                                                     L"Repair started", L"Repair: failure",
                                                     L"Repair completed"),
              0xFFFFFFFFu);
    EXPECT_TRUE(logger.Contains(3, L"Repair: failure Error=-1"));
}

}  // namespace
