#include "sys/registry.h"

#include "sys/handles.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace sys::Registry {

namespace {

// The registry's limits on name lengths, in UTF-16 characters, with the terminating NUL
// that the enumeration writes: a value name may have 16,383 characters.
constexpr DWORD kValueNameCapacity = 16384;
constexpr DWORD kKeyNameCapacity = 256;  // 255 characters and the terminating NUL
// Spare zero bytes after read data, so that stored text without a terminator still ends.
constexpr DWORD kSpareBytes = 2;

constexpr wchar_t kPathSeparator = L'\\';

DWORD OpenKey(HKEY root, const std::wstring& keyPath, REGSAM access, DWORD view, UniqueKey& key) {
    return static_cast<DWORD>(::RegOpenKeyExW(root, keyPath.c_str(), 0, access | view, key.put()));
}

// Buffers are sized by what the registry reports, so their allocation may fail; that is
// reported as ERROR_NOT_ENOUGH_MEMORY instead of leaving the operation by an exception.
bool AllocateZeroed(std::vector<BYTE>& buffer, size_t bytes) {
    try {
        buffer.assign(bytes, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The data as UTF-16 text up to its first NUL, or up to the end of the buffer.
std::wstring TextUpToNul(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    const std::wstring::size_type nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.erase(nul);
    return text;
}

// A REG_DWORD stored with fewer than four bytes reads its missing bytes as 0.
DWORD DwordFromData(const std::vector<BYTE>& data, DWORD size) {
    DWORD value = 0;
    std::memcpy(&value, data.data(), size < sizeof(value) ? size : sizeof(value));
    return value;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Writes one record; ERROR_SUCCESS for a type that is skipped.
DWORD WriteValue(HKEY key, const RegistryValueData& record) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    DWORD number = 0;
    switch (record.ValueType) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            data = reinterpret_cast<const BYTE*>(record.Value.c_str());
            size = static_cast<DWORD>((record.Value.size() + 1) * sizeof(wchar_t));
            break;
        case REG_DWORD:
            // Leading blanks and a sign are accepted and conversion stops at the first
            // non-digit: "00000003" is 3.
            number = static_cast<DWORD>(_wtoi(record.Value.c_str()));
            data = reinterpret_cast<const BYTE*>(&number);
            size = sizeof(number);
            break;
        case REG_BINARY:
            if (record.BinaryData.empty()) return ERROR_INVALID_DATA;
            data = record.BinaryData.data();
            size = record.BinaryDataLength();
            break;
        default:
            return ERROR_SUCCESS;
    }
    return static_cast<DWORD>(
        ::RegSetValueExW(key, record.Name.c_str(), 0, record.ValueType, data, size));
}

}  // namespace

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

DWORD DoesKeyExist(HKEY root, const std::wstring& keyPath, bool& exists, DWORD view) {
    if (!root) return ERROR_INVALID_DATA;
    UniqueKey key;
    // Any failure to open, access denied included, means "not there" to the callers.
    exists = OpenKey(root, keyPath, KEY_READ, view, key) == ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

DWORD AddKey(HKEY root, const std::wstring& keyPath, DWORD view) {
    if (!root || keyPath.empty()) return ERROR_INVALID_DATA;
    UniqueKey key;
    return static_cast<DWORD>(::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr,
                                                REG_OPTION_NON_VOLATILE, KEY_WRITE | view,
                                                nullptr, key.put(), nullptr));
}

DWORD SetValue(HKEY root, const std::wstring& keyPath, const std::vector<RegistryValueData>& values,
               DWORD view) {
    if (!root || values.empty()) return ERROR_INVALID_DATA;
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_WRITE, view, key);
    if (opened != ERROR_SUCCESS) return opened;
    for (const RegistryValueData& record : values) {
        const DWORD written = WriteValue(key.get(), record);
        if (written != ERROR_SUCCESS) return written;
    }
    return ERROR_SUCCESS;
}

DWORD GetStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                     std::wstring& value, DWORD view) {
    if (!root || valueName.empty()) return ERROR_INVALID_DATA;
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_READ, view, key);
    if (opened != ERROR_SUCCESS) return opened;

    DWORD type = 0;
    DWORD size = 0;
    const DWORD queried = static_cast<DWORD>(
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size));
    if (queried != ERROR_SUCCESS) return queried;
    if (size == 0) return ERROR_SUCCESS;
    if (!IsStringType(type)) return ERROR_DATATYPE_MISMATCH;

    std::vector<BYTE> data;
    if (!AllocateZeroed(data, size + kSpareBytes)) return ERROR_NOT_ENOUGH_MEMORY;
    // A value that grew since the first query fails with ERROR_MORE_DATA; no retry.
    const DWORD read = static_cast<DWORD>(
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, data.data(), &size));
    if (read == ERROR_SUCCESS) value = TextUpToNul(data);
    return read;
}

DWORD GetMultiStringValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                          std::vector<std::wstring>& strings, DWORD view) {
    if (!root || valueName.empty()) return ERROR_INVALID_DATA;
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_READ, view, key);
    if (opened != ERROR_SUCCESS) return opened;

    DWORD type = 0;
    DWORD size = 0;
    const DWORD queried = static_cast<DWORD>(
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size));
    if (queried != ERROR_SUCCESS) return queried;
    if (type != REG_MULTI_SZ) return ERROR_DATATYPE_MISMATCH;
    std::vector<BYTE> data;
    if (!AllocateZeroed(data, size)) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD read = static_cast<DWORD>(
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, data.data(), &size));
    if (read != ERROR_SUCCESS) return read;

    // Each string ends with a NUL; a last string without one still counts.
    std::vector<std::wstring> found;
    std::wstring current;
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    for (size_t i = 0; i < size / sizeof(wchar_t); ++i) {
        if (text[i] != L'\0') {
            current += text[i];
            continue;
        }
        found.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty()) found.push_back(std::move(current));
    if (!found.empty() && found.back().empty()) found.pop_back();  // the list's own end
    strings.insert(strings.end(), found.begin(), found.end());
    return ERROR_SUCCESS;
}

DWORD GetValue(HKEY root, const std::wstring& keyPath, std::vector<RegistryValueData>& values,
               DWORD view) {
    if (!root) return ERROR_INVALID_DATA;
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_READ, view, key);
    if (opened != ERROR_SUCCESS) return opened;

    std::wstring name;
    try {
        name.assign(kValueNameCapacity, L'\0');
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    DWORD result = ERROR_SUCCESS;
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        DWORD nameLength = kValueNameCapacity;
        DWORD type = 0;
        DWORD size = 0;
        result = static_cast<DWORD>(::RegEnumValueW(key.get(), index, &name[0], &nameLength,
                                                    nullptr, &type, nullptr, &size));
        if (result != ERROR_SUCCESS) break;

        std::vector<BYTE> data;
        if (!AllocateZeroed(data, size + kSpareBytes)) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        nameLength = kValueNameCapacity;
        result = static_cast<DWORD>(::RegEnumValueW(key.get(), index, &name[0], &nameLength,
                                                    nullptr, &type, data.data(), &size));
        if (result != ERROR_SUCCESS) break;

        RegistryValueData record;
        record.ValueType = type;
        record.Name.assign(name, 0, nameLength);
        if (IsStringType(type)) {
            record.Value = TextUpToNul(data);
        } else if (type == REG_DWORD) {
            record.DwordValue = DwordFromData(data, size);
        } else if (type == REG_BINARY) {
            data.resize(size);  // drop the spare bytes; shrinking keeps the buffer
            record.BinaryData = std::move(data);
        }
        values.push_back(std::move(record));
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

DWORD EnumSubKeys(HKEY key, std::vector<std::wstring>& subKeys) {
    if (!key) return ERROR_INVALID_DATA;
    wchar_t name[kKeyNameCapacity] = {};
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kKeyNameCapacity;
        const DWORD result = static_cast<DWORD>(::RegEnumKeyExW(key, index, name, &nameLength,
                                                                nullptr, nullptr, nullptr, nullptr));
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        subKeys.emplace_back(name, nameLength);
    }
}

DWORD EnumSubKeys(HKEY root, const std::wstring& keyPath, std::vector<std::wstring>& subKeys,
                  DWORD view) {
    if (!root) return ERROR_INVALID_DATA;
    if (keyPath.empty()) return EnumSubKeys(root, subKeys);
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_READ, view, key);
    if (opened != ERROR_SUCCESS) return opened;
    return EnumSubKeys(key.get(), subKeys);
}

DWORD RemoveValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD view) {
    if (!root || valueName.empty()) return ERROR_INVALID_DATA;
    UniqueKey key;
    const DWORD opened = OpenKey(root, keyPath, KEY_WRITE, view, key);
    if (opened != ERROR_SUCCESS) return opened;
    return static_cast<DWORD>(::RegDeleteValueW(key.get(), valueName.c_str()));
}

DWORD RemoveKey(HKEY root, const std::wstring& keyPath, DWORD view) {
    // An empty path would name every key under the root.
    if (!root || keyPath.empty()) return ERROR_INVALID_DATA;

    std::vector<std::wstring> children;
    {
        UniqueKey key;
        const DWORD opened = OpenKey(root, keyPath, KEY_READ, view, key);
        if (opened != ERROR_SUCCESS) return opened;
        const DWORD listed = EnumSubKeys(key.get(), children);
        if (listed != ERROR_SUCCESS) return listed;
    }
    for (const std::wstring& child : children) {
        const DWORD removed = RemoveKey(root, keyPath + kPathSeparator + child, view);
        if (removed != ERROR_SUCCESS) return removed;
    }
    return static_cast<DWORD>(::RegDeleteKeyExW(root, keyPath.c_str(), view, 0));
}

}  // namespace sys::Registry
