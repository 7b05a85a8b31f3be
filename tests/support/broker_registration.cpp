#include "broker_registration.h"

#include "scoped_temp_dir.h"
#include "sys/handles.h"

#include <tlhelp32.h>

namespace {

constexpr wchar_t kBrokerProgram[] = L"ComRegistrationBroker.exe";
constexpr DWORD kPollMs = 100;

DWORD RunBroker(const wchar_t* option) {
    std::wstring command = L"\"" + BrokerProgramPath() + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return GetLastError();
    const sys::UniqueKernelHandle processHandle(process.hProcess);
    const sys::UniqueKernelHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return exitCode;
}

}  // namespace

std::wstring BrokerProgramPath() { return FixturePath(std::wstring(L"broker\\") + kBrokerProgram); }

DWORD RegisterBroker() { return RunBroker(L"/RegServer"); }
DWORD UnregisterBroker() { return RunBroker(L"/UnregServer"); }

int BrokerProcessCount() {
    const sys::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, kBrokerProgram) == 0) ++count;
    }
    return count;
}

bool WaitUntilNoBrokerProcess(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (BrokerProcessCount() == 0) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
}

ScopedBrokerRegistration::ScopedBrokerRegistration() : result_(RegisterBroker()) {}
ScopedBrokerRegistration::~ScopedBrokerRegistration() { UnregisterBroker(); }
