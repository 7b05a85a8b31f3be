// Interrupted runs: the reference host runs Install, Repair or Uninstall and is killed at
// a seeded random moment of the request, as a service stop or a crash would end it. After
// every kill Repair must bring the add-in to a verified state (a second Repair answers 6,
// and the deployed file is the source's), and Uninstall must then leave nothing.
#include "broker_standby.h"
#include "figures.h"
#include "file_fixtures.h"
#include "host_process.h"
#include "scenarios.h"
#include "simulated_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

namespace {

enum class Procedure { kInstall, kRepair, kUninstall };

const char* ProcedureName(Procedure procedure) {
    static const char* const names[] = {"Install", "Repair", "Uninstall"};
    return names[static_cast<int>(procedure)];
}

const wchar_t* Request(Procedure procedure) {
    static const wchar_t* const requests[] = {L"install", L"repair", L"uninstall"};
    return requests[static_cast<int>(procedure)];
}

struct Param {
    const Scenario* scenario;
    Procedure procedure;
    int kills = 0;
    // Uninterrupted runs whose shortest request sets the range of the drawn delays.
    int calibrationRuns = 0;
    unsigned seed = 0;  // fixed, so that a failing trial can be replayed
};

void PrintTo(const Param& param, std::ostream* out) {
    *out << param.scenario->name << ", " << ProcedureName(param.procedure);
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(info.param.scenario->id) + ProcedureName(info.param.procedure);
}

// The 32-bit requests call the broker one to three times each and take longer to restore.
const Param kKillPlans[] = {
    {&k64BitOutlook, Procedure::kInstall, 30, 3, 1105},
    {&k64BitOutlook, Procedure::kRepair, 30, 3, 1106},
    {&k64BitOutlook, Procedure::kUninstall, 30, 3, 1107},
    {&k32BitOutlook, Procedure::kInstall, 15, 3, 1115},
    {&k32BitOutlook, Procedure::kRepair, 15, 3, 1116},
    {&k32BitOutlook, Procedure::kUninstall, 15, 3, 1117},
};

constexpr const wchar_t* kAddinClassKey =
    L"SOFTWARE\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";

// The host runs of one trial, printed when the trial fails.
class Transcript {
public:
    void Add(const std::string& label, const HostOutcome& outcome) {
        runs_.emplace_back(label, outcome);
    }
    std::string Text() const {
        std::ostringstream text;
        for (const auto& [label, outcome] : runs_)
            text << "--- " << label << ": exit code " << outcome.exitCode << "\n" << outcome.output;
        return text.str();
    }

private:
    std::vector<std::pair<std::string, HostOutcome>> runs_;
};

class InterruptedRun : public ::testing::TestWithParam<Param> {
protected:
    const Scenario& scenario() const { return *GetParam().scenario; }
    Procedure procedure() const { return GetParam().procedure; }
    std::wstring Deployed() const { return machine.AgentFile(scenario().addinFile); }
    std::wstring Source() const { return machine.SourceFile(scenario().addinFile); }

    // Before every request that calls the broker (every request on 32-bit Outlook;
    // Uninstall, for the 32-bit file, on 64-bit Outlook) a broker stands by, so that the
    // request takes as long as its own work and the kills land in that work and in the
    // broker calls, not in Wine's one-second pause.
    void StandBrokerBy(const wchar_t* request) {
        if (scenario().registersThroughBroker || std::wcscmp(request, L"uninstall") == 0)
            brokerStandby_.Ensure();
    }

    // One uninterrupted request that must answer one of `expected`.
    ::testing::AssertionResult Run(const wchar_t* request, std::initializer_list<DWORD> expected,
                                   Transcript& transcript, HostOutcome* outcome = nullptr) {
        StandBrokerBy(request);
        const HostOutcome run = RunHost(request, machine.agentFolder());
        const std::string label(request, request + std::wcslen(request));
        transcript.Add(label, run);
        if (outcome) *outcome = run;
        if (std::find(expected.begin(), expected.end(), run.exitCode) == expected.end())
            return ::testing::AssertionFailure() << label << " answered " << run.exitCode;
        return ::testing::AssertionSuccess();
    }

    HostOutcome RunAndKill(DWORD delayUs) {
        StandBrokerBy(Request(procedure()));
        const HostOutcome killed =
            RunHostAndKill(Request(procedure()), machine.agentFolder(), delayUs);
        brokerStandby_.Forget();
        return killed;
    }

    // The state the procedure starts from. Repair starts from a deployment that needs it,
    // damaged in one of three ways by turns.
    ::testing::AssertionResult PrepareStart(int trial, Transcript& transcript) {
        if (procedure() == Procedure::kInstall) return ::testing::AssertionSuccess();
        if (auto installed = Run(L"install", {0}, transcript); !installed) return installed;
        if (procedure() == Procedure::kUninstall) return ::testing::AssertionSuccess();
        switch (trial % 3) {
            case 0:  // the deployed DLL deleted
                std::filesystem::remove(Deployed());
                break;
            case 1:  // another version in the Install folder
                SwapSourceVersion();
                break;
            default:  // the add-in key and the COM class removed
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kAddinKey, scenario().view, 0);
                for (const wchar_t* key : {L"\\InprocServer32", L""})
                    RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                                    (std::wstring(kAddinClassKey) + key).c_str(), scenario().view,
                                    0);
                break;
        }
        return ::testing::AssertionSuccess();
    }

    // Repair, Repair answering 6, a deployment that is the source's, Uninstall, nothing left.
    ::testing::AssertionResult RestoreAndRemove(Transcript& transcript) {
        if (auto repaired = Run(L"repair", {0, 6}, transcript); !repaired) return repaired;
        if (auto verified = Run(L"repair", {6}, transcript); !verified) return verified;
        if (!SameContents(Deployed(), Source()))
            return ::testing::AssertionFailure() << "the deployed DLL is not the source's";
        if (AddinServerValue(scenario().view) != Deployed())
            return ::testing::AssertionFailure() << "the COM class does not name the deployed DLL";
        if (!RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, scenario().view))
            return ::testing::AssertionFailure() << "the add-in key is missing";
        if (auto removed = Run(L"uninstall", {0}, transcript); !removed) return removed;
        if (!machine.HoldsNothingOfTheAddin())
            return ::testing::AssertionFailure() << "Uninstall left a file, a key or the class";
        if (FolderEntries(machine.agentFolder()) !=
                std::vector<std::wstring>{L"Install", L"temp"} ||
            !FolderEntries(machine.TempFolder()).empty())
            return ::testing::AssertionFailure() << "Uninstall left files in the agent folder";
        return ::testing::AssertionSuccess();
    }

    // The request's duration, measured on uninterrupted runs; the machine ends clean.
    double MeasureRequest() {
        double shortest = 0;
        for (int run = 0; run < GetParam().calibrationRuns; ++run) {
            Transcript transcript;
            HostOutcome outcome;
            const bool ran =
                PrepareStart(run, transcript) &&
                Run(Request(procedure()), {0}, transcript, &outcome) &&
                (procedure() == Procedure::kUninstall || Run(L"uninstall", {0}, transcript));
            EXPECT_TRUE(ran && outcome.completed) << transcript.Text();
            if (run == 0 || outcome.requestMs < shortest) shortest = outcome.requestMs;
        }
        return shortest;
    }

    // The other version of the add-in into the Install folder.
    void SwapSourceVersion() {
        newVersion_ = !newVersion_;
        CopyAddin(std::wstring(newVersion_ ? L"v2\\" : L"v1\\") + scenario().addinFile,
                  machine.agentFolder() + L"\\Install", scenario().addinFile);
    }

    SimulatedMachine machine{scenario().officeVersion, scenario().view, scenario().officeFolder};

private:
    bool newVersion_ = false;
    BrokerStandby brokerStandby_;
};

TEST_P(InterruptedRun, RepairRestoresAndUninstallRemovesEverythingAfterAKill) {
    const std::string procedureName = ProcedureName(procedure());
    KillFigures& figures = Figures::Get().Kills(scenario().name, procedureName);
    figures.seed = GetParam().seed;
    figures.requestMs = MeasureRequest();
    ASSERT_FALSE(HasFailure());

    std::mt19937 random(figures.seed);
    std::uniform_int_distribution<DWORD> delaysUs(
        0, static_cast<DWORD>(std::ceil(figures.requestMs * 1000)));
    for (int trial = 0; trial < GetParam().kills; ++trial) {
        Transcript transcript;
        ASSERT_TRUE(PrepareStart(trial, transcript)) << transcript.Text();
        const DWORD delayUs = delaysUs(random);
        const HostOutcome killed = RunAndKill(delayUs);
        transcript.Add(procedureName + " killed after " + std::to_string(delayUs) + " us", killed);
        ++figures.tried;
        if (killed.killed() && !killed.completed) ++figures.interrupted;

        ASSERT_TRUE(RestoreAndRemove(transcript))
            << "trial " << trial << " of seed " << figures.seed << "\n"
            << transcript.Text();
        ++figures.restored;
    }
}

INSTANTIATE_TEST_SUITE_P(Kills, InterruptedRun, ::testing::ValuesIn(kKillPlans), ParamName);

// A kill inside CopyFileW leaves the beginning of the source under the deployed name: a
// shorter file, or where the copy had reserved the file's full size first (as Windows
// does), the rest zeros. The FileVersion sits in the first block, so such a file reads as
// the source's version. Random kills seldom land in the copy's fraction of a millisecond;
// here each cut is made certain.
class CopyCutShort : public InterruptedRun {};

TEST_P(CopyCutShort, RepairReplacesItAndUninstallRemovesEverything) {
    struct Cut {
        const char* name;
        size_t kept;    // bytes of the source that were written
        bool reserved;  // the file already had its full size, zeros beyond what was written
    };
    const Cut cuts[] = {
        {"created, nothing written", 0, false},
        {"headers written", 4096, false},
        {"first block written", 65536, false},
        {"first block written into reserved space", 65536, true},
    };
    for (const Cut& cut : cuts) {
        Transcript transcript;
        if (procedure() == Procedure::kRepair) {  // a newer version was being copied over the old
            ASSERT_TRUE(Run(L"install", {0}, transcript)) << transcript.Text();
            SwapSourceVersion();
        }
        const std::string source = ReadTextFile(Source());
        std::string written = source.substr(0, cut.kept);
        if (cut.reserved) written.resize(source.size(), '\0');
        WriteTextFile(Deployed(), written);

        EXPECT_TRUE(RestoreAndRemove(transcript)) << cut.name << "\n" << transcript.Text();
    }
}

// The 32-bit Repair is the case where the broken file was even reported verified.
const Param kCopyingRequests[] = {
    {&k64BitOutlook, Procedure::kInstall},
    {&k64BitOutlook, Procedure::kRepair},
    {&k32BitOutlook, Procedure::kRepair},
};

INSTANTIATE_TEST_SUITE_P(InCopyFile, CopyCutShort, ::testing::ValuesIn(kCopyingRequests),
                         ParamName);

}  // namespace
