#include "file_fixtures.h"

#include "scoped_temp_dir.h"
#include "sys/handles.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>

namespace {

constexpr const wchar_t* kSessionManagerKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenamesValue = L"PendingFileRenameOperations";
constexpr const wchar_t* kNtPathPrefix = L"\\??\\";

}  // namespace

bool CopyFixture(const std::wstring& fixture, const std::wstring& destination) {
    return CopyFileW(FixturePath(fixture).c_str(), destination.c_str(), FALSE) != FALSE;
}

bool SameContents(const std::wstring& a, const std::wstring& b) {
    return ReadTextFile(a) == ReadTextFile(b);
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

long SignedTickCount() { return static_cast<std::int32_t>(GetTickCount()); }

PendingRenames::PendingRenames() { existed_ = Read(original_, type_); }

PendingRenames::~PendingRenames() {
    sys::UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return;
    if (existed_)
        RegSetValueExW(key.get(), kPendingRenamesValue, 0, type_, original_.data(),
                       static_cast<DWORD>(original_.size()));
    else
        RegDeleteValueW(key.get(), kPendingRenamesValue);
}

bool PendingRenames::Read(std::vector<BYTE>& data, DWORD& type) {
    sys::UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    data.resize(size);
    return RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type, data.data(), &size) ==
           ERROR_SUCCESS;
}

// Pairs of names, old then new, each ended by a NUL; an empty new name means deletion.
std::vector<std::wstring> PendingRenames::Entries(const std::vector<BYTE>& data) {
    std::vector<std::wstring> entries;
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t length = data.size() / sizeof(wchar_t);
    std::wstring current;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != L'\0') {
            current += text[i];
            continue;
        }
        entries.push_back(current);
        current.clear();
    }
    if (!entries.empty() && entries.back().empty() && entries.size() % 2 == 1) entries.pop_back();
    return entries;
}

std::vector<std::wstring> PendingRenames::Added() const {
    std::vector<BYTE> data;
    DWORD type = 0;
    if (!Read(data, type)) return {};
    std::vector<std::wstring> now = Entries(data);
    const std::vector<std::wstring> before =
        existed_ ? Entries(original_) : std::vector<std::wstring>{};
    if (now.size() >= before.size() && std::equal(before.begin(), before.end(), now.begin()))
        now.erase(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(before.size()));
    return now;
}

bool PendingRenames::ScheduledForDeletion(const std::wstring& path) const {
    const std::vector<std::wstring> added = Added();
    for (size_t i = 0; i + 1 < added.size(); i += 2)
        if (added[i] == kNtPathPrefix + path && added[i + 1].empty()) return true;
    return false;
}
