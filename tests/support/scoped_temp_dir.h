// A fresh folder under the prefix's temporary folder, or under `parent` (another volume,
// say), removed with everything in it.
#pragma once

#include <string>

class ScopedTempDir {
public:
    ScopedTempDir();
    explicit ScopedTempDir(const std::wstring& parent);
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::wstring& path() const { return path_; }
    bool created() const { return created_; }
    // path()\name
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
    bool created_ = false;
};

// Folder of the running test program, where the DLL and the fixtures are built.
std::wstring ProgramFolder();
std::wstring FixturePath(const std::wstring& name);  // ProgramFolder()\fixtures\name
void WriteTextFile(const std::wstring& path, const std::string& bytes);
std::string ReadTextFile(const std::wstring& path);
