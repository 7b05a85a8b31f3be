// Who else could have written a file or folder. The library runs as SYSTEM and loads the
// add-in into its own process: a place that another account may write, append to, create
// in or change the permissions of is no place to load code from.
#pragma once

#include <windows.h>

#include <string>

namespace sys::FileSecurity {

struct Writer {
    std::wstring account;  // "DOMAIN\name", or the SID when it has no name
    std::wstring rights;   // what it may do, e.g. "write, append"
};

// 0 with `writer.account` empty when nobody but SYSTEM, Administrators, TrustedInstaller
// and the account the calling thread runs as may write `path`; else the first other account
// that may, found in the DACL or as the owner (who may always change the permissions). A
// DACL that cannot be read is its code.
DWORD FindUntrustedWriter(const std::wstring& path, Writer& writer);
// "account may change place (rights)", as the log lines say it.
std::wstring WhoMayChange(const std::wstring& place, const Writer& writer);

}  // namespace sys::FileSecurity
