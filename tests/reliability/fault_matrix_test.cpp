// The fault matrix: for each step of Install, Repair and Uninstall with the Outlook
// profile, the faults it can meet, provoked for real, with the result code, the failure
// lines and the machine's state afterwards. A failed Install leaves nothing of the add-in;
// a failed Repair leaves the add-in working once the fault is gone, or nothing of it; after
// a failed Uninstall, a second Uninstall once the fault is gone leaves nothing.
// (The end-to-end tests already cover a source held open during the copy, a failing
// DllRegisterServer and a volatile add-ins key on Install, and a loaded DLL on Repair.)
#include "faults.h"
#include "figures.h"
#include "file_fixtures.h"
#include "machine_state.h"
#include "sys/handles.h"
#include "user_hives.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kAddinsKey = L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins";
constexpr const wchar_t* kClassKey = L"SOFTWARE\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
constexpr const wchar_t* kInstallRoot15 = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot";
constexpr const wchar_t* kDisabledItems15 =
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";

// Tolerated while removing a deployment: the DLL of the other bitness, or the one deleted,
// is not there.
constexpr const wchar_t* kDllMissing = L"CleanUp: UnRegisterCOMServer failure Error=126";

// Outlook's record of a disabled add-in: a header, then the DLL's path and the add-in's
// description as UTF-16 text.
std::vector<BYTE> DisabledRecord(const std::wstring& dll) {
    const std::wstring text = L"\x0001" + dll + L'\0' + L"Tolvane Outlook Add-in" + L'\0';
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

// A fault met on a machine with an Outlook of that bitness; the Repair and Uninstall cases
// start from an installed add-in.
template <Bitness bitness, bool installed>
class FaultCase : public OutlookMachineTest {
protected:
    FaultCase() : OutlookMachineTest(bitness) {}
    void SetUp() override {
        CountAs(CaseKind::Fault);
        if (!installed) return;
        ASSERT_EQ(machine.Run(L"install"), 0u);
        machine.logger.Clear();
    }

    // After a failed Uninstall, once the fault is gone.
    void ExpectASecondUninstallLeavesNothing() {
        machine.logger.Clear();
        EXPECT_EQ(machine.Run(L"uninstall"), 0u);
        EXPECT_TRUE(Errors().empty());
        EXPECT_TRUE(HoldsNothing(machine, pending));
    }
};

using InstallFault = FaultCase<Bitness::k64, false>;
using InstallFaultOn32Bit = FaultCase<Bitness::k32, false>;
using RepairFault = FaultCase<Bitness::k64, true>;
using RepairFaultOn32Bit = FaultCase<Bitness::k32, true>;
using UninstallFault = FaultCase<Bitness::k64, true>;
using UninstallFaultOn32Bit = FaultCase<Bitness::k32, true>;

// ---------------------------------------------------------------------------------- Install

TEST_F(InstallFault, MissingSourceFileStopsBeforeAnythingIsTouched) {
    std::filesystem::remove(machine.SourceFile(L"tolvane.dll"));
    EXPECT_EQ(machine.Run(L"install"), 4u);
    EXPECT_EQ(Errors(), (Lines{L"VerifySource failureSourcefile = " + machine.SourceFile(L"tolvane.dll") +
                                   L" Error=2",
                               L"Install: VerifySource failure. Error=2"}));
    EXPECT_EQ(Infos(), StartFailureAndEnd(L"Install", 4));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(InstallFault, MissingInstallFolderIsMissingSourceFiles) {
    std::filesystem::remove_all(machine.agentFolder() + L"\\Install");
    EXPECT_EQ(machine.Run(L"install"), 4u);
    EXPECT_EQ(Errors(), (Lines{L"VerifySource failureSourcefile = " + machine.SourceFile(L"tolvane.dll") +
                                   L" Error=2",
                               L"Install: VerifySource failure. Error=2"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(InstallFault, UnreadableInstallRootStopsBeforeAnythingIsTouched) {
    ScopedKeyAccess denied(HKEY_LOCAL_MACHINE, kInstallRoot15, KEY_WOW64_64KEY, 0);
    ASSERT_TRUE(denied.applied());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_TRUE(machine.logger.Contains(0, L"GetInstalledApplicationList failure 5"));
    EXPECT_EQ(Errors(), (Lines{L"Install: GetInstalledApplicationList failure. Error=5"}));
    EXPECT_EQ(Infos(), StartFailureAndEnd(L"Install", 1));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// Outlook holds the deployed DLL of an earlier install: it is set aside and replaced.
TEST_F(InstallFault, DeployedDllInUseIsSetAsideAndReplaced) {
    CopyAddin(L"v2\\tolvane64.dll", machine.agentFolder(), L"tolvane64.dll");
    ScopedLoadedDll outlook(machine.AgentFile(L"tolvane64.dll"));
    ASSERT_TRUE(outlook);
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(Errors().empty());
    const Lines setAside = FolderEntries(machine.TempFolder());
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_TRUE(pending.ScheduledForDeletion(machine.TempFolder() + L"\\" + setAside[0]));
    outlook.Free();
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// Without a temp folder the DLL in use cannot be set aside: it stays where it is, and the
// roll back removes everything else.
TEST_F(InstallFault, DeployedDllInUseWithoutTempFolderFailsAndRollsBack) {
    CopyAddin(L"v2\\tolvane64.dll", machine.agentFolder(), L"tolvane64.dll");
    ScopedLoadedDll outlook(machine.AgentFile(L"tolvane64.dll"));
    ASSERT_TRUE(outlook);
    std::filesystem::remove(machine.TempFolder());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"CopyFile: failure Error=3", L"Install: CopyFiles failure. Error=3",
                               L"DeleteFile: failure3", L"CleanUp: DeleteFiles failure Error=3"}));
    EXPECT_EQ(Infos(), (Lines{L"Install started", kDllMissing, L"Install: failure Error=1",
                              L"Install completed"}));
    LeavesATrace("the DLL in use stays: without a temp folder it cannot be set aside");

    outlook.Free();
    std::filesystem::create_directory(machine.TempFolder());
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// A folder in the DLL's place: the copy fails, and the roll back removes the folder with
// the rest, so that the next Install finds the place free.
TEST_F(InstallFault, FolderWhereTheDllGoesFailsTheCopyAndIsRemoved) {
    const std::wstring folder = machine.AgentFile(L"tolvane64.dll");
    std::filesystem::create_directories(folder);
    WriteTextFile(folder + L"\\notes.txt", "stray");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"CopyFile: failure Error=5", L"Install: CopyFiles failure. Error=5"}));
    EXPECT_EQ(Infos(), (Lines{L"Install started", kDllMissing, kDllMissing, L"Install: failure Error=1",
                              L"Install completed"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));

    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(InstallFault, DllWithoutRegisterExportIsRolledBack) {
    CopyAddin(L"noexport\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=127",
                               L"Install: RegisterCOMServer failure. Error=127"}));
    EXPECT_EQ(Infos(), (Lines{L"Install started", kDllMissing, L"Install: failure Error=1",
                              L"Install completed"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// A class key left volatile: the DLL's own registration cannot create its server key.
TEST_F(InstallFault, VolatileClassKeyFailsTheRegistrationAndIsRolledBack) {
    ScopedVolatileKey volatileClass(HKEY_LOCAL_MACHINE, kClassKey, KEY_WOW64_64KEY);
    ASSERT_TRUE(volatileClass.created());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=1021",
                               L"Install: RegisterCOMServer failure. Error=1021"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// A stale add-in key that may only be read: it cannot be opened for writing.
TEST_F(InstallFault, ReadOnlyAddinKeyFailsTheSettingsAndIsRolledBack) {
    ScopedRegistryKey stale(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY);
    ScopedKeyAccess readOnly(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY, KEY_READ);
    ASSERT_TRUE(readOnly.applied());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"AddSettingsToRegistry: AddKey failure Error=5",
                               L"Install: AddSettingsToRegistry failure. Error=5"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(InstallFaultOn32Bit, UnregisteredBrokerFailsTheRegistrationAndIsRolledBack) {
    ScopedBrokenBroker broker(ScopedBrokenBroker::Fault::Unregistered, machine.agentFolder());
    ASSERT_TRUE(broker.ready());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=340",
                               L"Install: RegisterCOMServer failure. Error=340"}));
    EXPECT_EQ(Infos(), (Lines{L"Install started", kDllMissing, L"Install: failure Error=1",
                              L"Install completed"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(InstallFaultOn32Bit, BrokerWithoutItsProgramFailsTheRegistrationAndIsRolledBack) {
    ScopedBrokenBroker broker(ScopedBrokenBroker::Fault::ProgramMissing, machine.agentFolder());
    ASSERT_TRUE(broker.ready());
    ASSERT_EQ(BrokerServerCommand(), L"\"" + machine.AgentFile(L"ComRegistrationBroker.exe") + L"\"");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=340",
                               L"Install: RegisterCOMServer failure. Error=340"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(InstallFaultOn32Bit, CrashingBrokerFailsTheRegistrationAndIsRolledBack) {
    ScopedBrokenBroker broker(ScopedBrokenBroker::Fault::Crashing, machine.agentFolder());
    ASSERT_TRUE(broker.ready());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=16386",
                               L"Install: RegisterCOMServer failure. Error=16386"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// COM refuses the broker to a thread that already lives in a single-threaded apartment.
TEST_F(InstallFaultOn32Bit, HostThreadInSingleThreadedApartmentFailsTheRegistration) {
    ScopedSingleThreadedApartment sta;
    ASSERT_TRUE(sta.joined());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=262",
                               L"Install: RegisterCOMServer failure. Error=262"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// The roll back unregisters the 32-bit class through the broker.
TEST_F(InstallFaultOn32Bit, VolatileAddinsKeyInThe32BitViewUnregistersThroughTheBroker) {
    ScopedVolatileKey addins(HKEY_LOCAL_MACHINE, kAddinsKey, KEY_WOW64_32KEY);
    ASSERT_TRUE(addins.created());
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"AddSettingsToRegistry: AddKey failure Error=1021",
                               L"Install: AddSettingsToRegistry failure. Error=1021"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// ----------------------------------------------------------------------------------- Repair

TEST_F(RepairFault, MissingSourceFileLeavesTheDeploymentAlone) {
    const std::wstring source = machine.SourceFile(L"tolvane64.dll");
    std::filesystem::rename(source, source + L".away");
    EXPECT_EQ(machine.Run(L"repair"), 4u);
    EXPECT_EQ(Errors(), (Lines{L"VerifySource failureSourcefile = " + source + L" Error=2",
                               L"Repair: VerifySource failure Error=2"}));
    std::filesystem::rename(source + L".away", source);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(RepairFault, UnreadableInstallRootLeavesTheDeploymentAlone) {
    {
        ScopedKeyAccess denied(HKEY_LOCAL_MACHINE, kInstallRoot15, KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"repair"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"Repair: GetInstalledApplicationList failure Error=5"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(RepairFault, UnreadableDisabledItemsKeyFailsTheScanAndLeavesTheDeploymentAlone) {
    ScopedUserHives hives(1);
    hives.CreateKey(0, kDisabledItems15);
    {
        ScopedKeyAccess denied(HKEY_USERS, hives.Path(0, kDisabledItems15), 0, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"repair"), 1u);
    }
    EXPECT_TRUE(machine.logger.Contains(0, L"EnablePlugin:- GetValue failure5"));
    EXPECT_EQ(Errors(), (Lines{L"Repair: EnablePlugin failure Error=5"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// Any add-in's record without data stops the scan, not only this add-in's.
TEST_F(RepairFault, DisabledItemWithoutDataFailsTheScanAndLeavesTheDeploymentAlone) {
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"5B1F", REG_BINARY, {});
    EXPECT_EQ(machine.Run(L"repair"), 1u);
    EXPECT_TRUE(machine.logger.Contains(0, L"EnablePlugin:- GetValue returns NULL BINARY data, Error=13"));
    EXPECT_EQ(Errors(), (Lines{L"Repair: EnablePlugin failure Error=13"}));
    hives.SetRaw(0, kDisabledItems15, L"5B1F", REG_BINARY, DisabledRecord(L"C:\\Other\\other.dll"));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// The in-process check of the COM class needs the multithreaded apartment.
TEST_F(RepairFault, HostThreadInSingleThreadedApartmentFailsTheVerification) {
    {
        ScopedSingleThreadedApartment sta;
        ASSERT_TRUE(sta.joined());
        EXPECT_EQ(machine.Run(L"repair"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"VerifyCOMRegistration: VerifyRegistration failure Error=262",
                               L"VerifySettings: VerifyCOMRegistration failure Error=262",
                               L"Repair: VerifySettings failure Error=262"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// The key cannot be read, so it counts as missing; writing it again fails, and so does
// removing it in the roll back, which therefore keeps the COM class and the file.
TEST_F(RepairFault, UnreadableAddinKeyFailsTheRepairAndKeepsTheDeployment) {
    {
        ScopedKeyAccess denied(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"repair"), 1u);
    }
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyRegistrySettings: Key = " + std::wstring(kAddinKey) +
                                               L"  not found"));
    EXPECT_EQ(Errors(), (Lines{L"AddSettingsToRegistry: AddKey failure Error=5",
                               L"Repair: AddSettingsToRegistry failure Error=5",
                               L"RemoveSettingsFromRegistry: RemoveKey failure Error=5",
                               L"CleanUp: RemoveSettingsFromRegistry failure Error=5"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// A value of the add-in key rewritten with another type counts as missing and is written
// again with its own.
TEST_F(RepairFault, AddinValueOfTheWrongTypeIsWrittenAgain) {
    const DWORD number = 7;
    sys::UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAddinKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), L"FileName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof(number)),
              ERROR_SUCCESS);
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Name= FileName Value= tolvane64.dll ValueType= 1NOT FOUND in registry"));
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// A user's own add-in key that may only be read: its load behaviour cannot be reset, which
// is logged and tolerated.
TEST_F(RepairFault, ReadOnlyPerUserAddinKeyIsLoggedAndTolerated) {
    ScopedUserHives hives(1);
    hives.SetDword(0, kAddinKey, L"LoadBehavior", 2);
    {
        ScopedKeyAccess readOnly(HKEY_USERS, hives.Path(0, kAddinKey), 0, KEY_READ);
        ASSERT_TRUE(readOnly.applied());
        EXPECT_EQ(machine.Run(L"repair"), 6u);
    }
    EXPECT_TRUE(machine.logger.Contains(0, L"RepairMiscRegistryKeys: LoadBehavior reset value failure Error=5"));
    EXPECT_TRUE(Errors().empty());
}

// An outdated DLL that Outlook holds cannot be replaced without a temp folder; the roll
// back removes the registration and the key, and the DLL in use stays until released.
TEST_F(RepairFault, OutdatedDllInUseWithoutTempFolderFailsAndRollsBack) {
    CopyAddin(L"v2\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    ScopedLoadedDll outlook(machine.AgentFile(L"tolvane64.dll"));
    ASSERT_TRUE(outlook);
    std::filesystem::remove(machine.TempFolder());
    EXPECT_EQ(machine.Run(L"repair"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"CopyFile: failure Error=3", L"Repair: CopyFiles failure Error=3",
                               L"DeleteFile: failure3", L"CleanUp: DeleteFiles failure Error=3"}));
    EXPECT_TRUE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY));
    LeavesATrace("the DLL in use stays: without a temp folder it cannot be set aside");

    outlook.Free();
    std::filesystem::create_directory(machine.TempFolder());
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// The deployed DLL replaced by a folder: the roll back removes the key and the folder, but
// the class stays registered, with no DLL left to unregister it through, until a Repair
// succeeds.
TEST_F(RepairFault, FolderWhereTheDllWasFailsTheCopyAndKeepsTheClass) {
    const std::wstring folder = machine.AgentFile(L"tolvane64.dll");
    std::filesystem::remove(folder);
    std::filesystem::create_directories(folder);
    EXPECT_EQ(machine.Run(L"repair"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"CopyFile: failure Error=5", L"Repair: CopyFiles failure Error=5"}));
    EXPECT_FALSE(PathExists(folder));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY));
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_64KEY));
    LeavesATrace("the COM class: its DLL gave way to a folder, so nothing is left to unregister it through");

    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// The class key, tampered with, is left volatile: registering again cannot create its
// server key, and the roll back removes everything.
TEST_F(RepairFault, VolatileClassKeyFailsTheRegistrationAndRollsBack) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
    ScopedVolatileKey volatileClass(HKEY_LOCAL_MACHINE, kClassKey, KEY_WOW64_64KEY);
    ASSERT_TRUE(volatileClass.created());
    EXPECT_EQ(machine.Run(L"repair"), 1u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyCOMRegistration: COM registration tampered, need repair"));
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=1021",
                               L"Repair: RegisterCOMServer failure Error=1021"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(RepairFault, VolatileAddinsKeyFailsTheSettingsAndRollsBack) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAddinsKey);
    ScopedVolatileKey addins(HKEY_LOCAL_MACHINE, kAddinsKey, KEY_WOW64_64KEY);
    ASSERT_TRUE(addins.created());
    EXPECT_EQ(machine.Run(L"repair"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"AddSettingsToRegistry: AddKey failure Error=1021",
                               L"Repair: AddSettingsToRegistry failure Error=1021"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(RepairFaultOn32Bit, CrashingBrokerFailsTheVerificationAndLeavesTheDeploymentAlone) {
    {
        ScopedBrokenBroker broker(ScopedBrokenBroker::Fault::Crashing, machine.agentFolder());
        ASSERT_TRUE(broker.ready());
        EXPECT_EQ(machine.Run(L"repair"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"VerifyCOMRegistration: VerifyRegistration failure Error=16386",
                               L"VerifySettings: VerifyCOMRegistration failure Error=16386",
                               L"Repair: VerifySettings failure Error=16386"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k32));
}

// -------------------------------------------------------------------------------- Uninstall

TEST_F(UninstallFault, UnreadableDisabledItemsKeyIsReportedAfterEverythingElseIsRemoved) {
    ScopedUserHives hives(1);
    hives.CreateKey(0, kDisabledItems15);
    {
        ScopedKeyAccess denied(HKEY_USERS, hives.Path(0, kDisabledItems15), 0, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
        EXPECT_EQ(Errors(), (Lines{L"CleanUp: EnablePlugin failure Error=5", L"Uninstall: failure Error=5"}));
        EXPECT_EQ(Infos(), (Lines{L"Uninstall started", kDllMissing, L"Uninstall: failure Error=1",
                                  L"Uninstall completed"}));
        EXPECT_TRUE(HoldsNothing(machine, pending));
    }
    ExpectASecondUninstallLeavesNothing();
}

TEST_F(UninstallFault, DisabledItemWithoutDataIsReportedAfterEverythingElseIsRemoved) {
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"5B1F", REG_BINARY, {});
    EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"CleanUp: EnablePlugin failure Error=13", L"Uninstall: failure Error=13"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
    RegDeleteKeyValueW(HKEY_USERS, hives.Path(0, kDisabledItems15).c_str(), L"5B1F");
    ExpectASecondUninstallLeavesNothing();
}

TEST_F(UninstallFault, UnreadableAddinKeyKeepsTheClassAndTheFile) {
    {
        ScopedKeyAccess denied(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"RemoveSettingsFromRegistry: RemoveKey failure Error=5",
                               L"CleanUp: RemoveSettingsFromRegistry failure Error=5",
                               L"Uninstall: failure Error=5"}));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
    ExpectASecondUninstallLeavesNothing();
}

TEST_F(UninstallFault, UnreadableClassKeyFailsTheUnregistrationAndKeepsTheFile) {
    {
        ScopedKeyAccess denied(HKEY_LOCAL_MACHINE, kClassKey, KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(denied.applied());
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"UnRegisterCOMServer: UnRegister failure Error=5",
                               L"CleanUp: UnRegisterCOMServer failure Error=5", L"Uninstall: failure Error=5"}));
    EXPECT_TRUE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY));
    ExpectASecondUninstallLeavesNothing();
}

// A scanner holds the DLL open: it cannot even be loaded to unregister it.
TEST_F(UninstallFault, DllHeldOpenFailsTheUnregistrationAndKeepsTheFile) {
    {
        ScopedExclusiveOpen scanner(machine.AgentFile(L"tolvane64.dll"));
        ASSERT_TRUE(scanner);
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"UnRegisterCOMServer: UnRegister failure Error=32",
                               L"CleanUp: UnRegisterCOMServer failure Error=32", L"Uninstall: failure Error=32"}));
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_64KEY));
    ExpectASecondUninstallLeavesNothing();
}

TEST_F(UninstallFault, DllInUseIsSetAsideForDeletionAtRestart) {
    ScopedLoadedDll outlook(machine.AgentFile(L"tolvane64.dll"));
    ASSERT_TRUE(outlook);
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(FolderEntries(machine.TempFolder()).size(), 1u);
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

TEST_F(UninstallFault, DllInUseWithoutTempFolderStaysUntilReleased) {
    {
        ScopedLoadedDll outlook(machine.AgentFile(L"tolvane64.dll"));
        ASSERT_TRUE(outlook);
        std::filesystem::remove(machine.TempFolder());
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    }
    EXPECT_EQ(Errors(), (Lines{L"DeleteFile: failure3", L"CleanUp: DeleteFiles failure Error=3",
                               L"Uninstall: failure Error=3"}));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
    std::filesystem::create_directory(machine.TempFolder());
    ExpectASecondUninstallLeavesNothing();
}

// A scanner quarantined the deployed DLL: there is nothing left to unregister the class
// through, so it stays registered until a Repair lays the DLL down again.
TEST_F(UninstallFault, DllDeletedBehindItsBackLeavesItsClassRegistered) {
    std::filesystem::remove(machine.AgentFile(L"tolvane64.dll"));
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Infos(), (Lines{L"Uninstall started", kDllMissing, kDllMissing, L"Uninstall completed"}));
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_64KEY));
    LeavesATrace("the COM class: its DLL was deleted, so nothing is left to unregister it through");

    ASSERT_EQ(machine.Run(L"repair"), 0u);
    ExpectASecondUninstallLeavesNothing();
}

TEST_F(UninstallFault, FolderNamedLikeTheOtherDllIsRemoved) {
    std::filesystem::create_directories(machine.AgentFile(L"tolvane.dll") + L"\\sub");
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// Outlook's record of the disabled add-in lies in a key that may only be read.
TEST_F(UninstallFaultOn32Bit, DisabledItemThatCannotBeDeletedIsReportedAfterEverythingElseIsRemoved) {
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"7C2E", REG_BINARY, DisabledRecord(machine.AgentFile(L"tolvane.dll")));
    {
        ScopedKeyAccess readOnly(HKEY_USERS, hives.Path(0, kDisabledItems15), 0, KEY_READ);
        ASSERT_TRUE(readOnly.applied());
        EXPECT_EQ(machine.Run(L"uninstall"), 1u);
    }
    EXPECT_TRUE(machine.logger.Contains(0, L"EnablePlugin:- RemoveValue failure5"));
    EXPECT_EQ(Errors(), (Lines{L"CleanUp: EnablePlugin failure Error=5", L"Uninstall: failure Error=5"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
    ExpectASecondUninstallLeavesNothing();
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(RawReadValue(HKEY_USERS, hives.Path(0, kDisabledItems15), L"7C2E", 0, type, data));
}

// The 32-bit DLL's unregistration fails, but the 64-bit DLL, not deployed and so counted
// as unregistered, comes last and decides: the Uninstall succeeds and deletes the DLL,
// leaving its class registered with nothing left to unregister it through.
TEST_F(UninstallFaultOn32Bit, UnregisteredBrokerReportsSuccessButLeavesThe32BitClass) {
    {
        ScopedBrokenBroker broker(ScopedBrokenBroker::Fault::Unregistered, machine.agentFolder());
        ASSERT_TRUE(broker.ready());
        EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    }
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(std::filesystem::exists(machine.AgentFile(L"tolvane.dll")));
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_32KEY));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(AddinClassExists(KEY_WOW64_32KEY));
    LeavesATrace("the 32-bit COM class: only the last DLL's unregistration decides the result");
}

}  // namespace
