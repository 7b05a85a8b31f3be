// The INI steps' search for an account that can see an INI file, with the fake sessions
// module: who is logged on, whose token can be had, who can be impersonated, and which user
// alone sees the file.
#include "fake_sessions.h"

#include "file_state.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using fake_sessions::kNobody;
using fake_sessions::TheWorld;
using Events = std::vector<std::wstring>;

constexpr DWORD kConnected = 1;
constexpr DWORD kDisconnected = 4;
const std::wstring kEntryText = L" Extensions AddinManagers=tolvane";

std::string IniText(const std::string& list) {
    return "[Extensions]\r\nAddinManagers=" + list + "\r\n";
}

LogEntry NotAccessible(const std::wstring& path) {
    return {5, L"CheckIfFileAccessible Sourcefile = \\\\?\\" + path + L" Error=0"};
}

class ImpersonationLoop : public ::testing::Test {
protected:
    ImpersonationLoop() {
        fake_sessions::Reset();
        engine.Initialize(dir.path(), &logger);
        engine.iniRequired = true;
        engine.iniEntry.section = L"Extensions";
        engine.iniEntry.key = L"AddinManagers";
        engine.iniEntry.value = L"tolvane";
        engine.iniEntry.separator = L",";
        engine.iniEntry.iniFilePaths = {privateFile};
        TheWorld().privateFile = privateFile;
        TheWorld().privateContents = IniText("x");
    }
    ~ImpersonationLoop() override { fake_sessions::Reset(); }

    // Whatever happened, the thread is itself again and holds no token.
    void TearDown() override {
        EXPECT_EQ(TheWorld().actingAs, kNobody);
        EXPECT_TRUE(fake_sessions::AllTokensClosed());
        EXPECT_FALSE(std::filesystem::exists(privateFile));
    }

    DWORD Add() {
        INIFileEntryInfo filled;
        return engine.AddEntryToINIFile(filled);
    }
    // The list in the private file as its owner last left it.
    std::string PrivateList() const {
        const std::string text = TheWorld().privateContents;
        const std::string key = "AddinManagers=";
        const auto start = text.find(key) + key.size();
        return text.substr(start, text.find('\r', start) - start);
    }

    ScopedTempDir dir;
    const std::wstring privateFile = dir / L"private.ini";
    RecordingLogger logger;
    TestProfile engine;
};

TEST_F(ImpersonationLoop, AFileTheServiceSeesIsEditedWithoutLookingAtSessions) {
    const std::wstring shared = dir / L"shared.ini";
    WriteTextFile(shared, IniText("x"));
    engine.iniEntry.iniFilePaths = {shared};
    TheWorld().sessions = {{1}};
    TheWorld().privateOwner = 1;

    EXPECT_EQ(Add(), 0u);
    EXPECT_EQ(StoredIniText(shared, "AddinManagers"), "x,tolvane");
    EXPECT_EQ(TheWorld().events, Events{});
}

// The service and the first user each log that they cannot see the file; the second edits
// it; the third is never asked.
TEST_F(ImpersonationLoop, OnlyTheSecondActiveUserSeesTheFile) {
    struct Case {
        const char* name;
        std::string listBefore;
        DWORD (*run)(TestProfile&, bool& settingsOk);
        std::string listAfter;
        bool settingsOk;
    };
    const Case cases[] = {
        {"add", "x",
         [](TestProfile& e, bool&) {
             INIFileEntryInfo filled;
             return e.AddEntryToINIFile(filled);
         },
         "x,tolvane", true},
        {"remove", "x,tolvane", [](TestProfile& e, bool&) { return e.RemoveEntryFromINIFile(); },
         "x", true},
        {"verify", "x,tolvane", [](TestProfile& e, bool& ok) { return e.VerifyIniSettings(ok); },
         "x,tolvane", true},
        {"verify missing", "x", [](TestProfile& e, bool& ok) { return e.VerifyIniSettings(ok); },
         "x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_sessions::Reset();
        logger.Clear();
        TheWorld().sessions = {{1}, {2}, {3}};
        TheWorld().privateFile = privateFile;
        TheWorld().privateOwner = 2;
        TheWorld().privateContents = IniText(c.listBefore);

        bool settingsOk = true;
        EXPECT_EQ(c.run(engine, settingsOk), 0u);
        EXPECT_EQ(PrivateList(), c.listAfter);
        EXPECT_EQ(settingsOk, c.settingsOk);
        EXPECT_EQ(TheWorld().events,
                  (Events{L"list", L"token 1", L"as 1", L"self", L"token 2", L"as 2", L"self"}));
        EXPECT_EQ(logger.TextsAt(kLogError),
                  (std::vector<std::wstring>{NotAccessible(privateFile).text,
                                             NotAccessible(privateFile).text}));
        EXPECT_EQ(TheWorld().actingAs, kNobody);
        EXPECT_TRUE(fake_sessions::AllTokensClosed());
    }
}

TEST_F(ImpersonationLoop, WithNobodyLoggedOnTheFileIsLeftAndVerifiesAsMissing) {
    EXPECT_EQ(Add(), 0u);
    EXPECT_EQ(logger.entries, (std::vector<LogEntry>{
                                  {0, L"AddEntryToINIFile Start"},
                                  {0, L"Adding INI entry:" + privateFile + kEntryText},
                                  NotAccessible(privateFile),
                                  {0, L"AddEntryToINIFile End"},
                              }));
    EXPECT_EQ(PrivateList(), "x");

    logger.Clear();
    bool settingsOk = true;
    EXPECT_EQ(engine.VerifyIniSettings(settingsOk), 0u);
    EXPECT_FALSE(settingsOk);
    EXPECT_EQ(logger.entries.back(),
              (LogEntry{0, L"No value tolvanefound for Path= " + privateFile}));
    EXPECT_EQ(TheWorld().events, (Events{L"list", L"list"}));
}

TEST_F(ImpersonationLoop, AnUnavailableSessionListIsLoggedAndIsNoFailure) {
    TheWorld().listError = RPC_S_SERVER_UNAVAILABLE;
    EXPECT_EQ(Add(), 0u);
    EXPECT_EQ(logger.entries,
              (std::vector<LogEntry>{
                  {0, L"AddEntryToINIFile Start"},
                  {0, L"Adding INI entry:" + privateFile + kEntryText},
                  NotAccessible(privateFile),
                  {3, L"UpdateINILotusExtension: No Logged on users found Error=1722"},
                  {0, L"AddEntryToINIFile End"},
              }));
}

TEST_F(ImpersonationLoop, SessionsThatAreNotActiveAreSkipped) {
    TheWorld().sessions = {{1, kConnected}, {2, kDisconnected}, {3}};
    TheWorld().privateOwner = 3;
    EXPECT_EQ(Add(), 0u);
    EXPECT_EQ(TheWorld().events, (Events{L"list", L"token 3", L"as 3", L"self"}));
    EXPECT_EQ(PrivateList(), "x,tolvane");
}

TEST_F(ImpersonationLoop, AUserWhoseTokenOrIdentityCannotBeHadIsPassedOver) {
    struct Case {
        const char* name;
        fake_sessions::Session first;
        Events events;
    };
    const Case cases[] = {
        {"no token", {1, 0, ERROR_NO_TOKEN, 0},
         {L"list", L"token 1 failed", L"token 2", L"as 2", L"self"}},
        {"no impersonation", {1, 0, 0, ERROR_BAD_IMPERSONATION_LEVEL},
         {L"list", L"token 1", L"as 1 failed", L"token 2", L"as 2", L"self"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_sessions::Reset();
        logger.Clear();
        TheWorld().sessions = {c.first, {2}};
        TheWorld().privateFile = privateFile;
        TheWorld().privateOwner = 2;
        TheWorld().privateContents = IniText("x");

        EXPECT_EQ(Add(), 0u);
        EXPECT_EQ(TheWorld().events, c.events);
        EXPECT_EQ(PrivateList(), "x,tolvane");
        // Only the service's own try is logged: the first user never looked.
        EXPECT_EQ(logger.TextsAt(kLogError),
                  std::vector<std::wstring>{NotAccessible(privateFile).text});
        EXPECT_TRUE(fake_sessions::AllTokensClosed());
    }
}

// A thread that cannot come back as itself does nothing more: no other session, no other file.
TEST_F(ImpersonationLoop, AFailedRevertStopsTheStep) {
    const std::wstring shared = dir / L"shared.ini";
    struct Case {
        const char* name;
        std::string sharedList;
        DWORD (*run)(TestProfile&);
        const wchar_t* stepLine;
        const wchar_t* failureLine;
    };
    const Case cases[] = {
        {"add", "x",
         [](TestProfile& e) {
             INIFileEntryInfo filled;
             return e.AddEntryToINIFile(filled);
         },
         L"Adding INI entry:", L"AddEntryToINIFile: UpdateINILotusExtension failure Error=5"},
        // Removal takes the files in code order: private.ini before shared.ini.
        {"remove", "x,tolvane", [](TestProfile& e) { return e.RemoveEntryFromINIFile(); },
         L"Removing INI entry:", L"RemoveEntryFromINIFile: UpdateINILotusExtension failure Error=5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_sessions::Reset();
        logger.Clear();
        TheWorld().sessions = {{1}, {2}};
        TheWorld().privateFile = privateFile;
        TheWorld().privateOwner = 2;
        TheWorld().privateContents = IniText("x");
        TheWorld().revertFailures = 1000;
        WriteTextFile(shared, IniText(c.sharedList));
        engine.iniEntry.iniFilePaths = {privateFile, shared};

        EXPECT_EQ(c.run(engine), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        const std::vector<LogEntry> tail(logger.entries.begin() + 1, logger.entries.end());
        EXPECT_EQ(tail, (std::vector<LogEntry>{
                            {0, c.stepLine + privateFile + kEntryText},
                            NotAccessible(privateFile),
                            NotAccessible(privateFile),
                            {5, L"UpdateINILotusExtension: RevertToSelf failure Error=5"},
                            {5, c.failureLine},
                        }));
        EXPECT_EQ(TheWorld().events,
                  (Events{L"list", L"token 1", L"as 1", L"revert failed", L"revert failed"}));
        EXPECT_EQ(TheWorld().actingAs, 1u);
        EXPECT_EQ(StoredIniText(shared, "AddinManagers"), c.sharedList);
        EXPECT_TRUE(fake_sessions::AllTokensClosed());
    }
    fake_sessions::Reset();  // the stuck thread is not the fixture's concern
}

// The owner reverts again as it goes; once the thread is itself, the next file is worked on.
TEST_F(ImpersonationLoop, AFileWhoseRevertFailedIsAbandonedButTheStepGoesOnOnceReverted) {
    const std::wstring shared = dir / L"shared.ini";
    WriteTextFile(shared, IniText("x"));
    engine.iniEntry.iniFilePaths = {privateFile, shared};
    TheWorld().sessions = {{1}, {2}};
    TheWorld().privateOwner = 2;
    TheWorld().revertFailures = 1;

    EXPECT_EQ(Add(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(TheWorld().events, (Events{L"list", L"token 1", L"as 1", L"revert failed", L"self"}));
    EXPECT_EQ(PrivateList(), "x");
    EXPECT_EQ(StoredIniText(shared, "AddinManagers"), "x,tolvane");
    EXPECT_EQ(logger.entries.back(), (LogEntry{0, L"AddEntryToINIFile End"}));
}

// The procedures stop too: nothing is rolled back or removed as the user left behind.
TEST_F(ImpersonationLoop, AThreadStuckAsAUserEndsTheProcedure) {
    std::filesystem::create_directories(engine.installSourceDir);
    WriteTextFile(engine.installSourceDir + L"\\addin.txt", "add-in");
    engine.sourceFiles = {L"addin.txt"};
    engine.applications = {L"C:\\App"};
    TheWorld().sessions = {{1}};
    TheWorld().revertFailures = 1000;

    EXPECT_EQ(engine.Install(), 1u);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"Install: AddEntryToINIFile failure. Error=5"}));
    EXPECT_EQ(logger.IndexOf(L"DeleteFiles Start"), -1);

    logger.Clear();
    EXPECT_EQ(engine.CleanUp(true), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"CleanUp: RemoveFromINIFile failure Error=5"}));
    EXPECT_EQ(engine.Calls(L"GetAllSourceFileWithDestinationPaths"), 0);
    fake_sessions::Reset();  // the stuck thread is not the fixture's concern
}

}  // namespace
