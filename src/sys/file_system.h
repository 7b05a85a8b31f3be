// File-system operations. A file in use is not a failure: it is moved aside under a new
// name (into the temporary folder, or beside itself when that folder is on another
// volume), scheduled for deletion at the next restart, and the operation carries on.
// Links (reparse points: symbolic links, junctions, mount points) are never followed, nor
// removed: where one stands in the way of a copy, a deletion, a set-aside or the removal of
// a tree, the operation fails with kLinkRefused and what the link points to is untouched.
// Paths are joined as folder, one backslash, name, without normalisation; two paths are
// compared as Windows resolves them (SamePath).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The Windows headers map these names to CopyFileW and DeleteFileW; this module's
// operations of the same names are always called qualified, and Windows' by their W names.
#undef CopyFile
#undef DeleteFile

namespace sys::FileSystem {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// The path made full as Windows makes it (forward slashes, "." and ".." and doubled
// backslashes resolved), without a long-path prefix; the path itself when that fails.
std::wstring FullPath(const std::wstring& path);
// Whether both name the same place: full paths compared without case.
bool SamePath(const std::wstring& a, const std::wstring& b);

// ERROR_REPARSE_POINT_ENCOUNTERED, which mingw's headers lack: a link where none may be.
inline constexpr DWORD kLinkRefused = 4395;

// Whether the path is a link (a reparse point): a symbolic link or a junction.
bool IsLink(const std::wstring& path);
// 0 with `exists` for a file or a folder; 160 for an empty path.
DWORD DoesFileExists(const std::wstring& path, bool& exists);
// Copies sourceFolder\fileName over destinationFolder\fileName. With compareVersions, a
// destination of the same FileVersion text is left alone. 2 for a missing source.
DWORD CopyFile(const std::wstring& fileName, const std::wstring& sourceFolder,
               const std::wstring& destinationFolder, const std::wstring& tempFolder,
               bool compareVersions);
DWORD ForceCopyFile(const std::wstring& fileName, const std::wstring& sourceFolder,
                    const std::wstring& destinationFolder, const std::wstring& tempFolder);
// differs is false exactly when both FileVersion texts are equal, except that a file in
// folderB that is the one in folderA cut short (an interrupted copy) always differs; a
// failed read gives the low 16 bits of its HRESULT.
DWORD CompareFileVersions(const std::wstring& fileName, const std::wstring& folderA,
                          const std::wstring& folderB, bool& differs);
DWORD CopyDirectory(const std::wstring& folderName, const std::wstring& sourceParent,
                    const std::wstring& destinationParent, const std::wstring& tempFolder,
                    bool compareVersions);
DWORD CopyDirectoryContents(const std::wstring& sourceFolder, const std::wstring& destinationFolder,
                            const std::wstring& tempFolder, bool compareVersions);
DWORD DeleteFile(const std::wstring& fileName, const std::wstring& folder,
                 const std::wstring& tempFolder);
DWORD DeleteDirectory(const std::wstring& folderPath, const std::wstring& tempFolder);
// Moves folder\fileName out of the way and schedules it for deletion at restart.
DWORD SetAsideLockedFile(const std::wstring& folder, const std::wstring& fileName,
                         const std::wstring& tempFolder);
// Appends the paths that Windows deletes at the next restart, as the scheduling gave them
// (full paths), in the order they were scheduled.
DWORD GetPendingDeletions(std::vector<std::wstring>& paths);

}  // namespace sys::FileSystem
