// One line to the host's logger, built in a stream and sent when the statement ends:
//   LogLine(logger, kLogError) << "CopyFiles: failure" << kErrorSuffix << code;
#pragma once

#include <OutlookPluginInstaller.h>

#include <sstream>

enum LogLevel : int {
    kLogTrace = 0,          // step start and end lines, details
    kLogFolderNotDeleted = 1,
    kLogInfo = 3,           // procedure summaries and tolerated failures
    kLogError = 5,
};

// Put between a failure text and its code.
inline constexpr const wchar_t* kErrorSuffix = L" Error=";

class LogLine {
public:
    LogLine(PluginInstallerLogger* logger, int level) : logger_(logger), level_(level) {}
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    ~LogLine() {
        if (logger_) logger_->Log(level_, stream_.str().c_str());
    }

    template <typename T>
    LogLine& operator<<(const T& value) {
        stream_ << value;
        return *this;
    }

private:
    PluginInstallerLogger* logger_;
    int level_;
    std::wostringstream stream_;
};
