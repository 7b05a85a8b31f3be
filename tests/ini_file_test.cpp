// INI list values on real files: whole values of any length, splitting, adding, removing,
// reading and clearing items, and never creating a file.
#include "sys/ini_file.h"

#include "file_state.h"
#include "scoped_temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace ini = sys::IniFile;

constexpr const wchar_t* kSection = L"S";
constexpr const wchar_t* kKey = L"K";
constexpr const wchar_t* kDelimiter = L";";

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A file with section S; key K holds `value` in quotes, so that its blanks survive reading.
std::wstring WriteIni(const ScopedTempDir& dir, const std::string& value) {
    const std::wstring path = dir / L"list.ini";
    WriteTextFile(path, "[S]\r\nOther=1\r\nK=\"" + value + "\"\r\n");
    return path;
}

// Wine drops the leading blanks of a value when it writes it.
std::string AsWineStores(std::string value) {
    value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
    return value;
}

TEST(IniFile, WorkedExamples) {
    enum class Op { Split, Add, Remove };
    struct Example {
        const char* name;
        Op op;
        const char* before;  // nullptr: the key is absent
        const wchar_t* item;
        std::vector<std::wstring> items;  // what SplitValue gives
        const char* written;              // nullptr: the file is left as it was
    };
    const Example examples[] = {
        {"split drops blanks and empty items", Op::Split, " a ;; b ;", nullptr, {L"a", L"b"}, nullptr},
        {"split of blanks and delimiters only", Op::Split, " ; ; ", nullptr, {}, nullptr},
        {"add finds an item ignoring case", Op::Add, "a;b", L"B", {}, nullptr},
        {"add keeps the text read", Op::Add, "a;b;", L"c", {}, "a;b;;c"},
        {"add to an absent key", Op::Add, nullptr, L"x", {}, "x"},
        {"add to blanks puts no delimiter", Op::Add, "  ", L"x", {}, "  x"},
        {"remove an item", Op::Remove, "a;b", L"a", {}, "b"},
        {"remove ignoring case, trimmed", Op::Remove, " a ; b ", L"B", {}, "a"},
        {"remove a missing item cleans up", Op::Remove, " a ; b ", L"z", {}, "a;b"},
        {"remove the last item empties the key", Op::Remove, "a", L"a", {}, ""},
    };

    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        if (example.op == Op::Split) {
            std::vector<std::wstring> items;
            ini::SplitValue(Widen(example.before), kDelimiter, items);
            EXPECT_EQ(items, example.items);
            continue;
        }

        ScopedTempDir dir;
        const std::wstring file = dir / L"list.ini";
        WriteTextFile(file, example.before ? "[S]\r\nK=\"" + std::string(example.before) + "\"\r\n"
                                           : "[S]\r\nOther=1\r\n");
        BackdateFile(file);
        const FileState before = CaptureFile(file);

        const DWORD result = example.op == Op::Add
                                 ? ini::AddValue(file, kSection, kKey, example.item, kDelimiter)
                                 : ini::RemoveValue(file, kSection, kKey, example.item, kDelimiter);
        EXPECT_EQ(result, 0u);
        if (!example.written) {
            EXPECT_EQ(CaptureFile(file), before);
            continue;
        }
        EXPECT_EQ(StoredIniText(file, "K"), AsWineStores(example.written));
    }
}

TEST(IniFileSplitValue, TrimsExactlyTheFourBlankCharacters) {
    std::vector<std::wstring> items{L"kept"};
    ini::SplitValue(L"\t a\r\n;\v b\f; \n\r\t ;c", kDelimiter, items);
    EXPECT_EQ(items, (std::vector<std::wstring>{L"kept", L"a", L"\v b\f", L"c"}));
}

TEST(IniFileSplitValue, EmptyDelimiterGivesTheWholeValueAsOneItem) {
    std::vector<std::wstring> items;
    ini::SplitValue(L" a;b ", L"", items);
    EXPECT_EQ(items, std::vector<std::wstring>{L"a;b"});
    items.clear();
    ini::SplitValue(L"a::b::", L"::", items);
    EXPECT_EQ(items, (std::vector<std::wstring>{L"a", L"b"}));
}

TEST(IniFileReadValue, DeliversValuesOfAnyLength) {
    ScopedTempDir dir;
    // 259 fills the first buffer exactly and forces a second read; 260 just overflows it.
    for (size_t length : {size_t{1}, size_t{259}, size_t{260}, size_t{519}, size_t{520},
                          size_t{100000}}) {
        SCOPED_TRACE(length);
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
        const std::wstring file = dir / (L"long" + std::to_wstring(length) + L".ini");
        WriteTextFile(file, "[S]\r\nK=" + text + "\r\n");

        std::wstring value = L"stale";
        EXPECT_EQ(ini::ReadValue(file, kSection, kKey, value), 0u);
        EXPECT_EQ(value, Widen(text));
    }
}

TEST(IniFileReadValue, AbsentFileSectionOrKeyGiveTheEmptyValue) {
    ScopedTempDir dir;
    const std::wstring file = WriteIni(dir, "a;b");
    const struct {
        std::wstring file, section, key;
    } cases[] = {{dir / L"none.ini", kSection, kKey}, {file, L"Nope", kKey}, {file, kSection, L"Nope"}};
    for (const auto& c : cases) {
        std::wstring value = L"stale";
        EXPECT_EQ(ini::ReadValue(c.file, c.section, c.key, value), 0u);
        EXPECT_EQ(value, L"");
    }
    EXPECT_FALSE(CaptureFile(dir / L"none.ini").exists);
}

TEST(IniFile, LongPathFormWorks) {
    ScopedTempDir dir;
    const std::wstring file = L"\\\\?\\" + WriteIni(dir, "a");

    EXPECT_EQ(ini::AddValue(file, kSection, kKey, L"b", kDelimiter), 0u);
    std::wstring value;
    EXPECT_EQ(ini::ReadValue(file, kSection, kKey, value), 0u);
    EXPECT_EQ(value, L"a;b");
    EXPECT_EQ(ini::RemoveValue(file, kSection, kKey, L"a", kDelimiter), 0u);
    std::vector<std::wstring> items;
    EXPECT_EQ(ini::GetValues(file, kSection, kKey, kDelimiter, items), 0u);
    EXPECT_EQ(items, std::vector<std::wstring>{L"b"});
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), 0u);
    EXPECT_EQ(StoredIniText(dir / L"list.ini", "K"), "");
}

TEST(IniFile, NoOperationCreatesAMissingFile) {
    ScopedTempDir dir;
    const std::wstring file = dir / L"missing.ini";
    EXPECT_EQ(ini::AddValue(file, kSection, kKey, L"x", kDelimiter), 2u);
    EXPECT_EQ(ini::RemoveValue(file, kSection, kKey, L"x", kDelimiter), 2u);
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), 2u);
    std::vector<std::wstring> items{L"kept"};
    EXPECT_EQ(ini::GetValues(file, kSection, kKey, kDelimiter, items), 2u);
    EXPECT_EQ(items, std::vector<std::wstring>{L"kept"});
    EXPECT_FALSE(CaptureFile(file).exists);
}

TEST(IniFile, FileThatCannotBeOpenedCountsAsMissing) {
    ScopedTempDir dir;
    const std::wstring file = WriteIni(dir, "a");
    const sys::UniqueFile exclusive(
        CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(ini::AddValue(file, kSection, kKey, L"x", kDelimiter), 2u);
    EXPECT_EQ(ini::RemoveValue(file, kSection, kKey, L"a", kDelimiter), 2u);
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), 2u);
    std::vector<std::wstring> items;
    EXPECT_EQ(ini::GetValues(file, kSection, kKey, kDelimiter, items), 2u);
    EXPECT_TRUE(items.empty());
}

TEST(IniFile, EmptyDelimiterIsRefusedBeforeTheFileIsOpened) {
    ScopedTempDir dir;
    const std::wstring file = WriteIni(dir, "a");
    BackdateFile(file);
    const FileState before = CaptureFile(file);
    EXPECT_EQ(ini::AddValue(file, kSection, kKey, L"x", L""), 160u);
    EXPECT_EQ(ini::RemoveValue(file, kSection, kKey, L"a", L""), 160u);
    EXPECT_EQ(CaptureFile(file), before);

    // 160 rather than 2: the delimiter is checked first.
    const std::wstring missing = dir / L"missing.ini";
    EXPECT_EQ(ini::AddValue(missing, kSection, kKey, L"x", L""), 160u);
    EXPECT_EQ(ini::RemoveValue(missing, kSection, kKey, L"x", L""), 160u);
    EXPECT_FALSE(CaptureFile(missing).exists);
}

TEST(IniFileClearValue, EmptyOrAbsentValueWritesNothing) {
    ScopedTempDir dir;
    const std::wstring file = dir / L"list.ini";
    WriteTextFile(file, "[S]\r\nK=\r\n");
    BackdateFile(file);
    const FileState before = CaptureFile(file);
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), 0u);
    EXPECT_EQ(ini::ClearValue(file, kSection, L"Absent"), 0u);
    EXPECT_EQ(ini::ClearValue(file, L"Absent", kKey), 0u);
    EXPECT_EQ(CaptureFile(file), before);
}

TEST(IniFileClearValue, EmptiesTheValueAndKeepsTheKey) {
    ScopedTempDir dir;
    const std::wstring file = WriteIni(dir, "a;b");
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), 0u);
    EXPECT_EQ(StoredIniText(file, "K"), "");
    EXPECT_EQ(StoredIniText(file, "Other"), "1");
}

TEST(IniFile, FailedWriteGivesItsCode) {
    ScopedTempDir dir;
    const std::wstring file = WriteIni(dir, "a");
    const ScopedWriteBlock block(file);
    ASSERT_TRUE(block);
    EXPECT_EQ(ini::AddValue(file, kSection, kKey, L"x", kDelimiter),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ini::RemoveValue(file, kSection, kKey, L"a", kDelimiter),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ini::ClearValue(file, kSection, kKey), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(StoredIniText(file, "K"), "\"a\"");
}

}  // namespace
