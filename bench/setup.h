// The machine the benchmark runs on is the test suite's (tests/support/machine.h): a
// 64-bit Outlook 2013, an agent folder whose Install subfolder holds the add-in files, the
// registration broker. Here: user hives with Outlook's per-user keys, and the library
// loaded as the agent loads it. Everything is removed again.
#pragma once

#include "bare.h"
#include "machine.h"
#include "sys/handles.h"

#include <cstddef>
#include <string>
#include <vector>

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
struct InstallerLibrary {
    bool loaded() const { return TheLibrary().create != nullptr; }
    // Create, Initialize, the request, Delete: one request as the agent makes it.
    unsigned int Run(Request request, const std::wstring& folder, PluginInstallerLogger& logger) const;
};

// Runs a program and waits for it; its exit code, or the code of CreateProcessW.
DWORD RunProgram(const std::wstring& commandLine);
// The broker that a request started ends after the request has returned: its exit is
// waited for, so that it does not weigh on the next measurement.
void WaitUntilBrokerEnded();

// The suite's machine with a 64-bit Outlook 2013, in the names the sections use.
class OutlookMachine : public Machine {
public:
    explicit OutlookMachine(const std::wstring& agentFolder) : Machine(kOutlook64, agentFolder) {}
    bool ready() const { return Exists(SourceAddin()); }
    const std::wstring& agentFolder() const { return folder; }
    std::wstring DeployedAddin() const { return Dll(); }
    std::wstring SourceAddin() const { return Source(outlook.dll); }
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
