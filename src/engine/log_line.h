// One line to the host's logger, built in a stream and sent when the statement ends:
//   LogLine(logger, kLogError) << "CopyFiles: failure" << kErrorSuffix << code;
#pragma once

#include <OutlookPluginInstaller.h>

#include <exception>
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
// where it allocates; sending it, in the destructor, allocates nothing and cannot throw.
class LogLine {
public:
    LogLine(PluginInstallerLogger* logger, int level)
        : logger_(logger), level_(level), exceptions_(std::uncaught_exceptions()) {}
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    ~LogLine() {
        // A line left half built by an exception is not sent.
        if (logger_ && std::uncaught_exceptions() == exceptions_) logger_->Log(level_, line_.c_str());
    }

    LogLine& operator<<(const wchar_t* text) {
        line_ += text;
        return *this;
    }
    LogLine& operator<<(const std::wstring& text) {
        line_ += text;
        return *this;
    }
    template <typename Number, std::enable_if_t<std::is_arithmetic_v<Number>, int> = 0>
    LogLine& operator<<(Number number) {
        line_ += std::to_wstring(number);
        return *this;
    }

private:
    PluginInstallerLogger* logger_;
    int level_;
    int exceptions_;
    std::wstring line_;
};
