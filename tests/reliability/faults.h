// Faults provoked for real under Wine, each undone at the end of its scope: files held
// open or loaded, registry keys that may not be changed or read, volatile parent keys, a
// registration broker that is missing, has no program or crashes, a calling thread in a
// single-threaded apartment.
#pragma once

#include "sys/handles.h"

#include <windows.h>

#include <string>
#include <vector>

// Holds a file open without sharing: reading, copying over and deleting it fail with 32.
class ScopedExclusiveOpen {
public:
    explicit ScopedExclusiveOpen(const std::wstring& path);
    explicit operator bool() const { return static_cast<bool>(file_); }

private:
    sys::UniqueFile file_;
};

// Keeps a DLL loaded in this process: overwriting it fails with 32, deleting it with 5,
// renaming it works.
class ScopedLoadedDll {
public:
    explicit ScopedLoadedDll(const std::wstring& path);
    explicit operator bool() const { return static_cast<bool>(module_); }
    void Free() { module_.reset(); }

private:
    sys::UniqueModule module_;
};

// Gives an existing key a DACL that grants everyone only `access` (0: nothing at all) and
// puts the original DACL back at the end of the scope, or earlier with Restore().
class ScopedKeyAccess {
public:
    ScopedKeyAccess(HKEY root, std::wstring path, DWORD view, REGSAM access);
    ~ScopedKeyAccess() { Restore(); }
    ScopedKeyAccess(const ScopedKeyAccess&) = delete;
    ScopedKeyAccess& operator=(const ScopedKeyAccess&) = delete;

    bool applied() const { return applied_; }
    void Restore();

private:
    HKEY root_;
    std::wstring path_;
    DWORD view_;
    std::vector<BYTE> original_;
    bool applied_ = false;
};

// Creates root\path as a volatile key (missing keys above it lasting): below a volatile
// key no lasting key can be created (1021). Removed at the end of the scope.
class ScopedVolatileKey {
public:
    ScopedVolatileKey(HKEY root, std::wstring path, DWORD view);
    ~ScopedVolatileKey();
    ScopedVolatileKey(const ScopedVolatileKey&) = delete;
    ScopedVolatileKey& operator=(const ScopedVolatileKey&) = delete;

    bool created() const { return created_; }

private:
    HKEY root_;
    std::wstring path_;
    DWORD view_;
    bool created_ = false;
};

// The registration broker as a broken installation leaves it. The real registration is
// written again at the end of the scope.
class ScopedBrokenBroker {
public:
    enum class Fault {
        Unregistered,    // its class is not registered at all
        ProgramMissing,  // registered, but its program is gone
        Crashing,        // registered, but its program dies as soon as it starts
    };
    // `scratchFolder` receives the copy of the program that the last two faults break.
    ScopedBrokenBroker(Fault fault, const std::wstring& scratchFolder);
    ~ScopedBrokenBroker();
    ScopedBrokenBroker(const ScopedBrokenBroker&) = delete;
    ScopedBrokenBroker& operator=(const ScopedBrokenBroker&) = delete;

    bool ready() const { return ready_; }

private:
    bool ready_ = false;
};

// The command line that COM starts the broker with, as registered; empty when it is not.
std::wstring BrokerServerCommand();

// The calling thread in a single-threaded apartment, as a host may have left it.
class ScopedSingleThreadedApartment {
public:
    ScopedSingleThreadedApartment();
    ~ScopedSingleThreadedApartment();
    ScopedSingleThreadedApartment(const ScopedSingleThreadedApartment&) = delete;
    ScopedSingleThreadedApartment& operator=(const ScopedSingleThreadedApartment&) = delete;

    bool joined() const { return joined_; }

private:
    bool joined_;
};
