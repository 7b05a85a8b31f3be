// A host logger that keeps every line, for exact comparisons of what the library logged.
#pragma once

#include <OutlookPluginInstaller.h>

#include <string>
#include <vector>

struct LogEntry {
    int level;
    std::wstring text;
    bool operator==(const LogEntry& other) const {
        return level == other.level && text == other.text;
    }
};

class RecordingLogger final : public PluginInstallerLogger {
public:
    void HostSlot0() override { Unexpected(); }
    void HostSlot1() override { Unexpected(); }
    void HostSlot2() override { Unexpected(); }
    void HostSlot3() override { Unexpected(); }
    void Log(int level, const wchar_t* message) override { entries.push_back({level, message}); }

    std::vector<std::wstring> Texts() const;
    // The lines logged at exactly this level, in order.
    std::vector<std::wstring> TextsAt(int level) const;
    bool Contains(int level, const std::wstring& text) const;
    // Index of the first line with this text at or after `from`, or -1.
    int IndexOf(const std::wstring& text, size_t from = 0) const;
    void Clear() { entries.clear(); }

    std::vector<LogEntry> entries;

private:
    static void Unexpected();
};

// gtest prints entries in failure messages.
void PrintTo(const LogEntry& entry, std::ostream* out);
