// Terminal-services sessions and the users logged on to them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sys::Sessions {

struct SessionInfo {
    DWORD SessionId = 0;
    DWORD State = 0;  // WTS_CONNECTSTATE_CLASS; 0 is WTSActive
};

// Every session, whatever its state; falls back to the console session when the
// enumeration fails.
DWORD GetLoggedOnSessions(std::vector<SessionInfo>& sessions);
DWORD GetSessionUserName(DWORD sessionId, std::wstring& domain, std::wstring& userName);

}  // namespace sys::Sessions
