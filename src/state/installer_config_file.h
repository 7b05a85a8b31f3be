// "Installer.ini" in the agent folder: per profile section, the encoded folders the
// add-in was installed for and the INI files that received its entry.
#pragma once

#include "engine/records.h"

#include <string>
#include <vector>

// Paths are stored encoded, one item per path in a ";"-separated list.
std::wstring EncodePath(const std::wstring& path);
std::wstring DecodePath(const std::wstring& item);

class InstallerConfigFile {
public:
    explicit InstallerConfigFile(std::wstring folder) : folder_(std::move(folder)) {}

    DWORD AddApplicationPaths(const std::wstring& section, const ApplicationPathList& paths) const;
    DWORD AddINIPaths(const std::wstring& section, const INIFileEntryInfo& entry) const;
    DWORD ClearApplicationList(const std::wstring& section) const;
    DWORD ClearINIList(const std::wstring& section) const;
    DWORD ClearCommandLineINIList(const std::wstring& section) const;
    // 2 when the file does not exist or cannot be opened; `paths` is appended to.
    DWORD GetInstalledApplicationPaths(const std::wstring& section,
                                       std::vector<std::wstring>& paths) const;
    DWORD GetINIPaths(const std::wstring& section, std::vector<std::wstring>& paths) const;
    // Found only by the exact text it was added with.
    DWORD RemoveApplicationPath(const std::wstring& section, const std::wstring& path) const;
    DWORD RemoveINIValue(const std::wstring& section, const std::wstring& path) const;

private:
    std::wstring FilePath() const;

    std::wstring folder_;
};
