// The engine's file steps on real files, with their exact log lines, through the test
// profile and the Outlook profile; and the Install branches that these steps decide.
#include "file_fixtures.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "sys/handles.h"
#include "test_profile.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<LogEntry>;

// Remembers the folders that the removal list was asked for.
class RecordingProfile : public TestProfile {
public:
    DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList& applicationPaths,
                                               FileCopyMap& out) override {
        removalListAskedFor = applicationPaths;
        return TestProfile::GetAllSourceFileWithDestinationPaths(applicationPaths, out);
    }
    ApplicationPathList removalListAskedFor;
};

class FileSteps : public ::testing::Test {
protected:
    void SetUp() override {
        engine.Initialize(root.path(), &logger);
        for (const std::wstring& folder : {engine.installSourceDir, engine.tempDir, first, second})
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    }

    std::wstring Source(const std::wstring& name) const {
        return engine.installSourceDir + L"\\" + name;
    }

    ScopedTempDir root;
    RecordingLogger logger;
    RecordingProfile engine;
    const std::wstring first = root / L"first";
    const std::wstring second = root / L"second";
};

TEST_F(FileSteps, VerifySourceWithAnEmptyListReturns2AfterTheStartLineOnly) {
    EXPECT_EQ(engine.VerifySource(), 2u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifySource Start"}}));
}

TEST_F(FileSteps, VerifySourcePassesAProfileFailureOnWithoutALine) {
    engine.sourceFiles = {L"a.txt"};
    engine.sourceFilesResult = 1234;
    EXPECT_EQ(engine.VerifySource(), 1234u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifySource Start"}}));
}

TEST_F(FileSteps, VerifySourceStopsAtTheFirstNameThatIsMissingOrCannotBeLookedAt) {
    WriteTextFile(Source(L"a.txt"), "a");
    engine.sourceFiles = {L"a.txt", L"b.txt", L"c?d"};  // c?d would fail with 123
    EXPECT_EQ(engine.VerifySource(), 2u);
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"VerifySource Start"},
                     {5, L"VerifySource failureSourcefile = " + Source(L"b.txt") + L" Error=2"}}));

    logger.Clear();
    engine.sourceFiles = {L"a.txt", L"c?d"};
    EXPECT_EQ(engine.VerifySource(), 123u);
    EXPECT_EQ(logger.entries.back(),
              (LogEntry{5, L"VerifySource failureSourcefile = " + Source(L"c?d") + L" Error=123"}));
}

TEST_F(FileSteps, VerifySourceAcceptsFilesAndFolders) {
    WriteTextFile(Source(L"a.txt"), "a");
    ASSERT_TRUE(CreateDirectoryW(Source(L"pack").c_str(), nullptr));
    engine.sourceFiles = {L"a.txt", L"pack"};
    EXPECT_EQ(engine.VerifySource(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifySource Start"}, {0, L"VerifySource End"}}));
}

TEST_F(FileSteps, CopyFilesWithAnEmptyMapLogsStartAndEnd) {
    EXPECT_EQ(engine.CopyFiles({}, false), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"CopyFiles Start"}, {0, L"CopyFiles End"}}));
}

TEST_F(FileSteps, CopyFilesLogsAProfileFailure) {
    engine.filesResult = 1234;
    EXPECT_EQ(engine.CopyFiles({}, false), 1234u);
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"CopyFiles Start"},
                     {5, L"CopyFiles: GetSourceFileWithDestinationPaths failure Error=1234"}}));
}

TEST_F(FileSteps, CopyFilesOfAMissingSourceStopsAtTheFirstDestination) {
    engine.files = {{L"a.dll", {first, second}}};
    EXPECT_EQ(engine.CopyFiles({}, false), 2u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"CopyFiles Start"},
                                     {0, L"Copy Source File= a.dll to Destination Path= " + first},
                                     {5, L"CopyFiles GetFileAttributes failure Error=2"}}));
}

TEST_F(FileSteps, CopyFilesCopiesFilesAndFoldersToEveryDestinationInKeyOrder) {
    WriteTextFile(Source(L"a.txt"), "a");
    ASSERT_TRUE(CreateDirectoryW(Source(L"pack").c_str(), nullptr));
    WriteTextFile(Source(L"pack\\x.txt"), "x");
    engine.files = {{L"pack", {first}}, {L"a.txt", {first, second}}};

    EXPECT_EQ(engine.CopyFiles({}, false), 0u);
    EXPECT_EQ(ReadTextFile(first + L"\\a.txt"), "a");
    EXPECT_EQ(ReadTextFile(second + L"\\a.txt"), "a");
    EXPECT_EQ(ReadTextFile(first + L"\\pack\\x.txt"), "x");
    EXPECT_EQ(logger.entries, (Lines{{0, L"CopyFiles Start"},
                                     {0, L"Copy Source File= a.txt to Destination Path= " + first},
                                     {0, L"CopyFile Start"},
                                     {0, L"CopyFile End"},
                                     {0, L"Copy Source File= a.txt to Destination Path= " + second},
                                     {0, L"CopyFile Start"},
                                     {0, L"CopyFile End"},
                                     {0, L"Copy Source File= pack to Destination Path= " + first},
                                     {0, L"CopyDirectory Start"},
                                     {0, L"CopyDirectory End"},
                                     {0, L"CopyFiles End"}}));
}

TEST_F(FileSteps, CopyFilesStopsAtTheFirstFailedCopy) {
    WriteTextFile(Source(L"a.txt"), "a");
    WriteTextFile(Source(L"b.txt"), "b");
    ASSERT_TRUE(CreateDirectoryW(Source(L"pack").c_str(), nullptr));
    const std::wstring absent = root / L"absent";

    engine.files = {{L"a.txt", {absent, first}}, {L"b.txt", {first}}};
    EXPECT_EQ(engine.CopyFiles({}, false), 3u);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"CopyFile: failure Error=3"}));
    EXPECT_TRUE(FolderEntries(first).empty());

    logger.Clear();
    engine.files = {{L"pack", {absent}}};
    EXPECT_EQ(engine.CopyFiles({}, false), 3u);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"CopyDirectory: failure Error=3"}));
}

TEST_F(FileSteps, CopyFilesComparingVersionsLeavesAnEqualVersionAlone) {
    ASSERT_TRUE(CopyFixture(L"noexport\\tolvane64.dll", Source(L"tolvane64.dll")));
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", first + L"\\tolvane64.dll"));  // also 1.0.0.1
    engine.files = {{L"tolvane64.dll", {first}}};

    EXPECT_EQ(engine.CopyFiles({}, true), 0u);
    EXPECT_TRUE(SameContents(first + L"\\tolvane64.dll", FixturePath(L"v1\\tolvane64.dll")));
    EXPECT_TRUE(logger.Contains(0, L"CopyFile End"));
    EXPECT_EQ(logger.entries.back(), (LogEntry{0, L"CopyFiles End"}));
}

TEST_F(FileSteps, DeleteFilesOfFilesAlreadyGoneSucceeds) {
    const std::wstring absent = root / L"absent";
    engine.allFiles = {{L"a.txt", {first, absent}}};
    EXPECT_EQ(engine.DeleteFiles({}), 0u);
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"DeleteFiles Start"},
                     {0, L"Delete Source File= a.txt from Destination Path= " + first},
                     {0, L"DeleteFiles: failure, file path doesn't found, sourcefile= " + first +
                             L"\\a.txt"},
                     {0, L"Delete Source File= a.txt from Destination Path= " + absent},
                     {0, L"DeleteFiles: failure, file path doesn't found, sourcefile= " + absent +
                             L"\\a.txt"},
                     {0, L"DeleteFiles End"}}));
}

TEST_F(FileSteps, DeleteFilesGoesOnPastLockedFilesAndReturnsTheLastFailure) {
    // Without its temporary folder a locked file cannot be set aside: 3.
    ASSERT_TRUE(RemoveDirectoryW(engine.tempDir.c_str()));
    WriteTextFile(first + L"\\a.txt", "a");
    WriteTextFile(first + L"\\z.txt", "z");
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", first + L"\\locked.dll"));
    const sys::UniqueModule locked(LoadLibraryW((first + L"\\locked.dll").c_str()));
    ASSERT_TRUE(locked);
    ASSERT_TRUE(CreateDirectoryW((first + L"\\pack").c_str(), nullptr));
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", first + L"\\pack\\inner.dll"));
    const sys::UniqueModule inner(LoadLibraryW((first + L"\\pack\\inner.dll").c_str()));
    ASSERT_TRUE(inner);
    engine.allFiles = {
        {L"a.txt", {first}}, {L"locked.dll", {first}}, {L"pack", {first}}, {L"z.txt", {first}}};

    EXPECT_EQ(engine.DeleteFiles({}), 3u);
    EXPECT_EQ(FolderEntries(first), (std::vector<std::wstring>{L"locked.dll", L"pack"}));
    const std::wstring from = L" from Destination Path= " + first;
    EXPECT_EQ(logger.entries, (Lines{{0, L"DeleteFiles Start"},
                                     {0, L"Delete Source File= a.txt" + from},
                                     {0, L"DeleteFile Start"},
                                     {0, L"DeleteFile End"},
                                     {0, L"Delete Source File= locked.dll" + from},
                                     {0, L"DeleteFile Start"},
                                     {5, L"DeleteFile: failure3"},
                                     {0, L"DeleteFile End"},
                                     {0, L"Delete Source File= pack" + from},
                                     {0, L"DeleteDirectory Start"},
                                     {1, L"DeleteDirectory: failure3"},
                                     {0, L"DeleteDirectory End"},
                                     {0, L"Delete Source File= z.txt" + from},
                                     {0, L"DeleteFile Start"},
                                     {0, L"DeleteFile End"},
                                     {0, L"DeleteFiles End"}}));
}

TEST_F(FileSteps, DeleteFilesRemovesFoldersAndCountsUnreadableAttributesAsFailures) {
    ASSERT_TRUE(CreateDirectoryW((first + L"\\pack").c_str(), nullptr));
    WriteTextFile(first + L"\\pack\\x.txt", "x");
    WriteTextFile(first + L"\\z.txt", "z");
    engine.allFiles = {{L"a?b", {first}}, {L"pack", {first}}, {L"z.txt", {first}}};

    EXPECT_EQ(engine.DeleteFiles({}), 123u);
    EXPECT_TRUE(FolderEntries(first).empty());
    EXPECT_EQ(logger.entries[2], (LogEntry{5, L"DeleteFiles GetFileAttributes failure Error=123"}));
    EXPECT_TRUE(logger.Contains(0, L"DeleteDirectory End"));
}

TEST_F(FileSteps, DeleteFilesAsksForEachFolderOnceInCodeUnitOrder) {
    EXPECT_EQ(engine.DeleteFiles({L"C:\\b", L"C:\\a", L"C:\\b", L"c:\\a", L"C:\\a"}), 0u);
    EXPECT_EQ(engine.removalListAskedFor, (ApplicationPathList{L"C:\\a", L"C:\\b", L"c:\\a"}));
}

TEST_F(FileSteps, DeleteFilesGoesOnWithoutAnInstallerConfigFile) {
    engine.sectionResult = 0;
    engine.section = L"Tolvane";
    WriteTextFile(first + L"\\a.txt", "a");
    engine.allFiles = {{L"a.txt", {first}}};

    EXPECT_EQ(engine.DeleteFiles({}), 0u);
    EXPECT_TRUE(FolderEntries(first).empty());
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"DeleteFiles Start"},
                     {0, L"DeleteFiles: failure, Error= Installer config file doesn't found"},
                     {0, L"Delete Source File= a.txt from Destination Path= " + first},
                     {0, L"DeleteFile Start"},
                     {0, L"DeleteFile End"},
                     {0, L"DeleteFiles End"}}));
}

TEST_F(FileSteps, DeleteFilesReturnsProfileFailures) {
    engine.sectionResult = 1234;  // returned without a line
    EXPECT_EQ(engine.DeleteFiles({}), 1234u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"DeleteFiles Start"}}));
    EXPECT_EQ(engine.Calls(L"GetAllSourceFileWithDestinationPaths"), 0);

    logger.Clear();
    engine.sectionResult = ERROR_NOT_SUPPORTED;
    engine.allFilesResult = 4321;
    EXPECT_EQ(engine.DeleteFiles({}), 4321u);
    EXPECT_EQ(
        logger.entries,
        (Lines{{0, L"DeleteFiles Start"},
               {5, L"DeleteFiles: GetAllSourceFileWithDestinationPaths failure Error=4321"}}));
}

TEST_F(FileSteps, VerifyIfFilesExistsPassesMatchingVersionsSilently) {
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", Source(L"a.dll")));
    ASSERT_TRUE(CopyFixture(L"noexport\\tolvane64.dll", first + L"\\a.dll"));
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", second + L"\\a.dll"));
    engine.files = {{L"a.dll", {first, second}}};
    bool allPresent = false;
    EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), 0u);
    EXPECT_TRUE(allPresent);
    EXPECT_TRUE(logger.entries.empty());
}

TEST_F(FileSteps, VerifyIfFilesExistsStopsAtAnotherFileVersion) {
    ASSERT_TRUE(CopyFixture(L"v2\\tolvane64.dll", Source(L"a.dll")));
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", first + L"\\a.dll"));
    engine.files = {{L"a.dll", {first}}, {L"b.dll", {first}}};  // b.dll is never looked at
    bool allPresent = true;
    EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), 0u);
    EXPECT_FALSE(allPresent);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifyIfFilesExists: Sourcefile " + first +
                                             L"\\a.dll version info is different"}}));
}

TEST_F(FileSteps, VerifyIfFilesExistsReportsAMissingFile) {
    engine.files = {{L"a.dll", {first}}};
    bool allPresent = true;
    EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), 0u);
    EXPECT_FALSE(allPresent);
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"VerifyIfFilesExists: File " + first + L"\\a.dll not found"}}));
}

TEST_F(FileSteps, VerifyIfFilesExistsCountsAFileWithoutResourceDataAsVerified) {
    ASSERT_TRUE(CopyFixture(L"version\\no_resource.dll", Source(L"a.dll")));
    ASSERT_TRUE(CopyFixture(L"version\\no_resource.dll", first + L"\\a.dll"));
    engine.files = {{L"a.dll", {first}}};
    bool allPresent = false;
    EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), 0u);
    EXPECT_TRUE(allPresent);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifyIfFilesExists: Sourcefile " + first +
                                             L"\\a.dll no resource data is available"}}));
}

TEST_F(FileSteps, VerifyIfFilesExistsChecksAFolderByTheVerificationNamesBesideIt) {
    // The names are looked for in the destination itself, not inside the deployed folder;
    // a mismatch ends that destination only.
    for (const std::wstring& folder : {first, second})
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\pack").c_str(), nullptr));
    ASSERT_TRUE(CopyFixture(L"v2\\tolvane64.dll", Source(L"x.dll")));
    ASSERT_TRUE(CopyFixture(L"v2\\tolvane.dll", Source(L"y.dll")));
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", first + L"\\x.dll"));  // y.dll missing too
    ASSERT_TRUE(CopyFixture(L"v1\\tolvane64.dll", second + L"\\x.dll"));
    engine.sourceFiles = {L"x.dll", L"y.dll"};
    engine.files = {{L"pack", {first, second}}, {L"z.dll", {first}}};

    bool allPresent = true;
    EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), 0u);
    EXPECT_FALSE(allPresent);
    EXPECT_EQ(logger.entries, (Lines{{0, L"VerifyIfFilesExists: Sourcefile " + first +
                                             L"\\x.dll version info is different"},
                                     {0, L"VerifyIfFilesExists: Sourcefile " + second +
                                             L"\\x.dll version info is different"}}));
}

TEST_F(FileSteps, VerifyIfFilesExistsReturnsFailuresWithTheirLines) {
    ASSERT_TRUE(CreateDirectoryW((first + L"\\pack").c_str(), nullptr));
    struct Case {
        FileCopyMap files;
        std::vector<std::wstring> sourceFiles;
        DWORD filesResult;
        DWORD sourceFilesResult;
        DWORD result;
        std::wstring line;
    };
    const Case cases[] = {
        {{},
         {},
         1234,
         0,
         1234,
         L"VerifyIfFilesExists: GetSourceFileWithDestinationPaths failure Error=1234"},
        {{{L"a?b", {first}}},
         {},
         0,
         0,
         123,
         L"VerifyIfFilesExists GetFileAttributes failure Error=123"},
        {{{L"pack", {first}}},
         {},
         0,
         4321,
         4321,
         L"VerifyIfFilesExists: GetSourceFilesForVerification failure Error=4321"},
        {{{L"pack", {first}}},
         {L"c?d"},
         0,
         0,
         123,
         L"VerifyIfFilesExists: DoesFileExists failure Error= 123, File '" + first + L"\\c?d'"},
    };
    for (const Case& c : cases) {
        logger.Clear();
        engine.files = c.files;
        engine.sourceFiles = c.sourceFiles;
        engine.filesResult = c.filesResult;
        engine.sourceFilesResult = c.sourceFilesResult;
        bool allPresent = false;
        EXPECT_EQ(engine.VerifyIfFilesExists({}, allPresent), c.result) << c.line.c_str();
        EXPECT_TRUE(allPresent) << c.line.c_str();
        EXPECT_EQ(logger.entries, (Lines{{5, c.line}}));
    }
}

TEST_F(FileSteps, CheckIfFileAccessibleLogsTheCodeAndSaysNo) {
    EXPECT_FALSE(engine.CheckIfFileAccessible(L"C:\\x\\y.ini", 5));
    EXPECT_EQ(logger.entries,
              (Lines{{5, L"CheckIfFileAccessible Sourcefile = C:\\x\\y.ini Error=5"}}));
}

TEST_F(FileSteps, AddLongPathPrefixPrefixesDrivePathsAndUncPaths) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\a.ini", L"\\\\?\\C:\\a.ini"},
        {L"\\\\srv\\s\\a.ini", L"\\\\?\\UNC\\srv\\s\\a.ini"},
        {L"\\\\?\\C:\\a.ini", L"\\\\?\\\\\\?\\C:\\a.ini"},  // not recognised: prefixed again
        {L"", L""},                                         // nothing to prefix
    };
    for (const auto& [path, prefixed] : cases) {
        std::wstring text = path;
        EXPECT_EQ(engine.AddLongPathPrefix(text), 0u);
        EXPECT_EQ(text, prefixed);
    }
    EXPECT_TRUE(logger.entries.empty());
}

TEST_F(FileSteps, InstallWithAMissingAddinFileReturns4WithoutLookingForTheApplication) {
    engine.sourceFiles = {L"tolvane.dll"};
    engine.applications = {L"C:\\Outlook"};
    EXPECT_EQ(engine.Install(), 4u);
    EXPECT_EQ(engine.Calls(L"GetInstalledApplicationList"), 0);
    EXPECT_EQ(
        logger.entries,
        (Lines{{0, L"VerifySource Start"},
               {5, L"VerifySource failureSourcefile = " + Source(L"tolvane.dll") + L" Error=2"},
               {5, L"Install: VerifySource failure. Error=2"}}));
}

TEST_F(FileSteps, InstallLogsAFailedCopyBeforeRollingBack) {
    WriteTextFile(Source(L"a.txt"), "a");
    engine.sourceFiles = {L"a.txt"};
    engine.applications = {L"C:\\Outlook"};
    engine.files = {{L"a.txt", {root / L"absent"}}};
    engine.comRequired = true;

    EXPECT_EQ(engine.Install(), 1u);
    const int copyFailure = logger.IndexOf(L"CopyFile: failure Error=3");
    ASSERT_GE(copyFailure, 0);
    EXPECT_EQ(logger.entries[copyFailure + 1],
              (LogEntry{5, L"Install: CopyFiles failure. Error=3"}));
    EXPECT_EQ(engine.Calls(L"GetFileNameForCOMRegistration"), 0);
}

class OutlookFileSteps : public OutlookPluginInstallationManager {
public:
    using OutlookPluginInstallationManager::installSourceDir;
};

TEST(OutlookFileSteps, DeploysVerifiesAndRemovesTheAddinOfTheDetectedBitness) {
    ScopedTempDir root;
    RecordingLogger logger;
    OutlookFileSteps engine;
    engine.Initialize(root.path(), &logger);
    ASSERT_TRUE(CreateDirectoryW(engine.installSourceDir.c_str(), nullptr));
    for (const wchar_t* file : {L"tolvane.dll", L"tolvane64.dll"})
        ASSERT_TRUE(
            CopyFixture(std::wstring(L"v2\\") + file, engine.installSourceDir + L"\\" + file));
    const ApplicationPathList outlook = {L"C:\\Program Files\\Microsoft Office\\Office15"};

    EXPECT_EQ(engine.VerifySource(), 0u);
    // No detection has run: the 32-bit add-in goes into the agent folder.
    EXPECT_EQ(engine.CopyFiles(outlook, false), 0u);
    const std::wstring deployed = root / L"tolvane.dll";
    EXPECT_TRUE(SameContents(deployed, FixturePath(L"v2\\tolvane.dll")));
    bool allPresent = false;
    EXPECT_EQ(engine.VerifyIfFilesExists(outlook, allPresent), 0u);
    EXPECT_TRUE(allPresent);

    ASSERT_TRUE(CopyFixture(L"v1\\tolvane.dll", deployed));
    EXPECT_EQ(engine.VerifyIfFilesExists(outlook, allPresent), 0u);
    EXPECT_FALSE(allPresent);
    EXPECT_EQ(engine.CopyFiles(outlook, true), 0u);
    EXPECT_TRUE(SameContents(deployed, FixturePath(L"v2\\tolvane.dll")));

    logger.Clear();
    EXPECT_EQ(engine.DeleteFiles(outlook), 0u);
    EXPECT_EQ(GetFileAttributesW(deployed.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(logger.Contains(0, L"DeleteFiles: failure, file path doesn't found, sourcefile= " +
                                       root.path() + L"\\tolvane64.dll"));
}

}  // namespace
