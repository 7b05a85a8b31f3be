#include "prefix_listing.h"

#include "sys/handles.h"

#include <cstdint>
#include <tuple>

namespace {

// Drive C: of the prefix. Folders that are links (the user's Desktop, Documents and the
// like lead to the Linux home folder) lie outside the prefix and are not followed.
constexpr wchar_t kDrive[] = L"C:";
// The registry as it is stored: in this view the 32-bit view's Wow6432Node keys are
// ordinary keys, and links (REG_LINK keys) are listed, not followed.
constexpr REGSAM kStoredView = KEY_WOW64_64KEY;
constexpr DWORD kKeyNameCapacity = 256;

struct Root {
    HKEY key;
    const wchar_t* name;
};
const Root kRoots[] = {{HKEY_LOCAL_MACHINE, L"HKLM"}, {HKEY_USERS, L"HKU"}};

std::wstring TimeText(const FILETIME& time) {
    return std::to_wstring((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                           time.dwLowDateTime);
}

// FNV-1a: a change of the data changes the digest.
std::uint64_t Digest(const BYTE* data, DWORD size) {
    std::uint64_t digest = 14695981039346656037ull;
    for (DWORD i = 0; i < size; ++i) {
        digest ^= data[i];
        digest *= 1099511628211ull;
    }
    return digest;
}

void ListFolder(const std::wstring& folder, Listing& listing) {
    WIN32_FIND_DATAW found;
    const sys::UniqueFind search(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic,
                                                    &found, FindExSearchNameMatch, nullptr,
                                                    FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            listing[{EntryKind::kFile, path, {}}] =
                L"folder written " + TimeText(found.ftLastWriteTime);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListFolder(path, listing);
        } else {
            const std::uint64_t size =
                (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            listing[{EntryKind::kFile, path, {}}] = L"file size " + std::to_wstring(size) +
                                                    L" written " + TimeText(found.ftLastWriteTime);
        }
    } while (::FindNextFileW(search.get(), &found));
}

void ListValues(HKEY key, const std::wstring& path, DWORD nameCapacity, DWORD dataCapacity,
                Listing& listing) {
    std::vector<wchar_t> name(nameCapacity + 1);
    std::vector<BYTE> data(dataCapacity);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG read = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                          data.data(), &size);
        if (read == ERROR_MORE_DATA) {  // the value grew since the key was measured
            name.resize(name.size() * 2);
            data.resize(data.size() * 2 + 1);
            continue;
        }
        if (read != ERROR_SUCCESS) return;
        listing[{EntryKind::kValue, path, std::wstring(name.data(), nameLength)}] =
            L"type " + std::to_wstring(type) + L" size " + std::to_wstring(size) + L" digest " +
            std::to_wstring(Digest(data.data(), size));
        ++index;
    }
}

void ListKey(HKEY key, const std::wstring& path, Listing& listing) {
    DWORD valueNameCapacity = 0;
    DWORD valueDataCapacity = 0;
    FILETIME written{};
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &valueNameCapacity, &valueDataCapacity, nullptr,
                           &written) != ERROR_SUCCESS)
        return;
    listing[{EntryKind::kKey, path, {}}] = L"written " + TimeText(written);
    ListValues(key, path, valueNameCapacity, valueDataCapacity, listing);

    std::vector<std::wstring> children;
    wchar_t name[kKeyNameCapacity];
    for (DWORD index = 0;; ++index) {
        DWORD length = kKeyNameCapacity;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(name, length);
    }
    for (const std::wstring& child : children) {
        sys::UniqueKey opened;
        if (::RegOpenKeyExW(key, child.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | kStoredView,
                            opened.put()) == ERROR_SUCCESS)
            ListKey(opened.get(), path + L"\\" + child, listing);
    }
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c >= 0x20 && c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace

bool EntryName::operator<(const EntryName& other) const {
    return std::tie(kind, path, value) < std::tie(other.kind, other.path, other.value);
}

Listing ListPrefix() {
    Listing listing;
    ListFolder(kDrive, listing);
    for (const Root& root : kRoots) ListKey(root.key, root.name, listing);
    return listing;
}

std::vector<Change> Compare(const Listing& before, const Listing& after) {
    std::vector<Change> changes;
    auto old = before.begin();
    auto now = after.begin();
    while (old != before.end() || now != after.end()) {
        if (now == after.end() || (old != before.end() && old->first < now->first)) {
            changes.push_back({ChangeKind::kRemoved, old->first});
            ++old;
        } else if (old == before.end() || now->first < old->first) {
            changes.push_back({ChangeKind::kAdded, now->first});
            ++now;
        } else {
            if (old->second != now->second) changes.push_back({ChangeKind::kChanged, now->first});
            ++old;
            ++now;
        }
    }
    return changes;
}

std::string Describe(const Change& change) {
    static const char* const kinds[] = {"added", "removed", "changed"};
    static const char* const entries[] = {"file", "key", "value"};
    std::string text = std::string(kinds[static_cast<int>(change.kind)]) + " " +
                       entries[static_cast<int>(change.name.kind)] + " " + Narrow(change.name.path);
    if (change.name.kind == EntryKind::kValue) text += " : " + Narrow(change.name.value);
    return text;
}
