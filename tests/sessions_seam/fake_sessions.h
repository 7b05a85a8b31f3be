// A sessions module for tests, linked in place of the real one. Each test says which
// sessions exist, which tokens can be had, whether the thread can become a user and come
// back, and which user alone sees a private INI file; the fake records every identity
// change of the thread.
#pragma once

#include "sys/sessions.h"

#include <map>
#include <string>
#include <vector>

namespace fake_sessions {

constexpr DWORD kNobody = 0xFFFFFFFF;

struct Session {
    DWORD id = 0;
    DWORD state = sys::Sessions::kSessionActive;
    DWORD tokenError = 0;        // QueryUserToken fails with this code
    DWORD impersonateError = 0;  // Impersonate fails with this code
};

struct World {
    std::vector<Session> sessions;
    DWORD listError = 0;  // GetLoggedOnSessions fails with this code

    // The next revertFailures calls of RevertToSelf fail with revertError.
    int revertFailures = 0;
    DWORD revertError = ERROR_ACCESS_DENIED;

    // privateFile exists only while privateOwner is impersonated; its bytes are kept here
    // in between.
    std::wstring privateFile;
    DWORD privateOwner = kNobody;
    std::string privateContents;

    // In order: L"list", L"token 2", L"token 2 failed", L"as 2", L"as 2 failed", L"self",
    // L"revert failed".
    std::vector<std::wstring> events;
    DWORD actingAs = kNobody;             // kNobody: the thread is itself
    std::map<HANDLE, DWORD> tokens;       // every token handed out, with its session
};

// The one world the fake module works in; a test resets it before it starts.
World& TheWorld();
void Reset();

// Whether every token handed out has been closed.
bool AllTokensClosed();

}  // namespace fake_sessions
