// One line to the host's logger, built in a stream and sent when the statement ends:
//   LogLine(logger, kLogError) << "CopyFiles: failure" << kErrorSuffix << code;
#pragma once

#include <OutlookPluginInstaller.h>

#include <string>
#include <type_traits>

enum LogLevel : int {
    kLogTrace = 0,          // step start and end lines, details
    kLogFolderNotDeleted = 1,
    kLogInfo = 3,           // procedure summaries and tolerated failures
    kLogError = 5,
};

// Put between a failure text and its code.
inline constexpr const wchar_t* kErrorSuffix = L" Error=";

// The line is built as the statement goes, so that running out of memory fails the statement
// where it allocates; sending it, in the destructor, allocates nothing and cannot throw. A
// line whose building failed is not sent.
class LogLine {
public:
    LogLine(PluginInstallerLogger* logger, int level) : logger_(logger), level_(level) {}
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    ~LogLine();

    LogLine& operator<<(const wchar_t* text) { return Append(text); }
    LogLine& operator<<(const std::wstring& text) { return Append(text.c_str()); }
    template <typename Number, std::enable_if_t<std::is_arithmetic_v<Number>, int> = 0>
    LogLine& operator<<(Number number) {
        complete_ = false;  // until the number's text is appended
        return Append(std::to_wstring(number).c_str());
    }

private:
    LogLine& Append(const wchar_t* text);

    PluginInstallerLogger* logger_;
    int level_;
    bool complete_ = true;
    std::wstring line_;
};
