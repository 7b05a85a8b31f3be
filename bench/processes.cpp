#include "sections.h"

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr DWORD kNothingToRepair = 6;
constexpr double kFloorLimit = 1.5;
constexpr const wchar_t* kHost = L"installer-host.exe";
constexpr const wchar_t* kFloorHost = L"bench-floor-host.exe";
constexpr const wchar_t* kEmptyProgram = L"bench-empty.exe";
constexpr const wchar_t* kSequence = L"bench-sequence.exe";
constexpr const wchar_t* kApartmentLoop = L"bench-apartment-loop.exe";
constexpr const wchar_t* kAddinClsid = L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
constexpr const wchar_t* kFiguresFile = L"sequence.txt";
constexpr const wchar_t* kOutputName = L"opi-bench-output.txt";
// A program of this section that runs longer has hung (Wine's COM, under other load).
constexpr DWORD kProcessLimitMs = 60 * 1000;
// The long run: a request that has not ended after this long has hung. The loop without the
// library gives up on a round after 30 s itself; its whole run is given a second a round.
constexpr DWORD kStallLimitMs = 60 * 1000;
constexpr DWORD kLoopRoundMs = 1000;
constexpr DWORD kPollMs = 200;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }
std::wstring Program(const wchar_t* name) { return Quoted(Join(ProgramFolder(), name)); }

// A program started with its output going to a file, ended when it runs past its limit.
// Not to NUL: under Wine 8 every write to NUL costs about 1.5 ms, so installer-host's forty
// lines would cost more than its request.
class Child {
public:
    explicit Child(const std::wstring& commandLine) {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        output_.reset(CreateFileW(OutputFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output_.get();
        startup.hStdError = output_.get();
        std::wstring command = commandLine;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            startError_ = GetLastError();
            return;
        }
        process_.reset(process.hProcess);
        const sys::UniqueKernelHandle thread(process.hThread);
    }
    ~Child() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), ERROR_TIMEOUT);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // True when it ended within `limitMs`; a program that could not start has ended.
    bool Wait(DWORD limitMs) const {
        return !process_ || WaitForSingleObject(process_.get(), limitMs) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const {
        if (!process_) return startError_;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    static std::wstring OutputFile() {
        wchar_t temp[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, temp);
        return std::wstring(temp, length) + kOutputName;
    }
    sys::UniqueFile output_;
    sys::UniqueKernelHandle process_;
    DWORD startError_ = ERROR_SUCCESS;
};

// Runs a program to its end; its exit code, ERROR_TIMEOUT when it had to be ended.
DWORD RunChild(const std::wstring& commandLine) {
    const Child child(commandLine);
    return child.Wait(kProcessLimitMs) ? child.ExitCode() : ERROR_TIMEOUT;
}

template <typename Action>
void TimeProgram(Report& report, bool timed, std::vector<double>& into, const char* what, DWORD expected,
                 Action&& run) {
    DWORD result = 0;
    const double s = SecondsOf([&] { result = run(); });
    Expect(report, what, result, expected);
    if (timed) into.push_back(s);
}

// What bench-sequence wrote: the load time (library only) and each request's time and result.
struct Sequence {
    double load = 0;
    std::vector<double> seconds;
    std::vector<DWORD> results;
};

Sequence ReadSequence(const std::wstring& path) {
    Sequence sequence;
    std::ifstream in{std::filesystem::path(path)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        double seconds = 0;
        fields >> kind >> seconds;
        if (!fields) break;  // a line cut short by a run that was ended
        if (kind == "load") {
            sequence.load = seconds;
            continue;
        }
        DWORD result = 0;
        if (!(fields >> result)) break;
        sequence.seconds.push_back(seconds);
        sequence.results.push_back(result);
    }
    return sequence;
}

std::wstring SequenceCommand(const wchar_t* mode, const wchar_t* request, const std::wstring& agent, size_t count,
                             const std::wstring& figures) {
    return Program(kSequence) + L" " + mode + L" " + request + L" " + Quoted(agent) + L" " + std::to_wstring(count) +
           L" " + Quoted(figures);
}

void CheckRatio(Report& report, const std::string& target, const Figure& ours, const Figure& floor) {
    report.Check({target, Format("%.2f ms vs floor %.2f ms", ours.Median(), floor.Median()),
                  ours.Median() / floor.Median(), kFloorLimit, ours.Min() / floor.Min()});
}

}  // namespace

void MeasureProcesses(Report& report, const Plan& plan, const OutlookMachine& machine) {
    report.Say("== Whole processes: installer-host beside the floor program, output to a file");
    const std::wstring agent = Quoted(machine.agentFolder());
    const auto host = [&](const wchar_t* program, const wchar_t* request) {
        return [command = Program(program) + L" " + request + L" " + agent] { return RunChild(command); };
    };
    const auto deleteDeployed = [&] {
        if (!DeleteFileW(machine.DeployedAddin().c_str())) report.Say("WARNING could not delete the deployed DLL");
    };
    std::vector<double> empty, floorInstall, floorRepair, floorRepairDeleted, floorUninstall;
    std::vector<double> install, repair, repairDeleted, uninstall;
    const std::wstring emptyCommand = Program(kEmptyProgram);
    for (int round = FirstRound(true); round < plan.processRepeats; ++round) {
        const bool timed = IsTimed(round);
        TimeProgram(report, timed, empty, "empty program", 0, [&] { return RunChild(emptyCommand); });
        TimeProgram(report, timed, floorInstall, "floor install", 0, host(kFloorHost, L"install"));
        TimeProgram(report, timed, floorRepair, "floor repair (nothing)", kNothingToRepair, host(kFloorHost, L"repair"));
        deleteDeployed();
        TimeProgram(report, timed, floorRepairDeleted, "floor repair after deletion", 0, host(kFloorHost, L"repair"));
        TimeProgram(report, timed, floorUninstall, "floor uninstall", 0, host(kFloorHost, L"uninstall"));
        TimeProgram(report, timed, install, "installer-host install", 0, host(kHost, L"install"));
        TimeProgram(report, timed, repair, "installer-host repair (nothing)", kNothingToRepair, host(kHost, L"repair"));
        deleteDeployed();
        TimeProgram(report, timed, repairDeleted, "installer-host repair after deletion", 0, host(kHost, L"repair"));
        TimeProgram(report, timed, uninstall, "installer-host uninstall", 0, host(kHost, L"uninstall"));
    }
    const Figure& emptyFigure =
        report.AddMilliseconds("process.empty", empty, "CreateProcessW of an empty program until it has ended");
    const auto add = [&](const char* request, const std::vector<double>& ours, const std::vector<double>& floor) {
        const std::string id = std::string("process.") + request;
        const Figure& floorFigure = report.AddMilliseconds(id + ".floor", floor, "bench-floor-host: the floor's calls");
        const Figure& hostFigure = report.AddMilliseconds(id + ".installer-host", ours, "installer-host, one request");
        CheckRatio(report, Format("Process: %s <= 1.5 x floor", request), hostFigure, floorFigure);
        const double start = emptyFigure.Median();
        report.Say(Format("  %s less the empty process: %.2f ms vs floor %.2f ms", request, hostFigure.Median() - start,
                          floorFigure.Median() - start));
    };
    add("install", install, floorInstall);
    add("repair-nothing", repair, floorRepair);
    add("repair-after-deletion", repairDeleted, floorRepairDeleted);
    add("uninstall", uninstall, floorUninstall);
}

void MeasureFirstRequest(Report& report, const Plan& plan, const OutlookMachine& machine) {
    report.Say(Format("== The first request after LoadLibraryW and the %zu following, each run in a process of its own",
                      plan.firstFollowing));
    const std::wstring figures = Join(machine.agentFolder(), kFiguresFile);
    const size_t count = plan.firstFollowing + 1;
    std::vector<double> load;
    const auto measure = [&](const char* name, const wchar_t* request, DWORD expected) {
        for (const wchar_t* mode : {L"floor", L"library"}) {
            std::vector<double> first, following;
            const bool library = std::wcscmp(mode, L"library") == 0;
            for (int run = 0; run < plan.firstRuns; ++run) {
                Expect(report, "bench-sequence", RunChild(SequenceCommand(mode, request, machine.agentFolder(), count, figures)), 0);
                const Sequence sequence = ReadSequence(figures);
                for (size_t i = 0; i < sequence.results.size(); ++i) {
                    Expect(report, name, sequence.results[i], expected);
                    (i == 0 ? first : following).push_back(sequence.seconds[i]);
                }
                if (library) load.push_back(sequence.load);
            }
            const std::string id = Format("first.%s.%s", name, library ? "library" : "floor");
            report.AddMilliseconds(id + ".first", first, library ? "the first request after LoadLibraryW" : "the floor's first calls");
            report.AddMilliseconds(id + ".following", following, "the requests after the first, pooled over the runs");
        }
        const Figure* ours = report.Find(Format("first.%s.library.first", name));
        const Figure* floor = report.Find(Format("first.%s.floor.first", name));
        if (ours && floor) CheckRatio(report, Format("First %s <= 1.5 x floor's first", name), *ours, *floor);
    };
    Expect(report, "installer-host install", RunChild(Program(kHost) + L" install " + Quoted(machine.agentFolder())), 0);
    measure("install", L"install", 0);
    measure("repair-nothing", L"repair", kNothingToRepair);
    report.AddMilliseconds("first.library.load", load, "LoadLibraryW of the library, in the same runs");
}

bool MeasureLongRun(Report& report, const Plan& plan, const OutlookMachine& machine) {
    report.Say(Format("== Long run: %zu requests from a thread without an apartment, in a process of their own",
                      plan.longRunRequests));
    const std::wstring& agent = machine.agentFolder();
    Expect(report, "installer-host install", RunChild(Program(kHost) + L" install " + Quoted(agent)), 0);

    // Repairs that find nothing, the request that asks COM for the add-in's class. Progress
    // is read from the figures file while the run goes on.
    const std::wstring figures = Join(agent, kFiguresFile);
    const auto run = [&](const wchar_t* mode, const char* name, const char* what) {
        size_t ended = 0;
        bool hung = false;
        {
            const Child child(SequenceCommand(mode, L"repair", agent, plan.longRunRequests, figures));
            DWORD stalled = 0;
            while (!child.Wait(kPollMs)) {
                const size_t now = ReadSequence(figures).results.size();
                stalled = now == ended ? stalled + kPollMs : 0;
                ended = now;
                if (stalled >= kStallLimitMs) {
                    hung = true;
                    break;
                }
            }
        }  // a hung run is ended here
        const Sequence sequence = ReadSequence(figures);
        for (const DWORD result : sequence.results) Expect(report, "Repair (nothing)", result, kNothingToRepair);
        ended = sequence.results.size();
        report.AddMilliseconds(Format("long-run.repair-nothing.%s", name), sequence.seconds, what);
        report.Say(Format("  %s: %zu of %zu requests ended%s", name, ended, plan.longRunRequests,
                          hung ? Format("; request %zu hung for %lu s and was ended", ended + 1,
                                        kStallLimitMs / 1000).c_str()
                               : ""));
        return ended;
    };
    const size_t ended = run(L"library", "library", "each request, no thread of the process in an apartment");

    // The same COM calls without the library.
    DWORD rounds = 0;
    {
        const Child loop(Program(kApartmentLoop) + L" " + std::to_wstring(plan.longRunRequests) + L" " + kAddinClsid);
        if (loop.Wait(kStallLimitMs + static_cast<DWORD>(plan.longRunRequests) * kLoopRoundMs)) rounds = loop.ExitCode();
    }
    const bool loopHung = rounds != plan.longRunRequests;
    report.Say(Format("  the COM calls alone (bench-apartment-loop): %lu of %zu rounds ended%s", rounds,
                      plan.longRunRequests, loopHung ? Format("; round %lu hung", rounds + 1).c_str() : ""));

    report.Check({"Long run: every request ends", Format("%zu of %zu", ended, plan.longRunRequests),
                  static_cast<double>(plan.longRunRequests - ended), 0, 0});

    // The host's way out under Wine: one thread keeps the multithreaded apartment, so COM's
    // apartment for the add-in's class lives as long as the process.
    const size_t endedWithApartment =
        run(L"library-mta", "library-with-host-mta", "each request, another thread of the process in the MTA");
    report.Check({"Long run, the host keeping the MTA: every request ends",
                  Format("%zu of %zu", endedWithApartment, plan.longRunRequests),
                  static_cast<double>(plan.longRunRequests - endedWithApartment), 0, 0});
    Expect(report, "uninstall", RunChild(Program(kHost) + L" uninstall " + Quoted(agent)), 0);
    return ended == plan.longRunRequests && endedWithApartment == plan.longRunRequests;
}
