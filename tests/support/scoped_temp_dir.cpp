#include "scoped_temp_dir.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    return base;
}

}  // namespace

ScopedTempDir::ScopedTempDir() : ScopedTempDir(TempFolder()) {}

ScopedTempDir::ScopedTempDir(const std::wstring& parent) {
    static std::atomic<unsigned> counter{0};
    path_ = parent + L"\\opi-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++) + L"-" + std::to_wstring(GetTickCount());
    created_ = CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
}

ScopedTempDir::~ScopedTempDir() {
    if (!created_) return;
    std::error_code ignored;
    // Files set aside as read-only would block the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path_, ignored);
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\'));
}

std::wstring FixturePath(const std::wstring& name) { return ProgramFolder() + L"\\fixtures\\" + name; }

void WriteTextFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out << bytes;
}

std::string ReadTextFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
