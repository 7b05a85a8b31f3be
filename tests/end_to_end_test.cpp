// Whole requests through the exported DLL on a simulated machine: the exact transcript of
// an install, what each request leaves on the machine, and roll backs of real failures.
#include "file_fixtures.h"
#include "simulated_machine.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kOffice15 = L"C:\\Program Files\\Microsoft Office\\Office15\\";

std::vector<LogEntry> DetectionLines(const std::wstring& foundVersion, const std::wstring& foundPath,
                                     int foundBits) {
    static const wchar_t* versions[] = {L"10.0", L"11.0", L"12.0", L"14.0", L"15.0",
                                        L"10",   L"11",   L"12",   L"14",   L"15"};
    std::vector<LogEntry> lines;
    for (int bits : {32, 64}) {
        for (const wchar_t* version : versions) {
            lines.push_back({0, L"GetInstalledApplicationList:-  Looking for " + std::to_wstring(bits) +
                                    L"-bit SubKey=SOFTWARE\\Microsoft\\Office\\" + version +
                                    L"\\Outlook\\InstallRoot Value=Path"});
            if (bits == foundBits && foundVersion == version) {
                lines.push_back({0, L"GetInstalledApplicationList, Application path Value =" + foundPath});
                lines.push_back({0, L"GetInstalledApplicationList-check for keywords"});
                lines.push_back({0, L"GetInstalledApplicationList:-  ApplicationPath=" + foundPath});
            }
        }
    }
    return lines;
}

std::wstring AddinValue(DWORD view, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!RawReadValue(HKEY_LOCAL_MACHINE, kAddinKey, name, view, type, data)) return L"(absent)";
    if (type == REG_DWORD) return std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()));
}

TEST(EndToEnd, InstallOn64BitOutlook2013LogsTheExpectedTranscriptAndUninstallLeavesNothing) {
    SimulatedMachine machine(L"15.0", KEY_WOW64_64KEY, L"Office15");
    ASSERT_EQ(machine.Run(L"install"), 0u);

    const std::wstring folder = machine.agentFolder();
    std::vector<LogEntry> expected = {{3, L"Install started"}, {0, L"VerifySource Start"}, {0, L"VerifySource End"}};
    for (const LogEntry& line : DetectionLines(L"15.0", kOffice15, 64)) expected.push_back(line);
    const std::vector<LogEntry> rest = {
        {0, L"CopyFiles Start"},
        {0, L"Copy Source File= tolvane64.dll to Destination Path= " + folder},
        {0, L"CopyFile Start"},
        {0, L"CopyFile End"},
        {0, L"CopyFiles End"},
        {0, L"RegisterCOMServer Start"},
        {0, L"Register COM DLL " + folder + L"\\tolvane64.dll"},
        {0, L"RegisterCOMServer End"},
        {0, L"AddSettingsToRegistry Start"},
        {0, L"Adding subKey SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1"},
        {0, L"Name= FileName Value= tolvane64.dll ValueType= 1"},
        {0, L"Name= FriendlyName Value= Outlook2K3 Addin ValueType= 1"},
        {0, L"Name= Description Value= ATLCOM Outlook Addin ValueType= 1"},
        {0, L"Name= CommandLineSafe Value= 00000000 ValueType= 4"},
        {0, L"Name= LoadBehavior Value= 00000003 ValueType= 4"},
        {0, L"AddSettingsToRegistry End"},
        {3, L"Install completed"},
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(machine.logger.entries, expected);

    EXPECT_TRUE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
    EXPECT_FALSE(std::filesystem::exists(machine.AgentFile(L"tolvane.dll")));
    EXPECT_EQ(AddinValue(KEY_WOW64_64KEY, L"FileName"), L"tolvane64.dll");
    EXPECT_EQ(AddinValue(KEY_WOW64_64KEY, L"LoadBehavior"), L"3");
    EXPECT_EQ(AddinValue(KEY_WOW64_64KEY, L"CommandLineSafe"), L"0");
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_32KEY));
    EXPECT_EQ(AddinServerValue(KEY_WOW64_64KEY), machine.AgentFile(L"tolvane64.dll"));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_32KEY));

    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(machine.logger.TextsAt(5).empty());
    EXPECT_TRUE(machine.HoldsNothingOfTheAddin());
    EXPECT_TRUE(FolderEntries(machine.TempFolder()).empty());
}

TEST(EndToEnd, InstallOn32BitOutlook2010RegistersThroughTheBrokerAndUninstallLeavesNothing) {
    SimulatedMachine machine(L"14.0", KEY_WOW64_32KEY, L"Office14");
    ASSERT_EQ(machine.Run(L"install"), 0u);
    EXPECT_TRUE(std::filesystem::exists(machine.AgentFile(L"tolvane.dll")));
    EXPECT_FALSE(std::filesystem::exists(machine.AgentFile(L"tolvane64.dll")));
    EXPECT_EQ(AddinValue(KEY_WOW64_32KEY, L"FileName"), L"tolvane.dll");
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY));
    EXPECT_EQ(AddinServerValue(KEY_WOW64_32KEY), machine.AgentFile(L"tolvane.dll"));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
    EXPECT_TRUE(machine.logger.Contains(0, L"Register COM DLL " + machine.AgentFile(L"tolvane.dll")));

    machine.logger.Clear();
    EXPECT_EQ(machine.Run(L"uninstall"), 0u);
    EXPECT_TRUE(machine.HoldsNothingOfTheAddin());
    // The 64-bit file was never deployed: its unregistration is tolerated.
    EXPECT_TRUE(machine.logger.Contains(3, L"CleanUp: UnRegisterCOMServer failure Error=126"));
    EXPECT_TRUE(WaitUntilNoBrokerProcess(10000));
}

TEST(EndToEnd, InstallWithoutOutlookReturns2) {
    SimulatedMachine machine(L"", 0, L"");
    EXPECT_EQ(machine.Run(L"install"), 2u);
    EXPECT_TRUE(machine.logger.TextsAt(5).empty());
    EXPECT_EQ(machine.logger.TextsAt(3), (std::vector<std::wstring>{L"Install started", L"Install: failure Error=2",
                                                                     L"Install completed"}));
    EXPECT_TRUE(machine.HoldsNothingOfTheAddin());
}

// Each roll back runs after the failing step's summary line and removes everything.
void ExpectRolledBack(const SimulatedMachine& machine, const std::wstring& failureLine) {
    const RecordingLogger& log = machine.logger;
    const int failure = log.IndexOf(failureLine);
    ASSERT_NE(failure, -1) << "missing failure line";
    EXPECT_EQ(log.entries[failure].level, 5);
    const int settings = log.IndexOf(L"RemoveSettingsFromRegistry Start", failure);
    const int com = log.IndexOf(L"UnRegisterCOMServer Start", failure);
    const int files = log.IndexOf(L"DeleteFiles Start", failure);
    const int config = log.IndexOf(L"Cleaning up installer config file Start", failure);
    EXPECT_LT(failure, settings);
    EXPECT_LT(settings, com);
    EXPECT_LT(com, files);
    EXPECT_LT(files, config);
    EXPECT_EQ(log.IndexOf(L"EnablePlugin:- Get values of the key"), -1);  // not an uninstall
    EXPECT_TRUE(machine.HoldsNothingOfTheAddin());
}

TEST(EndToEndRollBack, CopyFailureRemovesWhatWasLaidDown) {
    SimulatedMachine machine(L"15.0", KEY_WOW64_64KEY, L"Office15");
    // The source is held open without sharing: present, but it cannot be read.
    HANDLE source = CreateFileW(machine.SourceFile(L"tolvane64.dll").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(source, INVALID_HANDLE_VALUE);
    const unsigned int result = machine.Run(L"install");
    CloseHandle(source);
    EXPECT_EQ(result, 1u);
    EXPECT_TRUE(machine.logger.Contains(5, L"CopyFile: failure Error=2"));
    ExpectRolledBack(machine, L"Install: CopyFiles failure. Error=2");
}

TEST(EndToEndRollBack, RegistrationFailureRemovesTheCopiedFile) {
    SimulatedMachine machine(L"15.0", KEY_WOW64_64KEY, L"Office15");
    std::filesystem::remove(machine.SourceFile(L"tolvane64.dll"));
    CopyAddin(L"denied\\tolvane64.dll", machine.agentFolder() + L"\\Install", L"tolvane64.dll");
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_TRUE(machine.logger.Contains(5, L"RegisterCOMServer: Registeration failure Error=5"));
    ExpectRolledBack(machine, L"Install: RegisterCOMServer failure. Error=5");
}

TEST(EndToEndRollBack, SettingsFailureUnregistersAndRemovesTheFile) {
    SimulatedMachine machine(L"15.0", KEY_WOW64_64KEY, L"Office15");
    // Below a volatile key no lasting key can be created.
    HKEY addins = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &addins, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(addins);
    EXPECT_EQ(machine.Run(L"install"), 1u);
    EXPECT_TRUE(machine.logger.Contains(5, L"AddSettingsToRegistry: AddKey failure Error=1021"));
    ExpectRolledBack(machine, L"Install: AddSettingsToRegistry failure. Error=1021");
}

}  // namespace
