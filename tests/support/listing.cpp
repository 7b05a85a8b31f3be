#include "listing.h"

#include "machine.h"
#include "sys/handles.h"

#include <windows.h>

#include <sstream>

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

// What Wine's saved text escapes: a backslash or a quote behind a backslash.
std::wstring Unescaped(const std::string& text) {
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
        plain += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    return plain;
}

// A branch as Wine's registry saves it in one request (enumerating it key by key takes
// seconds): "[path] stamp" starts a key, '"name"=data' and '@=data' are its values, a line
// that starts with two blanks goes on with a value's data, and "#" lines are the key's own
// (its time stamp, too, only follows what changed in it).
void ListBranch(HKEY root, const std::wstring& name, Listing& listing) {
    static const bool mayBackUp = [] {
        sys::UniqueKernelHandle token;
        TOKEN_PRIVILEGES backup{1, {}};
        backup.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        return OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()) &&
               LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &backup.Privileges[0].Luid) &&
               AdjustTokenPrivileges(token.get(), FALSE, &backup, 0, nullptr, nullptr);
    }();
    // In this prefix (prefixes run side by side, and their process ids repeat); it is gone
    // again before a listing looks at the files.
    const std::wstring saved = L"C:\\registry-branch.reg";
    DeleteFileW(saved.c_str());
    EXPECT_TRUE(mayBackUp && RegSaveKeyW(root, saved.c_str(), nullptr) == ERROR_SUCCESS) << "the registry was not saved";
    std::istringstream text(ReadFileBytes(saved));
    DeleteFileW(saved.c_str());
    std::wstring key, value;
    for (std::string line; std::getline(text, line);) {
        if (line.rfind('[', 0) == 0) {
            key = name + L"\\" + Unescaped(line.substr(1, line.rfind(']') - 1));
            // Only keys with values or without subkeys are saved: the ones above are listed too.
            for (size_t end = key.find(L'\\'); end != std::wstring::npos; end = key.find(L'\\', end + 1))
                listing[L"key " + key.substr(0, end)] = L"";
            listing[L"key " + key] = L"";
        } else if (line.rfind("  ", 0) == 0 && !value.empty()) {
            listing[value] += Unescaped(line);
        } else if (line.rfind('@', 0) == 0 || line.rfind('"', 0) == 0) {
            size_t end = 1;  // the '=' after the value's name
            while (line[0] == '"' && end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
            if (line[0] == '"') ++end;
            value = L"value " + key + L":" + (line[0] == '@' ? L"" : Unescaped(line.substr(1, end - 2)));
            listing[value] = Unescaped(line.substr(std::min(end + 1, line.size())));
        }
    }
}

}  // namespace

Listing ListPrefix() {
    Listing listing;
    ListFolder(L"C:", listing);
    ListBranch(HKEY_LOCAL_MACHINE, L"HKLM", listing);
    ListBranch(HKEY_USERS, L"HKU", listing);
    return listing;
}

std::wstring ChangedSince(const Listing& before) {
    return Unexplained(before, ListPrefix(), [](const std::wstring&) { return false; });
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
