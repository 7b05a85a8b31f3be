// Fixtures for tests on real files: copies
// of the built fixture DLLs, and the restart-time deletions that Windows has been asked for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Z: is Wine's view of the Linux root; /dev/shm there is a tmpfs, another volume than C:.
inline constexpr const wchar_t* kOtherVolumeParent = L"Z:\\dev\\shm";

// Copies fixtures\<fixture> (e.g. L"v1\\tolvane64.dll") to `destination`.
bool CopyFixture(const std::wstring& fixture, const std::wstring& destination);
bool SameContents(const std::wstring& a, const std::wstring& b);
// Names in `folder`, without "." and "..", sorted.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);
// Tick count as the set-aside suffix reads it: signed.
long SignedTickCount();

// PendingFileRenameOperations of the Session Manager, put back as it was on destruction.
class PendingRenames {
public:
    PendingRenames();
    ~PendingRenames();
    PendingRenames(const PendingRenames&) = delete;
    PendingRenames& operator=(const PendingRenames&) = delete;

    // Whether `path` is listed for deletion (with an empty new name) at the next restart.
    bool ScheduledForDeletion(const std::wstring& path) const;
    // Entries added since construction.
    std::vector<std::wstring> Added() const;

private:
    static bool Read(std::vector<BYTE>& data, DWORD& type);
    static std::vector<std::wstring> Entries(const std::vector<BYTE>& data);

    bool existed_ = false;
    DWORD type_ = REG_MULTI_SZ;
    std::vector<BYTE> original_;
};
