// A listing of everything in the Wine prefix that a program can change through Windows:
// every folder and file of drive C: and every key and value of HKEY_LOCAL_MACHINE and
// HKEY_USERS (HKEY_CURRENT_USER and HKEY_CLASSES_ROOT are views of these two). Two
// listings taken around a request show everything the request wrote.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

enum class EntryKind { kFile, kKey, kValue };

// A file or folder by its path, a key by its path ("HKLM\..." or "HKU\..."), a value by
// its key's path and its name.
struct EntryName {
    EntryKind kind;
    std::wstring path;
    std::wstring value;
    bool operator<(const EntryName& other) const;
};

// Entry -> what it holds: a file's size and last write, a folder's last write, a key's
// last write, a value's type and data (digested).
using Listing = std::map<EntryName, std::wstring>;

Listing ListPrefix();

enum class ChangeKind { kAdded, kRemoved, kChanged };
struct Change {
    ChangeKind kind;
    EntryName name;
};
std::vector<Change> Compare(const Listing& before, const Listing& after);
// "added value HKLM\SOFTWARE\X : Name", for failure messages.
std::string Describe(const Change& change);
