#include "bare.h"
#include "sections.h"

#include <functional>

namespace {

constexpr DWORD kNothingToRepair = bare::kNothingToRepair;
constexpr double kFloorLimit = 1.5;
// Far beyond what the section takes: a thread still running then is stuck.
constexpr DWORD kThreadLimitMs = 10 * 60 * 1000;

// Runs `work` on a thread of its own that never joins an apartment, as a host's worker
// thread that does not use COM. A thread stuck in COM cannot be taken back, and COM's
// locks go with it: the benchmark then ends at once, as a failure.
void RunOnBareThread(Report& report, std::function<void()> work) {
    const auto start = [](void* context) -> DWORD {
        (*static_cast<std::function<void()>*>(context))();
        return 0;
    };
    const sys::UniqueKernelHandle thread(CreateThread(nullptr, 0, start, &work, 0, nullptr));
    if (!thread) {
        report.Say(Format("WARNING could not start a thread: %lu", GetLastError()));
        return;
    }
    if (WaitForSingleObject(thread.get(), kThreadLimitMs) == WAIT_OBJECT_0) return;
    report.Say("FAILURE the thread without an apartment hung; the benchmark ends here");
    TerminateProcess(GetCurrentProcess(), ERROR_TIMEOUT);
}

void CheckAgainstFloor(Report& report, const char* request, const Figure& library, const Figure& floor) {
    report.Check({Format("Thread: %s <= 1.5 x floor", request),
                  Format("%.2f ms vs floor %.2f ms", library.Median(), floor.Median()),
                  library.Median() / floor.Median(), kFloorLimit, library.Min() / floor.Min()});
}

}  // namespace

void MeasureBareThread(Report& report, const Plan& plan, const InstallerLibrary& library,
                       const OutlookMachine& machine) {
    report.Say("== Requests from a thread that holds no apartment, no other thread in one either");
    std::vector<double> floorInstall, floorRepairDeleted, floorUninstall, floorRepair;
    std::vector<double> install, repairDeleted, uninstall, repair;
    CountingLogger logger;
    const std::wstring& agent = machine.agentFolder();
    const std::wstring source = machine.SourceAddin();
    const std::wstring deployed = machine.DeployedAddin();
    const auto deleteDeployed = [&] {
        if (!DeleteFileW(deployed.c_str())) report.Say("WARNING could not delete the deployed DLL");
    };
    RunOnBareThread(report, [&] {
        const auto time = [&](bool timed, std::vector<double>& into, const char* what, DWORD expected,
                              const std::function<DWORD()>& action) {
            DWORD result = 0;
            const double s = SecondsOf([&] { result = action(); });
            Expect(report, what, result, expected);
            if (timed) into.push_back(s);
        };
        for (int round = FirstRound(true); round < plan.threadRepeats; ++round) {
            const bool timed = IsTimed(round);
            time(timed, floorInstall, "floor install", 0, [&] { return bare::Install(source, deployed); });
            deleteDeployed();
            time(timed, floorRepairDeleted, "floor repair after deletion", 0, [&] { return bare::Repair(source, deployed); });
            time(timed, floorUninstall, "floor uninstall", 0, [&] { return bare::Uninstall(deployed); });
            time(timed, install, "Install", 0, [&] { return library.Run(Request::kInstall, agent, logger); });
            deleteDeployed();
            time(timed, repairDeleted, "Repair after deletion", 0, [&] { return library.Run(Request::kRepair, agent, logger); });
            time(timed, uninstall, "Uninstall", 0, [&] { return library.Run(Request::kUninstall, agent, logger); });
        }
        // Last: COM's in-process lookup of the add-in's class keeps its DLL loaded in this
        // process, which no later round could then replace or delete.
        Expect(report, "floor install", bare::Install(source, deployed), 0);
        for (int round = FirstRound(true); round < plan.threadRepeats; ++round) {
            const bool timed = IsTimed(round);
            time(timed, floorRepair, "floor repair (nothing)", kNothingToRepair, [&] { return bare::Repair(source, deployed); });
            time(timed, repair, "Repair (nothing)", kNothingToRepair, [&] { return library.Run(Request::kRepair, agent, logger); });
        }
    });

    const auto add = [&](const char* request, const std::vector<double>& libraryTimes,
                         const std::vector<double>& floorTimes, const char* floorNote) {
        const std::string id = std::string("thread.") + request;
        const Figure& floor = report.AddMilliseconds(id + ".floor", floorTimes, floorNote);
        const Figure& ours = report.AddMilliseconds(id + ".library", libraryTimes, "through the exported DLL");
        CheckAgainstFloor(report, request, ours, floor);
    };
    add("install", install, floorInstall, "copy, DllRegisterServer, add-in key with five values");
    add("repair-nothing", repair, floorRepair,
        "disabled items of every hive, two FileVersion reads, the class asked for in process, the add-in key read");
    add("repair-after-deletion", repairDeleted, floorRepairDeleted, "the DLL found missing, then the install floor");
    add("uninstall", uninstall, floorUninstall, "DllUnregisterServer, key in both views, delete the file");
}
