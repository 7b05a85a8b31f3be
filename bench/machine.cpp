#include "machine.h"

#include <tlhelp32.h>

#include <cwchar>
#include <filesystem>
#include <system_error>

namespace {

constexpr const wchar_t* kMicrosoftKey = L"SOFTWARE\\Microsoft";
constexpr const wchar_t* kOfficeName = L"Office";
constexpr const wchar_t* kInstallRootKey = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot";
constexpr const wchar_t* kOutlookFolder = L"C:\\Program Files\\Microsoft Office\\Office15\\";
constexpr const wchar_t* kClassesKey = L"Software\\Classes\\CLSID";
constexpr const wchar_t* kAddinClsid = L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
constexpr const wchar_t* kAddinFixtures[] = {L"tolvane.dll", L"tolvane64.dll"};
constexpr const wchar_t* kBrokerProgram = L"fixtures\\broker\\ComRegistrationBroker.exe";
constexpr const wchar_t* kBrokerImage = L"ComRegistrationBroker.exe";
constexpr DWORD kBrokerPollMs = 5;
constexpr ULONGLONG kBrokerWaitMs = 5000;
constexpr REGSAM kBothViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// Outlook's per-user keys, relative to a hive.
constexpr const wchar_t* kDisabledItemsKey =
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
constexpr const wchar_t* kLoadTimesKey = L"Software\\Microsoft\\Office\\15.0\\Outlook\\AddInLoadTimes";
constexpr const wchar_t* kAddinProgId = L"Tolvane.OutlookAddin.1";
constexpr const wchar_t* kHivePrefix = L"S-1-5-21-4242-4242-4242-";
constexpr DWORD kFirstHiveNumber = 10000;
constexpr DWORD kLoadBehaviorEnabled = 3;
// Disabled items of other add-ins: Outlook's records hold the DLL's path as UTF-16 text.
constexpr const wchar_t* kUnrelatedDisabledItems[][2] = {
    {L"3f1a2b", L"C:\\Program Files\\Contoso\\Mail Tools\\contosomail.dll"},
    {L"5c7d8e", L"C:\\Program Files (x86)\\Fabrikam\\fabrikam64.dll"},
    {L"9e0f11", L"C:\\Users\\Public\\Addins\\northwind.dll"},
};
// Outlook's load-time record: a few numbers, opaque to the add-in's installer.
constexpr BYTE kLoadTimeRecord[] = {0x01, 0x00, 0x00, 0x00, 0x7d, 0x00, 0x00, 0x00,
                                    0x2e, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

bool CreateKey(HKEY root, const std::wstring& path, REGSAM view, sys::UniqueKey& key) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

bool SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t size) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return SetValue(key, name, REG_SZ, text, (std::wcslen(text) + 1) * sizeof(wchar_t));
}

void DeleteTree(HKEY root, const wchar_t* parent, const wchar_t* child) {
    for (const REGSAM view : kBothViews) {
        sys::UniqueKey key;
        if (RegOpenKeyExW(root, parent, 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS)
            RegDeleteTreeW(key.get(), child);
    }
}

bool PopulateHive(const std::wstring& hive) {
    sys::UniqueKey disabled;
    if (!CreateKey(HKEY_USERS, hive + L"\\" + kDisabledItemsKey, 0, disabled)) return false;
    for (const auto& [name, text] : kUnrelatedDisabledItems)
        if (!SetValue(disabled.get(), name, REG_BINARY, text, std::wcslen(text) * sizeof(wchar_t)))
            return false;
    sys::UniqueKey loadTimes;
    if (!CreateKey(HKEY_USERS, hive + L"\\" + kLoadTimesKey, 0, loadTimes) ||
        !SetValue(loadTimes.get(), L"Contoso.MailTools.1", REG_BINARY, kLoadTimeRecord,
                  sizeof(kLoadTimeRecord)) ||
        !SetValue(loadTimes.get(), kAddinProgId, REG_BINARY, kLoadTimeRecord, sizeof(kLoadTimeRecord)))
        return false;
    sys::UniqueKey addin;
    return CreateKey(HKEY_USERS, hive + L"\\" + kAddinRegistryKey, 0, addin) &&
           SetValue(addin.get(), L"LoadBehavior", REG_DWORD, &kLoadBehaviorEnabled,
                    sizeof(kLoadBehaviorEnabled));
}

}  // namespace

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\'));
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

ScratchFolder::ScratchFolder(std::wstring path) : path_(std::move(path)) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_, ignored);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void CountingLogger::Log(int level, const wchar_t*) {
    ++lines;
    if (level == 5) ++errors;
}

InstallerLibrary::InstallerLibrary()
    : module_(LoadLibraryW(Join(ProgramFolder(), L"OutlookPluginInstaller.dll").c_str())) {
    if (!module_) return;
    create_ = reinterpret_cast<PluginInstaller* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "CreatePluginInstaller")));
    delete_ = reinterpret_cast<void (*)(PluginInstaller*)>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "DeletePluginInstaller")));
}

unsigned int InstallerLibrary::Run(Request request, const std::wstring& folder,
                                   PluginInstallerLogger& logger) const {
    PluginInstaller* installer = create_();
    unsigned int result = installer->Initialize(folder.c_str(), &logger);
    if (result == 0) {
        switch (request) {
            case Request::kInstall: result = installer->Install(); break;
            case Request::kRepair: result = installer->Repair(); break;
            case Request::kUninstall: result = installer->Uninstall(); break;
        }
    }
    delete_(installer);
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

OutlookMachine::OutlookMachine(const std::wstring& agentFolder) : agent_(agentFolder) {
    std::error_code error;
    std::filesystem::create_directories(agent_ / L"Install", error);
    std::filesystem::create_directories(agent_ / L"temp", error);
    bool copied = !error;
    for (const wchar_t* file : kAddinFixtures)
        copied = copied && CopyFileW(Join(ProgramFolder(), std::wstring(L"fixtures\\v1\\") + file).c_str(),
                                     (agent_ / (std::wstring(L"Install\\") + file)).c_str(), FALSE);
    sys::UniqueKey installRoot;
    const bool outlook = CreateKey(HKEY_LOCAL_MACHINE, kInstallRootKey, KEY_WOW64_64KEY, installRoot) &&
                         SetText(installRoot.get(), L"Path", kOutlookFolder);
    const bool broker =
        RunProgram(L"\"" + Join(ProgramFolder(), kBrokerProgram) + L"\" /RegServer") == ERROR_SUCCESS;
    ready_ = copied && outlook && broker;
}

OutlookMachine::~OutlookMachine() {
    RunProgram(L"\"" + Join(ProgramFolder(), kBrokerProgram) + L"\" /UnregServer");
    // The benchmark's prefix is its own: no Office key was there before it.
    DeleteTree(HKEY_LOCAL_MACHINE, kMicrosoftKey, kOfficeName);
    DeleteTree(HKEY_LOCAL_MACHINE, kClassesKey, kAddinClsid);
}

UserHives::~UserHives() {
    for (const std::wstring& name : names_) RegDeleteTreeW(HKEY_USERS, name.c_str());
}

bool UserHives::GrowTo(size_t count) {
    while (names_.size() < count) {
        names_.push_back(kHivePrefix + std::to_wstring(kFirstHiveNumber + names_.size()));
        if (!PopulateHive(names_.back())) return false;
    }
    return true;
}

bool UserHives::RestoreLoadTimes() const {
    for (const std::wstring& name : names_) {
        sys::UniqueKey loadTimes;
        if (!CreateKey(HKEY_USERS, name + L"\\" + kLoadTimesKey, 0, loadTimes) ||
            !SetValue(loadTimes.get(), kAddinProgId, REG_BINARY, kLoadTimeRecord, sizeof(kLoadTimeRecord)))
            return false;
    }
    return true;
}

size_t LoadedHiveCount() {
    DWORD count = 0;
    RegQueryInfoKeyW(HKEY_USERS, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    return count;
}
