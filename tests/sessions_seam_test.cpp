// The INI steps' search for an account that can see an INI file, against a sessions module
// linked in place of the real one: who is logged on, whose token can be had, who can be
// impersonated, whether the thread comes back, and which user alone sees the file.
#include "machine.h"
#include "sys/sessions.h"
#include "test_profile.h"

#include <map>

namespace {

constexpr DWORD kNobody = 0xFFFFFFFF;

struct Session {
    DWORD id, state = sys::Sessions::kSessionActive, tokenError = 0;
};

// What the fake module works on. The private file exists only while its owner is
// impersonated; its bytes are kept here in between.
struct World {
    std::vector<Session> sessions;
    DWORD listError = 0;
    int revertFailures = 0;  // so many RevertToSelf calls fail with 5
    std::wstring privateFile;
    DWORD owner = kNobody;
    std::string privateBytes;
    std::wstring events;  // "list", "token 2", "token 2 failed", "as 2", "self", "revert failed"
    DWORD actingAs = kNobody;
    std::map<HANDLE, DWORD> tokens;
} world;

void Event(const std::wstring& what) { world.events += (world.events.empty() ? L"" : L", ") + what; }

}  // namespace

namespace sys::Sessions {

DWORD GetLoggedOnSessions(std::vector<SessionInfo>& sessions) {
    Event(L"list");
    sessions.clear();
    for (const Session& session : world.sessions) sessions.push_back({session.id, session.state});
    return world.listError;
}

// A real handle, so that the module's owner types close it.
DWORD QueryUserToken(DWORD sessionId, UniqueKernelHandle& token) {
    for (const Session& session : world.sessions) {
        if (session.id != sessionId) continue;
        Event(L"token " + std::to_wstring(sessionId) + (session.tokenError ? L" failed" : L""));
        if (session.tokenError) return session.tokenError;
        token.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        world.tokens[token.get()] = sessionId;
    }
    return token ? ERROR_SUCCESS : ERROR_NO_TOKEN;
}

Impersonation::~Impersonation() { Revert(); }

DWORD Impersonation::Revert() {
    if (!active_) return ERROR_SUCCESS;
    if (world.revertFailures > 0) {
        --world.revertFailures;
        Event(L"revert failed");
        return ERROR_ACCESS_DENIED;
    }
    if (world.actingAs == world.owner) {
        world.privateBytes = ReadFileBytes(world.privateFile);
        DeleteFileW(world.privateFile.c_str());
    }
    world.actingAs = kNobody;
    Event(L"self");
    active_ = false;
    return ERROR_SUCCESS;
}

DWORD Impersonate(HANDLE token, Impersonation& impersonation) {
    world.actingAs = world.tokens.at(token);
    if (world.actingAs == world.owner) WriteFileBytes(world.privateFile, world.privateBytes);
    Event(L"as " + std::to_wstring(world.actingAs));
    impersonation.active_ = true;
    return ERROR_SUCCESS;
}

bool IsThreadImpersonating() { return world.actingAs != kNobody; }

}  // namespace sys::Sessions

namespace {

std::string IniText(const std::string& list) { return "[Extensions]\r\nAddinManagers=" + list + "\r\n"; }

struct Case {
    const char* name;  // of its transcript, which ends with what the sessions module saw
    std::function<void(World&)> setup;
    std::string step;  // "add", "verify", "remove" or "install"
};

const Case kCases[] = {
    {"seam-second-user", [](World& w) { w.sessions = {{1}, {2}, {3}}; w.owner = 2; }, "add"},
    {"seam-verify-missing", [](World& w) { w.sessions = {{1}, {2}}; w.owner = 2; }, "verify"},
    {"seam-remove", [](World& w) { w.sessions = {{1}}; w.owner = 1; w.privateBytes = IniText("x,tolvane"); }, "remove"},
    {"seam-nobody", [](World&) {}, "add"},
    {"seam-no-session-list", [](World& w) { w.listError = RPC_S_SERVER_UNAVAILABLE; }, "add"},
    {"seam-inactive", [](World& w) { w.sessions = {{1, 1}, {2, 4}, {3}}; w.owner = 3; }, "add"},
    {"seam-no-token", [](World& w) { w.sessions = {{1, 0, ERROR_NO_TOKEN}, {2}}; w.owner = 2; }, "add"},
    // A thread that cannot come back as itself touches no other session and no other file,
    // and the procedure neither rolls back nor removes anything as that user.
    {"seam-revert-fails", [](World& w) { w.sessions = {{1}, {2}}; w.owner = 2; w.revertFailures = 1000; }, "add"},
    {"seam-revert-fails-once", [](World& w) { w.sessions = {{1}, {2}}; w.owner = 2; w.revertFailures = 1; }, "add"},
    {"seam-stuck-install", [](World& w) { w.sessions = {{1}}; w.revertFailures = 1000; }, "install"},
};

class SessionsSeam : public ::testing::TestWithParam<Case> {};

TEST_P(SessionsSeam, FindsTheUserWhoSeesTheFile) {
    const Case& c = GetParam();
    const std::wstring folder = L"C:\\Agent\\Seam", shared = folder + L"\\shared.ini";
    world = World();
    world.privateFile = folder + L"\\private.ini";
    world.privateBytes = IniText("x");
    c.setup(world);
    Transcript log;
    TestProfile p(folder, log, {world.privateFile, shared});
    WriteFileBytes(shared, IniText("x"));
    p.applications = {L"C:\\App"};
    bool ok = true;
    INIFileEntryInfo filled;
    std::vector<std::wstring> itemLeftIn;
    const DWORD result = c.step == "add" ? p.AddEntryToINIFile(filled)
                         : c.step == "verify" ? p.VerifyIniSettings(ok)
                         : c.step == "remove" ? p.RemoveEntryFromINIFile(itemLeftIn)
                                              : p.Install();
    const std::string list = world.privateBytes.substr(world.privateBytes.find('=') + 1);
    log.lines.push_back(L"result " + std::to_wstring(result) + (ok ? L"" : L", needs repair"));
    log.lines.push_back(L"sessions: " + world.events);
    log.lines.push_back(L"private.ini: " + std::wstring(list.begin(), list.end() - 2));  // without "\r\n"
    ExpectTranscript(c.name, log.lines, folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionsSeam, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return CaseName(info.param.name); });

}  // namespace
