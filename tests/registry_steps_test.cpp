// Writing, verifying and removing the profile's registry settings, on Wine's registry.
#include "recording_logger.h"
#include "test_profile.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kBase = L"Software\\OutlookPluginInstallerTests\\RegistrySteps";

// The test's keys live under HKCU and go away with the test.
class RegistrySteps : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
        engine.Initialize(L"C:\\Agent", &logger);
        engine.registryRequired = true;
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }

    static std::wstring Path(const std::wstring& name) { return std::wstring(kBase) + L"\\" + name; }
    static RegistryKeyValueData Key(const std::wstring& name, std::vector<RegistryValueEntry> values) {
        return {HKEY_CURRENT_USER, Path(name), std::move(values), 0};
    }
    static bool KeyExists(const std::wstring& name) {
        HKEY key = nullptr;
        const LONG r = RegOpenKeyExW(HKEY_CURRENT_USER, Path(name).c_str(), 0, KEY_READ, &key);
        if (r == ERROR_SUCCESS) RegCloseKey(key);
        return r == ERROR_SUCCESS;
    }
    static DWORD ValueCount(const std::wstring& name) {
        HKEY key = nullptr;
        DWORD count = 0;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Path(name).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                             nullptr, nullptr, nullptr);
            RegCloseKey(key);
        }
        return count;
    }
    static void SetDword(const std::wstring& name, const wchar_t* value, DWORD data) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Path(name).c_str(), value, REG_DWORD, &data, sizeof(data));
    }
    static void SetString(const std::wstring& name, const wchar_t* value, const std::wstring& text) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Path(name).c_str(), value, REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(RegistrySteps, WritesAndVerifiesEveryValueThenNoticesAChangedNumber) {
    engine.keys = {Key(L"Addin", {{L"FileName", REG_SZ, L"tolvane64.dll"},
                                  {L"LoadBehavior", REG_DWORD, L"00000003"}})};
    ASSERT_EQ(engine.AddSettingsToRegistry(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{{0, L"AddSettingsToRegistry Start"},
                                     {0, L"Adding subKey " + Path(L"Addin")},
                                     {0, L"Name= FileName Value= tolvane64.dll ValueType= 1"},
                                     {0, L"Name= LoadBehavior Value= 00000003 ValueType= 4"},
                                     {0, L"AddSettingsToRegistry End"}}));
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, Path(L"Addin").c_str(), L"LoadBehavior", RRF_RT_REG_DWORD,
                           nullptr, &stored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 3u);

    logger.Clear();
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_TRUE(settingsOk);
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{L"Validating subKey " + Path(L"Addin")}));

    SetDword(L"Addin", L"LoadBehavior", 4);  // behind the engine's back
    logger.Clear();
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries.back(),
              (LogEntry{0, L"Name= LoadBehavior Value= 00000003 ValueType= 4NOT FOUND in registry"}));
}

TEST_F(RegistrySteps, StringsMatchOnlyWithTheSameCaseAndType) {
    engine.keys = {Key(L"Addin", {{L"Description", REG_SZ, L"ATLCOM Outlook Addin"}})};
    ASSERT_EQ(engine.AddSettingsToRegistry(), 0u);
    SetString(L"Addin", L"Description", L"ATLCOM OUTLOOK Addin");
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);

    SetDword(L"Addin", L"Description", 0);  // right name, wrong type
    settingsOk = true;
    engine.keys[0].regValueList[0] = {L"Description", REG_SZ, L""};
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
}

TEST_F(RegistrySteps, AnEmptyValueListCreatesTheKeyThenFailsWith13) {
    engine.keys = {Key(L"Empty", {})};
    EXPECT_EQ(engine.AddSettingsToRegistry(), 13u);
    EXPECT_TRUE(KeyExists(L"Empty"));
    EXPECT_EQ(ValueCount(L"Empty"), 0u);
    EXPECT_EQ(logger.entries.back(),
              (LogEntry{5, L"AddSettingsToRegistry: SetValue failure, regValueList is empty Error=13"}));
}

TEST_F(RegistrySteps, ABinaryEntryCannotBeWrittenFromText) {
    engine.keys = {Key(L"Binary", {{L"Data", REG_BINARY, L"abc"}})};
    EXPECT_EQ(engine.AddSettingsToRegistry(), 13u);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"AddSettingsToRegistry: SetValue failure Error=13"}));
}

TEST_F(RegistrySteps, AKeyThatCannotBeCreatedStopsTheStep) {
    HKEY volatileKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Path(L"Volatile").c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &volatileKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(volatileKey);
    engine.keys = {Key(L"Volatile\\Addin", {{L"A", REG_SZ, L"a"}}), Key(L"Later", {{L"B", REG_SZ, L"b"}})};
    EXPECT_EQ(engine.AddSettingsToRegistry(), static_cast<DWORD>(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"AddSettingsToRegistry: AddKey failure Error=1021"}));
    EXPECT_FALSE(KeyExists(L"Later"));
}

TEST_F(RegistrySteps, VerificationStopsAtTheFirstMissingKey) {
    engine.keys = {Key(L"Absent", {{L"A", REG_SZ, L"a"}}), Key(L"Second", {{L"B", REG_SZ, L"b"}})};
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.Texts(),
              (std::vector<std::wstring>{L"Validating subKey " + Path(L"Absent"),
                                         L"VerifyRegistrySettings: Key = " + Path(L"Absent") + L"  not found"}));
}

TEST_F(RegistrySteps, RemovalGoesOnAfterAnAbsentKeyAndAFailureAndReportsTheFailure) {
    SetString(L"Third\\Child", L"A", L"a");
    RegistryKeyValueData unremovable = Key(L"Second", {});
    unremovable.root = nullptr;
    engine.allKeys = {Key(L"Absent", {}), unremovable, Key(L"Third", {})};
    EXPECT_EQ(engine.RemoveSettingsFromRegistry(), 13u);
    EXPECT_FALSE(KeyExists(L"Third"));
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{{0, L"RemoveSettingsFromRegistry Start"},
                                                     {0, L"Remove subKey " + Path(L"Absent")},
                                                     {0, L"RemoveSettingsFromRegistry: key doesn't found"},
                                                     {0, L"Remove subKey " + Path(L"Second")},
                                                     {5, L"RemoveSettingsFromRegistry: RemoveKey failure Error=13"},
                                                     {0, L"Remove subKey " + Path(L"Third")},
                                                     {0, L"RemoveSettingsFromRegistry End"}}));
}

TEST_F(RegistrySteps, EmptyRecordListsAndFailingProfileSlots) {
    EXPECT_EQ(engine.AddSettingsToRegistry(), 0u);
    EXPECT_EQ(engine.RemoveSettingsFromRegistry(), 0u);
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{L"AddSettingsToRegistry Start", L"AddSettingsToRegistry End",
                                                         L"RemoveSettingsFromRegistry Start",
                                                         L"RemoveSettingsFromRegistry End"}));
    logger.Clear();
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 0u);
    EXPECT_TRUE(logger.entries.empty());

    engine.keysResult = 87;
    engine.allKeysResult = 87;
    EXPECT_EQ(engine.AddSettingsToRegistry(), 87u);
    EXPECT_EQ(engine.VerifyRegistrySettings(settingsOk), 87u);
    EXPECT_EQ(engine.RemoveSettingsFromRegistry(), 87u);
    EXPECT_TRUE(logger.Contains(5, L"AddSettingsToRegistry: GetRegistryKeyValueData failure Error=87"));
    EXPECT_TRUE(logger.Contains(5, L"VerifyRegistrySettings: GetRegistryKeyValueData failure Error=87"));
    EXPECT_TRUE(logger.Contains(5, L"RemoveSettingsFromRegistry: GetRegistryKeyValueData failure Error=87"));
    EXPECT_TRUE(settingsOk);
}

}  // namespace
