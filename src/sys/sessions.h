// Terminal-services sessions, the users logged on to them, and acting as such a user.
// Everything the INI steps need from a logged-on user's identity goes through here.
#pragma once

#include "sys/handles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace sys::Sessions {

struct SessionInfo {
    DWORD SessionId = 0;
    DWORD State = 0;  // WTS_CONNECTSTATE_CLASS; 0 is WTSActive
};
constexpr DWORD kSessionActive = 0;

// Every session, whatever its state; falls back to the console session when the
// enumeration fails.
DWORD GetLoggedOnSessions(std::vector<SessionInfo>& sessions);
DWORD GetSessionUserName(DWORD sessionId, std::wstring& domain, std::wstring& userName);

// The primary token of the user logged on to the session (needs the service account).
DWORD QueryUserToken(DWORD sessionId, UniqueKernelHandle& token);

// The calling thread acts as a user until Revert() or destruction. A thread that cannot
// return to its own identity must not go on working: Revert() reports that.
// Not movable: it stands for the state of the thread that made it.
class Impersonation {
public:
    Impersonation() = default;
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;
    ~Impersonation();

    // 0, or the code of RevertToSelf when the thread is still someone else.
    DWORD Revert();

private:
    friend DWORD Impersonate(HANDLE token, Impersonation& impersonation);
    bool active_ = false;
};

DWORD Impersonate(HANDLE token, Impersonation& impersonation);

// Whether the calling thread acts as someone other than the process, for example after a
// RevertToSelf that failed.
bool IsThreadImpersonating();

}  // namespace sys::Sessions
