// Repair through the exported DLL on a simulated 64-bit Outlook 2013: what it finds and
// what it lays down again.
#include "file_fixtures.h"
#include "simulated_machine.h"
#include "sys/version_info.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kClassKey64 = L"SOFTWARE\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";

FILETIME KeyWriteTime(const wchar_t* path, REGSAM view) {
    FILETIME time{};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &time);
        RegCloseKey(key);
    }
    return time;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::wstring FileVersion(const std::wstring& path) {
    std::wstring version;
    sys::VersionInfo::GetFileVersionString(path, version);
    return version;
}

class RepairEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(machine.Run(L"install"), 0u);
        machine.logger.Clear();
    }
    void ExpectFullyDeployed() {
        EXPECT_TRUE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
        EXPECT_EQ(AddinServerValue(KEY_WOW64_64KEY), machine.AgentFile(L"tolvane64.dll"));
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(RawReadValue(HKEY_LOCAL_MACHINE, kAddinKey, L"LoadBehavior", KEY_WOW64_64KEY, type, data));
        EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), 3u);
        // A following repair finds nothing.
        RecordingLogger again;
        EXPECT_EQ(ExportedLibrary().Run(machine.agentFolder(), L"repair", again), 6u);
    }

    SimulatedMachine machine{L"15.0", KEY_WOW64_64KEY, L"Office15"};
};

TEST_F(RepairEndToEnd, EverythingInPlaceReturns6AndWritesNothing) {
    const FILETIME addinKey = KeyWriteTime(kAddinKey, KEY_WOW64_64KEY);
    const FILETIME classKey = KeyWriteTime(kClassKey64, KEY_WOW64_64KEY);
    const auto file = std::filesystem::last_write_time(machine.AgentFile(L"tolvane64.dll"));
    Sleep(20);
    EXPECT_EQ(machine.Run(L"repair"), 6u);
    EXPECT_TRUE(SameTime(KeyWriteTime(kAddinKey, KEY_WOW64_64KEY), addinKey));
    EXPECT_TRUE(SameTime(KeyWriteTime(kClassKey64, KEY_WOW64_64KEY), classKey));
    EXPECT_EQ(std::filesystem::last_write_time(machine.AgentFile(L"tolvane64.dll")), file);
    EXPECT_EQ(machine.logger.IndexOf(L"CopyFiles Start"), -1);
    EXPECT_TRUE(machine.logger.Contains(3, L"Repair: failure Error=6"));
}

TEST_F(RepairEndToEnd, AddinDisabledByOutlookReturns3AndChangesNothingElse) {
    const std::vector<std::wstring> hives = RawSubKeys(HKEY_USERS, L"", 0);
    std::wstring hive;
    for (const std::wstring& name : hives)
        if (name.rfind(L"S-1-5-21", 0) == 0) hive = name;
    ASSERT_FALSE(hive.empty());
    ScopedRegistryKey disabled(HKEY_USERS, hive + L"\\SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems",
                               KEY_WOW64_64KEY);
    const std::wstring record = L"\x0001" + machine.AgentFile(L"tolvane64.dll") + L"\x0000tolvane";
    disabled.SetRaw(L"", L"1A2B", REG_BINARY, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)));
    std::filesystem::remove(machine.AgentFile(L"tolvane64.dll"));  // would need repair otherwise

    EXPECT_EQ(machine.Run(L"repair"), 3u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Outlook Plug-in is found to be disabled"));
    EXPECT_EQ(machine.logger.IndexOf(L"VerifySettings Start"), -1);
    EXPECT_FALSE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_TRUE(RawReadValue(HKEY_USERS, disabled.path(), L"1A2B", KEY_WOW64_64KEY, type, data));  // kept
}

TEST_F(RepairEndToEnd, DeletedDllIsLaidDownAgain) {
    std::filesystem::remove(machine.AgentFile(L"tolvane64.dll"));
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyIfFilesExists: File " + machine.AgentFile(L"tolvane64.dll") +
                                               L" not found"));
    ExpectFullyDeployed();
}

TEST_F(RepairEndToEnd, ChangedLoadBehaviorIsWrittenAgain) {
    const DWORD disabledByUser = 2;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAddinKey, L"LoadBehavior", REG_DWORD, &disabledByUser, sizeof(DWORD));
    // RegSetKeyValueW has no view argument: it wrote the process's (64-bit) view.
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"Name= LoadBehavior Value= 00000003 ValueType= 4NOT FOUND in registry"));
    ExpectFullyDeployed();
}

TEST_F(RepairEndToEnd, UnregisteredClassIsRegisteredAgain) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey64);
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyCOMRegistration: COM registration tampered, need repair"));
    ExpectFullyDeployed();
}

TEST_F(RepairEndToEnd, DllOfAnotherVersionIsReplaced) {
    CopyAddin(L"v2\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    EXPECT_TRUE(machine.logger.Contains(0, L"VerifyIfFilesExists: Sourcefile " + machine.AgentFile(L"tolvane64.dll") +
                                               L" version info is different"));
    EXPECT_EQ(FileVersion(machine.AgentFile(L"tolvane64.dll")), L"1.0.0.2");
    ExpectFullyDeployed();
}

TEST_F(RepairEndToEnd, DllHeldLoadedIsReplacedThroughTheSetAside) {
    HMODULE held = LoadLibraryW(machine.AgentFile(L"tolvane64.dll").c_str());
    ASSERT_NE(held, nullptr);
    CopyAddin(L"v2\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    EXPECT_EQ(machine.Run(L"repair"), 0u);
    const std::vector<std::wstring> setAside = FolderEntries(machine.TempFolder());
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_EQ(setAside[0].rfind(L"tolvane64.dll_", 0), 0u);
    // While the old module is loaded, its path still answers with the old resources.
    FreeLibrary(held);
    EXPECT_EQ(FileVersion(machine.AgentFile(L"tolvane64.dll")), L"1.0.0.2");
    ExpectFullyDeployed();
}

TEST(RepairWithoutOutlook, ReportsTheApplicationMissing) {
    SimulatedMachine machine(L"", 0, L"");
    EXPECT_EQ(machine.Run(L"repair"), 2u);
    EXPECT_TRUE(machine.logger.Contains(3, L"Application is either not installed or removed"));
    EXPECT_TRUE(machine.logger.Contains(3, L"Repair: failure Error=2"));
}

}  // namespace
