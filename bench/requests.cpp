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
// The first round of each measurement is not timed: the first load of a DLL, of COM and
// of the registry keys is not what an agent pays at every request.
constexpr int kWarmUpRound = -1;

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

// Per hive: the request's time less the median of the machine without added hives.
const Figure& AddPerHive(Report& report, const std::string& id, size_t hives,
                         const std::vector<double>& seconds, double baseSeconds) {
    Figure figure{id, "us/hive", {}, "request time less the median without added hives, per hive"};
    for (const double s : seconds)
        figure.values.push_back((s - baseSeconds) * kMicroseconds / static_cast<double>(hives));
    return report.Add(std::move(figure));
}

void CheckFlatPerHive(Report& report, const std::string& target, const std::vector<const Figure*>& perHive) {
    if (perHive.size() < 2) return;
    const Figure& smallest = *perHive.front();
    const Figure& largest = *perHive.back();
    report.Check({target, Format("%s %.1f us/hive vs %s %.1f us/hive", largest.id.c_str(), largest.Median(),
                                 smallest.id.c_str(), smallest.Median()),
                  largest.Median() / smallest.Median(), kFlatLimit});
}

// Runs `request` on the machine with `hives.size()` added hives, `repeats` times; before
// each, `prepare` (not timed) and Outlook's load-time records of every hive.
template <typename Prepare>
std::vector<double> TimeWithHives(Report& report, const InstallerLibrary& library, const OutlookMachine& machine,
                                  const UserHives& hives, int repeats, Request request, DWORD expected,
                                  const char* what, Prepare&& prepare) {
    std::vector<double> seconds;
    CountingLogger logger;
    for (int round = kWarmUpRound; round < repeats; ++round) {
        if (!hives.RestoreLoadTimes()) report.Say("WARNING could not restore the load-time records");
        prepare();
        logger.lines = 0;
        DWORD result = 0;
        const double s = SecondsOf([&] { result = library.Run(request, machine.agentFolder(), logger); });
        Expect(report, what, result, expected);
        WaitUntilBrokerEnded();
        if (round != kWarmUpRound) seconds.push_back(s);
    }
    SayLines(report, what, logger, 1);
    return seconds;
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
    for (int round = kWarmUpRound; round < plan.requestRepeats; ++round) {
        const bool timed = round != kWarmUpRound;
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
                  in.Median() / floorIn.Median(), kFloorLimit});
    report.Check({"Uninstall <= 1.5 x floor", Format("%.2f ms vs floor %.2f ms", out.Median(), floorOut.Median()),
                  out.Median() / floorOut.Median(), kFloorLimit});
}

void MeasureInstallSteps(Report& report, const Plan& plan, const OutlookMachine& machine) {
    report.Say("== Steps of Install and Uninstall, through the engine");
    StepTimes installSteps(report, "steps.install.");
    StepTimes uninstallSteps(report, "steps.uninstall.");
    CountingLogger logger;
    const std::wstring& agent = machine.agentFolder();
    for (int round = kWarmUpRound; round < plan.requestRepeats; ++round) {
        const bool timed = round != kWarmUpRound;
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
            uninstallSteps.Time(timed, "UnRegisterCOMServer", 0, [&] { return engine.UnRegisterCOMServer(); });
            WaitUntilBrokerEnded();
            uninstallSteps.Time(timed, "DeleteFiles", 0, [&] { return engine.DeleteFiles(none); });
            uninstallSteps.Time(timed, "CleanUpInstallerConfigFile", 0,
                                [&] { return engine.CleanUpInstallerConfigFile(); });
            // The part of UnRegisterCOMServer that asks the broker about the 32-bit DLL,
            // which a 64-bit deployment does not have.
            uninstallSteps.Time(timed, "broker-unregister-of-absent-dll", kDllMissing, [&] {
                return sys::ComRegistration::UnregisterComDllByBroker(Join(agent, L"tolvane.dll"));
            });
        }
        WaitUntilBrokerEnded();
    }
    installSteps.AddFigures();
    uninstallSteps.AddFigures();
}

void MeasureUninstallWithUsers(Report& report, const Plan& plan, const InstallerLibrary& library,
                               const OutlookMachine& machine) {
    report.Say("== Uninstall with user hives (" + HiveLine() + " besides)");
    UserHives hives;
    double baseSeconds = 0;
    std::vector<const Figure*> perHive;
    CountingLogger installLog;
    for (const Size& size : plan.hives) {
        if (!hives.GrowTo(size.count)) report.Say("WARNING could not create the user hives");
        const std::vector<double> seconds = TimeWithHives(
            report, library, machine, hives, size.repeats, Request::kUninstall, 0, "Uninstall",
            [&] { Expect(report, "Install", library.Run(Request::kInstall, machine.agentFolder(), installLog), 0); });
        const Figure& request = report.AddMilliseconds(Format("users.uninstall.%zu-hives", size.count), seconds);
        if (size.count == 0)
            baseSeconds = request.Median() / 1e3;
        else
            perHive.push_back(&AddPerHive(report, Format("users.uninstall.%zu-hives.per-hive", size.count),
                                          size.count, seconds, baseSeconds));
    }
    CheckFlatPerHive(report, "Uninstall per hive flat", perHive);
}

void MeasureRepairNothing(Report& report, const Plan& plan, const InstallerLibrary& library,
                          const OutlookMachine& machine) {
    report.Say("== Repair that finds nothing (" + HiveLine() + " besides the added ones)");
    CountingLogger logger;
    const std::wstring& agent = machine.agentFolder();
    Expect(report, "Install", library.Run(Request::kInstall, agent, logger), 0);

    StepTimes repairSteps(report, "steps.repair-nothing.");
    for (int round = kWarmUpRound; round < plan.requestRepeats; ++round) {
        OutlookPluginInstallationManager engine;
        engine.Initialize(agent, &logger);
        ApplicationPathList applications;
        bool flag = true;
        const bool timed = round != kWarmUpRound;
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

    UserHives hives;
    double baseSeconds = 0;
    std::vector<const Figure*> perHive;
    for (const Size& size : plan.hives) {
        if (!hives.GrowTo(size.count)) report.Say("WARNING could not create the user hives");
        const std::vector<double> seconds = TimeWithHives(report, library, machine, hives, size.repeats,
                                                          Request::kRepair, kNothingToRepair, "Repair", [] {});
        const Figure& request = report.AddMilliseconds(Format("users.repair-nothing.%zu-hives", size.count), seconds);
        if (size.count == 0) {
            baseSeconds = request.Median() / 1e3;
            const double install = report.MedianOf("request.install.library");
            if (install > 0)
                report.Check({"Repair (nothing) <= Install",
                              Format("%.2f ms vs Install %.2f ms", request.Median(), install),
                              request.Median() / install, kRepairLimit});
        } else {
            perHive.push_back(&AddPerHive(report, Format("users.repair-nothing.%zu-hives.per-hive", size.count),
                                          size.count, seconds, baseSeconds));
        }
    }
    CheckFlatPerHive(report, "Repair (nothing) per hive flat", perHive);
    Expect(report, "Uninstall", library.Run(Request::kUninstall, agent, logger), 0);
}
