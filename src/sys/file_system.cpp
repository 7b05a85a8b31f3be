#include "sys/file_system.h"

#include "sys/handles.h"
#include "sys/registry.h"
#include "sys/version_info.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>

namespace sys::FileSystem {
namespace {

constexpr const wchar_t* kAllEntries = L"*";
constexpr const wchar_t* kCurrentFolder = L".";
constexpr const wchar_t* kParentFolder = L"..";
constexpr const wchar_t* kSetAsideSeparator = L"_";
// Moving aside never copies: a temporary folder on another volume fails with 17 instead.
constexpr DWORD kSetAsideMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// Where MoveFileEx keeps what it is to do at the next restart: pairs of an NT path and the
// new one, an empty new path meaning deletion.
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenamesValue = L"PendingFileRenameOperations";
constexpr const wchar_t* kNtPathPrefix = L"\\??\\";
constexpr const wchar_t* kLongPathPrefix = L"\\\\?\\";
constexpr const wchar_t* kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr const wchar_t* kUncPrefix = L"\\\\";
constexpr DWORD kSystemView = 0;

bool IsNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsDotEntry(const wchar_t* name) {
    return std::wcsncmp(name, kCurrentFolder, MAX_PATH) == 0 ||
           std::wcsncmp(name, kParentFolder, MAX_PATH) == 0;
}

bool IsFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLinkEntry(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// GetTickCount read as a signed number: after 2^31 ms of uptime the suffix starts with "-".
std::wstring TickCountSuffix() {
    return std::to_wstring(static_cast<std::int32_t>(GetTickCount()));
}

// 0 when the folder exists afterwards, whether or not this call created it; nothing is
// copied into a link in its place.
DWORD CreateFolder(const std::wstring& path) {
    if (IsLink(path)) return kLinkRefused;
    if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    return GetLastError();
}

// The end of an enumeration: 0 when the folder had no more entries, else what stopped it.
DWORD EnumerationResult() {
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

UniqueFile OpenForReading(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Up to `size` bytes from where the file stands.
DWORD ReadBlock(const UniqueFile& file, std::string& block, DWORD size) {
    block.resize(size);
    DWORD read = 0;
    if (!ReadFile(file.get(), block.data(), size, &read, nullptr)) return GetLastError();
    block.resize(read);
    return ERROR_SUCCESS;
}

// A copy that was cut short (the copying process killed, the machine stopped) holds the
// beginning of its source and then nothing, or zeros where the copy had reserved the full
// size. Its FileVersion, in the first block, still reads as the source's. Both files are
// read a block at a time: either may be as large as anyone made it. A file that cannot be
// read fails the check rather than passing it.
DWORD IsCutShortCopy(const std::wstring& copy, const std::wstring& source, bool& cutShort) {
    constexpr DWORD kBlockSize = 64 * 1024;
    cutShort = false;
    const UniqueFile copyFile = OpenForReading(copy);
    if (!copyFile) return GetLastError();
    const UniqueFile sourceFile = OpenForReading(source);
    if (!sourceFile) return GetLastError();
    LARGE_INTEGER copySize{};
    LARGE_INTEGER sourceSize{};
    if (!GetFileSizeEx(copyFile.get(), &copySize) || !GetFileSizeEx(sourceFile.get(), &sourceSize))
        return GetLastError();
    if (copySize.QuadPart > sourceSize.QuadPart) return ERROR_SUCCESS;
    std::string copyBlock;
    std::string sourceBlock;
    bool differed = false;
    for (;;) {
        if (DWORD r = ReadBlock(copyFile, copyBlock, kBlockSize)) return r;
        if (DWORD r = ReadBlock(sourceFile, sourceBlock, kBlockSize)) return r;
        if (sourceBlock.size() < copyBlock.size()) return ERROR_SUCCESS;
        if (copyBlock.empty()) {
            cutShort = differed || copySize.QuadPart < sourceSize.QuadPart;
            return ERROR_SUCCESS;
        }
        size_t at = 0;
        if (!differed) {
            at = static_cast<size_t>(
                std::mismatch(copyBlock.begin(), copyBlock.end(), sourceBlock.begin()).first - copyBlock.begin());
            differed = at < copyBlock.size();
        }
        if (!std::all_of(copyBlock.begin() + static_cast<std::ptrdiff_t>(at), copyBlock.end(),
                         [](char byte) { return byte == '\0'; }))
            return ERROR_SUCCESS;
    }
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    return folder + L"\\" + name;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    const std::wstring longUnc = kLongUncPrefix;
    const std::wstring longPath = kLongPathPrefix;
    if (full.compare(0, longUnc.size(), longUnc) == 0) return kUncPrefix + full.substr(longUnc.size());
    if (full.compare(0, longPath.size(), longPath) == 0) return full.substr(longPath.size());
    return full;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const std::wstring fullA = FullPath(a);
    const std::wstring fullB = FullPath(b);
    return ::CompareStringOrdinal(fullA.c_str(), static_cast<int>(fullA.size()), fullB.c_str(),
                                  static_cast<int>(fullB.size()), TRUE) == CSTR_EQUAL;
}

bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

DWORD DoesFileExists(const std::wstring& path, bool& exists) {
    if (path.empty()) return ERROR_BAD_ARGUMENTS;
    exists = false;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        exists = true;
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return IsNotFound(error) ? ERROR_SUCCESS : error;
}

DWORD SetAsideLockedFile(const std::wstring& folder, const std::wstring& fileName,
                         const std::wstring& tempFolder) {
    const std::wstring target = JoinPath(folder, fileName);
    const std::wstring suffix = kSetAsideSeparator + TickCountSuffix();
    std::wstring newName = JoinPath(tempFolder, fileName) + suffix;
    // A file moved through a link would land wherever the link points.
    if (IsLink(tempFolder) || IsLink(newName)) return kLinkRefused;
    if (!MoveFileExW(target.c_str(), newName.c_str(), kSetAsideMoveFlags)) {
        if (GetLastError() != ERROR_NOT_SAME_DEVICE) return GetLastError();
        newName = target + suffix;
        if (!MoveFileExW(target.c_str(), newName.c_str(), kSetAsideMoveFlags))
            return GetLastError();
    }
    if (!MoveFileExW(newName.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return GetLastError();
    return ERROR_SUCCESS;
}

DWORD ForceCopyFile(const std::wstring& fileName, const std::wstring& sourceFolder,
                    const std::wstring& destinationFolder, const std::wstring& tempFolder) {
    const std::wstring source = JoinPath(sourceFolder, fileName);
    const std::wstring destination = JoinPath(destinationFolder, fileName);
    // Copying onto a link writes where it points.
    if (IsLink(destination)) return kLinkRefused;
    if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) return ERROR_SUCCESS;
    // Only a file in use is set aside; anything else (a read-only file: 5) is a failure.
    if (GetLastError() != ERROR_SHARING_VIOLATION) return GetLastError();
    if (DWORD r = SetAsideLockedFile(destinationFolder, fileName, tempFolder)) return r;
    if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) return ERROR_SUCCESS;
    return GetLastError();
}

DWORD CopyFile(const std::wstring& fileName, const std::wstring& sourceFolder,
               const std::wstring& destinationFolder, const std::wstring& tempFolder,
               bool compareVersions) {
    if (fileName.empty() || sourceFolder.empty() || destinationFolder.empty() || tempFolder.empty())
        return ERROR_BAD_ARGUMENTS;

    bool sourceExists = false;
    if (DWORD r = DoesFileExists(JoinPath(sourceFolder, fileName), sourceExists)) return r;
    if (!sourceExists) return ERROR_FILE_NOT_FOUND;

    if (compareVersions && !IsLink(JoinPath(destinationFolder, fileName))) {
        bool destinationExists = false;
        if (DWORD r = DoesFileExists(JoinPath(destinationFolder, fileName), destinationExists))
            return r;
        // A version that cannot be read is no reason not to copy.
        bool differs = true;
        if (destinationExists &&
            CompareFileVersions(fileName, sourceFolder, destinationFolder, differs) == 0 &&
            !differs)
            return ERROR_SUCCESS;
    }
    return ForceCopyFile(fileName, sourceFolder, destinationFolder, tempFolder);
}

DWORD CompareFileVersions(const std::wstring& fileName, const std::wstring& folderA,
                          const std::wstring& folderB, bool& differs) {
    differs = true;
    bool cutShort = false;
    if (DWORD r = IsCutShortCopy(JoinPath(folderB, fileName), JoinPath(folderA, fileName), cutShort)) return r;
    if (cutShort) return ERROR_SUCCESS;
    std::wstring versionA;
    std::wstring versionB;
    HRESULT hr = VersionInfo::GetFileVersionString(JoinPath(folderA, fileName), versionA);
    if (FAILED(hr)) return HRESULT_CODE(hr);
    hr = VersionInfo::GetFileVersionString(JoinPath(folderB, fileName), versionB);
    if (FAILED(hr)) return HRESULT_CODE(hr);
    differs = versionA != versionB;
    return ERROR_SUCCESS;
}

DWORD CopyDirectory(const std::wstring& folderName, const std::wstring& sourceParent,
                    const std::wstring& destinationParent, const std::wstring& tempFolder,
                    bool compareVersions) {
    if (folderName.empty() || sourceParent.empty() || destinationParent.empty() ||
        tempFolder.empty())
        return ERROR_BAD_ARGUMENTS;
    const std::wstring destination = JoinPath(destinationParent, folderName);
    if (DWORD r = CreateFolder(destination)) return r;
    return CopyDirectoryContents(JoinPath(sourceParent, folderName), destination, tempFolder,
                                 compareVersions);
}

DWORD CopyDirectoryContents(const std::wstring& sourceFolder, const std::wstring& destinationFolder,
                            const std::wstring& tempFolder, bool compareVersions) {
    WIN32_FIND_DATAW entry;
    const UniqueFind search(FindFirstFileW(JoinPath(sourceFolder, kAllEntries).c_str(), &entry));
    if (!search) return GetLastError();
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        const std::wstring name = entry.cFileName;
        DWORD r = ERROR_SUCCESS;
        if (IsFolder(entry)) {
            // Locked files of every depth are set aside flat in the one temporary folder.
            const std::wstring destination = JoinPath(destinationFolder, name);
            r = CreateFolder(destination);
            if (r == ERROR_SUCCESS)
                r = CopyDirectoryContents(JoinPath(sourceFolder, name), destination, tempFolder,
                                          compareVersions);
        } else {
            r = CopyFile(name, sourceFolder, destinationFolder, tempFolder, compareVersions);
        }
        if (r) return r;
    } while (FindNextFileW(search.get(), &entry));
    return EnumerationResult();
}

DWORD DeleteFile(const std::wstring& fileName, const std::wstring& folder,
                 const std::wstring& tempFolder) {
    if (fileName.empty() || folder.empty() || tempFolder.empty()) return ERROR_BAD_ARGUMENTS;
    const std::wstring path = JoinPath(folder, fileName);
    if (IsLink(path)) return kLinkRefused;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_SUCCESS || IsNotFound(error) ? ERROR_SUCCESS : error;
    }
    if (DeleteFileW(path.c_str())) return ERROR_SUCCESS;
    // In use (32) or read-only (5): out of the way it goes, deleted at the next restart.
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return error;
    return SetAsideLockedFile(folder, fileName, tempFolder);
}

DWORD DeleteDirectory(const std::wstring& folderPath, const std::wstring& tempFolder) {
    if (folderPath.empty() || tempFolder.empty()) return ERROR_BAD_ARGUMENTS;
    if (IsLink(folderPath)) return kLinkRefused;
    {
        WIN32_FIND_DATAW entry;
        const UniqueFind search(FindFirstFileW(JoinPath(folderPath, kAllEntries).c_str(), &entry));
        if (!search) return GetLastError();
        do {
            if (IsDotEntry(entry.cFileName)) continue;
            const std::wstring name = entry.cFileName;
            const DWORD r = IsLinkEntry(entry) ? kLinkRefused
                            : IsFolder(entry)  ? DeleteDirectory(JoinPath(folderPath, name), tempFolder)
                                               : DeleteFile(name, folderPath, tempFolder);
            if (r) return r;
        } while (FindNextFileW(search.get(), &entry));
        if (DWORD r = EnumerationResult()) return r;
    }  // the search is closed before the folder is removed
    // Not empty: a locked file was set aside beside itself, and the folder stays for it.
    if (RemoveDirectoryW(folderPath.c_str()) || GetLastError() == ERROR_DIR_NOT_EMPTY)
        return ERROR_SUCCESS;
    return GetLastError();
}

DWORD GetPendingDeletions(std::vector<std::wstring>& paths) {
    std::vector<std::wstring> operations;
    const DWORD read = Registry::GetMultiStringValue(HKEY_LOCAL_MACHINE, kSessionManagerKey,
                                                     kPendingRenamesValue, operations, kSystemView);
    if (read == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (read != ERROR_SUCCESS) return read;
    const std::wstring prefix = kNtPathPrefix;
    std::vector<std::wstring> deletions;
    for (size_t i = 0; i + 1 < operations.size(); i += 2) {
        if (!operations[i + 1].empty()) continue;
        const std::wstring& path = operations[i];
        deletions.push_back(path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path);
    }
    paths.insert(paths.end(), deletions.begin(), deletions.end());
    return ERROR_SUCCESS;
}

}  // namespace sys::FileSystem
