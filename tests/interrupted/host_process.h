// The reference host as a child process, the way the agent's service would start it: one
// request on an agent folder, run to its end or killed a set time after it logged the
// request's start line.
#pragma once

#include <windows.h>

#include <string>

// The exit code a killed host is given; no request returns it.
inline constexpr DWORD kKilledExitCode = 0xDEAD;
// The outcome's exit code when the host could not be started; the output says why.
inline constexpr DWORD kNotStarted = 0xFFFFFFFF;

struct HostOutcome {
    bool started = false;          // the process ran and logged the request's start line
    DWORD exitCode = kNotStarted;  // the request's result, or kKilledExitCode
    bool completed = false;        // it logged the request's end line
    double requestMs = 0;          // from the start line to the end line (0 when not completed)
    std::string output;            // every line it printed, UTF-8

    bool killed() const { return exitCode == kKilledExitCode; }
};

// request: "install", "repair" or "uninstall".
HostOutcome RunHost(const std::wstring& request, const std::wstring& folder);
// Kills the host `delayUs` microseconds after its start line unless it has ended by then.
HostOutcome RunHostAndKill(const std::wstring& request, const std::wstring& folder, DWORD delayUs);
// The host without a request: it prints its usage and loads no library.
HostOutcome RunHostUsage();
