// Outlook detection against install roots written into Wine's registry, per view.
#include "outlook/outlook_plugin_installation_manager.h"
#include "recording_logger.h"
#include "registry_fixture.h"

#include <gtest/gtest.h>

namespace {

class DetectionProbe : public OutlookPluginInstallationManager {
public:
    using OutlookPluginInstallationManager::is64BitOutlook;
};

// Office version part of each install-root row, rows 1 to 10.
constexpr const wchar_t* kRowVersions[] = {L"10.0", L"11.0", L"12.0", L"14.0", L"15.0",
                                           L"10",   L"11",   L"12",   L"14",   L"15"};

std::wstring InstallRoot(int row) {
    return std::wstring(L"SOFTWARE\\Microsoft\\Office\\") + kRowVersions[row - 1] +
           L"\\Outlook\\InstallRoot";
}

// An Outlook install root as a test lays it down: the "Path" value of one row in one view.
struct InstallRootValue {
    int row;
    DWORD view;
    std::wstring path;
    int keywordsFound;  // how many of the five Office folders the path names
};

std::vector<LogEntry> ExpectedLog(const std::vector<InstallRootValue>& roots) {
    std::vector<LogEntry> lines;
    for (DWORD view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const std::wstring bits = view == KEY_WOW64_32KEY ? L"32" : L"64";
        for (int row = 1; row <= 10; ++row) {
            lines.push_back({0, L"GetInstalledApplicationList:-  Looking for " + bits +
                                    L"-bit SubKey=" + InstallRoot(row) + L" Value=Path"});
            for (const InstallRootValue& root : roots) {
                if (root.row != row || root.view != view || root.path.empty()) continue;
                lines.push_back({0, L"GetInstalledApplicationList, Application path Value =" + root.path});
                lines.push_back({0, L"GetInstalledApplicationList-check for keywords"});
                for (int i = 0; i < root.keywordsFound; ++i)
                    lines.push_back({0, L"GetInstalledApplicationList:-  ApplicationPath=" + root.path});
            }
        }
    }
    return lines;
}

class OutlookDetection : public ::testing::Test {
protected:
    void SetUp() override { profile.Initialize(L"C:\\Agent", &logger); }

    RecordingLogger logger;
    DetectionProbe profile;
};

TEST_F(OutlookDetection, NoOutlookLooksUpEveryRowInBothViewsAndFindsNothing) {
    ApplicationPathList paths = {L"kept"};
    EXPECT_EQ(profile.GetInstalledApplicationList(paths), 0u);
    EXPECT_EQ(paths, ApplicationPathList{L"kept"});
    EXPECT_FALSE(profile.is64BitOutlook);
    EXPECT_EQ(logger.entries.size(), 20u);
    EXPECT_EQ(logger.entries, ExpectedLog({}));
}

TEST_F(OutlookDetection, OneInstallRootIsListedOncePerKeywordItNames) {
    const struct {
        const char* name;
        InstallRootValue root;
        bool is64Bit;
    } cases[] = {
        {"32-bit Office 14 on 64-bit Windows",
         {4, KEY_WOW64_32KEY, L"C:\\Program Files (x86)\\Microsoft Office\\Office14\\", 1}, false},
        {"64-bit Office 15",
         {5, KEY_WOW64_64KEY, L"C:\\Program Files\\Microsoft Office\\Office15\\", 1}, true},
        {"folder in lower case", {10, KEY_WOW64_64KEY, L"c:\\program files\\office15", 1}, true},
        {"folder of an unknown version",
         {5, KEY_WOW64_64KEY, L"C:\\Program Files\\Microsoft Office\\Office16\\", 0}, false},
        {"path naming two folders", {1, KEY_WOW64_32KEY, L"D:\\Office10\\Office12", 2}, false},
        {"empty path", {3, KEY_WOW64_64KEY, L"", 0}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DetectionProbe fresh;
        RecordingLogger log;
        fresh.Initialize(L"C:\\Agent", &log);
        ScopedRegistryKey root(HKEY_LOCAL_MACHINE, InstallRoot(c.root.row), c.root.view);
        root.SetString(L"", L"Path", c.root.path);

        ApplicationPathList paths;
        EXPECT_EQ(fresh.GetInstalledApplicationList(paths), 0u);
        EXPECT_EQ(paths, ApplicationPathList(c.root.keywordsFound, c.root.path));
        EXPECT_EQ(fresh.is64BitOutlook, c.is64Bit);
        EXPECT_EQ(log.entries, ExpectedLog({c.root}));
    }
}

TEST_F(OutlookDetection, ListsThe32BitFindsFirstAndKeepsThe64BitFlagSet) {
    const InstallRootValue office14 = {4, KEY_WOW64_32KEY, L"C:\\x86\\Office14", 1};
    const InstallRootValue office15 = {5, KEY_WOW64_64KEY, L"C:\\x64\\Office15", 1};
    ScopedRegistryKey root14(HKEY_LOCAL_MACHINE, InstallRoot(office14.row), office14.view);
    root14.SetString(L"", L"Path", office14.path);
    {
        ScopedRegistryKey root15(HKEY_LOCAL_MACHINE, InstallRoot(office15.row), office15.view);
        root15.SetString(L"", L"Path", office15.path);
        ApplicationPathList paths;
        EXPECT_EQ(profile.GetInstalledApplicationList(paths), 0u);
        EXPECT_EQ(paths, (ApplicationPathList{office14.path, office15.path}));
        EXPECT_TRUE(profile.is64BitOutlook);
        EXPECT_EQ(logger.entries, ExpectedLog({office14, office15}));
    }
    // Only the 32-bit Outlook is left: the bitness decided before still holds.
    ApplicationPathList paths;
    EXPECT_EQ(profile.GetInstalledApplicationList(paths), 0u);
    EXPECT_EQ(paths, ApplicationPathList{office14.path});
    EXPECT_TRUE(profile.is64BitOutlook);
}

TEST_F(OutlookDetection, PathThatIsNotAStringStopsDetection) {
    const InstallRootValue office10 = {1, KEY_WOW64_32KEY, L"C:\\Office10", 1};
    ScopedRegistryKey root10(HKEY_LOCAL_MACHINE, InstallRoot(1), KEY_WOW64_32KEY);
    root10.SetString(L"", L"Path", office10.path);
    ScopedRegistryKey root11(HKEY_LOCAL_MACHINE, InstallRoot(2), KEY_WOW64_32KEY);
    const DWORD number = 1;
    root11.SetRaw(L"", L"Path", REG_DWORD, &number, sizeof(number));
    // Never reached: the 64-bit pass does not run.
    ScopedRegistryKey root15(HKEY_LOCAL_MACHINE, InstallRoot(5), KEY_WOW64_64KEY);
    root15.SetString(L"", L"Path", L"C:\\Office15");

    ApplicationPathList paths;
    EXPECT_EQ(profile.GetInstalledApplicationList(paths), 1629u);
    EXPECT_EQ(paths, ApplicationPathList{office10.path});
    EXPECT_FALSE(profile.is64BitOutlook);
    std::vector<LogEntry> expected = ExpectedLog({office10});
    expected.resize(5);  // row 1 with its find, then row 2
    expected.push_back({0, L"GetInstalledApplicationList failure 1629"});
    EXPECT_EQ(logger.entries, expected);
}

TEST(FindStringNoCase, IgnoresTheCaseOfAsciiLettersOnly) {
    const struct {
        const wchar_t* text;
        const wchar_t* word;
        std::wstring::size_type position;
    } cases[] = {
        {L"C:\\Office15\\", L"OFFICE15", 3},
        {L"c:\\office15", L"OFFICE15", 3},
        {L"C:\\Office16", L"OFFICE15", std::wstring::npos},
        {L"Office", L"", 0},
        {L"\u00e9", L"\u00c9", std::wstring::npos},  // e acute is not an ASCII letter
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(FindStringNoCase(c.text, c.word), c.position);
    }
}

}  // namespace
