// Requests repeated and in unusual order: each leaves the add-in either fully working or
// not there at all, and says so with its result.
#include "figures.h"
#include "file_fixtures.h"
#include "machine_state.h"
#include "sys/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

constexpr const wchar_t* kKeyNotFound = L"RemoveSettingsFromRegistry: key doesn't found";
constexpr const wchar_t* kDllMissing = L"CleanUp: UnRegisterCOMServer failure Error=126";

// What an Uninstall logs at level 3 when neither DLL is there to unregister.
const Lines kUninstallOfNothing = {L"Uninstall started", kDllMissing, kDllMissing, L"Uninstall completed"};

std::wstring FileVersion(const std::wstring& path) {
    std::wstring version;
    sys::VersionInfo::GetFileVersionString(path, version);
    return version;
}

template <Bitness bitness>
class RepeatOrOrderCase : public OutlookMachineTest {
protected:
    RepeatOrOrderCase() : OutlookMachineTest(bitness) {}
    void SetUp() override { CountAs(CaseKind::RepeatOrOrder); }
};

using RepeatsAndOrder = RepeatOrOrderCase<Bitness::k64>;
using RepeatsAndOrderOn32Bit = RepeatOrOrderCase<Bitness::k32>;

TEST_F(RepeatsAndOrder, InstallTwiceLeavesOneWorkingDeployment) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FolderEntries(machine.TempFolder()).empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(RepeatsAndOrder, UninstallTwiceSucceedsBothTimes) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ASSERT_EQ(machine.Run(L"uninstall"), 0u);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Infos(), kUninstallOfNothing);
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(RepeatsAndOrder, UninstallWhereNothingWasInstalledSucceeds) {
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Infos(), kUninstallOfNothing);
    const Lines trace = machine.logger.TextsAt(0);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), kKeyNotFound), 2);  // one key per view
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// Everything counts as missing, so the Repair lays the whole deployment down.
TEST_F(RepeatsAndOrder, RepairWhereNothingWasInstalledInstalls) {
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyIfFilesExists: File " + machine.AgentFile(L"tolvane64.dll") +
                                               L" not found"));
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(RepeatsAndOrder, InstallAfterUninstallWorks) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ASSERT_EQ(machine.Run(L"uninstall"), 0u);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(RepeatsAndOrder, RepairAfterUninstallInstallsAgain) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ASSERT_EQ(machine.Run(L"uninstall"), 0u);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// A host may keep one installer object for every request. It remembers the bitness it
// detected, which its Uninstall then uses too.
TEST_F(RepeatsAndOrder, OneInstallerObjectServesEveryRequestInTurn) {
    const ExportedLibrary library;
    PluginInstaller* installer = library.Create();
    ASSERT_EQ(installer->Initialize(machine.agentFolder().c_str(), &machine.logger), 0u);
    EXPECT_EQ(installer->Install(), 0u);
    EXPECT_EQ(installer->Install(), 0u);
    EXPECT_EQ(installer->Repair(), 6u);
    EXPECT_EQ(installer->Uninstall(), 0u);
    EXPECT_EQ(installer->Uninstall(), 0u);
    EXPECT_EQ(installer->Repair(), 0u);
    EXPECT_EQ(installer->Uninstall(), 0u);
    library.Delete(installer);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(RepeatsAndOrderOn32Bit, RepairPicksUpANewerVersionThroughTheBroker) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    CopyAddin(L"v2\\tolvane.dll", machine.agentFolder() + L"\\Install", L"tolvane.dll");
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyIfFilesExists: Sourcefile " + machine.AgentFile(L"tolvane.dll") +
                                               L" version info is different"));
    EXPECT_EQ(FileVersion(machine.AgentFile(L"tolvane.dll")), L"1.0.0.2");
    EXPECT_TRUE(FullyWorking(machine, Bitness::k32));
}

// Outlook replaced by its 64-bit edition: the Repair lays the 64-bit add-in down beside
// the 32-bit one, and the Uninstall removes both.
TEST_F(RepeatsAndOrderOn32Bit, OutlookTurned64BitIsRepairedAndBothDeploymentsAreRemoved) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ASSERT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\14.0\\Outlook\\InstallRoot",
                              KEY_WOW64_32KEY, 0),
              ERROR_SUCCESS);
    ScopedRegistryKey outlook64(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot",
                                KEY_WOW64_64KEY);
    outlook64.SetString(L"", L"Path", L"C:\\Program Files\\Microsoft Office\\Office15\\");
    machine.logger.Clear();

    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_32KEY));

    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

}  // namespace
