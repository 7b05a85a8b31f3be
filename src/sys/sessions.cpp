#include "sys/sessions.h"

#include <wtsapi32.h>

namespace sys::Sessions {
namespace {

constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
constexpr DWORD kEnumerationVersion = 1;

}  // namespace

DWORD GetLoggedOnSessions(std::vector<SessionInfo>& sessions) {
    sessions.clear();
    WTS_SESSION_INFOW* info = nullptr;
    DWORD count = 0;
    if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, kEnumerationVersion, &info, &count)) {
        const UniqueWtsMemory owner(info);
        for (DWORD i = 0; i < count; ++i)
            sessions.push_back({info[i].SessionId, static_cast<DWORD>(info[i].State)});
        return ERROR_SUCCESS;
    }

    // Without the terminal services, the user at the console is the one we can know of.
    const DWORD enumerationError = GetLastError();
    const DWORD console = WTSGetActiveConsoleSessionId();
    if (console == kNoConsoleSession) return enumerationError;
    std::wstring domain;
    std::wstring userName;
    const DWORD r = GetSessionUserName(console, domain, userName);
    if (r == ERROR_SUCCESS && !domain.empty() && !userName.empty())
        sessions.push_back({console, kSessionActive});
    return r;
}

DWORD GetSessionUserName(DWORD sessionId, std::wstring& domain, std::wstring& userName) {
    UniqueKernelHandle token;
    if (DWORD r = QueryUserToken(sessionId, token)) return r;

    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return ERROR_SUCCESS;
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return GetLastError();
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;

    DWORD nameLength = 0;
    DWORD domainLength = 0;
    SID_NAME_USE use{};
    LookupAccountSidW(nullptr, sid, nullptr, &nameLength, nullptr, &domainLength, &use);
    std::vector<wchar_t> name(nameLength);
    std::vector<wchar_t> domainName(domainLength);
    if (!LookupAccountSidW(nullptr, sid, nameLength ? name.data() : nullptr, &nameLength,
                           domainLength ? domainName.data() : nullptr, &domainLength, &use))
        return GetLastError();
    domain.assign(domainName.data(), domainLength);
    userName.assign(name.data(), nameLength);
    return ERROR_SUCCESS;
}

DWORD QueryUserToken(DWORD sessionId, UniqueKernelHandle& token) {
    HANDLE userToken = nullptr;
    if (!WTSQueryUserToken(sessionId, &userToken)) return GetLastError();
    token.reset(userToken);
    return ERROR_SUCCESS;
}

Impersonation::~Impersonation() { Revert(); }

DWORD Impersonation::Revert() {
    if (!active_) return ERROR_SUCCESS;
    if (!RevertToSelf()) return GetLastError();
    active_ = false;
    return ERROR_SUCCESS;
}

DWORD Impersonate(HANDLE token, Impersonation& impersonation) {
    if (!ImpersonateLoggedOnUser(token)) return GetLastError();
    impersonation.active_ = true;
    return ERROR_SUCCESS;
}

bool IsThreadImpersonating() {
    UniqueKernelHandle threadToken;
    // Asked as the process, so that whoever the thread acts as cannot hide it.
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, threadToken.put())) return true;
    return GetLastError() != ERROR_NO_TOKEN;
}

}  // namespace sys::Sessions
