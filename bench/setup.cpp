#include "setup.h"

#include "sys/handles.h"

#include <tlhelp32.h>

namespace {

constexpr const wchar_t* kBrokerImage = L"ComRegistrationBroker.exe";
constexpr DWORD kBrokerPollMs = 5;
constexpr ULONGLONG kBrokerWaitMs = 5000;

// Outlook's per-user keys, relative to a hive.
constexpr const wchar_t* kDisabledItemsKey =
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
constexpr const wchar_t* kAddinProgId = L"Tolvane.OutlookAddin.1";
constexpr const wchar_t* kHivePrefix = L"S-1-5-21-4242-4242-4242-";
constexpr DWORD kFirstHiveNumber = 10000;
// Disabled items of other add-ins: Outlook's records hold the DLL's path as UTF-16 text.
constexpr const wchar_t* kUnrelatedDisabledItems[][2] = {
    {L"3f1a2b", L"C:\\Program Files\\Contoso\\Mail Tools\\contosomail.dll"},
    {L"5c7d8e", L"C:\\Program Files (x86)\\Fabrikam\\fabrikam64.dll"},
    {L"9e0f11", L"C:\\Users\\Public\\Addins\\northwind.dll"},
};
// Outlook's load-time record: a few numbers, opaque to the add-in's installer.
const std::string kLoadTimeRecord("\x01\0\0\0\x7d\0\0\0\x2e\x01\0\0\0\0\0\0", 16);

void PopulateHive(const std::wstring& hive) {
    for (const auto& [name, text] : kUnrelatedDisabledItems)
        SetValue(HKEY_USERS, hive + L"\\" + kDisabledItemsKey, name, REG_BINARY, DisabledRecord(text));
    SetValue(HKEY_USERS, hive + kLoadTimes15, L"Contoso.MailTools.1", REG_BINARY, kLoadTimeRecord);
    SetValue(HKEY_USERS, hive + kLoadTimes15, kAddinProgId, REG_BINARY, kLoadTimeRecord);
    SetDword(HKEY_USERS, hive + L"\\" + kAddinRegistryKey, L"LoadBehavior", 3);
}

}  // namespace

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

ScratchFolder::ScratchFolder(std::wstring path) : path_(std::move(path)) {
    RemoveTree(path_);
    CreateFolders(path_);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void CountingLogger::Log(int level, const wchar_t*) {
    ++lines;
    if (level == 5) ++errors;
}

unsigned int InstallerLibrary::Run(Request request, const std::wstring& folder,
                                   PluginInstallerLogger& logger) const {
    PluginInstaller* installer = TheLibrary().create();
    unsigned int result = installer->Initialize(folder.c_str(), &logger);
    if (result == 0) {
        switch (request) {
            case Request::kInstall: result = installer->Install(); break;
            case Request::kRepair: result = installer->Repair(); break;
            case Request::kUninstall: result = installer->Uninstall(); break;
        }
    }
    TheLibrary().destroy(installer);
    return result;
}

DWORD RunProgram(const std::wstring& commandLine) {
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError();
    const sys::UniqueKernelHandle processHandle(process.hProcess);
    const sys::UniqueKernelHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return exitCode;
}

void WaitUntilBrokerEnded() {
    const ULONGLONG deadline = GetTickCount64() + kBrokerWaitMs;
    for (;;) {
        bool running = false;
        const sys::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more && !running;
             more = Process32NextW(snapshot.get(), &entry))
            running = _wcsicmp(entry.szExeFile, kBrokerImage) == 0;
        if (!running || GetTickCount64() >= deadline) return;
        Sleep(kBrokerPollMs);
    }
}

UserHives::~UserHives() {
    for (const std::wstring& name : names_) RegDeleteTreeW(HKEY_USERS, name.c_str());
}

bool UserHives::GrowTo(size_t count) {
    while (names_.size() < count) {
        names_.push_back(kHivePrefix + std::to_wstring(kFirstHiveNumber + names_.size()));
        PopulateHive(names_.back());
    }
    return !::testing::Test::HasFailure();
}

bool UserHives::RestoreLoadTimes() const {
    for (const std::wstring& name : names_)
        SetValue(HKEY_USERS, name + kLoadTimes15, kAddinProgId, REG_BINARY, kLoadTimeRecord);
    return !::testing::Test::HasFailure();
}

size_t LoadedHiveCount() {
    DWORD count = 0;
    RegQueryInfoKeyW(HKEY_USERS, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    return count;
}
