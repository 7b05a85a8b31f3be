#include "faults.h"

#include "broker_registration.h"
#include "registry_fixture.h"
#include "scoped_temp_dir.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace {

constexpr wchar_t kBrokerCopyName[] = L"ComRegistrationBroker.exe";
constexpr wchar_t kBrokerServerKey[] =
    L"SOFTWARE\\Classes\\CLSID\\{2F4C9A17-6B3E-4D85-A1C0-93E7B52D8F46}\\LocalServer32";
constexpr wchar_t kCrashingProgram[] = L"crashing_server.exe";

sys::UniqueKey OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
    sys::UniqueKey key;
    ::RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
    return key;
}

DWORD RunProgram(const std::wstring& program, const wchar_t* option) {
    std::wstring command = L"\"" + program + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return ::GetLastError();
    const sys::UniqueKernelHandle processHandle(process.hProcess);
    const sys::UniqueKernelHandle threadHandle(process.hThread);
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(processHandle.get(), &exitCode);
    return exitCode;
}

}  // namespace

ScopedExclusiveOpen::ScopedExclusiveOpen(const std::wstring& path)
    : file_(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

ScopedLoadedDll::ScopedLoadedDll(const std::wstring& path) : module_(::LoadLibraryW(path.c_str())) {}

ScopedKeyAccess::ScopedKeyAccess(HKEY root, std::wstring path, DWORD view, REGSAM access)
    : root_(root), path_(std::move(path)), view_(view) {
    const sys::UniqueKey key = OpenKey(root_, path_, READ_CONTROL | WRITE_DAC | view_);
    EXPECT_TRUE(key) << "opening a key to change its security failed";
    if (!key) return;
    DWORD size = 0;
    ::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    original_.resize(size);
    if (::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, original_.data(), &size) !=
        ERROR_SUCCESS)
        return;

    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(everyone);
    alignas(DWORD) BYTE aclBuffer[128];
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    if (!::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize) ||
        !::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION) ||
        (access && !::AddAccessAllowedAce(acl, ACL_REVISION, access, everyone)) ||
        !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        return;
    applied_ = ::RegSetKeySecurity(key.get(),
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   &descriptor) == ERROR_SUCCESS;
}

void ScopedKeyAccess::Restore() {
    if (!applied_) return;
    applied_ = false;
    // The owner may always change the DACL, whatever the DACL grants. A key that the test
    // saw removed has nothing to restore.
    const sys::UniqueKey key = OpenKey(root_, path_, WRITE_DAC | view_);
    if (!key) return;
    EXPECT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, original_.data()),
              ERROR_SUCCESS)
        << "restoring a key's DACL failed";
}

ScopedVolatileKey::ScopedVolatileKey(HKEY root, std::wstring path, DWORD view)
    : root_(root), path_(std::move(path)), view_(view) {
    const std::wstring parent = path_.substr(0, path_.rfind(L'\\'));
    sys::UniqueKey key;
    if (::RegCreateKeyExW(root_, parent.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE | view_, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    created_ = ::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                 KEY_WRITE | view_, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

ScopedVolatileKey::~ScopedVolatileKey() {
    if (created_) ::RegDeleteKeyExW(root_, path_.c_str(), view_, 0);
}

ScopedBrokenBroker::ScopedBrokenBroker(Fault fault, const std::wstring& scratchFolder) {
    // A broker still exiting from the test before may hold its registration for a moment.
    WaitUntilNoBrokerProcess(10000);
    if (fault == Fault::Unregistered) {
        ready_ = UnregisterBroker() == 0 || UnregisterBroker() == 0;
        return;
    }
    // The copy registers its own path; breaking the copy leaves the build's program alone.
    const std::wstring copy = scratchFolder + L"\\" + kBrokerCopyName;
    if (!::CopyFileW(BrokerProgramPath().c_str(), copy.c_str(), FALSE)) return;
    if (RunProgram(copy, L"/RegServer") != 0) return;
    if (fault == Fault::ProgramMissing)
        ready_ = ::DeleteFileW(copy.c_str()) != FALSE;
    else
        ready_ = ::CopyFileW((ProgramFolder() + L"\\" + kCrashingProgram).c_str(), copy.c_str(),
                             FALSE) != FALSE;
}

ScopedBrokenBroker::~ScopedBrokenBroker() {
    EXPECT_EQ(RegisterBroker(), 0u) << "registering the broker again failed";
}

std::wstring BrokerServerCommand() {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!RawReadValue(HKEY_LOCAL_MACHINE, kBrokerServerKey, L"", KEY_WOW64_64KEY, type, data)) return {};
    const std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

ScopedSingleThreadedApartment::ScopedSingleThreadedApartment()
    : joined_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ScopedSingleThreadedApartment::~ScopedSingleThreadedApartment() {
    if (joined_) ::CoUninitialize();
}
