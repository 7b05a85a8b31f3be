// User hives that a test owns. Wine lets a process create keys directly under HKEY_USERS,
// which stands in for loading a hive file: code that lists HKEY_USERS sees them as loaded
// hives. Each hive is removed with everything below it when the set goes out of scope.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ScopedUserHives {
public:
    // Hive names sort after the prefix's own hives, and in creation order among themselves.
    explicit ScopedUserHives(size_t count);
    ~ScopedUserHives();
    ScopedUserHives(const ScopedUserHives&) = delete;
    ScopedUserHives& operator=(const ScopedUserHives&) = delete;

    const std::wstring& operator[](size_t hive) const { return names_[hive]; }
    // hive\keyPath, a path under HKEY_USERS.
    std::wstring Path(size_t hive, const std::wstring& keyPath) const;

    // Gives the hive's SOFTWARE a 32-bit view of its own, as HKEY_LOCAL_MACHINE has: once
    // SOFTWARE\Wow6432Node exists, Wine redirects 32-bit access below SOFTWARE into it.
    // Call it before anything is written below SOFTWARE.
    void SeparateViews(size_t hive) const;
    // Creates hive\keyPath, with any missing keys above it.
    void CreateKey(size_t hive, const std::wstring& keyPath, DWORD view = 0) const;
    // Writes a value under hive\keyPath (created when missing), the data stored as given.
    void SetRaw(size_t hive, const std::wstring& keyPath, const std::wstring& name, DWORD type,
                const std::vector<BYTE>& data, DWORD view = 0) const;
    void SetDword(size_t hive, const std::wstring& keyPath, const std::wstring& name, DWORD number,
                  DWORD view = 0) const;
    // Leaves everyone only read access to an existing hive\keyPath: opening it for writing
    // then fails with ERROR_ACCESS_DENIED. The hive is still removed at the end.
    void DenyChanges(size_t hive, const std::wstring& keyPath, DWORD view = 0) const;

private:
    std::vector<std::wstring> names_;
};
