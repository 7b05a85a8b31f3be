#include "bare.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "sections.h"
#include "sys/com_registration.h"

#include <algorithm>
#include <utility>

namespace {

constexpr DWORD kNothingToRepair = 6;
constexpr DWORD kDllMissing = ERROR_MOD_NOT_FOUND;
constexpr double kFloorLimit = 1.5;     // library / floor, Install and Uninstall
constexpr double kRepairLimit = 1.0;    // Repair that finds nothing / Install
constexpr double kFlatLimit = 1.5;      // per-hive cost, largest size / smallest
constexpr double kMicroseconds = 1e6;
constexpr double kMilliseconds = 1e3;
// The first round of each measurement is not timed: the first load of a DLL, of COM and
// of the registry keys is not what an agent pays at every request.

// Times of named steps over the repetitions, in the order first seen.
class StepTimes {
public:
    StepTimes(Report& report, std::string prefix) : report_(report), prefix_(std::move(prefix)) {}

    template <typename Action>
    void Time(bool timed, const std::string& step, DWORD expected, Action&& action) {
        DWORD result = 0;
        const double seconds = SecondsOf([&] { result = action(); });
        Expect(report_, (prefix_ + step).c_str(), result, expected);
        if (!timed) return;
        auto found = std::find_if(steps_.begin(), steps_.end(),
                                  [&](const auto& entry) { return entry.first == step; });
        if (found == steps_.end()) found = steps_.insert(steps_.end(), {step, {}});
        found->second.push_back(seconds);
    }

    void AddFigures() const {
        for (const auto& [step, seconds] : steps_) report_.AddMilliseconds(prefix_ + step, seconds);
    }

private:
    Report& report_;
    std::string prefix_;
    std::vector<std::pair<std::string, std::vector<double>>> steps_;
};

std::string HiveLine() { return Format("%zu user hives of the prefix", LoadedHiveCount()); }

// Log lines of one request, for the profile: every line is built in a string stream.
void SayLines(Report& report, const char* request, const CountingLogger& logger, int requests) {
    report.Say(Format("  %s logs %zu lines per request", request,
                      requests ? logger.lines / static_cast<size_t>(requests) : 0));
}

// Per hive: the time less the median of the same work without added hives.
const Figure& AddPerHive(Report& report, const std::string& id, size_t hives,
                         const std::vector<double>& seconds, double baseSeconds, const char* note) {
    Figure figure{id, "us/hive", {}, note};
    for (const double s : seconds)
        figure.values.push_back((s - baseSeconds) * kMicroseconds / static_cast<double>(hives));
    return report.Add(std::move(figure));
}

// One request with `hives` added; before each round, not timed, Outlook's load-time
// records of every hive (the request deletes them) and `prepare`.
template <typename Prepare>
std::vector<double> TimeRequest(Report& report, const InstallerLibrary& library, const OutlookMachine& machine,
                                const UserHives& hives, const Size& size, Request request, DWORD expected,
                                const char* what, Prepare&& prepare) {
    std::vector<double> seconds;
    CountingLogger logger;
    for (int round = FirstRound(size.warmUp()); round < size.repeats; ++round) {
        if (!hives.RestoreLoadTimes()) report.Say("WARNING could not restore the load-time records");
        prepare();
        logger.lines = 0;
        DWORD result = 0;
        const double s = SecondsOf([&] { result = library.Run(request, machine.agentFolder(), logger); });
        Expect(report, what, result, expected);
        WaitUntilBrokerEnded();
        if (IsTimed(round)) seconds.push_back(s);
    }
    SayLines(report, what, logger, 1);
    return seconds;
}

// EnablePlugin alone, the one step of Repair and Uninstall that visits every hive: as
// Repair calls it (after detection, 64-bit view, nothing removed) or as Uninstall does
// (a fresh object, 32-bit view, disabled entries removed).
std::vector<double> TimeEnablePlugin(Report& report, const OutlookMachine& machine, const UserHives& hives,
                                     const Size& size, bool asUninstall) {
    std::vector<double> seconds;
    CountingLogger logger;
    for (int round = FirstRound(size.warmUp()); round < size.repeats; ++round) {
        if (!hives.RestoreLoadTimes()) report.Say("WARNING could not restore the load-time records");
        OutlookPluginInstallationManager engine;
        engine.Initialize(machine.agentFolder(), &logger);
        ApplicationPathList applications;
        if (!asUninstall) engine.GetInstalledApplicationList(applications);
        bool enabled = true;
        DWORD result = 0;
        const double s = SecondsOf([&] { result = engine.EnablePlugin(applications, asUninstall, enabled); });
        Expect(report, "EnablePlugin", result, 0);
        if (IsTimed(round)) seconds.push_back(s);
    }
    return seconds;
}

// The request and its EnablePlugin with more and more hives. The per-hive target is read
// from EnablePlugin: at one hive the request's own spread is larger than a hive's cost.
template <typename Prepare>
void MeasureWithHives(Report& report, const std::vector<Size>& sizes, const InstallerLibrary& library,
                      const OutlookMachine& machine, Request request, DWORD expected, const char* what,
                      const std::string& name, Prepare&& prepare) {
    UserHives hives;
    double requestBase = 0;
    double enableBase = 0;
    std::vector<const Figure*> perHive;
    const bool asUninstall = request == Request::kUninstall;
    for (const Size& size : sizes) {
        if (!hives.GrowTo(size.count)) report.Say("WARNING could not create the user hives");
        const std::vector<double> requestSeconds =
            TimeRequest(report, library, machine, hives, size, request, expected, what, prepare);
        const std::vector<double> enableSeconds = TimeEnablePlugin(report, machine, hives, size, asUninstall);
        const std::string prefix = Format("users.%s.%zu-hives", name.c_str(), size.count);
        const Figure& requestFigure = report.AddMilliseconds(prefix, requestSeconds);
        const Figure& enableFigure = report.AddMilliseconds(prefix + ".EnablePlugin", enableSeconds);
        if (size.count == 0) {
            requestBase = requestFigure.Median() / kMilliseconds;
            enableBase = enableFigure.Median() / kMilliseconds;
            continue;
        }
        AddPerHive(report, prefix + ".per-hive-of-request", size.count, requestSeconds, requestBase,
                   "request time less its median without added hives, per hive");
        perHive.push_back(&AddPerHive(report, prefix + ".per-hive", size.count, enableSeconds, enableBase,
                                      "EnablePlugin time less its median without added hives, per hive"));
    }
    CheckFlat(report, std::string(what) + " per hive flat", perHive, kFlatLimit);
}

}  // namespace

void Expect(Report& report, const char* what, DWORD got, DWORD expected) {
    if (got != expected) report.Say(Format("WARNING %s gave %lu, expected %lu", what, got, expected));
}

void MeasureAgainstFloor(Report& report, const Plan& plan, const InstallerLibrary& library,
                         const OutlookMachine& machine) {
    report.Say("== Requests against the floor: 64-bit Outlook 2013, " + HiveLine());
    std::vector<double> floorInstall, floorUninstall, install, repairDeleted, uninstall;
    CountingLogger installLog, repairLog, uninstallLog;
    const std::wstring& agent = machine.agentFolder();
    for (int round = FirstRound(true); round < plan.requestRepeats; ++round) {
        const bool timed = IsTimed(round);
        const auto time = [&](std::vector<double>& into, const char* what, DWORD expected, auto&& action) {
            DWORD result = 0;
            const double s = SecondsOf([&] { result = action(); });
            Expect(report, what, result, expected);
            if (timed) into.push_back(s);
        };
        time(floorInstall, "floor install", 0, [&] { return bare::Install(machine.SourceAddin(), machine.DeployedAddin()); });
        time(floorUninstall, "floor uninstall", 0, [&] { return bare::Uninstall(machine.DeployedAddin()); });
        time(install, "Install", 0, [&] { return library.Run(Request::kInstall, agent, installLog); });
        if (!DeleteFileW(machine.DeployedAddin().c_str())) report.Say("WARNING could not delete the deployed DLL");
        time(repairDeleted, "Repair after deletion", 0, [&] { return library.Run(Request::kRepair, agent, repairLog); });
        time(uninstall, "Uninstall", 0, [&] { return library.Run(Request::kUninstall, agent, uninstallLog); });
        WaitUntilBrokerEnded();
    }
    const int requests = plan.requestRepeats + 1;
    SayLines(report, "Install", installLog, requests);
    SayLines(report, "Repair after deletion", repairLog, requests);
    SayLines(report, "Uninstall", uninstallLog, requests);

    const Figure& floorIn = report.AddMilliseconds("request.install.floor", floorInstall,
                                                   "copy, DllRegisterServer, add-in key with five values");
    const Figure& in = report.AddMilliseconds("request.install.library", install, "through the exported DLL");
    report.AddMilliseconds("request.repair-after-deletion.library", repairDeleted,
                           "the deployed DLL deleted by hand before each repair");
    const Figure& floorOut = report.AddMilliseconds("request.uninstall.floor", floorUninstall,
                                                    "DllUnregisterServer, key in both views, delete the file");
    const Figure& out = report.AddMilliseconds("request.uninstall.library", uninstall, "through the exported DLL");
    report.Check({"Install <= 1.5 x floor", Format("%.2f ms vs floor %.2f ms", in.Median(), floorIn.Median()),
                  in.Median() / floorIn.Median(), kFloorLimit, in.Min() / floorIn.Min()});
    report.Check({"Uninstall <= 1.5 x floor", Format("%.2f ms vs floor %.2f ms", out.Median(), floorOut.Median()),
                  out.Median() / floorOut.Median(), kFloorLimit, out.Min() / floorOut.Min()});
}

void MeasureInstallSteps(Report& report, const Plan& plan, const OutlookMachine& machine) {
    report.Say("== Steps of Install and Uninstall, through the engine");
    StepTimes installSteps(report, "steps.install.");
    StepTimes uninstallSteps(report, "steps.uninstall.");
    CountingLogger logger;
    const std::wstring& agent = machine.agentFolder();
    for (int round = FirstRound(true); round < plan.requestRepeats; ++round) {
        const bool timed = IsTimed(round);
        {
            OutlookPluginInstallationManager engine;
            engine.Initialize(agent, &logger);
            ApplicationPathList applications;
            installSteps.Time(timed, "VerifySource", 0, [&] { return engine.VerifySource(); });
            installSteps.Time(timed, "GetInstalledApplicationList", 0,
                              [&] { return engine.GetInstalledApplicationList(applications); });
            installSteps.Time(timed, "CopyFiles", 0, [&] { return engine.CopyFiles(applications, false); });
            installSteps.Time(timed, "RegisterCOMServer", 0, [&] { return engine.RegisterCOMServer(); });
            installSteps.Time(timed, "AddSettingsToRegistry", 0, [&] { return engine.AddSettingsToRegistry(); });
        }
        {
            // As an uninstall runs it: a fresh object, so the 32-bit add-in's view.
            OutlookPluginInstallationManager engine;
            engine.Initialize(agent, &logger);
            const ApplicationPathList none;
            bool enabled = true;
            uninstallSteps.Time(timed, "EnablePlugin", 0, [&] { return engine.EnablePlugin(none, true, enabled); });
            uninstallSteps.Time(timed, "RemoveSettingsFromRegistry", 0,
                                [&] { return engine.RemoveSettingsFromRegistry(); });
            // The two halves of UnRegisterCOMServer on their own: the broker asked about the
            // 32-bit DLL, which a 64-bit deployment does not have, and the 64-bit DLL's own export.
            uninstallSteps.Time(timed, "broker-unregister-of-absent-dll", kDllMissing, [&] {
                return sys::ComRegistration::UnregisterComDllByBroker(Join(agent, L"tolvane.dll"));
            });
            WaitUntilBrokerEnded();
            uninstallSteps.Time(timed, "in-process-unregister", 0,
                                [&] { return sys::ComRegistration::UnregisterComDll(machine.DeployedAddin()); });
            uninstallSteps.Time(timed, "UnRegisterCOMServer", 0, [&] { return engine.UnRegisterCOMServer(); });
            WaitUntilBrokerEnded();
            uninstallSteps.Time(timed, "DeleteFiles", 0, [&] { return engine.DeleteFiles(none); });
            uninstallSteps.Time(timed, "CleanUpInstallerConfigFile", 0,
                                [&] { return engine.CleanUpInstallerConfigFile(); });
        }
        WaitUntilBrokerEnded();
    }
    installSteps.AddFigures();
    uninstallSteps.AddFigures();

    // What Uninstall costs without the broker's activation, which Wine makes a second long.
    double withoutBroker = 0;
    for (const char* step : {"EnablePlugin", "RemoveSettingsFromRegistry", "in-process-unregister", "DeleteFiles",
                             "CleanUpInstallerConfigFile"})
        withoutBroker += report.MedianOf(std::string("steps.uninstall.") + step);
    const double floorMs = report.MedianOf("request.uninstall.floor");
    if (floorMs > 0)
        report.Say(Format("  Uninstall without the broker (sum of its other steps' medians): %.2f ms, %.2f x floor",
                          withoutBroker, withoutBroker / floorMs));
}

void MeasureUninstallWithUsers(Report& report, const Plan& plan, const InstallerLibrary& library,
                               const OutlookMachine& machine) {
    report.Say("== Uninstall with user hives (" + HiveLine() + " besides)");
    CountingLogger installLog;
    MeasureWithHives(report, plan.uninstallHives, library, machine, Request::kUninstall, 0, "Uninstall", "uninstall",
                     [&] {
                         Expect(report, "Install", library.Run(Request::kInstall, machine.agentFolder(), installLog), 0);
                     });
}

void MeasureRepairNothing(Report& report, const Plan& plan, const InstallerLibrary& library,
                          const OutlookMachine& machine) {
    report.Say("== Repair that finds nothing (" + HiveLine() + " besides the added ones)");
    CountingLogger logger;
    const std::wstring& agent = machine.agentFolder();
    Expect(report, "Install", library.Run(Request::kInstall, agent, logger), 0);

    StepTimes repairSteps(report, "steps.repair-nothing.");
    for (int round = FirstRound(true); round < plan.requestRepeats; ++round) {
        OutlookPluginInstallationManager engine;
        engine.Initialize(agent, &logger);
        ApplicationPathList applications;
        bool flag = true;
        const bool timed = IsTimed(round);
        repairSteps.Time(timed, "VerifySource", 0, [&] { return engine.VerifySource(); });
        repairSteps.Time(timed, "GetInstalledApplicationList", 0,
                         [&] { return engine.GetInstalledApplicationList(applications); });
        repairSteps.Time(timed, "EnablePlugin", 0, [&] { return engine.EnablePlugin(applications, false, flag); });
        repairSteps.Time(timed, "IsApplicationReinstalled", 0,
                         [&] { return engine.IsApplicationReinstalled(applications, flag); });
        repairSteps.Time(timed, "VerifyIfFilesExists", 0, [&] { return engine.VerifyIfFilesExists(applications, flag); });
        repairSteps.Time(timed, "VerifyCOMRegistration", 0, [&] { return engine.VerifyCOMRegistration(flag); });
        repairSteps.Time(timed, "VerifyRegistrySettings", 0, [&] { return engine.VerifyRegistrySettings(flag); });
    }
    repairSteps.AddFigures();

    const Figure& repair = report.AddMilliseconds("request.repair-nothing.library", [&] {
        std::vector<double> seconds;
        for (int round = FirstRound(true); round < plan.requestRepeats; ++round) {
            DWORD result = 0;
            const double s = SecondsOf([&] { result = library.Run(Request::kRepair, agent, logger); });
            Expect(report, "Repair", result, kNothingToRepair);
            if (IsTimed(round)) seconds.push_back(s);
        }
        return seconds;
    }(), "everything in place: result 6");
    if (const Figure* install = report.Find("request.install.library"))
        report.Check({"Repair (nothing) <= Install",
                      Format("%.2f ms vs Install %.2f ms", repair.Median(), install->Median()),
                      repair.Median() / install->Median(), kRepairLimit, repair.Min() / install->Min()});

    MeasureWithHives(report, plan.hives, library, machine, Request::kRepair, kNothingToRepair, "Repair (nothing)",
                     "repair-nothing", [] {});
    Expect(report, "Uninstall", library.Run(Request::kUninstall, agent, logger), 0);
}
