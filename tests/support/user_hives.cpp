#include "user_hives.h"

#include "sys/handles.h"

#include <gtest/gtest.h>

namespace {

// After the prefix's own user "S-1-5-21-0-0-0-1000" in Wine's alphabetical listing.
constexpr const wchar_t* kHiveNamePrefix = L"S-1-5-21-4242-4242-4242-100";
constexpr const wchar_t* kWow6432Node = L"SOFTWARE\\Wow6432Node";

sys::UniqueKey CreateRawKey(const std::wstring& path, DWORD view) {
    sys::UniqueKey key;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_USERS, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
              ERROR_SUCCESS)
        << "creating a test hive key failed";
    return key;
}

}  // namespace

ScopedUserHives::ScopedUserHives(size_t count) {
    EXPECT_LE(count, 9u) << "hive names have one digit";
    for (size_t i = 1; i <= count; ++i) {
        names_.push_back(kHiveNamePrefix + std::to_wstring(i));
        CreateRawKey(names_.back(), 0);
    }
}

ScopedUserHives::~ScopedUserHives() {
    // From HKEY_USERS itself the tree goes in both views, Wow6432Node included.
    for (const std::wstring& name : names_)
        EXPECT_EQ(::RegDeleteTreeW(HKEY_USERS, name.c_str()), ERROR_SUCCESS) << "removing a test hive failed";
}

std::wstring ScopedUserHives::Path(size_t hive, const std::wstring& keyPath) const {
    return names_[hive] + L"\\" + keyPath;
}

void ScopedUserHives::SeparateViews(size_t hive) const { CreateKey(hive, kWow6432Node, KEY_WOW64_64KEY); }

void ScopedUserHives::CreateKey(size_t hive, const std::wstring& keyPath, DWORD view) const {
    CreateRawKey(Path(hive, keyPath), view);
}

void ScopedUserHives::SetRaw(size_t hive, const std::wstring& keyPath, const std::wstring& name,
                             DWORD type, const std::vector<BYTE>& data, DWORD view) const {
    const sys::UniqueKey key = CreateRawKey(Path(hive, keyPath), view);
    EXPECT_EQ(::RegSetValueExW(key.get(), name.c_str(), 0, type, data.data(),
                               static_cast<DWORD>(data.size())),
              ERROR_SUCCESS)
        << "setting up a test value failed";
}

void ScopedUserHives::SetDword(size_t hive, const std::wstring& keyPath, const std::wstring& name,
                               DWORD number, DWORD view) const {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
    SetRaw(hive, keyPath, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(number)), view);
}

void ScopedUserHives::DenyChanges(size_t hive, const std::wstring& keyPath, DWORD view) const {
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(everyone);
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize));
    alignas(DWORD) BYTE aclBuffer[128];
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    ASSERT_TRUE(::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION));
    ASSERT_TRUE(::AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));

    sys::UniqueKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_USERS, Path(hive, keyPath).c_str(), 0, WRITE_DAC | view, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  &descriptor),
              ERROR_SUCCESS);
}
