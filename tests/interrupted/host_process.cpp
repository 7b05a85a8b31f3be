#include "host_process.h"

#include "scoped_temp_dir.h"
#include "sys/handles.h"

#include <chrono>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kHostProgram[] = L"installer-host.exe";
// A request that has not ended by then is hung: the host is killed and the run reported.
constexpr DWORD kHangMs = 120000;
constexpr DWORD kHungExitCode = 0xBAD;

// "install" -> "Install"
std::string RequestName(const std::wstring& request) {
    std::string name(request.begin(), request.end());
    if (!name.empty()) name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

// Waits for the process to end, at most `delayUs`: whole milliseconds asleep, the rest
// spinning, so that requests of a few milliseconds are cut at every point of their course.
DWORD WaitUntilEndedOr(HANDLE process, DWORD delayUs) {
    const auto deadline = Clock::now() + std::chrono::microseconds(delayUs);
    if (const DWORD waited = ::WaitForSingleObject(process, delayUs / 1000); waited != WAIT_TIMEOUT)
        return waited;
    while (Clock::now() < deadline)
        if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return WAIT_OBJECT_0;
    return WAIT_TIMEOUT;
}

// Written into the pipe once the host has ended: the host prints text only. Reading
// cannot wait for the pipe's end, because a process that the host starts (Wine's desktop
// process, at the first window of a session) inherits its output handle and lives on.
constexpr char kEndOfOutput = '\0';

// Collects the host's output on a thread of its own, so that a full pipe never holds the
// host up, and notes when the request's start and end lines arrive.
class OutputReader {
public:
    OutputReader(HANDLE pipe, std::string startLine, std::string endLine)
        : started_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          startLine_(std::move(startLine)),
          endLine_(std::move(endLine)),
          thread_([this, pipe] { Read(pipe); }) {}
    ~OutputReader() {
        if (thread_.joinable()) thread_.join();
    }
    OutputReader(const OutputReader&) = delete;
    OutputReader& operator=(const OutputReader&) = delete;

    HANDLE startedEvent() const { return started_.get(); }
    // Call once the host has ended and kEndOfOutput has been written after its output.
    void Finish(HostOutcome& outcome) {
        thread_.join();
        outcome.output = text_;
        outcome.started = startTime_.has_value();
        outcome.completed = endTime_.has_value();
        if (startTime_ && endTime_)
            outcome.requestMs =
                std::chrono::duration<double, std::milli>(*endTime_ - *startTime_).count();
    }

private:
    void Read(HANDLE pipe) {
        char buffer[4096];
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr)) {
                text_ += "(reading the host's output failed with " +
                         std::to_string(::GetLastError()) + ")\n";
                return;
            }
            const std::string chunk(buffer, read);
            const size_t end = chunk.find(kEndOfOutput);
            text_ += chunk.substr(0, end);
            if (!startTime_ && text_.find(startLine_) != std::string::npos) {
                startTime_ = Clock::now();
                ::SetEvent(started_.get());
            }
            if (!endTime_ && !endLine_.empty() && text_.find(endLine_) != std::string::npos)
                endTime_ = Clock::now();
            if (end != std::string::npos) return;
        }
    }

    sys::UniqueKernelHandle started_;
    std::string startLine_;
    std::string endLine_;
    std::string text_;
    std::optional<Clock::time_point> startTime_;
    std::optional<Clock::time_point> endTime_;
    std::thread thread_;
};

HostOutcome NotStarted(const char* call) {
    HostOutcome outcome;
    outcome.output = std::string(call) + " failed with " + std::to_string(::GetLastError()) + "\n";
    return outcome;
}

HostOutcome Run(const std::wstring& arguments, const std::string& startLine,
                const std::string& endLine, std::optional<DWORD> killDelayUs) {
    HostOutcome outcome;
    sys::UniqueKernelHandle readEnd;
    sys::UniqueKernelHandle writeEnd;  // the host's, inheritable
    sys::UniqueKernelHandle ownWriteEnd;
    {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!::CreatePipe(&read, &write, &inheritable, 0)) return NotStarted("CreatePipe");
        readEnd.reset(read);
        writeEnd.reset(write);
        HANDLE own = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), write, ::GetCurrentProcess(), &own, 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
            return NotStarted("DuplicateHandle");
        ownWriteEnd.reset(own);
    }
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring command = L"\"" + ProgramFolder() + L"\\" + kHostProgram + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    // Without a console, as the agent's service starts it. Hosts that shared the suite's
    // console, killed and started in quick turns, now and then left Wine unable to start
    // the next one (CreateProcessW failed with ERROR_INTERNAL_ERROR).
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                          nullptr, nullptr, &startup, &created))
        return NotStarted("CreateProcessW");
    const sys::UniqueKernelHandle process(created.hProcess);
    const sys::UniqueKernelHandle thread(created.hThread);
    writeEnd.reset();

    OutputReader reader(readEnd.get(), startLine, endLine);
    if (killDelayUs) {
        const HANDLE startOrEnd[] = {reader.startedEvent(), process.get()};
        if (::WaitForMultipleObjects(2, startOrEnd, FALSE, kHangMs) == WAIT_OBJECT_0 &&
            WaitUntilEndedOr(process.get(), *killDelayUs) == WAIT_TIMEOUT)
            ::TerminateProcess(process.get(), kKilledExitCode);
    }
    if (::WaitForSingleObject(process.get(), kHangMs) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.get(), kHungExitCode);
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    ::GetExitCodeProcess(process.get(), &outcome.exitCode);
    DWORD written = 0;
    ::WriteFile(ownWriteEnd.get(), &kEndOfOutput, 1, &written, nullptr);
    reader.Finish(outcome);
    return outcome;
}

HostOutcome RunRequest(const std::wstring& request, const std::wstring& folder,
                       std::optional<DWORD> killDelayUs) {
    const std::string name = RequestName(request);
    return Run(request + L" \"" + folder + L"\"", "] " + name + " started",
               "] " + name + " completed", killDelayUs);
}

}  // namespace

HostOutcome RunHost(const std::wstring& request, const std::wstring& folder) {
    return RunRequest(request, folder, std::nullopt);
}

HostOutcome RunHostAndKill(const std::wstring& request, const std::wstring& folder, DWORD delayUs) {
    return RunRequest(request, folder, delayUs);
}

HostOutcome RunHostUsage() { return Run(L"--help", "Usage:", "", std::nullopt); }
