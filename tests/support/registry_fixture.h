// A registry key that a test owns, and direct Windows API access for setting up and checking
// state without going through the module under test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ScopedRegistryKey {
public:
    // Creates root\path in `view`, with any missing keys above it.
    ScopedRegistryKey(HKEY root, std::wstring path, DWORD view);
    // Removes, in both views, the shallowest key of the path that existed in neither view
    // before, with everything below it: a write that went to the wrong view does not outlive
    // the test either, and keys that were there before are left alone.
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    const std::wstring& path() const { return path_; }
    // path()\child
    std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

    // Writes a value under path()\subKey (empty: path() itself; created when missing) in this
    // key's view. `size` is stored as given: a string without its NUL, a short REG_DWORD.
    void SetRaw(const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data,
                DWORD size) const;
    // A REG_SZ with its terminating NUL.
    void SetString(const std::wstring& subKey, const std::wstring& name,
                   const std::wstring& text) const;

private:
    HKEY root_;
    std::wstring path_;
    DWORD view_;
    std::wstring removeOnExit_;
};

bool RawKeyExists(HKEY root, const std::wstring& path, DWORD view);
// Type and data of a value; false when it cannot be read.
bool RawReadValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD view,
                  DWORD& type, std::vector<BYTE>& data);
// Every direct subkey name, in enumeration order.
std::vector<std::wstring> RawSubKeys(HKEY root, const std::wstring& path, DWORD view);
