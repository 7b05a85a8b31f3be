// The registry module against Wine's real registry: every case works under a key of its own
// below HKLM\SOFTWARE, which is split into a 32-bit and a 64-bit view.
#include "registry_fixture.h"
#include "sys/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

using sys::Registry::RegistryValueData;

namespace {

constexpr const wchar_t* kTestKey = L"SOFTWARE\\OutlookPluginInstallerRegistryTest";
constexpr DWORD kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

DWORD OtherView(DWORD view) { return view == KEY_WOW64_32KEY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

RegistryValueData Record(const std::wstring& name, DWORD type, const std::wstring& value) {
    RegistryValueData record;
    record.Name = name;
    record.ValueType = type;
    record.Value = value;
    return record;
}

std::vector<BYTE> Bytes(std::initializer_list<BYTE> bytes) { return bytes; }

std::vector<BYTE> DwordBytes(DWORD value) {
    std::vector<BYTE> bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

std::vector<BYTE> StringBytes(const std::wstring& text) {  // with the terminating NUL
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

class Registry : public ::testing::Test {
protected:
    // Raw type and data of a value of the test key, in the 64-bit view.
    bool Read(const std::wstring& name, DWORD& type, std::vector<BYTE>& data) const {
        return RawReadValue(HKEY_LOCAL_MACHINE, key.path(), name, KEY_WOW64_64KEY, type, data);
    }
    bool Has(const std::wstring& name) const {
        DWORD type = 0;
        std::vector<BYTE> data;
        return Read(name, type, data);
    }

    ScopedRegistryKey key{HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY};
};

TEST_F(Registry, KeyWrittenInOneViewIsInvisibleInTheOther) {
    for (DWORD view : kViews) {
        SCOPED_TRACE(view);
        const std::wstring path = key / L"Views";
        ASSERT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, path, view), 0u);
        bool exists = false;
        EXPECT_EQ(sys::Registry::DoesKeyExist(HKEY_LOCAL_MACHINE, path, exists, view), 0u);
        EXPECT_TRUE(exists);
        EXPECT_EQ(sys::Registry::DoesKeyExist(HKEY_LOCAL_MACHINE, path, exists, OtherView(view)), 0u);
        EXPECT_FALSE(exists);

        EXPECT_EQ(sys::Registry::SetValue(HKEY_LOCAL_MACHINE, path, {Record(L"S", REG_SZ, L"x")}, view),
                  0u);
        std::wstring text;
        EXPECT_EQ(sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, path, L"S", text, view), 0u);
        EXPECT_EQ(text, L"x");
        EXPECT_EQ(sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, path, L"S", text, OtherView(view)),
                  2u);

        EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, path, OtherView(view)), 2u);
        EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, path, view), 0u);
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, path, view));
    }
}

TEST_F(Registry, ViewZeroIsTheProcessesOwn64BitView) {
    const std::wstring path = key / L"Native";
    ASSERT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, path, 0), 0u);
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
}

TEST_F(Registry, RemovesKeyOnlyInTheViewGiven) {
    const std::wstring path = key / L"Both";
    for (DWORD view : kViews) ASSERT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, path, view), 0u);
    EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY), 0u);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
}

TEST_F(Registry, RefusesNullRootsHandlesAndEmptyArguments) {
    bool exists = true;
    std::wstring text = L"previous";
    std::vector<RegistryValueData> values;
    std::vector<std::wstring> names;
    EXPECT_EQ(sys::Registry::DoesKeyExist(nullptr, key.path(), exists, 0), 13u);
    EXPECT_TRUE(exists);  // untouched
    EXPECT_EQ(sys::Registry::AddKey(nullptr, key.path(), 0), 13u);
    EXPECT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, L"", 0), 13u);
    EXPECT_EQ(sys::Registry::SetValue(nullptr, key.path(), {Record(L"S", REG_SZ, L"x")}, 0), 13u);
    EXPECT_EQ(sys::Registry::SetValue(HKEY_LOCAL_MACHINE, key.path(), {}, 0), 13u);
    EXPECT_EQ(sys::Registry::GetStringValue(nullptr, key.path(), L"S", text, 0), 13u);
    EXPECT_EQ(sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, key.path(), L"", text, 0), 13u);
    EXPECT_EQ(text, L"previous");
    EXPECT_EQ(sys::Registry::GetValue(nullptr, key.path(), values, 0), 13u);
    EXPECT_EQ(sys::Registry::EnumSubKeys(nullptr, names), 13u);
    EXPECT_EQ(sys::Registry::EnumSubKeys(nullptr, key.path(), names, 0), 13u);
    EXPECT_EQ(sys::Registry::RemoveValue(nullptr, key.path(), L"S", 0), 13u);
    EXPECT_EQ(sys::Registry::RemoveValue(HKEY_LOCAL_MACHINE, key.path(), L"", 0), 13u);
    EXPECT_EQ(sys::Registry::RemoveKey(nullptr, key.path(), 0), 13u);
    EXPECT_TRUE(values.empty());
    EXPECT_TRUE(names.empty());
}

TEST_F(Registry, DoesKeyExistReportsAnAbsentKeyAsFalseWithSuccess) {
    bool exists = true;
    EXPECT_EQ(sys::Registry::DoesKeyExist(HKEY_LOCAL_MACHINE, key / L"Absent", exists, 0), 0u);
    EXPECT_FALSE(exists);
}

TEST_F(Registry, AddKeyCreatesMissingParentsAndOpensAnExistingKey) {
    const std::wstring path = key / L"A\\B\\C";
    EXPECT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, path, 0), 0u);
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, path, 0), 0u);
}

TEST_F(Registry, SetValueWritesEachTypeWithItsData) {
    RegistryValueData binary = Record(L"Binary", REG_BINARY, L"");
    binary.BinaryData = Bytes({0x00, 0xFF, 0x10});
    const std::vector<RegistryValueData> records = {
        Record(L"String", REG_SZ, L"C:\\Office"), Record(L"Expand", REG_EXPAND_SZ, L"%TEMP%\\x"),
        Record(L"Dword", REG_DWORD, L"00000003"), Record(L"Zero", REG_DWORD, L"00000000"),
        Record(L"Signed", REG_DWORD, L" -2x"),  // blanks, sign, stops at the first non-digit
        binary, Record(L"Multi", REG_MULTI_SZ, L"skipped")};
    ASSERT_EQ(sys::Registry::SetValue(HKEY_LOCAL_MACHINE, key.path(), records, 0), 0u);

    const struct {
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> data;
    } expected[] = {
        {L"String", REG_SZ, StringBytes(L"C:\\Office")},
        {L"Expand", REG_EXPAND_SZ, StringBytes(L"%TEMP%\\x")},
        {L"Dword", REG_DWORD, DwordBytes(3)},
        {L"Zero", REG_DWORD, DwordBytes(0)},
        {L"Signed", REG_DWORD, DwordBytes(0xFFFFFFFE)},
        {L"Binary", REG_BINARY, Bytes({0x00, 0xFF, 0x10})},
    };
    for (const auto& value : expected) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(value.name)));
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(Read(value.name, type, data));
        EXPECT_EQ(type, value.type);
        EXPECT_EQ(data, value.data);
    }
    EXPECT_FALSE(Has(L"Multi"));
}

TEST_F(Registry, SetValueStopsAtABinaryRecordWithoutData) {
    const std::vector<RegistryValueData> records = {Record(L"A", REG_SZ, L"a"),
                                                    Record(L"B", REG_BINARY, L""),
                                                    Record(L"C", REG_SZ, L"c")};
    EXPECT_EQ(sys::Registry::SetValue(HKEY_LOCAL_MACHINE, key.path(), records, 0), 13u);
    EXPECT_TRUE(Has(L"A"));
    EXPECT_FALSE(Has(L"B"));
    EXPECT_FALSE(Has(L"C"));
}

TEST_F(Registry, SetValueOnAnAbsentKeyWritesNothing) {
    const std::wstring path = key / L"Absent";
    EXPECT_EQ(sys::Registry::SetValue(HKEY_LOCAL_MACHINE, path, {Record(L"A", REG_SZ, L"a")}, 0), 2u);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
}

TEST_F(Registry, GetStringValueReadsStringsAsStored) {
    const wchar_t unterminated[] = L"abcX";  // stored without the X and without a NUL
    const wchar_t embedded[] = L"ab\0cd";
    key.SetRaw(L"", L"Unterminated", REG_SZ, unterminated, 3 * sizeof(wchar_t));
    key.SetRaw(L"", L"EmptyWithNul", REG_SZ, L"", sizeof(wchar_t));
    key.SetRaw(L"", L"Embedded", REG_SZ, embedded, sizeof(embedded));
    key.SetRaw(L"", L"Expand", REG_EXPAND_SZ, L"%TEMP%", 7 * sizeof(wchar_t));
    key.SetString(L"", L"Plain", L"C:\\Program Files\\Office15");

    const struct {
        const wchar_t* name;
        const wchar_t* text;
    } cases[] = {
        {L"Unterminated", L"abc"},  // read whole and terminated
        {L"EmptyWithNul", L""},
        {L"Embedded", L"ab"},       // up to the first NUL
        {L"Expand", L"%TEMP%"},     // not expanded
        {L"Plain", L"C:\\Program Files\\Office15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        std::wstring text = L"previous";
        EXPECT_EQ(sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, key.path(), c.name, text, 0), 0u);
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(Registry, GetStringValueLeavesTheStringUntouchedWhenItReadsNoText) {
    const DWORD number = 7;
    key.SetRaw(L"", L"NoData", REG_SZ, nullptr, 0);
    key.SetRaw(L"", L"Dword", REG_DWORD, &number, sizeof(number));
    const struct {
        const wchar_t* path;
        const wchar_t* name;
        DWORD result;
    } cases[] = {
        {L"", L"NoData", 0},
        {L"", L"Dword", ERROR_DATATYPE_MISMATCH},
        {L"", L"Absent", 2},
        {L"Absent", L"NoData", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        std::wstring text = L"previous";
        const std::wstring path = *c.path ? key / c.path : key.path();
        EXPECT_EQ(sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, path, c.name, text, 0), c.result);
        EXPECT_EQ(text, L"previous");
    }
}

TEST_F(Registry, GetValueAppendsEveryTypeInEnumerationOrder) {
    const DWORD number = 0x12345678;
    const BYTE binary[] = {1, 2, 3, 0};
    const wchar_t multi[] = L"a\0b\0";
    key.SetString(L"", L"1 String", L"text");
    key.SetRaw(L"", L"2 Expand", REG_EXPAND_SZ, L"%TEMP%", 7 * sizeof(wchar_t));
    key.SetRaw(L"", L"3 Dword", REG_DWORD, &number, sizeof(number));
    key.SetRaw(L"", L"4 Binary", REG_BINARY, binary, sizeof(binary));
    key.SetRaw(L"", L"5 Multi", REG_MULTI_SZ, multi, sizeof(multi));
    key.SetRaw(L"", L"6 EmptyBinary", REG_BINARY, nullptr, 0);
    const std::wstring longName(1000, L'n');  // longer than a key name may be
    key.SetString(L"", longName, L"long");

    std::vector<RegistryValueData> values(1);
    values[0].Name = L"kept";
    ASSERT_EQ(sys::Registry::GetValue(HKEY_LOCAL_MACHINE, key.path(), values, 0), 0u);
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[0].Name, L"kept");

    const struct {
        std::wstring name;
        DWORD type;
        std::wstring value;
        DWORD dword;
        std::vector<BYTE> binary;
    } expected[] = {
        {L"1 String", REG_SZ, L"text", 0, {}},
        {L"2 Expand", REG_EXPAND_SZ, L"%TEMP%", 0, {}},
        {L"3 Dword", REG_DWORD, L"", 0x12345678, {}},
        {L"4 Binary", REG_BINARY, L"", 0, Bytes({1, 2, 3, 0})},
        {L"5 Multi", REG_MULTI_SZ, L"", 0, {}},
        {L"6 EmptyBinary", REG_BINARY, L"", 0, {}},
        {longName, REG_SZ, L"long", 0, {}},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const RegistryValueData& record = values[i + 1];
        EXPECT_EQ(record.Name, expected[i].name);
        EXPECT_EQ(record.ValueType, expected[i].type);
        EXPECT_EQ(record.Value, expected[i].value);
        EXPECT_EQ(record.DwordValue, expected[i].dword);
        EXPECT_EQ(record.BinaryData, expected[i].binary);
        EXPECT_EQ(record.BinaryDataLength(), expected[i].binary.size());
    }
}

TEST_F(Registry, GetValueReadsMissingBytesOfAShortDwordAsZero) {
    const struct {
        std::vector<BYTE> stored;
        DWORD number;
    } cases[] = {
        {{}, 0},
        {{0x34}, 0x34},
        {{0x34, 0x12}, 0x1234},
        {{0x34, 0x12, 0xCD}, 0xCD1234},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0x04030201},  // only the first four count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.size());
        key.SetRaw(L"", L"Dword", REG_DWORD, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        std::vector<RegistryValueData> values;
        ASSERT_EQ(sys::Registry::GetValue(HKEY_LOCAL_MACHINE, key.path(), values, 0), 0u);
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0].ValueType, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(values[0].DwordValue, c.number);
        EXPECT_EQ(values[0].Value, L"");
    }
}

TEST_F(Registry, GetValueOnAKeyWithoutValuesOrAnAbsentKeyAppendsNothing) {
    std::vector<RegistryValueData> values;
    EXPECT_EQ(sys::Registry::GetValue(HKEY_LOCAL_MACHINE, key.path(), values, 0), 0u);
    EXPECT_EQ(sys::Registry::GetValue(HKEY_LOCAL_MACHINE, key / L"Absent", values, 0), 2u);
    EXPECT_TRUE(values.empty());
}

TEST_F(Registry, EnumSubKeysAppendsDirectSubkeysInEnumerationOrder) {
    const std::wstring longName(255, L'k');  // the registry's longest key name
    for (const std::wstring& child : {std::wstring(L"B"), std::wstring(L"A\\Grandchild"),
                                      std::wstring(L"C"), longName})
        ASSERT_EQ(sys::Registry::AddKey(HKEY_LOCAL_MACHINE, key / child, 0), 0u);

    std::vector<std::wstring> names = {L"kept"};
    EXPECT_EQ(sys::Registry::EnumSubKeys(HKEY_LOCAL_MACHINE, key.path(), names, 0), 0u);
    std::vector<std::wstring> expected = {L"kept"};
    for (const std::wstring& name : RawSubKeys(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY))
        expected.push_back(name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(names.size(), 5u);

    EXPECT_EQ(sys::Registry::EnumSubKeys(HKEY_LOCAL_MACHINE, key / L"Absent", names, 0), 2u);
    EXPECT_EQ(names, expected);
}

TEST(RegistryHives, EnumSubKeysWithAnEmptyPathListsTheLoadedUserHives) {
    std::vector<std::wstring> hives;
    EXPECT_EQ(sys::Registry::EnumSubKeys(HKEY_USERS, L"", hives, KEY_WOW64_32KEY), 0u);
    EXPECT_FALSE(hives.empty());
    EXPECT_EQ(hives, RawSubKeys(HKEY_USERS, L"", 0));
    bool userHive = false;
    for (const std::wstring& hive : hives) userHive = userHive || hive.rfind(L"S-1-5-21-", 0) == 0;
    EXPECT_TRUE(userHive);
}

TEST_F(Registry, RemoveValueDeletesOneValue) {
    key.SetString(L"", L"Gone", L"x");
    key.SetString(L"", L"Stays", L"y");
    EXPECT_EQ(sys::Registry::RemoveValue(HKEY_LOCAL_MACHINE, key.path(), L"Gone", 0), 0u);
    EXPECT_FALSE(Has(L"Gone"));
    EXPECT_TRUE(Has(L"Stays"));
    EXPECT_EQ(sys::Registry::RemoveValue(HKEY_LOCAL_MACHINE, key.path(), L"Gone", 0), 2u);
    EXPECT_EQ(sys::Registry::RemoveValue(HKEY_LOCAL_MACHINE, key / L"Absent", L"Gone", 0), 2u);
}

TEST_F(Registry, RemoveKeyDeletesAThreeLevelTree) {
    const std::wstring tree = key / L"Tree";
    key.SetString(L"Tree", L"Top", L"x");
    key.SetString(L"Tree\\A\\A1", L"Leaf", L"x");
    key.SetString(L"Tree\\A\\A2", L"Leaf", L"x");
    key.SetString(L"Tree\\B", L"Leaf", L"x");
    key.SetString(L"Sibling", L"Stays", L"x");

    EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, tree, 0), 0u);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, tree, KEY_WOW64_64KEY));
    EXPECT_EQ(RawSubKeys(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY),
              std::vector<std::wstring>{L"Sibling"});
}

TEST_F(Registry, RemoveKeyOnAnAbsentKeyReturnsNotFound) {
    EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, key / L"Absent", 0), 2u);
}

// An empty path would otherwise delete every key under the root.
TEST_F(Registry, RemoveKeyRefusesAnEmptyPath) {
    const std::vector<std::wstring> before = RawSubKeys(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0);
    EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, L"", 0), 13u);
    EXPECT_EQ(RawSubKeys(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0), before);
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, key.path(), KEY_WOW64_64KEY));
}

}  // namespace
