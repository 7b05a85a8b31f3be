#include "state/installer_config_file.h"

#include "sys/handles.h"
#include "sys/ini_file.h"

#include <cstdint>

namespace {

constexpr const wchar_t* kConfigFileName = L"Installer.ini";
constexpr const wchar_t* kApplicationPathsKey = L"APPLICATION_PATHS";
constexpr const wchar_t* kIniPathsKey = L"INI_PATHS";
constexpr const wchar_t* kCommandLineIniPathsKey = L"COMMANDLINE_INI_PATHS";
constexpr const wchar_t* kDelimiter = L";";

// Paths are not kept in clear text: each code unit is XORed with this key, cyclically.
constexpr wchar_t kPathKey[] = L"5E0D7A41C2B94f18A6E3D7B90C4F2A66";
constexpr size_t kPathKeyLength = sizeof(kPathKey) / sizeof(kPathKey[0]) - 1;
constexpr wchar_t kGroupEnd = L',';

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The C runtime's white space, which "%d" skips before the number.
bool IsScanSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Reads one group the way "%d" would: white space, an optional sign, then the digits up to
// the first non-digit; 0 when no digit follows. Only the low 16 bits are kept, so the
// number is built modulo 2^16: a run of any length gives the low 16 bits of the number it
// spells, without an overflow and without copying the group anywhere.
uint16_t ParseGroup(const wchar_t* begin, const wchar_t* end) {
    const wchar_t* p = begin;
    while (p != end && IsScanSpace(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == L'+' || *p == L'-')) negative = *p++ == L'-';
    uint16_t value = 0;
    for (; p != end && IsDigit(*p); ++p) value = static_cast<uint16_t>(value * 10u + (*p - L'0'));
    return negative ? static_cast<uint16_t>(0u - value) : value;
}

// The list operations never create a file, so the first record makes an empty one. The
// handle is closed at once: the list operations' own open shares reading only.
DWORD CreateIfMissing(const std::wstring& file) {
    const sys::UniqueFile handle(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_ALWAYS, 0, nullptr));
    return handle ? ERROR_SUCCESS : ::GetLastError();
}

DWORD AddPaths(const std::wstring& file, const std::wstring& section, const wchar_t* key,
               const std::vector<std::wstring>& paths) {
    if (paths.empty()) return ERROR_SUCCESS;

    const DWORD created = CreateIfMissing(file);
    if (created != ERROR_SUCCESS) return created;
    for (const std::wstring& path : paths) {
        const DWORD result =
            sys::IniFile::AddValue(file, section, key, EncodePath(path), kDelimiter);
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

DWORD GetPaths(const std::wstring& file, const std::wstring& section, const wchar_t* key,
               std::vector<std::wstring>& paths) {
    std::vector<std::wstring> items;
    const DWORD result = sys::IniFile::GetValues(file, section, key, kDelimiter, items);
    if (result != ERROR_SUCCESS) return result;
    for (const std::wstring& item : items) paths.push_back(DecodePath(item));
    return ERROR_SUCCESS;
}

}  // namespace

// Per code unit: the decimal digits of (unit XOR key unit) and a comma.
std::wstring EncodePath(const std::wstring& path) {
    std::wstring item;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned unit = static_cast<uint16_t>(path[i]);
        item += std::to_wstring(unit ^ static_cast<uint16_t>(kPathKey[i % kPathKeyLength]));
        item += kGroupEnd;
    }
    return item;
}

// Every group ended by a comma gives one code unit; text after the last comma is ignored.
// A damaged or foreign file may hold anything, so each group is read in place, never
// copied into a buffer, the way "%d" reads it (ParseGroup): a sign counts, a letter ends
// the number, an empty group or one without digits is 0, and a group longer than 11
// characters is read whole, keeping the low 16 bits of its number. Whatever the text, a
// value of megabytes costs only its length.
std::wstring DecodePath(const std::wstring& item) {
    std::wstring path;
    const wchar_t* groupStart = item.data();
    const wchar_t* const end = item.data() + item.size();
    for (const wchar_t* p = groupStart; p != end; ++p) {
        if (*p != kGroupEnd) continue;
        const uint16_t key = static_cast<uint16_t>(kPathKey[path.size() % kPathKeyLength]);
        path += static_cast<wchar_t>(ParseGroup(groupStart, p) ^ key);
        groupStart = p + 1;
    }
    return path;
}

std::wstring InstallerConfigFile::FilePath() const { return folder_ + L"\\" + kConfigFileName; }

DWORD InstallerConfigFile::AddApplicationPaths(const std::wstring& section,
                                               const ApplicationPathList& paths) const {
    return AddPaths(FilePath(), section, kApplicationPathsKey, paths);
}

DWORD InstallerConfigFile::AddINIPaths(const std::wstring& section,
                                       const INIFileEntryInfo& entry) const {
    return AddPaths(FilePath(), section, kIniPathsKey, entry.iniFilePaths);
}

DWORD InstallerConfigFile::ClearApplicationList(const std::wstring& section) const {
    return sys::IniFile::ClearValue(FilePath(), section, kApplicationPathsKey);
}

DWORD InstallerConfigFile::ClearINIList(const std::wstring& section) const {
    return sys::IniFile::ClearValue(FilePath(), section, kIniPathsKey);
}

DWORD InstallerConfigFile::ClearCommandLineINIList(const std::wstring& section) const {
    return sys::IniFile::ClearValue(FilePath(), section, kCommandLineIniPathsKey);
}

DWORD InstallerConfigFile::GetInstalledApplicationPaths(const std::wstring& section,
                                                        std::vector<std::wstring>& paths) const {
    return GetPaths(FilePath(), section, kApplicationPathsKey, paths);
}

DWORD InstallerConfigFile::GetINIPaths(const std::wstring& section,
                                       std::vector<std::wstring>& paths) const {
    return GetPaths(FilePath(), section, kIniPathsKey, paths);
}

DWORD InstallerConfigFile::RemoveApplicationPath(const std::wstring& section,
                                                 const std::wstring& path) const {
    return sys::IniFile::RemoveValue(FilePath(), section, kApplicationPathsKey, EncodePath(path),
                                     kDelimiter);
}

DWORD InstallerConfigFile::RemoveINIValue(const std::wstring& section,
                                          const std::wstring& path) const {
    return sys::IniFile::RemoveValue(FilePath(), section, kIniPathsKey, EncodePath(path),
                                     kDelimiter);
}
