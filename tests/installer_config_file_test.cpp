// The installer config file: the path encoding, hostile items, and the path lists kept in
// "Installer.ini" on real files.
#include "state/installer_config_file.h"

#include "file_state.h"
#include "scoped_temp_dir.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kKey = L"5E0D7A41C2B94f18A6E3D7B90C4F2A66";
constexpr const wchar_t* kSection = L"Profile";

std::string Narrow(const std::wstring& digits) { return std::string(digits.begin(), digits.end()); }

std::wstring Repeat(const std::wstring& text, size_t times) {
    std::wstring result;
    for (size_t i = 0; i < times; ++i) result += text;
    return result;
}

TEST(EncodePath, GivesTheExactDigits) {
    const struct {
        const char* name;
        std::wstring path;
        std::wstring item;
    } cases[] = {
        {"empty path", L"", L""},
        {"key positions move on per code unit", L"C:\\Apps", L"118,127,108,5,71,49,71,"},
        // The key XORed with itself, past its end: the lower-case f and the repetition.
        {"the key twice", Repeat(kKey, 2), Repeat(L"0,", 64)},
        {"a code unit above U+00FF", L"\x4E2D", L"19992,"},
        {"the highest code unit", L"\xFFFF", L"65482,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodePath(c.path), c.item);
    }
}

TEST(DecodePath, GivesBackWhatEncodePathWrote) {
    const std::wstring paths[] = {
        L"",
        L"C:\\Program Files\\Some Vendor\\Some Application 2013\\bin\\x64",  // past the key's end
        L"D:\\\x0434\x0430\x043D\x043D\x044B\x0435\\\x6587\x4EF6",             // above U+00FF
        L"E:\\\xD83D\xDE00\\\xD83C\xDF89.ini",                                   // surrogate pairs
        L"F:\\lone \xDC00 \xD800 surrogates; commas, too",
        Repeat(L"\\\\?\\C:\\long folder name", 40),
    };
    for (const std::wstring& path : paths) EXPECT_EQ(DecodePath(EncodePath(path)), path);
}

TEST(DecodePath, IgnoresTextAfterTheLastComma) {
    EXPECT_EQ(DecodePath(L"118,127,108"), L"C:");
    EXPECT_EQ(DecodePath(L"118"), L"");
}

// Each group is read as "%d" would: white space, a sign, the digits up to the first
// non-digit, 0 without digits; the low 16 bits of that number, however long, are XORed
// with the key. 'C' is 118 at position 0, '5' is 0 there.
TEST(DecodePath, ReadsHostileGroupsSafely) {
    const struct {
        const char* name;
        std::wstring item;
        std::wstring path;
    } cases[] = {
        {"empty group", L",", L"5"},
        {"letters", L"abc,", L"5"},
        {"digits then letters", L"118abc,", L"C"},
        {"plus sign", L"+118,", L"C"},
        {"minus sign", L"-1,", L"\xFFCA"},
        {"sign alone", L"-,", L"5"},
        {"two signs", L"+-118,", L"5"},
        {"leading white space", L" \t118,", L"C"},
        {"longer than 11 characters", L"000000000000000118,", L"C"},
        {"above 16 bits", L"65654,", L"C"},
        {"above 32 bits", L"4294967414,", L"C"},
        {"above 64 bits", L"18446744073709551734,", L"C"},
        {"negative above 32 bits", L"-4294967296,", L"5"},
        {"a bad group still takes its key position", L"abc,127,", L"5:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodePath(c.item), c.path);
    }
}

TEST(DecodePath, HandlesValuesOfMegabytes) {
    const size_t megabytes = 2 * 1024 * 1024;
    // All nines: 10^n - 1 has the low 16 bits 0xFFFF once n >= 16.
    EXPECT_EQ(DecodePath(std::wstring(megabytes, L'9') + L","), L"\xFFCA");
    EXPECT_EQ(DecodePath(std::wstring(megabytes, L'7')), L"");

    const std::wstring decoded = DecodePath(Repeat(L"0,", megabytes / 2));
    ASSERT_EQ(decoded.size(), megabytes / 2);
    EXPECT_EQ(decoded, Repeat(kKey, megabytes / 2 / 32));
}

class ConfigFile : public ::testing::Test {
protected:
    std::wstring File() const { return dir / L"Installer.ini"; }
    std::vector<std::wstring> ApplicationPaths() const {
        std::vector<std::wstring> paths;
        EXPECT_EQ(config.GetInstalledApplicationPaths(kSection, paths), 0u);
        return paths;
    }

    ScopedTempDir dir;
    InstallerConfigFile config{dir.path()};
};

TEST_F(ConfigFile, AddingToAMissingFileCreatesIt) {
    const std::wstring first = L"C:\\Apps", second = L"D:\\Other Apps\\App";
    EXPECT_EQ(config.AddApplicationPaths(kSection, {first, second}), 0u);
    EXPECT_EQ(StoredIniText(File(), "APPLICATION_PATHS"),
              Narrow(EncodePath(first) + L";" + EncodePath(second)));
    EXPECT_EQ(ApplicationPaths(), (std::vector<std::wstring>{first, second}));
}

TEST_F(ConfigFile, EmptyListsCreateNoFile) {
    EXPECT_EQ(config.AddApplicationPaths(kSection, {}), 0u);
    EXPECT_EQ(config.AddINIPaths(kSection, INIFileEntryInfo{}), 0u);
    EXPECT_FALSE(CaptureFile(File()).exists);
}

TEST_F(ConfigFile, CreateFailureGivesItsCode) {
    const InstallerConfigFile nowhere(dir / L"no such folder");
    EXPECT_EQ(nowhere.AddApplicationPaths(kSection, {L"C:\\Apps"}),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    INIFileEntryInfo entry;
    entry.iniFilePaths = {L"C:\\App\\app.ini"};
    EXPECT_EQ(nowhere.AddINIPaths(kSection, entry), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ConfigFile, AFolderGivenTwiceIsRecordedOnce) {
    EXPECT_EQ(config.AddApplicationPaths(kSection, {L"C:\\Apps", L"C:\\Apps"}), 0u);
    EXPECT_EQ(config.AddApplicationPaths(kSection, {L"C:\\Apps"}), 0u);
    EXPECT_EQ(StoredIniText(File(), "APPLICATION_PATHS"), Narrow(EncodePath(L"C:\\Apps")));
}

TEST_F(ConfigFile, RemovalIsByTheExactText) {
    EXPECT_EQ(config.AddApplicationPaths(kSection, {L"C:\\Apps\\One", L"C:\\Apps\\Two"}), 0u);
    EXPECT_EQ(config.RemoveApplicationPath(kSection, L"c:\\apps\\one"), 0u);
    EXPECT_EQ(ApplicationPaths(), (std::vector<std::wstring>{L"C:\\Apps\\One", L"C:\\Apps\\Two"}));
    EXPECT_EQ(config.RemoveApplicationPath(kSection, L"C:\\Apps\\One"), 0u);
    EXPECT_EQ(ApplicationPaths(), std::vector<std::wstring>{L"C:\\Apps\\Two"});
}

TEST_F(ConfigFile, ReadingAMissingSectionGivesNoPaths) {
    EXPECT_EQ(config.AddApplicationPaths(L"Other", {L"C:\\Apps"}), 0u);
    std::vector<std::wstring> paths{L"kept"};
    EXPECT_EQ(config.GetInstalledApplicationPaths(kSection, paths), 0u);
    EXPECT_EQ(config.GetINIPaths(kSection, paths), 0u);
    EXPECT_EQ(paths, std::vector<std::wstring>{L"kept"});
}

TEST_F(ConfigFile, MissingFileGivesTwoAndLeavesNoFile) {
    std::vector<std::wstring> paths{L"kept"};
    EXPECT_EQ(config.GetInstalledApplicationPaths(kSection, paths), 2u);
    EXPECT_EQ(config.GetINIPaths(kSection, paths), 2u);
    EXPECT_EQ(paths, std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(config.ClearApplicationList(kSection), 2u);
    EXPECT_EQ(config.ClearINIList(kSection), 2u);
    EXPECT_EQ(config.ClearCommandLineINIList(kSection), 2u);
    EXPECT_EQ(config.RemoveApplicationPath(kSection, L"C:\\Apps"), 2u);
    EXPECT_EQ(config.RemoveINIValue(kSection, L"C:\\App\\app.ini"), 2u);
    EXPECT_FALSE(CaptureFile(File()).exists);
}

TEST_F(ConfigFile, KeepsEachListUnderItsOwnKey) {
    INIFileEntryInfo entry;
    entry.iniFilePaths = {L"C:\\App\\one.ini", L"C:\\App\\two.ini"};
    EXPECT_EQ(config.AddINIPaths(kSection, entry), 0u);
    EXPECT_EQ(config.AddApplicationPaths(kSection, {L"C:\\App"}), 0u);
    EXPECT_EQ(StoredIniText(File(), "INI_PATHS"),
              Narrow(EncodePath(entry.iniFilePaths[0]) + L";" + EncodePath(entry.iniFilePaths[1])));

    EXPECT_EQ(config.RemoveINIValue(kSection, L"C:\\App\\one.ini"), 0u);
    std::vector<std::wstring> iniPaths;
    EXPECT_EQ(config.GetINIPaths(kSection, iniPaths), 0u);
    EXPECT_EQ(iniPaths, std::vector<std::wstring>{L"C:\\App\\two.ini"});

    EXPECT_EQ(config.ClearINIList(kSection), 0u);
    EXPECT_EQ(StoredIniText(File(), "INI_PATHS"), "");
    EXPECT_EQ(ApplicationPaths(), std::vector<std::wstring>{L"C:\\App"});
    EXPECT_EQ(config.ClearApplicationList(kSection), 0u);
    EXPECT_EQ(StoredIniText(File(), "APPLICATION_PATHS"), "");
}

}  // namespace
