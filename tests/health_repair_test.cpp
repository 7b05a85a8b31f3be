// Outlook's per-user records of the add-in (disabled items, load times, load behaviour),
// found and undone in every loaded user hive, against test hives under HKEY_USERS.
#include "outlook/outlook_plugin_installation_manager.h"
#include "recording_logger.h"
#include "registry_fixture.h"
#include "user_hives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

const std::wstring kDisabledItemsKeys[] = {
    L"SOFTWARE\\Microsoft\\Office\\10.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\11.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\12.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\10\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\11\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\12\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\14\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\15\\Outlook\\Resiliency\\DisabledItems",
};
const std::wstring kDisabledItems12 = kDisabledItemsKeys[2];
const std::wstring kLoadTimesKey = L"Software\\Microsoft\\Office\\15.0\\Outlook\\AddInLoadTimes";
const std::wstring kAddinKey = L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
const std::wstring kProgId = L"Tolvane.OutlookAddin.1";
const std::wstring kScanLine = L"EnablePlugin:- Get values of the key";
const std::wstring kFoundLine = L"Outlook Plug-in is found to be disabled";

std::vector<BYTE> Bytes(const std::wstring& text) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(begin, begin + text.size() * sizeof(wchar_t));
}

// A disabled-item record as Outlook writes it: a binary header, then the add-in's path and
// its description as UTF-16 text with their NULs.
std::vector<BYTE> DisabledItem(const std::wstring& path) {
    std::vector<BYTE> data = {0x01, 0x00, 0x00, 0x00, 0x3c, 0x00, 0x00, 0x00};
    const std::vector<BYTE> text = Bytes(path + L'\0' + L"Tolvane Outlook Add-in" + L'\0');
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

const std::vector<BYTE> kDisabled32 = DisabledItem(L"C:\\Agent\\Outlook\\tolvane.dll");
const std::vector<BYTE> kDisabled64 = DisabledItem(L"C:\\Agent\\Outlook\\tolvane64.dll");
const std::vector<BYTE> kOtherAddin = DisabledItem(L"C:\\Program Files\\Other\\other.dll");

std::wstring ScanLine(const std::wstring& hive, const std::wstring& key) {
    return kScanLine + hive + L"\\" + key;
}

// The scan lines for every loaded hive, in the order HKEY_USERS lists them.
std::vector<std::wstring> ScanLinesForAllHives() {
    std::vector<std::wstring> lines;
    for (const std::wstring& hive : RawSubKeys(HKEY_USERS, L"", 0))
        for (const std::wstring& key : kDisabledItemsKeys) lines.push_back(ScanLine(hive, key));
    return lines;
}

bool HasValue(const std::wstring& path, const std::wstring& name, DWORD view = 0) {
    DWORD type = 0;
    std::vector<BYTE> data;
    return RawReadValue(HKEY_USERS, path, name, view, type, data);
}

// The value as REG_DWORD, or a marker that shows what was wrong with it.
DWORD ReadDword(const std::wstring& path, const std::wstring& name) {
    constexpr DWORD kNotADword = 0xdeadbeef;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!RawReadValue(HKEY_USERS, path, name, 0, type, data) || type != REG_DWORD || data.size() != 4)
        return kNotADword;
    DWORD number = 0;
    std::memcpy(&number, data.data(), sizeof(number));
    return number;
}

bool MentionsHive(const std::vector<std::wstring>& lines, const std::wstring& hive) {
    for (const std::wstring& line : lines)
        if (line.find(hive) != std::wstring::npos) return true;
    return false;
}

class HealthProbe : public OutlookPluginInstallationManager {
public:
    using OutlookPluginInstallationManager::is64BitOutlook;
};

class HealthRepair : public ::testing::Test {
protected:
    void SetUp() override { profile.Initialize(L"C:\\Agent", &logger); }

    // `before` is the flag's value going in, the opposite of what the call should leave.
    DWORD Enable(bool removeIfDisabled, bool before = false) {
        pluginEnabled = before;
        return profile.EnablePlugin({}, removeIfDisabled, pluginEnabled);
    }

    // A hive as Outlook leaves it after disabling the add-in's loading: a load time recorded
    // next to another add-in's, and the per-user load behaviour 2.
    void GiveLoadRecords(const ScopedUserHives& hives, size_t hive) {
        hives.SetRaw(hive, kLoadTimesKey, kProgId, REG_BINARY, {1, 2, 3, 4});
        hives.SetRaw(hive, kLoadTimesKey, L"Other.Addin", REG_BINARY, {5, 6});
        hives.SetDword(hive, kAddinKey, L"LoadBehavior", 2);
    }
    void ExpectLoadRecordsRepaired(const ScopedUserHives& hives, size_t hive) {
        EXPECT_FALSE(HasValue(hives.Path(hive, kLoadTimesKey), kProgId)) << "hive " << hive;
        EXPECT_TRUE(HasValue(hives.Path(hive, kLoadTimesKey), L"Other.Addin")) << "hive " << hive;
        EXPECT_EQ(ReadDword(hives.Path(hive, kAddinKey), L"LoadBehavior"), 3u) << "hive " << hive;
    }
    void ExpectLoadRecordsUntouched(const ScopedUserHives& hives, size_t hive) {
        EXPECT_TRUE(HasValue(hives.Path(hive, kLoadTimesKey), kProgId)) << "hive " << hive;
        EXPECT_EQ(ReadDword(hives.Path(hive, kAddinKey), L"LoadBehavior"), 2u) << "hive " << hive;
    }

    RecordingLogger logger;
    HealthProbe profile;
    bool pluginEnabled = false;
};

TEST_F(HealthRepair, WithoutDisabledEntriesScansNineKeysAndRepairsLoadRecordsInEveryHive) {
    ScopedUserHives hives(3);
    for (size_t hive = 0; hive < 3; ++hive) GiveLoadRecords(hives, hive);
    hives.SetRaw(1, kDisabledItems12, L"}k8", REG_BINARY, kOtherAddin);

    EXPECT_EQ(Enable(false), 0u);
    EXPECT_TRUE(pluginEnabled);
    for (size_t hive = 0; hive < 3; ++hive) ExpectLoadRecordsRepaired(hives, hive);
    EXPECT_EQ(logger.Texts(), ScanLinesForAllHives());
    EXPECT_EQ(logger.TextsAt(kLogTrace).size(), logger.entries.size());
}

TEST_F(HealthRepair, EntryInSecondHiveWithoutRemovalStopsBeforeTheThirdHive) {
    ScopedUserHives hives(3);
    for (size_t hive = 0; hive < 3; ++hive) GiveLoadRecords(hives, hive);
    hives.SetRaw(1, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32);

    EXPECT_EQ(Enable(false, true), 50u);
    EXPECT_FALSE(pluginEnabled);
    EXPECT_TRUE(HasValue(hives.Path(1, kDisabledItems12), L"}k8"));
    ExpectLoadRecordsRepaired(hives, 0);
    ExpectLoadRecordsRepaired(hives, 1);  // repaired before its disabled items are read
    ExpectLoadRecordsUntouched(hives, 2);

    const std::vector<std::wstring> lines = logger.Texts();
    EXPECT_FALSE(MentionsHive(lines, hives[2]));
    EXPECT_TRUE(MentionsHive(lines, hives[0]));
    const std::vector<std::wstring> tail = {ScanLine(hives[1], kDisabledItemsKeys[0]),
                                            ScanLine(hives[1], kDisabledItemsKeys[1]),
                                            ScanLine(hives[1], kDisabledItems12), kFoundLine};
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - tail.size(), lines.end()), tail);
}

TEST_F(HealthRepair, RemovalDeletesMatchingEntriesAndGoesOnThroughAllHives) {
    ScopedUserHives hives(3);
    for (size_t hive = 0; hive < 3; ++hive) GiveLoadRecords(hives, hive);
    hives.SetRaw(1, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32);
    hives.SetRaw(1, kDisabledItems12, L"a1", REG_BINARY, kOtherAddin);
    const std::wstring lastKey = kDisabledItemsKeys[8];
    hives.SetRaw(2, lastKey, L"zz", REG_BINARY, kDisabled32);

    EXPECT_EQ(Enable(true, true), 0u);
    EXPECT_FALSE(pluginEnabled);
    EXPECT_FALSE(HasValue(hives.Path(1, kDisabledItems12), L"}k8"));
    EXPECT_TRUE(HasValue(hives.Path(1, kDisabledItems12), L"a1"));
    EXPECT_FALSE(HasValue(hives.Path(2, lastKey), L"zz"));
    for (size_t hive = 0; hive < 3; ++hive) ExpectLoadRecordsRepaired(hives, hive);

    // The scan lines of every hive, each find followed by its two lines.
    std::vector<std::wstring> expected = ScanLinesForAllHives();
    const auto insertFound = [&](const std::wstring& path, const std::wstring& name) {
        auto at = std::find(expected.begin(), expected.end(), kScanLine + path);
        ASSERT_NE(at, expected.end());
        expected.insert(at + 1, {kFoundLine, L"EnablePlugin:- Outlook Plugin is found to be disabled so deleting "
                                             L" Subkey = " + path + L" Name = " + name});
    };
    insertFound(hives.Path(1, kDisabledItems12), L"}k8");
    insertFound(hives.Path(2, lastKey), L"zz");
    EXPECT_EQ(logger.Texts(), expected);
}

TEST_F(HealthRepair, FailedRemovalIsLoggedAndBecomesTheResultWhileTheScanGoesOn) {
    ScopedUserHives hives(2);
    hives.SetRaw(0, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32);
    hives.DenyChanges(0, kDisabledItems12);
    hives.SetRaw(1, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32);
    GiveLoadRecords(hives, 1);

    // A later successful removal does not clear the code.
    EXPECT_EQ(Enable(true, true), 5u);
    EXPECT_FALSE(pluginEnabled);
    EXPECT_TRUE(HasValue(hives.Path(0, kDisabledItems12), L"}k8"));
    EXPECT_FALSE(HasValue(hives.Path(1, kDisabledItems12), L"}k8"));
    ExpectLoadRecordsRepaired(hives, 1);

    const std::wstring path = hives.Path(0, kDisabledItems12);
    const int found = logger.IndexOf(kFoundLine);
    ASSERT_GE(found, 1);
    EXPECT_EQ(logger.entries[found - 1].text, kScanLine + path);
    const std::vector<std::wstring> expected = {
        kFoundLine,
        L"EnablePlugin:- Outlook Plugin is found to be disabled so deleting  Subkey = " + path + L" Name = }k8",
        L"EnablePlugin:- RemoveValue failure5", ScanLine(hives[0], kDisabledItemsKeys[3])};
    const std::vector<std::wstring> lines = logger.Texts();
    ASSERT_GE(lines.size(), found + expected.size());
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + found, lines.begin() + found + expected.size()), expected);
}

// One value under the 12.0 disabled-items key of one hive, read without removal.
struct EntryCase {
    const char* name;
    bool is64BitOutlook;
    DWORD type;
    std::vector<BYTE> data;
    DWORD result;  // 50 when the entry names the add-in
};

std::vector<BYTE> OddLength(std::vector<BYTE> data, BYTE last) {
    data.push_back(last);
    return data;
}

const EntryCase kEntryCases[] = {
    {"32-bit name, 32-bit Outlook", false, REG_BINARY, kDisabled32, 50},
    {"64-bit name, 64-bit Outlook", true, REG_BINARY, kDisabled64, 50},
    {"64-bit name, 32-bit Outlook", false, REG_BINARY, kDisabled64, 0},
    {"32-bit name, 64-bit Outlook", true, REG_BINARY, kDisabled32, 0},
    {"upper-case name", false, REG_BINARY, DisabledItem(L"C:\\AGENT\\OUTLOOK\\TOLVANE.DLL"), 0},
    {"name alone, no other bytes", false, REG_BINARY, Bytes(L"tolvane.dll"), 50},
    {"text value", false, REG_SZ, Bytes(std::wstring(L"C:\\Agent\\tolvane.dll") + L'\0'), 0},
    {"expandable text value", false, REG_EXPAND_SZ, Bytes(std::wstring(L"C:\\Agent\\tolvane.dll") + L'\0'), 0},
    {"odd length, name complete", false, REG_BINARY, OddLength(Bytes(L"tolvane.dll"), 0x41), 50},
    // The last character's low byte alone: it is not read as a character.
    {"odd length, name cut at the last byte", false, REG_BINARY, OddLength(Bytes(L"tolvane.dl"), 'l'), 0},
};

TEST_F(HealthRepair, MatchesOnlyBinaryEntriesHoldingTheFileNameOfTheOutlookBitness) {
    for (const EntryCase& row : kEntryCases) {
        SCOPED_TRACE(row.name);
        ScopedUserHives hives(1);
        hives.SetRaw(0, kDisabledItems12, L"}k8", row.type, row.data);
        profile.is64BitOutlook = row.is64BitOutlook;

        EXPECT_EQ(Enable(false, row.result != 0), row.result);
        EXPECT_EQ(pluginEnabled, row.result == 0);
        EXPECT_TRUE(HasValue(hives.Path(0, kDisabledItems12), L"}k8"));
        EXPECT_EQ(logger.Contains(kLogTrace, kFoundLine), row.result != 0);
        logger.Clear();
    }
}

TEST_F(HealthRepair, EmptyBinaryEntryEndsTheScanWithInvalidData) {
    ScopedUserHives hives(2);
    GiveLoadRecords(hives, 1);
    hives.SetRaw(0, kDisabledItems12, L"}k8", REG_BINARY, {});
    hives.SetRaw(1, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32);

    EXPECT_EQ(Enable(true), 13u);
    EXPECT_TRUE(pluginEnabled);
    EXPECT_TRUE(HasValue(hives.Path(1, kDisabledItems12), L"}k8"));
    ExpectLoadRecordsUntouched(hives, 1);
    ASSERT_FALSE(logger.entries.empty());
    EXPECT_EQ(logger.entries.back(), (LogEntry{kLogTrace, L"EnablePlugin:- GetValue returns NULL BINARY data, Error=13"}));
    EXPECT_EQ(logger.entries[logger.entries.size() - 2].text, ScanLine(hives[0], kDisabledItems12));
}

TEST_F(HealthRepair, SearchesExactlyTheNineDisabledItemsKeys) {
    std::vector<std::pair<std::wstring, bool>> rows;  // key, whose entry is found
    for (const std::wstring& key : kDisabledItemsKeys) rows.emplace_back(key, true);
    // The dotted group has no 14.0 row; later versions and other keys are not searched.
    rows.emplace_back(L"SOFTWARE\\Microsoft\\Office\\14.0\\Outlook\\Resiliency\\DisabledItems", false);
    rows.emplace_back(L"SOFTWARE\\Microsoft\\Office\\16.0\\Outlook\\Resiliency\\DisabledItems", false);
    rows.emplace_back(L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency", false);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [key, found] = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i);
        ScopedUserHives hives(1);
        hives.SetRaw(0, key, L"}k8", REG_BINARY, kDisabled32);

        EXPECT_EQ(Enable(true, found), 0u);
        EXPECT_EQ(pluginEnabled, !found);
        EXPECT_EQ(HasValue(hives.Path(0, key), L"}k8"), !found);
    }
}

// Which view each bitness reads and deletes disabled items through, in a hive whose
// SOFTWARE has two views.
TEST_F(HealthRepair, ReadsAndDeletesDisabledItemsInTheViewOfTheOutlookBitness) {
    struct Row {
        bool is64BitOutlook;
        DWORD entryView;
        bool found;
    };
    const Row rows[] = {
        {false, KEY_WOW64_32KEY, true},
        {false, KEY_WOW64_64KEY, false},
        {true, KEY_WOW64_64KEY, true},
        {true, KEY_WOW64_32KEY, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "64-bit Outlook " << row.is64BitOutlook << ", entry view 0x"
                                        << std::hex << row.entryView);
        ScopedUserHives hives(1);
        hives.SeparateViews(0);
        const std::vector<BYTE>& entry = row.is64BitOutlook ? kDisabled64 : kDisabled32;
        hives.SetRaw(0, kDisabledItems12, L"}k8", REG_BINARY, entry, row.entryView);
        profile.is64BitOutlook = row.is64BitOutlook;

        EXPECT_EQ(Enable(false, row.found), row.found ? 50u : 0u);
        EXPECT_EQ(pluginEnabled, !row.found);
        // A same-named entry in the other view stays when the found one is deleted.
        const DWORD otherView = row.entryView ^ (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
        hives.SetRaw(0, kDisabledItems12, L"}k8", REG_BINARY, entry, otherView);
        EXPECT_EQ(Enable(true), 0u);
        const std::wstring path = hives.Path(0, kDisabledItems12);
        EXPECT_EQ(HasValue(path, L"}k8", row.entryView), !row.found);
        EXPECT_EQ(HasValue(path, L"}k8", otherView), row.found);
    }
}

TEST_F(HealthRepair, FreshObjectSearchesThe32BitNameThroughThe32BitView) {
    ScopedUserHives hives(1);
    hives.SeparateViews(0);
    hives.SetRaw(0, kDisabledItems12, L"}k8", REG_BINARY, kDisabled32, KEY_WOW64_32KEY);
    HealthProbe fresh;
    fresh.Initialize(L"C:\\Agent", &logger);
    bool enabled = true;
    EXPECT_EQ(fresh.EnablePlugin({}, false, enabled), 50u);
    EXPECT_FALSE(enabled);
}

TEST_F(HealthRepair, LoadRecordRepairResetsLoadBehaviorAndDeletesTheLoadTime) {
    ScopedUserHives hives(1);
    GiveLoadRecords(hives, 0);

    profile.RepairMiscRegistryKeys(hives[0]);
    ExpectLoadRecordsRepaired(hives, 0);
    EXPECT_TRUE(logger.entries.empty());
}

TEST_F(HealthRepair, LoadTimesKeyWithoutTheAddinValueLogsCode2AndStillResetsLoadBehavior) {
    ScopedUserHives hives(1);
    hives.SetRaw(0, kLoadTimesKey, L"Other.Addin", REG_BINARY, {5, 6});
    hives.SetDword(0, kAddinKey, L"LoadBehavior", 2);

    profile.RepairMiscRegistryKeys(hives[0]);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{
                                  {kLogTrace, L"RepairMiscRegistryKeys: AddInLoadTimes remove value failure Error=2"}}));
    EXPECT_EQ(ReadDword(hives.Path(0, kAddinKey), L"LoadBehavior"), 3u);
}

TEST_F(HealthRepair, HiveWithoutTheAddinKeysGetsNoneCreated) {
    ScopedUserHives hives(1);
    hives.CreateKey(0, L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins");

    profile.RepairMiscRegistryKeys(hives[0]);
    EXPECT_TRUE(logger.entries.empty());
    EXPECT_FALSE(RawKeyExists(HKEY_USERS, hives.Path(0, kAddinKey), 0));
    EXPECT_FALSE(RawKeyExists(HKEY_USERS, hives.Path(0, kLoadTimesKey), 0));
}

// The load records are per user, not per bitness: they are repaired in the process's own
// view whatever Outlook's bitness.
TEST_F(HealthRepair, LoadRecordsAreRepairedInTheProcessViewForBothBitnesses) {
    for (bool is64 : {false, true}) {
        SCOPED_TRACE(is64 ? "64-bit Outlook" : "32-bit Outlook");
        ScopedUserHives hives(1);
        hives.SeparateViews(0);
        hives.SetDword(0, kAddinKey, L"LoadBehavior", 2, KEY_WOW64_32KEY);
        GiveLoadRecords(hives, 0);
        profile.is64BitOutlook = is64;

        EXPECT_EQ(Enable(true), 0u);
        ExpectLoadRecordsRepaired(hives, 0);
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(RawReadValue(HKEY_USERS, hives.Path(0, kAddinKey), L"LoadBehavior", KEY_WOW64_32KEY,
                                 type, data));
        EXPECT_EQ(data, (std::vector<BYTE>{2, 0, 0, 0}));
    }
}

}  // namespace
