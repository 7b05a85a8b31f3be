// Hostile and unusual input: folders given to Initialize, registry values and keys that
// are not what Outlook writes, and add-in files that are not what the agent ships. Each
// case: no crash, a result and log lines that say what happened, nothing half-written.
#include "figures.h"
#include "machine_state.h"
#include "sys/handles.h"
#include "user_hives.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kInstallRoot15 = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot";
constexpr const wchar_t* kDisabledItems15 =
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
constexpr size_t kOneMegabyte = 1024 * 1024;
constexpr size_t kSixtyFourKilobytes = 64 * 1024;

// Outlook's record of a disabled add-in of `size` bytes: a header, filler text, and at the
// end the text that names the DLL.
std::vector<BYTE> LargeDisabledRecord(size_t size, const std::wstring& dll) {
    std::wstring text = L"\x0001";
    text.append(size / sizeof(wchar_t) - 1 - dll.size() - 1, L'x');
    text += dll + L'\0';
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

void SetInstallRootPath(DWORD type, const void* data, size_t size) {
    sys::UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallRoot15, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), L"Path", 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
}

class HostileInput : public OutlookMachineTest {
protected:
    explicit HostileInput(Bitness bitness = Bitness::k64) : OutlookMachineTest(bitness) {}
    void SetUp() override { CountAs(CaseKind::HostileInput); }
    unsigned int Run(const std::wstring& folder, const wchar_t* request) {
        return library.Run(folder, request, machine.logger);
    }

    const ExportedLibrary library;
};

class HostileInputOn32Bit : public HostileInput {
protected:
    HostileInputOn32Bit() : HostileInput(Bitness::k32) {}
};

// --------------------------------------------------------------------------------- Folders

// An empty folder would make "\Install" and "\temp" of the current drive's root. That
// root is given the add-in's files as a trap: nothing may be read or written there, and
// the folder of an earlier Initialize is not used either.
TEST_F(HostileInput, EmptyFolderIsRefusedAndNothingIsTouched) {
    const ScopedTempDir scratch;
    const std::wstring root = scratch.path().substr(0, 2);  // the drive, e.g. "C:"
    const std::wstring trap = root + L"\\Install";
    ASSERT_FALSE(PathExists(trap));
    CreateFolders(trap);
    CopyAddin(L"v1\\tolvane.dll", trap, L"tolvane.dll");
    CopyAddin(L"v1\\tolvane64.dll", trap, L"tolvane64.dll");
    wchar_t previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));

    PluginInstaller* installer = library.Create();
    EXPECT_EQ(installer->Initialize(machine.agentFolder().c_str(), &machine.logger), 0u);
    EXPECT_EQ(installer->Initialize(L"", &machine.logger), 5u);
    EXPECT_EQ(installer->Install(), 5u);
    EXPECT_EQ(installer->Repair(), 5u);
    EXPECT_EQ(installer->Uninstall(), 5u);
    library.Delete(installer);
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(machine.logger.entries.empty());
    EXPECT_TRUE(HoldsNothing(root, pending));
    EXPECT_TRUE(HoldsNothing(machine, pending));
    EXPECT_EQ(EntriesIn(trap).size(), 2u);
    RemoveTree(trap);
}

TEST_F(HostileInput, FolderThatDoesNotExistIsMissingSourceFiles) {
    const std::wstring folder = machine.agentFolder() + L"\\never created";
    EXPECT_EQ(Run(folder, L"install"), 4u);
    EXPECT_EQ(Errors(), (Lines{L"VerifySource failureSourcefile = " + folder + L"\\Install\\tolvane.dll Error=2",
                               L"Install: VerifySource failure. Error=2"}));
    EXPECT_FALSE(PathExists(folder));
}

// The folder is used as given: every path derived from it holds a doubled backslash,
// which Windows reads as a single one.
TEST_F(HostileInput, FolderEndingInABackslashWorksThroughout) {
    const std::wstring folder = machine.agentFolder() + L"\\";
    EXPECT_EQ(Run(folder, L"install"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Register COM DLL " + folder + L"\\tolvane64.dll"));
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
    RecordingLogger repair;
    EXPECT_EQ(library.Run(folder, L"repair", repair), 6u);
    machine.logger.Clear();
    EXPECT_EQ(Run(folder, L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

struct FolderCase {
    const char* name;
    std::wstring leaf;
    Bitness bitness;
};
void PrintTo(const FolderCase& folder, std::ostream* out) { *out << folder.name; }

// A path longer than MAX_PATH: nested folders of 50 characters each.
std::wstring LongLeaf() {
    std::wstring leaf = L"agent";
    for (int level = 0; level < 6; ++level) leaf += L"\\" + std::wstring(49, static_cast<wchar_t>(L'a' + level));
    return leaf;
}

const FolderCase kFolderCases[] = {
    {"Spaces", L"Agent Folder With Spaces", Bitness::k64},
    {"Cyrillic", L"\u0410\u0433\u0435\u043d\u0442 Outlook", Bitness::k64},
    {"CjkThroughTheBroker", L"\u4ee3\u7406\u6587\u4ef6\u5939", Bitness::k32},
    {"OutsideTheBmp", L"agent \U0001F4E6 \U00020B9F", Bitness::k64},
    {"LongerThanMaxPathThroughTheBroker", LongLeaf(), Bitness::k32},
};

class HostileFolder : public OutlookMachineTest, public ::testing::WithParamInterface<FolderCase> {
protected:
    HostileFolder() : OutlookMachineTest(GetParam().bitness) {}
    void SetUp() override { CountAs(CaseKind::HostileInput); }

    const AgentFolder agent{GetParam().leaf};
    const ExportedLibrary library;
};

TEST_P(HostileFolder, InstallRepairAndUninstallWork) {
    const std::wstring& folder = agent.path();
    ASSERT_TRUE(PathExists(folder + L"\\Install\\tolvane.dll"));
    EXPECT_EQ(library.Run(folder, L"install", machine.logger), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(FullyWorking(folder, GetParam().bitness));
    machine.logger.Clear();
    EXPECT_EQ(library.Run(folder, L"uninstall", machine.logger), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(folder, pending));
}

INSTANTIATE_TEST_SUITE_P(Folders, HostileFolder, ::testing::ValuesIn(kFolderCases),
                         [](const ::testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

// The library works with the long folder, but the add-in's own registration keeps only the
// first MAX_PATH characters of its path: the class is found tampered at every Repair and
// registered again, and the Uninstall still leaves nothing.
TEST_F(HostileInput, FolderLongerThanMaxPathOutgrowsTheAddinsOwnRegistration) {
    const AgentFolder agent(LongLeaf());
    const std::wstring dll = agent.path() + L"\\tolvane64.dll";
    EXPECT_EQ(Run(agent.path(), L"install"), 0u);
    EXPECT_NE(ClassServerPath(KEY_WOW64_64KEY), dll);
    for (int repair = 0; repair < 2; ++repair) {
        machine.logger.Clear();
        EXPECT_EQ(Run(agent.path(), L"repair"), 0u);
        EXPECT_TRUE(machine.logger.Contains(0, L"VerifyCOMRegistration: COM registration tampered, need repair"));
        EXPECT_TRUE(Errors().empty());
    }
    machine.logger.Clear();
    EXPECT_EQ(Run(agent.path(), L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(agent.path(), pending));
}

// -------------------------------------------------------------------------------- Registry

struct PathValueCase {
    const char* name;
    DWORD type;
};
void PrintTo(const PathValueCase& value, std::ostream* out) { *out << value.name; }

class HostilePathValue : public OutlookMachineTest, public ::testing::WithParamInterface<PathValueCase> {
protected:
    HostilePathValue() : OutlookMachineTest(Bitness::k64) {}
    void SetUp() override { CountAs(CaseKind::HostileInput); }
};

// Outlook's folder stored as another type than a string: detection stops with 1629.
TEST_P(HostilePathValue, StopsTheInstallBeforeAnythingIsTouched) {
    const wchar_t folder[] = L"C:\\Program Files\\Microsoft Office\\Office15\\\0";
    SetInstallRootPath(GetParam().type, folder, sizeof(folder));
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_TRUE(machine.logger.Contains(0, L"GetInstalledApplicationList failure 1629"));
    EXPECT_EQ(Errors(), (Lines{L"Install: GetInstalledApplicationList failure. Error=1629"}));
    EXPECT_EQ(Infos(), StartFailureAndEnd(L"Install", 1));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

INSTANTIATE_TEST_SUITE_P(Registry, HostilePathValue,
                         ::testing::Values(PathValueCase{"MultiString", REG_MULTI_SZ},
                                           PathValueCase{"Binary", REG_BINARY}),
                         [](const ::testing::TestParamInfo<PathValueCase>& info) { return info.param.name; });

TEST_F(HostileInput, PathOf64KilobytesIsReadWhole) {
    std::wstring path = L"C:\\Program Files\\";
    path.append(kSixtyFourKilobytes / sizeof(wchar_t) - path.size() - 12, L'p');
    path += L"\\Office15\\";
    SetInstallRootPath(REG_SZ, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"GetInstalledApplicationList:-  ApplicationPath=" + path));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

TEST_F(HostileInput, PathThatIsAKeyMeansNoOutlook) {
    sys::UniqueKey root;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallRoot15, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, root.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(root.get(), L"Path"), ERROR_SUCCESS);
    sys::UniqueKey pathKey;
    ASSERT_EQ(RegCreateKeyExW(root.get(), L"Path", 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                              pathKey.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(machine.Run(L"install"), 2u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(Infos(), StartFailureAndEnd(L"Install", 2));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// The add-in key with a key where the load behaviour value belongs: the value counts as
// missing and is written again; the Uninstall removes the key with what lies below it.
TEST_F(HostileInput, LoadBehaviorThatIsAKeyIsRepaired) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    sys::UniqueKey addin;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAddinKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, addin.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(addin.get(), L"LoadBehavior"), ERROR_SUCCESS);
    sys::UniqueKey loadBehavior;
    ASSERT_EQ(RegCreateKeyExW(addin.get(), L"LoadBehavior", 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                              loadBehavior.put(), nullptr),
              ERROR_SUCCESS);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Name= LoadBehavior Value= 00000003 ValueType= 4NOT FOUND in registry"));
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// A megabyte of another add-in's record, and a key among the records: nothing to repair.
TEST_F(HostileInput, DisabledItemsOfAnotherAddinOfAMegabyteAreScannedAndLeftAlone) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"1A2B", REG_BINARY, LargeDisabledRecord(kOneMegabyte, L"C:\\Other\\other.dll"));
    hives.CreateKey(0, std::wstring(kDisabledItems15) + L"\\tolvane64.dll");
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 6u);
    EXPECT_FALSE(machine.logger.Contains(0, L"Outlook Plug-in is found to be disabled"));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_TRUE(RawReadValue(HKEY_USERS, hives.Path(0, kDisabledItems15), L"1A2B", 0, type, data));
}

TEST_F(HostileInputOn32Bit, DisabledItemOfAMegabyteIsFoundAndRemovedByTheUninstall) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"1A2B", REG_BINARY,
                 LargeDisabledRecord(kOneMegabyte, machine.AgentFile(L"tolvane.dll")));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 3u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Outlook Plug-in is found to be disabled"));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(RawReadValue(HKEY_USERS, hives.Path(0, kDisabledItems15), L"1A2B", 0, type, data));
}

// An Uninstall looks for the 32-bit DLL's records only, so Outlook's record of the
// disabled 64-bit add-in outlives it.
TEST_F(HostileInput, DisabledItemOfAMegabyteOfThe64BitAddinOutlivesTheUninstall) {
    ASSERT_EQ(machine.Run(L"install"), 0u);
    ScopedUserHives hives(1);
    hives.SetRaw(0, kDisabledItems15, L"1A2B", REG_BINARY,
                 LargeDisabledRecord(kOneMegabyte, machine.AgentFile(L"tolvane64.dll")));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 3u);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(Errors().empty());
    EXPECT_TRUE(HoldsNothing(machine, pending));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_TRUE(RawReadValue(HKEY_USERS, hives.Path(0, kDisabledItems15), L"1A2B", 0, type, data));
    LeavesATrace("Outlook's record of the disabled 64-bit add-in: an Uninstall looks for the 32-bit DLL only");
}

// ----------------------------------------------------------------------------------- Files

// The folder is copied like a file would be; there is no DLL in it to register, and the
// roll back removes the copy.
TEST_F(HostileInput, AddinFileThatIsAFolderIsCopiedThenRolledBack) {
    const std::wstring source = machine.SourceFile(L"tolvane64.dll");
    std::filesystem::remove(source);
    std::filesystem::create_directories(source);
    WriteTextFile(source + L"\\readme.txt", "not a DLL");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=126",
                               L"Install: RegisterCOMServer failure. Error=126"}));
    EXPECT_EQ(Infos(), (Lines{L"Install started", L"CleanUp: UnRegisterCOMServer failure Error=126",
                              L"CleanUp: UnRegisterCOMServer failure Error=126", L"Install: failure Error=1",
                              L"Install completed"}));
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

// A file that is no DLL cannot have registered anything: the roll back removes it, and
// the next Install of a sound DLL succeeds.
TEST_F(HostileInput, ZeroByteDllIsCopiedThenRefusedByTheLoader) {
    const std::wstring source = machine.SourceFile(L"tolvane64.dll");
    std::filesystem::rename(source, source + L".sound");
    WriteTextFile(source, "");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_EQ(Errors(), (Lines{L"RegisterCOMServer: Registeration failure Error=193",
                               L"Install: RegisterCOMServer failure. Error=193"}));
    EXPECT_TRUE(machine.logger.Contains(3, L"CleanUp: UnRegisterCOMServer failure Error=193"));
    EXPECT_TRUE(HoldsNothing(machine, pending));

    std::filesystem::rename(source + L".sound", source);
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
}

// Without a version resource there is nothing to compare: the deployed DLL counts as
// current, and the add-in installs, verifies and uninstalls.
TEST_F(HostileInput, DllWithoutVersionResourceWorksThroughout) {
    CopyAddin(L"unversioned\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    EXPECT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(FullyWorking(machine, Bitness::k64));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"repair"), 6u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyIfFilesExists: Sourcefile " + machine.AgentFile(L"tolvane64.dll") +
                                               L" no resource data is available"));
    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(HoldsNothing(machine, pending));
}

}  // namespace
