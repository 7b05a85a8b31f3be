// Registry access. Every operation takes a predefined root, a key path relative to it and
// a view word (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY) that is ORed into every open; it
// closes every key it opened before returning and returns a Windows code. Lists are
// appended to, never cleared. A null root is refused with ERROR_INVALID_DATA (13).
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace sys::Registry {

struct RegistryValueData {
    DWORD ValueType = REG_SZ;
    std::wstring Name;
    std::wstring Value;              // REG_SZ / REG_EXPAND_SZ text; REG_DWORD as decimal text when written
    DWORD DwordValue = 0;            // filled by GetValue for REG_DWORD
    std::vector<BYTE> BinaryData;    // REG_BINARY data; empty means none

    DWORD BinaryDataLength() const { return static_cast<DWORD>(BinaryData.size()); }
    // The binary data read as UTF-16 text; an odd last byte is not part of it.
    std::wstring BinaryDataAsText() const {
        std::wstring text(BinaryData.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), BinaryData.data(), text.size() * sizeof(wchar_t));
        return text;
    }
};

// Whether two key or value names are the same to the registry, which ignores their case.
bool SameName(const std::wstring& a, const std::wstring& b);

// 0 whenever the root is valid; `exists` tells whether the key could be opened for reading.
DWORD DoesKeyExist(HKEY root, const std::wstring& keyPath, bool& exists, DWORD view);
// Creates the key and any missing parents, or opens an existing one.
DWORD AddKey(HKEY root, const std::wstring& keyPath, DWORD view);
// Writes the records in order under an existing key; stops at the first failure.
DWORD SetValue(HKEY root, const std::wstring& keyPath, const std::vector<RegistryValueData>& values,
               DWORD view);
// Reads one REG_SZ or REG_EXPAND_SZ value; a value of 0 bytes leaves `value` untouched.
DWORD GetStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                     std::wstring& value, DWORD view);
// Appends every string of a REG_MULTI_SZ value, empty ones included (lists of pairs hold
// them); the NUL that ends the list is not a string. ERROR_DATATYPE_MISMATCH for another type.
DWORD GetMultiStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                          std::vector<std::wstring>& strings, DWORD view);
// Appends one record per value, in the registry's enumeration order.
DWORD GetValue(HKEY root, const std::wstring& keyPath, std::vector<RegistryValueData>& values,
               DWORD view);
// Appends the names of the direct subkeys of an open key.
DWORD EnumSubKeys(HKEY key, std::vector<std::wstring>& subKeys);
// The same for the key at the path; an empty path lists the root's own subkeys.
DWORD EnumSubKeys(HKEY root, const std::wstring& keyPath, std::vector<std::wstring>& subKeys,
                  DWORD view);
DWORD RemoveValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD view);
// Deletes the key and everything below it, leaves first. An empty path is refused with 13.
DWORD RemoveKey(HKEY root, const std::wstring& keyPath, DWORD view);

}  // namespace sys::Registry
