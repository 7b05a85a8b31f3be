// The sessions module against Wine, which has no terminal services to speak of: its session
// list is empty, and it hands every session the process's own token.
#include "sys/sessions.h"

#include <gtest/gtest.h>

namespace {

namespace sessions = sys::Sessions;

std::wstring ProcessUserName() {
    wchar_t name[256];
    DWORD size = 256;
    GetUserNameW(name, &size);
    return name;
}

TEST(Sessions, WineListsNoSessionAndEmptiesTheList) {
    std::vector<sessions::SessionInfo> list{{7, 4}};
    EXPECT_EQ(sessions::GetLoggedOnSessions(list), 0u);
    EXPECT_TRUE(list.empty());
}

TEST(Sessions, WineNamesTheProcessUserForAnySession) {
    for (DWORD sessionId : {0u, 1u, 5u}) {
        SCOPED_TRACE(sessionId);
        std::wstring domain = L"unchanged";
        std::wstring userName = L"unchanged";
        EXPECT_EQ(sessions::GetSessionUserName(sessionId, domain, userName), 0u);
        EXPECT_EQ(userName, ProcessUserName());
        EXPECT_FALSE(domain.empty());
        EXPECT_NE(domain, L"unchanged");
    }
}

TEST(Sessions, ImpersonationLastsUntilRevertAndRevertsOnce) {
    sys::UniqueKernelHandle token;
    ASSERT_EQ(sessions::QueryUserToken(1, token), 0u);
    ASSERT_TRUE(token);
    ASSERT_FALSE(sessions::IsThreadImpersonating());

    sessions::Impersonation impersonation;
    EXPECT_EQ(sessions::Impersonate(token.get(), impersonation), 0u);
    EXPECT_TRUE(sessions::IsThreadImpersonating());
    EXPECT_EQ(impersonation.Revert(), 0u);
    EXPECT_FALSE(sessions::IsThreadImpersonating());
    EXPECT_EQ(impersonation.Revert(), 0u);  // nothing left to revert
}

TEST(Sessions, ImpersonationRevertsWhenItGoesOutOfScope) {
    sys::UniqueKernelHandle token;
    ASSERT_EQ(sessions::QueryUserToken(1, token), 0u);
    {
        sessions::Impersonation impersonation;
        ASSERT_EQ(sessions::Impersonate(token.get(), impersonation), 0u);
        ASSERT_TRUE(sessions::IsThreadImpersonating());
    }
    EXPECT_FALSE(sessions::IsThreadImpersonating());
}

TEST(Sessions, ImpersonatingWithABadTokenFailsAndLeavesTheThreadAlone) {
    sessions::Impersonation impersonation;
    EXPECT_EQ(sessions::Impersonate(reinterpret_cast<HANDLE>(0x1234), impersonation),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(sessions::IsThreadImpersonating());
    EXPECT_EQ(impersonation.Revert(), 0u);
}

}  // namespace
