#include "engine/log_line.h"

LogLine::~LogLine() {
    if (logger_ && complete_) logger_->Log(level_, line_.c_str());
}

LogLine& LogLine::Append(const wchar_t* text) {
    complete_ = false;
    line_ += text;
    complete_ = true;
    return *this;
}
