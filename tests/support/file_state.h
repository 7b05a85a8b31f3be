// Helpers for tests that must prove a file was, or was not, written: its bytes and its
// last-write time, the raw text of an INI key, and a lock that lets readers in but makes
// every write fail.
#pragma once

#include "sys/handles.h"

#include <windows.h>

#include <optional>
#include <string>

struct FileState {
    bool exists = false;
    std::string bytes;
    FILETIME lastWrite{};
    bool operator==(const FileState& other) const;
};

// Sets the last-write time to a fixed moment long past, so that any later write shows
// even when it happens within the file system's time resolution.
void BackdateFile(const std::wstring& path);
FileState CaptureFile(const std::wstring& path);
void PrintTo(const FileState& state, std::ostream* out);

// The text after "key=" on the first line of the file that starts so, as stored (no
// trimming, no quote removal); nothing when no line holds the key.
std::optional<std::string> StoredIniText(const std::wstring& path, const std::string& key);

// Holds the file open for reading and shares only reading: an existence check that opens
// for reading succeeds, a write fails with ERROR_SHARING_VIOLATION.
class ScopedWriteBlock {
public:
    explicit ScopedWriteBlock(const std::wstring& path);
    explicit operator bool() const { return static_cast<bool>(handle_); }

private:
    sys::UniqueFile handle_;
};
