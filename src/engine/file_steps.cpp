#include "engine/plugin_installation_manager.h"

#include "state/installer_config_file.h"
#include "sys/file_security.h"
#include "sys/file_system.h"

#include <algorithm>

namespace fs = sys::FileSystem;

namespace {

constexpr const wchar_t* kLongPathPrefix = L"\\\\?\\";
constexpr const wchar_t* kUncPrefix = L"UNC";
constexpr const wchar_t* kSourcefileText = L"Sourcefile = ";

bool IsNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

}  // namespace

DWORD PluginInstallationManager::VerifySource() {
    Log(kLogTrace) << L"VerifySource Start";
    std::vector<std::wstring> fileNames;
    if (DWORD r = GetSourceFilesForVerification(fileNames)) return r;
    if (fileNames.empty()) return ERROR_FILE_NOT_FOUND;

    for (const std::wstring& name : fileNames) {
        const std::wstring path = fs::JoinPath(installSourceDir, name);
        bool exists = false;
        DWORD r = fs::DoesFileExists(path, exists);
        if (r == ERROR_SUCCESS && !exists) r = ERROR_FILE_NOT_FOUND;
        if (r) {
            Log(kLogError) << L"VerifySource failure" << kSourcefileText << path << kErrorSuffix
                           << r;
            return r;
        }
    }
    Log(kLogTrace) << L"VerifySource End";
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::CopyFiles(const ApplicationPathList& applicationPaths,
                                           bool compareVersions) {
    Log(kLogTrace) << L"CopyFiles Start";
    FileCopyMap files;
    if (DWORD r = GetSourceFileWithDestinationPaths(applicationPaths, files)) {
        Log(kLogError) << L"CopyFiles: GetSourceFileWithDestinationPaths failure" << kErrorSuffix
                       << r;
        return r;
    }

    for (const auto& [name, destinations] : files) {
        for (const std::wstring& destination : destinations) {
            Log(kLogTrace) << L"Copy Source File= " << name << L" to Destination Path= "
                           << destination;
            const DWORD attributes =
                GetFileAttributesW(fs::JoinPath(installSourceDir, name).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = GetLastError();
                Log(kLogError) << L"CopyFiles GetFileAttributes failure" << kErrorSuffix << error;
                return error;
            }

            // A folder and a file are logged alike under the name of the operation used.
            const bool isFolder = IsFolder(attributes);
            if (!isFolder) {
                if (DWORD r = ReplaceUntrustedFile(name, destination)) return r;
            }
            const wchar_t* operation = isFolder ? L"CopyDirectory" : L"CopyFile";
            Log(kLogTrace) << operation << L" Start";
            DWORD r = isFolder ? fs::CopyDirectory(name, installSourceDir, destination, tempDir,
                                                   compareVersions)
                               : fs::CopyFile(name, installSourceDir, destination, tempDir,
                                              compareVersions);
            if (r == ERROR_FILE_EXISTS) {
                Log(kLogTrace) << operation << L": " << name << L" is already exist";
                r = ERROR_SUCCESS;
            } else if (r) {
                Log(kLogError) << operation << L": failure" << kErrorSuffix << r;
                return r;
            }
            Log(kLogTrace) << operation << L" End";
        }
    }
    Log(kLogTrace) << L"CopyFiles End";
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::DeleteFiles(const ApplicationPathList& applicationPaths) {
    Log(kLogTrace) << L"DeleteFiles Start";
    ApplicationPathList paths = applicationPaths;

    std::wstring section;
    const DWORD sectionResult = GetInstallerConfigSectionName(section);
    if (sectionResult != ERROR_SUCCESS && sectionResult != kResultNotSupported)
        return sectionResult;

    const InstallerConfigFile configFile(installDir);
    if (!section.empty()) {
        const DWORD r = configFile.GetInstalledApplicationPaths(section, paths);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogTrace) << L"DeleteFiles: failure, Error="
                           << L" Installer config file doesn't found";
        } else if (r) {
            Log(kLogError) << L"DeleteFiles: GetInstalledApplicationPaths failure" << kErrorSuffix
                           << r;
            return r;
        }
    }
    // Each folder once, whether given twice or also recorded by an earlier installation.
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    FileCopyMap files;
    if (DWORD r = GetAllSourceFileWithDestinationPaths(paths, files)) {
        Log(kLogError) << L"DeleteFiles: GetAllSourceFileWithDestinationPaths failure"
                       << kErrorSuffix << r;
        return r;
    }

    // Every destination is visited; the most recent failure is the result.
    DWORD lastFailure = ERROR_SUCCESS;
    for (const auto& [name, destinations] : files) {
        for (const std::wstring& destination : destinations) {
            Log(kLogTrace) << L"Delete Source File= " << name << L" from Destination Path= "
                           << destination;
            const std::wstring path = fs::JoinPath(destination, name);
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = GetLastError();
                if (!IsNotFound(error)) {
                    Log(kLogError)
                        << L"DeleteFiles GetFileAttributes failure" << kErrorSuffix << error;
                    lastFailure = error;
                    continue;
                }
                Log(kLogTrace) << L"DeleteFiles: failure, file path doesn't found, sourcefile= "
                               << path;
                if (!section.empty()) {
                    Log(kLogTrace) << L"DeleteFiles: file path doesn't found so removing it from "
                                      L"installer config file";
                    if (DWORD r = configFile.RemoveApplicationPath(section, destination))
                        Log(kLogInfo)
                            << L"DeleteFiles: RemoveApplicationPath failure" << kErrorSuffix << r;
                }
                continue;
            }

            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                Log(kLogError) << L"DeleteFiles: " << path
                               << L" is a link: neither it nor what it points to is removed";
            if (IsFolder(attributes)) {
                Log(kLogTrace) << L"DeleteDirectory Start";
                const DWORD r = fs::DeleteDirectory(path, tempDir);
                if (r == ERROR_INVALID_NAME) {
                    Log(kLogTrace)
                        << L"DeleteDirectory: failure, Error, Invalid name for Directory = "
                        << path;
                } else if (r) {
                    Log(kLogFolderNotDeleted) << L"DeleteDirectory: failure" << r;
                    lastFailure = r;
                }
                Log(kLogTrace) << L"DeleteDirectory End";
            } else {
                Log(kLogTrace) << L"DeleteFile Start";
                const DWORD r = fs::DeleteFile(name, destination, tempDir);
                if (r == ERROR_INVALID_NAME) {
                    Log(kLogTrace)
                        << L"DeleteFile: failure, Error, Invalid name for File = " << name;
                } else if (r) {
                    Log(kLogError) << L"DeleteFile: failure" << r;
                    lastFailure = r;
                }
                Log(kLogTrace) << L"DeleteFile End";
            }
        }
    }
    Log(kLogTrace) << L"DeleteFiles End";
    return lastFailure;
}

DWORD PluginInstallationManager::VerifyIfFilesExists(const ApplicationPathList& applicationPaths,
                                                     bool& allPresent) {
    allPresent = true;
    FileCopyMap files;
    if (DWORD r = GetSourceFileWithDestinationPaths(applicationPaths, files)) {
        Log(kLogError) << L"VerifyIfFilesExists: GetSourceFileWithDestinationPaths failure"
                       << kErrorSuffix << r;
        return r;
    }

    // Checks folder\name against installSourceDir\name: present and of the same FileVersion
    // (or without resource data to compare).
    const auto checkFile = [&](const std::wstring& folder, const std::wstring& name,
                               bool& matches) -> DWORD {
        matches = false;
        const std::wstring path = fs::JoinPath(folder, name);
        bool exists = false;
        if (DWORD r = fs::DoesFileExists(path, exists)) {
            Log(kLogError) << L"VerifyIfFilesExists: DoesFileExists failure Error= " << r
                           << L", File '" << path << L"'";
            return r;
        }
        if (!exists) {
            Log(kLogTrace) << L"VerifyIfFilesExists: Sourcefile " << path << L" not found";
            return ERROR_SUCCESS;
        }
        bool differs = true;
        const DWORD r = fs::CompareFileVersions(name, installSourceDir, folder, differs);
        if (r == ERROR_RESOURCE_DATA_NOT_FOUND) {
            Log(kLogTrace) << L"VerifyIfFilesExists: Sourcefile " << path
                           << L" no resource data is available";
        } else if (r || differs) {
            Log(kLogTrace) << L"VerifyIfFilesExists: Sourcefile " << path
                           << L" version info is different";
            return ERROR_SUCCESS;
        }
        matches = true;
        return ERROR_SUCCESS;
    };

    for (const auto& [name, destinations] : files) {
        for (const std::wstring& destination : destinations) {
            const std::wstring path = fs::JoinPath(destination, name);
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = GetLastError();
                if (IsNotFound(error)) {
                    Log(kLogTrace) << L"VerifyIfFilesExists: File " << path << L" not found";
                    allPresent = false;
                    return ERROR_SUCCESS;
                }
                Log(kLogError) << L"VerifyIfFilesExists GetFileAttributes failure" << kErrorSuffix
                               << error;
                return error;
            }

            bool matches = false;
            if (!IsFolder(attributes)) {
                if (DWORD r = checkFile(destination, name, matches)) return r;
                if (!matches) {
                    allPresent = false;
                    return ERROR_SUCCESS;
                }
                continue;
            }
            // A deployed folder is checked by the verification names, looked for in the
            // destination folder itself; the first mismatch ends this destination only.
            std::vector<std::wstring> fileNames;
            if (DWORD r = GetSourceFilesForVerification(fileNames)) {
                Log(kLogError) << L"VerifyIfFilesExists: GetSourceFilesForVerification failure"
                               << kErrorSuffix << r;
                return r;
            }
            for (const std::wstring& fileName : fileNames) {
                if (DWORD r = checkFile(destination, fileName, matches)) return r;
                if (!matches) {
                    allPresent = false;
                    break;
                }
            }
        }
        if (!allPresent) return ERROR_SUCCESS;
    }
    return ERROR_SUCCESS;
}

// A file that another account may change keeps its owner and ACL when copied over: it is
// deleted, so that the copy is a new file with the folder's ACL.
DWORD PluginInstallationManager::ReplaceUntrustedFile(const std::wstring& name, const std::wstring& folder) {
    const std::wstring path = fs::JoinPath(folder, name);
    bool exists = false;
    if (fs::DoesFileExists(path, exists) != ERROR_SUCCESS || !exists || fs::IsLink(path)) return ERROR_SUCCESS;
    sys::FileSecurity::Writer writer;
    const DWORD read = sys::FileSecurity::FindUntrustedWriter(path, writer);
    if (read == ERROR_SUCCESS && writer.account.empty()) return ERROR_SUCCESS;
    const std::wstring why = read == ERROR_SUCCESS ? sys::FileSecurity::WhoMayChange(path, writer)
                                                   : L"who may change " + path + L" could not be read";
    Log(kLogInfo) << L"CopyFiles: " << why << L": it is replaced, not written into";
    if (DWORD r = fs::DeleteFile(name, folder, tempDir)) {
        Log(kLogError) << L"CopyFiles: DeleteFile failure" << kErrorSuffix << r;
        return r;
    }
    return ERROR_SUCCESS;
}

bool PluginInstallationManager::CheckIfFileAccessible(const std::wstring& path, DWORD code) {
    Log(kLogError) << L"CheckIfFileAccessible " << kSourcefileText << path << kErrorSuffix << code;
    return false;
}

DWORD PluginInstallationManager::AddLongPathPrefix(std::wstring& path) {
    // A path already in long form would never exist prefixed twice.
    if (path.empty() || path.rfind(kLongPathPrefix, 0) == 0) return ERROR_SUCCESS;
    // A path with a drive letter is prefixed whole; a UNC path loses one of its backslashes.
    if (path.find(L':') != std::wstring::npos)
        path = kLongPathPrefix + path;
    else
        path = kLongPathPrefix + std::wstring(kUncPrefix) + path.substr(1);
    return ERROR_SUCCESS;
}
