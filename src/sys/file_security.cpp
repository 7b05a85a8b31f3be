#include "sys/file_security.h"

#include "sys/handles.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace sys::FileSecurity {
namespace {

constexpr const wchar_t* kTrustedInstallerSid =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr DWORD kAccountNameCapacity = 256;

// The rights that let an account put code where it is loaded from: write or append to a
// file (create files or folders in a folder), or change who may.
struct Right {
    ACCESS_MASK mask;
    const wchar_t* name;
};
constexpr Right kWriteRights[] = {
    {GENERIC_ALL, L"full control"},
    {GENERIC_WRITE, L"write"},
    {FILE_WRITE_DATA, L"write"},
    {FILE_APPEND_DATA, L"append"},
    {WRITE_DAC, L"change-permission"},
    {WRITE_OWNER, L"take-ownership"},
};

std::wstring RightsText(ACCESS_MASK mask) {
    std::wstring text;
    for (const Right& right : kWriteRights) {
        if (!(mask & right.mask) || text.find(right.name) != std::wstring::npos) continue;
        text += (text.empty() ? L"" : L", ") + std::wstring(right.name);
    }
    return text;
}

ACCESS_MASK WriteMask() {
    ACCESS_MASK mask = 0;
    for (const Right& right : kWriteRights) mask |= right.mask;
    return mask;
}

std::wstring AccountName(PSID sid) {
    wchar_t name[kAccountNameCapacity];
    wchar_t domain[kAccountNameCapacity];
    DWORD nameLength = kAccountNameCapacity;
    DWORD domainLength = kAccountNameCapacity;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return domainLength ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) return L"an unknown account";
    const UniqueLocalMemory owned(text);
    return text;
}

// The account of the thread's token, or of the process's when it impersonates nobody.
DWORD CurrentUser(std::vector<BYTE>& user) {
    UniqueKernelHandle token;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (::GetLastError() != ERROR_NO_TOKEN) return ::GetLastError();
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return ::GetLastError();
    }
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return ::GetLastError();
    user.assign(size, 0);
    if (!::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return ::GetLastError();
    return ERROR_SUCCESS;
}

bool IsTrusted(PSID sid, PSID currentUser) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        ::EqualSid(sid, currentUser))
        return true;
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) return false;
    const UniqueLocalMemory owned(text);
    return std::wstring(text) == kTrustedInstallerSid;
}

}  // namespace

DWORD FindUntrustedWriter(const std::wstring& path, Writer& writer) {
    std::vector<BYTE> user;
    if (const DWORD r = CurrentUser(user)) return r;
    const PSID currentUser = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                               nullptr, &dacl, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return read;
    const UniqueLocalMemory owned(descriptor);

    Writer found;
    if (!dacl) {  // no DACL: everyone may do everything
        found = {L"Everyone", RightsText(GENERIC_ALL)};
    } else if (owner && !IsTrusted(owner, currentUser)) {
        found = {AccountName(owner), L"change-permission (owner)"};
    } else {
        for (DWORD index = 0; index < dacl->AceCount && found.account.empty(); ++index) {
            ACE_HEADER* header = nullptr;
            if (!::GetAce(dacl, index, reinterpret_cast<void**>(&header))) return ::GetLastError();
            // Only what applies to the object itself; a deny never makes a place unsafe.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
            const auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            const PSID sid = const_cast<DWORD*>(&ace->SidStart);
            if (!(ace->Mask & WriteMask()) || IsTrusted(sid, currentUser)) continue;
            found = {AccountName(sid), RightsText(ace->Mask)};
        }
    }
    writer = std::move(found);
    return ERROR_SUCCESS;
}

std::wstring WhoMayChange(const std::wstring& place, const Writer& writer) {
    return writer.account + L" may change " + place + L" (" + writer.rights + L")";
}

}  // namespace sys::FileSecurity
