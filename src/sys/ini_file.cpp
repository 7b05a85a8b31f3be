#include "sys/ini_file.h"

#include "sys/handles.h"

#include <cwchar>

namespace sys::IniFile {

namespace {

// GetPrivateProfileStringW gives no length up front: read, and read again larger while
// the value fills the buffer.
constexpr DWORD kReadGrowth = 260;

// The only characters trimmed from items.
constexpr const wchar_t* kBlanks = L" \n\t\r";

// Whether the file opens for reading: a missing file is never created. A file or folder not
// found is ERROR_FILE_NOT_FOUND; any other failure is passed on as it is.
DWORD OpenForReading(const std::wstring& file) {
    const UniqueFile handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (handle) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
}

std::wstring Trim(const std::wstring& text) {
    const auto last = text.find_last_not_of(kBlanks);
    if (last == std::wstring::npos) return std::wstring();
    const auto first = text.find_first_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

DWORD WriteValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value) {
    if (!::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

bool SameItem(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

DWORD ReadValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                std::wstring& value) {
    std::wstring buffer;
    DWORD copied = 0;
    do {
        buffer.assign(buffer.size() + kReadGrowth, L'\0');
        ::SetLastError(ERROR_SUCCESS);
        copied = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), nullptr, &buffer[0],
                                            static_cast<DWORD>(buffer.size()), file.c_str());
        // Nothing copied is an empty or missing value, unless the file could not be read: a
        // value taken as empty then would be written back without the items it holds.
        const DWORD error = copied == 0 ? ::GetLastError() : ERROR_SUCCESS;
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
    } while (copied == buffer.size() - 1);
    value.assign(buffer.c_str());
    return ERROR_SUCCESS;
}

// An empty delimiter splits nothing: the whole value is one item. A longer delimiter is
// skipped whole.
void SplitValue(const std::wstring& value, const std::wstring& delimiter,
                std::vector<std::wstring>& items) {
    std::wstring::size_type position = 0;
    for (;;) {
        const auto found =
            delimiter.empty() ? std::wstring::npos : value.find(delimiter, position);
        const std::wstring item = Trim(value.substr(position, found - position));
        if (!item.empty()) items.push_back(item);
        if (found == std::wstring::npos) return;
        position = found + delimiter.size();
    }
}

DWORD AddValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
               const std::wstring& item, const std::wstring& delimiter) {
    if (delimiter.empty()) return ERROR_BAD_ARGUMENTS;
    if (DWORD r = OpenForReading(file)) return r;

    std::wstring value;
    if (DWORD r = ReadValue(file, section, key, value)) return r;
    std::vector<std::wstring> items;
    SplitValue(value, delimiter, items);
    for (const std::wstring& existing : items)
        if (SameItem(existing, item)) return ERROR_SUCCESS;

    // The text read stays as it was; only a list with items gets a delimiter before the new one.
    if (!items.empty()) value += delimiter;
    value += item;
    return WriteValue(file, section, key, value);
}

DWORD RemoveValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                  const std::wstring& item, const std::wstring& delimiter) {
    if (delimiter.empty()) return ERROR_BAD_ARGUMENTS;
    if (DWORD r = OpenForReading(file)) return r;

    std::wstring value;
    if (DWORD r = ReadValue(file, section, key, value)) return r;
    std::vector<std::wstring> items;
    SplitValue(value, delimiter, items);

    // Written even when nothing was removed: the key comes back in its clean form.
    std::wstring kept;
    for (const std::wstring& existing : items) {
        if (SameItem(existing, item)) continue;
        if (!kept.empty()) kept += delimiter;
        kept += existing;
    }
    return WriteValue(file, section, key, kept);
}

DWORD GetValues(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                const std::wstring& delimiter, std::vector<std::wstring>& items) {
    if (DWORD r = OpenForReading(file)) return r;
    std::wstring value;
    if (DWORD r = ReadValue(file, section, key, value)) return r;
    SplitValue(value, delimiter, items);
    return ERROR_SUCCESS;
}

DWORD ClearValue(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
    if (DWORD r = OpenForReading(file)) return r;
    std::wstring value;
    if (DWORD r = ReadValue(file, section, key, value)) return r;
    if (value.empty()) return ERROR_SUCCESS;
    // An empty text, not a null pointer: the key stays in the file.
    return WriteValue(file, section, key, std::wstring());
}

}  // namespace sys::IniFile
