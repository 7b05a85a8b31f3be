#include "file_state.h"

#include "scoped_temp_dir.h"

#include <ostream>

bool FileState::operator==(const FileState& other) const {
    return exists == other.exists && bytes == other.bytes &&
           CompareFileTime(&lastWrite, &other.lastWrite) == 0;
}

void BackdateFile(const std::wstring& path) {
    const SYSTEMTIME moment{2001, 1, 1, 1, 12, 0, 0, 0};
    FILETIME time{};
    SystemTimeToFileTime(&moment, &time);
    const sys::UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    if (file) SetFileTime(file.get(), nullptr, nullptr, &time);
}

FileState CaptureFile(const std::wstring& path) {
    FileState state;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return state;
    state.exists = true;
    state.lastWrite = data.ftLastWriteTime;
    state.bytes = ReadTextFile(path);
    return state;
}

void PrintTo(const FileState& state, std::ostream* out) {
    if (!state.exists) {
        *out << "{no file}";
        return;
    }
    *out << "{time " << state.lastWrite.dwHighDateTime << ":" << state.lastWrite.dwLowDateTime
         << ", bytes \"" << state.bytes << "\"}";
}

std::optional<std::string> StoredIniText(const std::wstring& path, const std::string& key) {
    const std::string text = ReadTextFile(path);
    const std::string start = key + "=";
    for (std::string::size_type line = 0; line < text.size();) {
        auto end = text.find('\n', line);
        if (end == std::string::npos) end = text.size();
        if (text.compare(line, start.size(), start) == 0) {
            std::string value = text.substr(line + start.size(), end - line - start.size());
            if (!value.empty() && value.back() == '\r') value.pop_back();
            return value;
        }
        line = end + 1;
    }
    return std::nullopt;
}

ScopedWriteBlock::ScopedWriteBlock(const std::wstring& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr)) {}
