// Everything in the prefix that a program can change through Windows: the files and
// folders of drive C: and the keys and values of HKEY_LOCAL_MACHINE and HKEY_USERS, as
// stored (the 32-bit view's Wow6432Node keys are ordinary keys here). Two listings taken
// around a request show everything the request wrote.
#pragma once

#include <functional>
#include <map>
#include <string>

// "file C:\...", "key HKLM\..." or "value HKLM\...:Name" -> a digest of what it holds.
using Listing = std::map<std::wstring, std::wstring>;
Listing ListPrefix();

// The differences that `allowed` does not explain, one per line ("added file C:\x").
std::wstring Unexplained(const Listing& before, const Listing& after,
                         const std::function<bool(const std::wstring& entry)>& allowed);
// Every difference between `before` and the prefix now.
std::wstring ChangedSince(const Listing& before);
