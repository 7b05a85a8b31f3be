// Interrupted runs: the reference host runs Install, Repair or Uninstall and is killed at a
// seeded random moment of the request, as a service stop or a crash ends it. After every
// kill a Repair must bring the add-in back to working and an Uninstall must leave nothing.
// A failing kill replays with its seed:  interrupted.exe --gtest_filter=*<case>* --seed=N
// (--kills=N sets the kills per case; the README's figures take 30.)
#include "machine.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "sys/handles.h"

#include <chrono>
#include <cstring>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kHangMs = 120000;  // a request that has not ended by then is hung
int kills = 8;
unsigned seedOverride = 0;

struct Case {
    Outlook outlook;
    const wchar_t* request;
    unsigned seed;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << (c.outlook.view == KEY_WOW64_64KEY ? "x64 " : "x86 ") << std::string(c.request, c.request + wcslen(c.request));
}

// The host's run: its output goes to a file, so that nothing the host starts can hold it.
struct HostRun {
    DWORD exitCode = 0;
    bool started = false;  // the request's start line was printed before the kill
    double requestMs = 0;  // from the start line to the end of the process
    std::string output;
};

HostRun RunHost(const Machine& m, const wchar_t* request, long long killAfterUs) {
    const std::wstring outputFile = ProgramFolder() + L"\\host-output.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HostRun run;
    {
        sys::UniqueFile output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, CREATE_ALWAYS, 0, nullptr));
        std::wstring command = L"\"" + ProgramFolder() + L"\\installer-host.exe\" " + request + L" \"" + m.folder + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output.get();
        PROCESS_INFORMATION created{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                            &startup, &created)) {
            run.output = "the host did not start: " + std::to_string(GetLastError());
            return run;
        }
        const sys::UniqueKernelHandle process(created.hProcess), thread(created.hThread);
        // The kill's moment counts from the request's start line, not from the process's start.
        Clock::time_point started;
        while (!run.started && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT)
            if ((run.started = ReadFileBytes(outputFile).find("] ") != std::string::npos)) started = Clock::now();
        if (run.started && killAfterUs >= 0) {
            while (Clock::now() - started < std::chrono::microseconds(killAfterUs) &&
                   WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            }
            TerminateProcess(process.get(), 0xDEAD);
        }
        if (WaitForSingleObject(process.get(), kHangMs) == WAIT_TIMEOUT) TerminateProcess(process.get(), 0xBAD);
        WaitForSingleObject(process.get(), kHangMs);
        run.requestMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        GetExitCodeProcess(process.get(), &run.exitCode);
    }
    run.output = ReadFileBytes(outputFile);
    return run;
}

// What the request starts from. Repair starts from a deployment that needs it, damaged in
// one of three ways by turns.
void Prepare(Machine& m, const std::wstring& request, int trial) {
    if (request == L"install") return;
    ASSERT_EQ(m.Run(L"install"), 0u);
    if (request == L"uninstall") return;
    if (trial % 3 == 0) {
        RemoveTree(m.Dll());
    } else if (trial % 3 == 1) {
        CopyFileW(Fixture(std::wstring(L"v2\\") + m.outlook.dll).c_str(), m.Source(m.outlook.dll).c_str(), FALSE);
    } else {
        DeleteTree(HKEY_LOCAL_MACHINE, kAddinKeyPath, m.outlook.view);
        DeleteTree(HKEY_LOCAL_MACHINE, kAddinClassKey, m.outlook.view);
    }
}

class InterruptedRun : public ::testing::TestWithParam<Case> {};

TEST_P(InterruptedRun, RepairRestoresAndUninstallRemovesEverythingAfterAKill) {
    const unsigned seed = seedOverride ? seedOverride : GetParam().seed;
    double requestMs = 1e9;  // the shortest of two uninterrupted runs
    for (int run = 0; run < 2; ++run) {
        Machine m(GetParam().outlook);
        Prepare(m, GetParam().request, run);
        const HostRun measured = RunHost(m, GetParam().request, -1);
        ASSERT_EQ(measured.exitCode, 0u) << measured.output;
        requestMs = std::min(requestMs, measured.requestMs);
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> delaysUs(0, static_cast<long long>(requestMs * 1000));
    int inside = 0;
    for (int trial = 0; trial < kills; ++trial) {
        Machine m(GetParam().outlook);
        Prepare(m, GetParam().request, trial);
        const long long delayUs = delaysUs(random);
        const HostRun killed = RunHost(m, GetParam().request, delayUs);
        inside += killed.exitCode == 0xDEAD;
        const unsigned repaired = m.Run(L"repair");
        const std::string working = m.Working();
        const unsigned removed = m.Run(L"uninstall");
        const std::string nothing = m.NothingLeft();
        const bool restored = (repaired == 0 || repaired == 6) && working.empty() && removed == 0 && nothing.empty();
        ASSERT_TRUE(restored) << "trial " << trial << " of seed " << seed << ", killed after " << delayUs
                              << " us:\n" << killed.output << working << nothing;
    }
    std::printf("%s: %d kills, %d inside the request (seed %u, request %.1f ms), all restored\n",
                ::testing::PrintToString(GetParam()).c_str(), kills, inside, seed, requestMs);
}

// A 32-bit request differs only in its calls to the broker, where nearly every kill falls (it
// waits about a second for the broker to start): Install stands for the three.
INSTANTIATE_TEST_SUITE_P(Kills, InterruptedRun,
                         ::testing::Values(Case{kOutlook64, L"install", 1105}, Case{kOutlook64, L"repair", 1106},
                                           Case{kOutlook64, L"uninstall", 1107}, Case{kOutlook32, L"install", 1115}),
                         [](const auto& info) { return ::testing::PrintToString(info.param).replace(3, 1, "_"); });

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--kills=", 8) == 0) kills = std::atoi(argv[i] + 8);
        if (std::strncmp(argv[i], "--seed=", 7) == 0) seedOverride = static_cast<unsigned>(std::atoi(argv[i] + 7));
    }
    return RUN_ALL_TESTS();
}
