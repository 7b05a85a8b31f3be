#include "recording_logger.h"

#include <cstdlib>
#include <cstdio>
#include <ostream>

std::vector<std::wstring> RecordingLogger::Texts() const {
    std::vector<std::wstring> texts;
    for (const LogEntry& entry : entries) texts.push_back(entry.text);
    return texts;
}

std::vector<std::wstring> RecordingLogger::TextsAt(int level) const {
    std::vector<std::wstring> texts;
    for (const LogEntry& entry : entries)
        if (entry.level == level) texts.push_back(entry.text);
    return texts;
}

bool RecordingLogger::Contains(int level, const std::wstring& text) const {
    for (const LogEntry& entry : entries)
        if (entry.level == level && entry.text == text) return true;
    return false;
}

int RecordingLogger::IndexOf(const std::wstring& text, size_t from) const {
    for (size_t i = from; i < entries.size(); ++i)
        if (entries[i].text == text) return static_cast<int>(i);
    return -1;
}

// The library may call only slot 4 of the host's logger.
void RecordingLogger::Unexpected() {
    std::fputs("the library called a host-owned logger slot\n", stderr);
    std::abort();
}

void PrintTo(const LogEntry& entry, std::ostream* out) {
    std::string narrow;
    for (wchar_t c : entry.text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    *out << "{" << entry.level << ", \"" << narrow << "\"}";
}
