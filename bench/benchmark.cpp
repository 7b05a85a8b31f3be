// Benchmark of OutlookPluginInstaller.dll under Wine (README, "Performance"):
//   benchmark.exe [--quick] [--json <file>] [--only <section>]
// Sections: wine, floor, steps, users, repair, files, ini, thread, process, first, and
// long-run, which runs only when named. Timed inside the process with the performance
// counter; it prints and writes figures, it never asserts a target. The exit code is 1 only
// when the long run hung.
#include "sections.h"

#include <objbase.h>

#include <cwchar>
#include <initializer_list>
#include <string>

namespace {

constexpr const wchar_t* kEmptyProgram = L"bench-empty.exe";
constexpr const wchar_t* kScratchName = L"opi-bench";
constexpr const wchar_t* kLongRunSection = L"long-run";
constexpr const wchar_t* kProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr DWORDLONG kMebibyte = 1024 * 1024;

// The multithreaded apartment for the whole run, as an agent that uses COM itself has it.
// Without it every COM operation of the library builds the apartment and tears it down
// again, and Wine 8 then deadlocks now and then in rpcrt4 (a listening thread that is
// waited for but gone) when COM hosts the add-in's apartment-threaded class.
class ProcessApartment {
public:
    ProcessApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ProcessApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ProcessApartment(const ProcessApartment&) = delete;
    ProcessApartment& operator=(const ProcessApartment&) = delete;

private:
    HRESULT result_;
};

struct Options {
    bool quick = false;
    std::wstring json;
    std::wstring only;
    bool Runs(const wchar_t* section) const { return only.empty() || only == section; }
    bool RunsAnyOf(std::initializer_list<const wchar_t*> sections) const {
        for (const wchar_t* section : sections)
            if (Runs(section)) return true;
        return false;
    }
};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string Processor() {
    wchar_t name[256] = {};
    DWORD size = sizeof(name) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kProcessorKey, L"ProcessorNameString", RRF_RT_REG_SZ, nullptr, name,
                     &size) != ERROR_SUCCESS)
        return "unknown processor";
    return Narrow(name);
}

std::string WineVersion() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto version = reinterpret_cast<const char* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    const auto host = reinterpret_cast<void (*)(const char**, const char**)>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_host_version")));
    if (!version) return "not Wine";
    std::string text = std::string("Wine ") + version();
    if (host) {
        const char* system = nullptr;
        const char* release = nullptr;
        host(&system, &release);
        text += std::string(" on ") + (system ? system : "?") + " " + (release ? release : "?");
    }
    return text;
}

std::string MachineDescription() {
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatusEx(&memory);
    return Format("%s, %lu processors, %llu MiB, %s", Processor().c_str(), system.dwNumberOfProcessors,
                  static_cast<unsigned long long>(memory.ullTotalPhys / kMebibyte), WineVersion().c_str());
}

std::string Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Format("%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
}

std::wstring ScratchRoot() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, length);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    return Join(base, kScratchName);
}

void MeasureProcessStart(Report& report, const Plan& plan) {
    report.Say("== Wine's own cost");
    const std::wstring command = L"\"" + Join(ProgramFolder(), kEmptyProgram) + L"\"";
    std::vector<double> seconds;
    for (int round = FirstRound(true); round < plan.processStarts; ++round) {
        DWORD result = 0;
        const double s = SecondsOf([&] { result = RunProgram(command); });
        Expect(report, "empty program", result, 0);
        if (IsTimed(round)) seconds.push_back(s);
    }
    report.AddMilliseconds("wine.process-start", seconds, "CreateProcessW of an empty program until it has ended");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--quick") options.quick = true;
        else if (argument == L"--json" && i + 1 < argc) options.json = argv[++i];
        else if (argument == L"--only" && i + 1 < argc) options.only = argv[++i];
    }
    const Plan plan = options.quick ? QuickPlan() : FullPlan();
    const std::string date = Now();
    const std::string machineText = MachineDescription();

    Report report;
    report.Say(Format("OutlookPluginInstaller benchmark, %s run, %s", options.quick ? "quick" : "full", date.c_str()));
    report.Say("Machine: " + machineText);
    if (options.Runs(L"wine")) MeasureProcessStart(report, plan);
    {
        const ProcessApartment apartment;
        const ScratchFolder root(ScratchRoot());
        const InstallerLibrary library;
        const OutlookMachine machine(root / L"agent");
        if (!library.loaded() || !machine.ready())
            report.Say("WARNING the library or the simulated machine could not be set up");
        // The order matters: Repair keeps the add-in DLL loaded, so it comes after every
        // section that deletes that DLL.
        if (options.Runs(L"floor")) MeasureAgainstFloor(report, plan, library, machine);
        if (options.Runs(L"steps")) MeasureInstallSteps(report, plan, machine);
        if (options.Runs(L"users")) MeasureUninstallWithUsers(report, plan, library, machine);
        if (options.Runs(L"repair")) MeasureRepairNothing(report, plan, library, machine);
        if (options.Runs(L"files")) MeasureFiles(report, plan, root.path());
        if (options.Runs(L"ini")) MeasureIni(report, plan, root.path());
    }
    // Hosts without an apartment, now that this process holds none. The order matters as
    // above: a repair through COM leaves the add-in DLL of its machine loaded here.
    const bool longRun = options.only == kLongRunSection;  // never part of a whole run
    bool longRunEnded = true;
    if (longRun || options.RunsAnyOf({L"thread", L"process", L"first"})) {
        // COM's apartment for the add-in's class has a window. Under Wine the first window of
        // a desktop starts explorer.exe, which ends with the desktop's last process: held
        // here, the desktop stays for every program started below, as Windows always has it.
        GetDesktopWindow();
        const ScratchFolder root(ScratchRoot());
        const InstallerLibrary library;
        if (options.Runs(L"process")) {
            const OutlookMachine machine(root / L"agent-process");
            if (!library.loaded() || !machine.ready()) report.Say("WARNING the simulated machine could not be set up");
            MeasureProcesses(report, plan, machine);
        }
        if (options.Runs(L"first")) {
            const OutlookMachine machine(root / L"agent-first");
            if (!machine.ready()) report.Say("WARNING the simulated machine could not be set up");
            MeasureFirstRequest(report, plan, machine);
        }
        if (longRun) {
            const OutlookMachine machine(root / L"agent-long-run");
            if (!machine.ready()) report.Say("WARNING the simulated machine could not be set up");
            longRunEnded = MeasureLongRun(report, plan, machine);
        }
        if (options.Runs(L"thread")) {
            const OutlookMachine machine(root / L"agent-thread");
            if (!library.loaded() || !machine.ready()) report.Say("WARNING the simulated machine could not be set up");
            MeasureBareThread(report, plan, library, machine);
        }
    }
    report.PrintSummary();
    if (!options.json.empty() &&
        !report.WriteJson(options.json, {{"date", date}, {"machine", machineText},
                                         {"mode", options.quick ? "quick" : "full"}}))
        report.Say("WARNING could not write " + Narrow(options.json));
    return longRunEnded ? 0 : 1;
}
