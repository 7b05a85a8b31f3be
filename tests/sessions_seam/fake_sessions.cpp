#include "fake_sessions.h"

#include "scoped_temp_dir.h"

namespace fake_sessions {
namespace {

World world;

std::wstring Event(const wchar_t* what, DWORD sessionId, bool failed = false) {
    return what + std::to_wstring(sessionId) + (failed ? L" failed" : L"");
}

}  // namespace

World& TheWorld() { return world; }

void Reset() { world = World(); }

bool AllTokensClosed() {
    for (const auto& entry : world.tokens) {
        DWORD flags = 0;
        if (GetHandleInformation(entry.first, &flags)) return false;
    }
    return true;
}

}  // namespace fake_sessions

namespace sys::Sessions {

using fake_sessions::world;

DWORD GetLoggedOnSessions(std::vector<SessionInfo>& sessions) {
    world.events.push_back(L"list");
    sessions.clear();
    if (world.listError) return world.listError;
    for (const fake_sessions::Session& session : world.sessions)
        sessions.push_back({session.id, session.state});
    return ERROR_SUCCESS;
}

// A real handle, so that the module's owner types can close it.
DWORD QueryUserToken(DWORD sessionId, UniqueKernelHandle& token) {
    for (const fake_sessions::Session& session : world.sessions) {
        if (session.id != sessionId) continue;
        if (session.tokenError) {
            world.events.push_back(fake_sessions::Event(L"token ", sessionId, true));
            return session.tokenError;
        }
        token.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        world.tokens[token.get()] = sessionId;
        world.events.push_back(fake_sessions::Event(L"token ", sessionId));
        return ERROR_SUCCESS;
    }
    return ERROR_NO_TOKEN;
}

Impersonation::~Impersonation() { Revert(); }

DWORD Impersonation::Revert() {
    if (!active_) return ERROR_SUCCESS;
    if (world.revertFailures > 0) {
        --world.revertFailures;
        world.events.push_back(L"revert failed");
        return world.revertError;
    }
    if (world.actingAs == world.privateOwner) {
        world.privateContents = ReadTextFile(world.privateFile);
        DeleteFileW(world.privateFile.c_str());
    }
    world.actingAs = fake_sessions::kNobody;
    world.events.push_back(L"self");
    active_ = false;
    return ERROR_SUCCESS;
}

DWORD Impersonate(HANDLE token, Impersonation& impersonation) {
    const DWORD sessionId = world.tokens.at(token);
    for (const fake_sessions::Session& session : world.sessions) {
        if (session.id != sessionId) continue;
        if (session.impersonateError) {
            world.events.push_back(fake_sessions::Event(L"as ", sessionId, true));
            return session.impersonateError;
        }
    }
    world.actingAs = sessionId;
    if (sessionId == world.privateOwner) WriteTextFile(world.privateFile, world.privateContents);
    world.events.push_back(fake_sessions::Event(L"as ", sessionId));
    impersonation.active_ = true;
    return ERROR_SUCCESS;
}

bool IsThreadImpersonating() { return world.actingAs != fake_sessions::kNobody; }

}  // namespace sys::Sessions
