// The engine's INI-entry steps with the test profile on real INI files, as the service
// account: under Wine nobody is logged on, so a file the process cannot see stays untouched.
#include "state/installer_config_file.h"

#include "file_state.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const wchar_t* kConfigSection = L"TestApp";
const std::wstring kEntryText = L" Extensions AddinManagers=tolvane";

std::wstring LongForm(const std::wstring& path) { return L"\\\\?\\" + path; }

void WriteIni(const std::wstring& path, const std::string& list) {
    WriteTextFile(path, "[Extensions]\r\nAddinManagers=" + list + "\r\n");
}

std::string StoredList(const std::wstring& path) {
    return StoredIniText(path, "AddinManagers").value_or("<no key>");
}

LogEntry NotAccessible(const std::wstring& path) {
    return {5, L"CheckIfFileAccessible Sourcefile = " + LongForm(path) + L" Error=0"};
}

// Open without sharing: the file is there for its attributes, but nobody can read it.
sys::UniqueFile HoldExclusively(const std::wstring& path) {
    return sys::UniqueFile(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

class IniSteps : public ::testing::Test {
protected:
    IniSteps() {
        engine.Initialize(dir.path(), &logger);
        engine.iniRequired = true;
        engine.iniEntry.section = L"Extensions";
        engine.iniEntry.key = L"AddinManagers";
        engine.iniEntry.value = L"tolvane";
        engine.iniEntry.separator = L",";
    }
    void UseConfigSection() {
        engine.sectionResult = 0;
        engine.section = kConfigSection;
    }
    void Record(const std::vector<std::wstring>& paths) const {
        INIFileEntryInfo recorded;
        recorded.iniFilePaths = paths;
        ASSERT_EQ(InstallerConfigFile(dir.path()).AddINIPaths(kConfigSection, recorded), 0u);
    }
    std::vector<std::wstring> Recorded() const {
        std::vector<std::wstring> paths;
        EXPECT_EQ(InstallerConfigFile(dir.path()).GetINIPaths(kConfigSection, paths), 0u);
        return paths;
    }

    ScopedTempDir dir;
    ScopedTempDir ini;
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(IniSteps, AddEditsEveryFileAndReturnsTheLastFailure) {
    const std::wstring first = ini / L"first.ini";
    const std::wstring missing = ini / L"missing.ini";
    const std::wstring folder = ini / L"folder.ini";  // seen, but cannot be opened: 2
    const std::wstring blocked = ini / L"blocked.ini";  // cannot be written: 32
    const std::wstring last = ini / L"last.ini";
    WriteIni(first, "x");
    std::filesystem::create_directory(folder);
    WriteIni(blocked, "x");
    WriteTextFile(last, "[Other]\r\nA=1\r\n");
    const ScopedWriteBlock block(blocked);
    ASSERT_TRUE(block);
    engine.iniEntry.iniFilePaths = {first, missing, folder, blocked, last};

    INIFileEntryInfo filled;
    EXPECT_EQ(engine.AddEntryToINIFile(filled), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(filled.iniFilePaths, engine.iniEntry.iniFilePaths);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"AddEntryToINIFile Start"},
                  {0, L"Adding INI entry:" + first + kEntryText},
                  {0, L"Adding INI entry:" + missing + kEntryText},
                  NotAccessible(missing),
                  {0, L"Adding INI entry:" + folder + kEntryText},
                  {5, L"GetUpdateIniValuesIntoFile: AddValue failure Error=2"},
                  {5, L"AddEntryToINIFile: UpdateINILotusExtension failure Error=2"},
                  {0, L"Adding INI entry:" + blocked + kEntryText},
                  {5, L"GetUpdateIniValuesIntoFile: AddValue failure Error=32"},
                  {5, L"AddEntryToINIFile: UpdateINILotusExtension failure Error=32"},
                  {0, L"Adding INI entry:" + last + kEntryText},
                  {0, L"AddEntryToINIFile End"},
              }));
    EXPECT_EQ(StoredList(first), "x,tolvane");
    EXPECT_EQ(StoredList(last), "tolvane");
    EXPECT_EQ(StoredList(blocked), "x");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(IniSteps, AddWithoutFilesReturns2) {
    INIFileEntryInfo filled;
    EXPECT_EQ(engine.AddEntryToINIFile(filled), 2u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"AddEntryToINIFile Start"},
                  {0, L"AddEntryToINIFile: GetINIFileEntryInfo failure, INIFileEntryInfo is empty "
                      L"so returning error ERROR_FILE_NOT_FOUND"},
                  {0, L"AddEntryToINIFile End"},
              }));
}

TEST_F(IniSteps, AFailedEntryInfoEndsEachStepWithItsCode) {
    engine.iniEntryResult = 13;
    engine.iniEntry.iniFilePaths = {ini / L"a.ini"};
    struct Case {
        const char* name;
        DWORD (*run)(TestProfile&);
        std::vector<LogEntry> lines;
    };
    const Case cases[] = {
        {"add",
         [](TestProfile& e) {
             INIFileEntryInfo entry;
             return e.AddEntryToINIFile(entry);
         },
         {{0, L"AddEntryToINIFile Start"},
          {5, L"AddEntryToINIFile: GetINIFileEntryInfo failure Error=13"}}},
        {"remove", [](TestProfile& e) { return e.RemoveEntryFromINIFile(); },
         {{0, L"RemoveEntryFromINIFile Start"},
          {5, L"RemoveEntryFromINIFile: GetINIFileEntryInfo failure Error=13"}}},
        {"verify",
         [](TestProfile& e) {
             bool settingsOk = true;
             return e.VerifyIniSettings(settingsOk);
         },
         {{5, L"VerifyIniSettings: GetINIFileEntryInfo failure Error=13"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logger.Clear();
        EXPECT_EQ(c.run(engine), 13u);
        EXPECT_EQ(logger.entries, c.lines);
    }
}

// Adding compares without case, verifying with it.
TEST_F(IniSteps, AnItemInOtherCaseIsNotAddedButVerifiesAsMissing) {
    const std::wstring file = ini / L"app.ini";
    WriteIni(file, "x,TOLVANE");
    BackdateFile(file);
    const FileState before = CaptureFile(file);
    engine.iniEntry.iniFilePaths = {file};

    INIFileEntryInfo filled;
    EXPECT_EQ(engine.AddEntryToINIFile(filled), 0u);
    EXPECT_EQ(CaptureFile(file), before);

    logger.Clear();
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"Getting INI entry:" + file + L" Extensions AddinManagers"},
                  {0, L"No value tolvanefound for Path= " + file},
              }));
}

// Only the first file without the item is reported; the files after it are not read.
TEST_F(IniSteps, VerifyStopsAtTheFirstFileWithoutTheItem) {
    const std::wstring good = ini / L"good.ini";
    const std::wstring bad = ini / L"bad.ini";
    const std::wstring unseen = ini / L"unseen.ini";
    WriteIni(good, " a , tolvane ");
    WriteIni(bad, "a");
    WriteIni(unseen, "tolvane");
    bool settingsOk = true;
    engine.iniEntry.iniFilePaths = {good, unseen};
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_TRUE(settingsOk);

    logger.Clear();
    engine.iniEntry.iniFilePaths = {good, bad, unseen};
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"Getting INI entry:" + good + L" Extensions AddinManagers"},
                  {0, L"Getting INI entry:" + bad + L" Extensions AddinManagers"},
                  {0, L"No value tolvanefound for Path= " + bad},
              }));
}

TEST_F(IniSteps, VerifyWithoutFilesNeedsRepair) {
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{{0, L"VerifyIniSettings: No ini file found, Need Repair"}}));
}

TEST_F(IniSteps, VerifyOfAFileNobodyCanSeeReportsTheItemMissing) {
    const std::wstring missing = ini / L"missing.ini";
    engine.iniEntry.iniFilePaths = {missing};
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"Getting INI entry:" + missing + L" Extensions AddinManagers"},
                  NotAccessible(missing),
                  {0, L"No value tolvanefound for Path= " + missing},
              }));
}

TEST_F(IniSteps, VerifyReturnsAFailedRead) {
    const std::wstring folder = ini / L"folder.ini";
    std::filesystem::create_directory(folder);
    engine.iniEntry.iniFilePaths = {folder, ini / L"never.ini"};
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 2u);
    EXPECT_TRUE(settingsOk);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"Getting INI entry:" + folder + L" Extensions AddinManagers"},
                  {5, L"GetUpdateIniValuesIntoFile: GetValues failure Error=2"},
                  {5, L"VerifyIniSettings: UpdateINILotusExtension failure Error=2"},
              }));
}

// The profile's paths and the recorded ones, each once, in code order; letter case counts.
TEST_F(IniSteps, RemoveMergesTheProfilesPathsWithTheRecordedOnes) {
    UseConfigSection();
    const std::wstring a = ini / L"a.ini";
    const std::wstring upperA = ini / L"A.ini";  // the same file, named apart
    const std::wstring b = ini / L"b.ini";
    const std::wstring c = ini / L"c.ini";
    WriteIni(a, "x,tolvane");
    WriteIni(b, "tolvane,y");
    WriteIni(c, "TolVane");
    engine.iniEntry.iniFilePaths = {c, a};
    Record({a, b, upperA});

    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"RemoveEntryFromINIFile Start"},
                  {0, L"Removing INI entry:" + upperA + kEntryText},
                  {0, L"Removing INI entry:" + a + kEntryText},
                  {0, L"Removing INI entry:" + b + kEntryText},
                  {0, L"Removing INI entry:" + c + kEntryText},
                  {0, L"RemoveEntryFromINIFile End"},
              }));
    EXPECT_EQ(StoredList(a), "x");
    EXPECT_EQ(StoredList(b), "y");
    EXPECT_EQ(StoredList(c), "");
    EXPECT_EQ(Recorded(), (std::vector<std::wstring>{a, b, upperA}));
}

TEST_F(IniSteps, RemoveWithoutAConfigFileUsesTheProfilesPaths) {
    UseConfigSection();
    const std::wstring file = ini / L"app.ini";
    WriteIni(file, "tolvane");
    engine.iniEntry.iniFilePaths = {file};
    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"RemoveEntryFromINIFile Start"},
                  {0, L"RemoveEntryFromINIFile: GetINIPaths failure Error=installer config file "
                      L"doesn't found"},
                  {0, L"Removing INI entry:" + file + kEntryText},
                  {0, L"RemoveEntryFromINIFile End"},
              }));
    EXPECT_EQ(StoredList(file), "");
}

TEST_F(IniSteps, RemoveWithNoPathAnywhereSucceeds) {
    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{{0, L"RemoveEntryFromINIFile Start"},
                                                    {0, L"INI path list is empty so return success"}}));
}

TEST_F(IniSteps, RemoveReturnsAFailedSectionNameSilently) {
    engine.sectionResult = 1359;
    engine.iniEntry.iniFilePaths = {ini / L"app.ini"};
    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 1359u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{{0, L"RemoveEntryFromINIFile Start"}}));
}

// The existence check fails first, so the path stays recorded.
TEST_F(IniSteps, ARecordedFileThatNoLongerExistsStaysRecorded) {
    UseConfigSection();
    const std::wstring gone = ini / L"gone.ini";
    Record({gone});
    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"RemoveEntryFromINIFile Start"},
                  {0, L"Removing INI entry:" + gone + kEntryText},
                  NotAccessible(gone),
                  {0, L"RemoveEntryFromINIFile End"},
              }));
    EXPECT_EQ(Recorded(), std::vector<std::wstring>{gone});
}

// The config file knows the path as the profile gave it, not in its long form.
TEST_F(IniSteps, AnUnreadableRecordedFileIsForgottenByItsGivenPath) {
    UseConfigSection();
    const std::wstring unreadable = ini / L"unreadable.ini";
    const std::wstring kept = ini / L"kept.ini";
    WriteIni(unreadable, "tolvane");
    Record({unreadable, kept});
    const sys::UniqueFile hold = HoldExclusively(unreadable);
    ASSERT_TRUE(hold);

    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"RemoveEntryFromINIFile Start"},
                  {0, L"Removing INI entry:" + kept + kEntryText},
                  NotAccessible(kept),
                  {0, L"Removing INI entry:" + unreadable + kEntryText},
                  {0, L"GetUpdateIniValuesIntoFile: failure, INI file path doesn't found INI file = " +
                          LongForm(unreadable)},
                  {0, L"GetUpdateIniValuesIntoFile: INI file path doesn't found so removing it from "
                      L"installer config file"},
                  {0, L"RemoveEntryFromINIFile End"},
              }));
    EXPECT_EQ(Recorded(), std::vector<std::wstring>{kept});
}

TEST_F(IniSteps, AConfigFileThatCannotForgetThePathIsReportedAtLevel3) {
    UseConfigSection();
    const std::wstring unreadable = ini / L"unreadable.ini";
    WriteIni(unreadable, "tolvane");
    Record({unreadable});
    const sys::UniqueFile hold = HoldExclusively(unreadable);
    const ScopedWriteBlock block(dir / L"Installer.ini");
    ASSERT_TRUE(hold && block);

    EXPECT_EQ(engine.RemoveEntryFromINIFile(), 0u);
    EXPECT_TRUE(logger.Contains(3, L"GetUpdateIniValuesIntoFile: RemoveINIValue failure Error=32"));
    EXPECT_TRUE(logger.TextsAt(kLogError).empty());
}

// Without a config section nothing is forgotten, and a file that is gone is no failure.
TEST_F(IniSteps, RemoveGoesOnAfterAFailedWriteAndReturnsIt) {
    const std::wstring blocked = ini / L"blocked.ini";
    const std::wstring unreadable = ini / L"unreadable.ini";
    const std::wstring other = ini / L"other.ini";
    WriteIni(blocked, "tolvane");
    WriteIni(unreadable, "tolvane");
    WriteIni(other, "tolvane");
    const ScopedWriteBlock block(blocked);
    const sys::UniqueFile hold = HoldExclusively(unreadable);
    ASSERT_TRUE(block && hold);
    engine.iniEntry.iniFilePaths = {unreadable, blocked, other};

    EXPECT_EQ(engine.RemoveEntryFromINIFile(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"RemoveEntryFromINIFile Start"},
                  {0, L"Removing INI entry:" + blocked + kEntryText},
                  {5, L"GetUpdateIniValuesIntoFile: RemoveValue failure Error=32"},
                  {5, L"RemoveEntryFromINIFile: UpdateINILotusExtension failure Error=32"},
                  {0, L"Removing INI entry:" + other + kEntryText},
                  {0, L"Removing INI entry:" + unreadable + kEntryText},
                  {0, L"GetUpdateIniValuesIntoFile: failure, INI file path doesn't found INI file = " +
                          LongForm(unreadable)},
                  {0, L"RemoveEntryFromINIFile End"},
              }));
    EXPECT_EQ(StoredList(other), "");
    EXPECT_EQ(StoredList(blocked), "tolvane");
}

}  // namespace
