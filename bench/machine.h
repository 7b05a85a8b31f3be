// The machine the benchmark runs on: a 64-bit Outlook 2013, an agent folder whose Install
// subfolder holds the add-in files, the registration broker, user hives with Outlook's
// per-user keys, and the library loaded as the agent loads it. Everything is removed again.
#pragma once

#include "sys/handles.h"

#include <OutlookPluginInstaller.h>

#include <cstddef>
#include <string>
#include <vector>

inline constexpr const wchar_t* kAddinRegistryKey =
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
inline constexpr const wchar_t* kAddinDll64 = L"tolvane64.dll";

std::wstring ProgramFolder();
std::wstring Join(const std::wstring& folder, const std::wstring& name);

// A folder created empty and removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(std::wstring path);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return Join(path_, name); }

private:
    std::wstring path_;
};

// The host's logger as an agent has one, minus the file it writes: it counts.
class CountingLogger final : public PluginInstallerLogger {
public:
    void HostSlot0() override {}
    void HostSlot1() override {}
    void HostSlot2() override {}
    void HostSlot3() override {}
    void Log(int level, const wchar_t* message) override;

    size_t lines = 0;
    size_t errors = 0;  // lines at level 5
};

enum class Request { kInstall, kRepair, kUninstall };

// OutlookPluginInstaller.dll from the program's folder.
class InstallerLibrary {
public:
    InstallerLibrary();
    bool loaded() const { return create_ && delete_; }
    // Create, Initialize, the request, Delete: one request as the agent makes it.
    unsigned int Run(Request request, const std::wstring& folder, PluginInstallerLogger& logger) const;

private:
    sys::UniqueModule module_;
    PluginInstaller* (*create_)() = nullptr;
    void (*delete_)(PluginInstaller*) = nullptr;
};

// Runs a program and waits for it; its exit code, or the code of CreateProcessW.
DWORD RunProgram(const std::wstring& commandLine);
// The broker that a request started ends after the request has returned: its exit is
// waited for, so that it does not weigh on the next measurement.
void WaitUntilBrokerEnded();

// Outlook 2013 in the 64-bit view, the agent folder, the broker registered.
class OutlookMachine {
public:
    explicit OutlookMachine(const std::wstring& agentFolder);
    ~OutlookMachine();
    OutlookMachine(const OutlookMachine&) = delete;
    OutlookMachine& operator=(const OutlookMachine&) = delete;

    bool ready() const { return ready_; }
    const std::wstring& agentFolder() const { return agent_.path(); }
    std::wstring DeployedAddin() const { return agent_ / kAddinDll64; }
    std::wstring SourceAddin() const { return agent_ / (std::wstring(L"Install\\") + kAddinDll64); }

private:
    ScratchFolder agent_;
    bool ready_ = false;
};

// User hives directly under HKEY_USERS, as Wine lets a process create them: code that
// lists HKEY_USERS sees them as loaded hives. Each holds Outlook's per-user keys: the
// disabled items (unrelated add-ins), the add-in load times and the add-in's LoadBehavior.
class UserHives {
public:
    UserHives() = default;
    ~UserHives();
    UserHives(const UserHives&) = delete;
    UserHives& operator=(const UserHives&) = delete;

    bool GrowTo(size_t count);
    // Outlook writes the add-in's load time at every start; repair and uninstall delete it.
    bool RestoreLoadTimes() const;
    size_t size() const { return names_.size(); }

private:
    std::vector<std::wstring> names_;
};

size_t LoadedHiveCount();  // subkeys of HKEY_USERS
