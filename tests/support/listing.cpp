#include "listing.h"

#include "sys/handles.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

// Links (the user's folders lead to the Linux home) lie outside the prefix: not followed.
void ListFolder(const std::wstring& folder, Listing& listing) {
    WIN32_FIND_DATAW found;
    const sys::UniqueFind search(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                                  FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &found)) {
        const std::wstring name = found.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        const bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        // A folder's own time stamp only follows what changed in it.
        const ULARGE_INTEGER written{{found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime}};
        listing[L"file " + path] =
            folder ? L"" : std::to_wstring(found.nFileSizeLow) + L" " + std::to_wstring(written.QuadPart);
        if (folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListFolder(path, listing);
    }
}

void ListKey(HKEY key, const std::wstring& path, Listing& listing) {
    DWORD nameCapacity = 0, dataCapacity = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameCapacity,
                         &dataCapacity, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    listing[L"key " + path] = L"";  // its time stamp, too, only follows what changed in it
    std::vector<wchar_t> name(nameCapacity + 2);
    std::vector<BYTE> data(dataCapacity + 2);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size)) break;
        std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
        for (DWORD i = 0; i < size; ++i) digest = (digest ^ data[i]) * 1099511628211ull;
        listing[L"value " + path + L":" + std::wstring(name.data(), nameLength)] =
            std::to_wstring(type) + L" " + std::to_wstring(digest);
    }
    wchar_t child[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, child, &length, nullptr, nullptr, nullptr, nullptr)) break;
        sys::UniqueKey opened;
        if (RegOpenKeyExW(key, child, REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY, opened.put()) == 0)
            ListKey(opened.get(), path + L"\\" + child, listing);
    }
}

}  // namespace

Listing ListPrefix() {
    Listing listing;
    ListFolder(L"C:", listing);
    ListKey(HKEY_LOCAL_MACHINE, L"HKLM", listing);
    ListKey(HKEY_USERS, L"HKU", listing);
    return listing;
}

std::wstring Unexplained(const Listing& before, const Listing& after,
                         const std::function<bool(const std::wstring&)>& allowed) {
    std::wstring text;
    const auto report = [&](const wchar_t* kind, const std::wstring& entry) {
        if (!allowed(entry)) text += kind + (L" " + entry) + L"\n";
    };
    for (const auto& [entry, digest] : before)
        if (!after.count(entry)) report(L"removed", entry);
    for (const auto& [entry, digest] : after) {
        const auto old = before.find(entry);
        if (old == before.end()) report(L"added", entry);
        else if (old->second != digest) report(L"changed", entry);
    }
    return text;
}
