// Every call the library makes to Windows and the C runtime fails once, in turn, allocations
// included: the requests through the exported DLL on the scenario machines, the engine's INI
// and config-file steps through the test profile, and the diagnosis. Each failure must leave
// the host running, an answer that says what happened, the machine as the answer promises,
// the calling thread as it was, and a machine that the next request without a failure puts
// right. By default each call site fails once, the first time it is met in the run of the
// table; with --every-call every call of every procedure fails in turn and the figures are
// printed. Requests are also killed before a call, as a service stop or a crash ends them:
// then a Repair must bring the add-in back to working and an Uninstall leave nothing.
#include "injector.h"
#include "installer/outlook_plugin_installer_impl.h"
#include "listing.h"
#include "machine.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "state/installer_config_file.h"
#include "status.h"
#include "sys/ini_file.h"
#include "test_profile.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <set>

namespace {

bool everyCall = false;
// A child's calls to fail or to be killed at; both empty in the parent.
enum Outcome { kFailure, kKill };
std::vector<size_t> assigned[2];
size_t killedAt = 0;  // in the process that is killed: the call it dies before
int wrongInChild = 0;
std::set<std::pair<std::string, uintptr_t>> sitesFailed;  // in this run of the table

HMODULE TheDll() { return GetModuleHandleW(L"OutlookPluginInstaller.dll"); }
HMODULE Program() { return GetModuleHandleW(nullptr); }

// One armed run: given the call to fail (1 is the first, 0 none), it arms the module around
// the procedure and tells what is wrong afterwards, or nothing.
using Attempt = std::function<std::string(size_t failAt, std::vector<injector::Call>& calls)>;

// Under Wine a process serves at most 63 requests that use COM (the 64th waits forever), so
// the failures are made in children of a few at a time, each running this test alone.
constexpr size_t kCallsPerChild = 20;
constexpr size_t kKillsPerProcedure = 8;  // spread over its calls
constexpr DWORD kChildTimeoutMs = 600000;
constexpr int kChildExit = 1000;  // plus the number of failures it found wrong; a crash exits otherwise

// `option`: "--fail=", "--kill=" or "--killed-at=", for the calls `ks`.
DWORD RunChild(const std::wstring& option, const std::vector<size_t>& ks) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::wstring arguments = L"--gtest_brief=1 --gtest_filter=" + std::wstring(name.begin(), name.end()) + L" " + option;
    for (const size_t k : ks) arguments += std::to_wstring(k) + L",";
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return RunProgram(program, arguments, kChildTimeoutMs);
}

// A dry run counts the calls; then each is failed in turn (or each new site), or killed at
// (eight spread over the calls), in children. Prints the procedure's figures: calls counted,
// failed or killed at, survived.
// `inProgram`: the procedure runs in this program, whose runtime makes its one-time
// allocations (a thread's exception state) at first use: a child runs it once unarmed first.
void FailEachCall(const std::string& procedure, const Attempt& attempt, bool inProgram = false,
                  Outcome outcome = kFailure) {
    std::vector<injector::Call> calls;
    if (!assigned[kFailure].empty() || !assigned[kKill].empty()) {
        if (inProgram) {
            EXPECT_EQ(attempt(0, calls), "") << "without a failure";
        }
        for (const size_t k : assigned[outcome]) {
            const std::string wrong = attempt(k, calls);
            wrongInChild += !wrong.empty();
            EXPECT_EQ(wrong, "") << procedure << ": call " << k << (k <= calls.size() ? std::string(", ") + calls[k - 1].function : "");
        }
        return;
    }
    ASSERT_EQ(attempt(0, calls), "") << "without a failure";
    std::vector<size_t> ks;
    for (size_t k = 1; k <= calls.size(); ++k)
        if (everyCall || (outcome == kFailure && sitesFailed.insert({calls[k - 1].function, calls[k - 1].site}).second))
            ks.push_back(k);
    // Kills: the call in the middle of each eighth of the request.
    const size_t kills = everyCall || outcome == kFailure ? 0 : std::min(kKillsPerProcedure, calls.size());
    for (size_t i = 0; i < kills; ++i) ks.push_back(1 + calls.size() * (2 * i + 1) / (2 * kills));
    size_t wrong = 0;
    for (size_t first = 0; first < ks.size(); first += kCallsPerChild) {
        const std::vector<size_t> batch(ks.begin() + first, ks.begin() + std::min(ks.size(), first + kCallsPerChild));
        const DWORD code = RunChild(outcome == kFailure ? L"--fail=" : L"--kill=", batch) - kChildExit;
        EXPECT_EQ(code, 0u) << procedure << ": " << (code <= batch.size() ? "see the failures above" : "a child crashed or hung")
                            << ", code " << code + kChildExit;
        wrong += std::min<size_t>(code, batch.size());
    }
    std::printf("figures: %s: %zu calls, %zu %s, %zu survived\n", procedure.c_str(), calls.size(), ks.size(),
                outcome == kFailure ? "failed" : "killed at", ks.size() - wrong);
}

// A line of level 5 that ends in the Windows code, or in the HRESULT made of it. Memory has
// two codes: COM's E_OUTOFMEMORY carries ERROR_OUTOFMEMORY.
bool LogsError(const Transcript& log, DWORD code) {
    std::vector<long> codes{static_cast<long>(code), static_cast<long>(HRESULT_FROM_WIN32(code))};
    if (code == ERROR_NOT_ENOUGH_MEMORY) codes.push_back(ERROR_OUTOFMEMORY);
    for (const std::wstring& line : log.lines)
        for (const long logged : codes) {
            const std::wstring ending = L"Error=" + std::to_wstring(logged);
            if (line.rfind(L"[5] ", 0) == 0 && line.size() >= ending.size() &&
                line.compare(line.size() - ending.size(), ending.size(), ending) == 0)
                return true;
        }
    return false;
}

// What was logged, for a failure's message.
std::string Lines(const Transcript& log) {
    std::string text;
    for (const std::wstring& line : log.lines) text += "\n  " + std::string(line.begin(), line.end());
    return text;
}

// The thread is as the request found it: acting as itself, in no COM apartment.
std::string ThreadAsItWas() {
    HANDLE token = nullptr;
    std::string wrong;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        CloseHandle(token);
        wrong += "the thread acts as another user; ";
    }
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (CoGetApartmentType(&type, &qualifier) != CO_E_NOTINITIALIZED) wrong += "the thread is left in an apartment; ";
    return wrong;
}

// What is wrong with an answer, besides the thread. `missing`: how the machine falls short of
// what 0 and 6 promise; `left`: what a failed Install left behind. A result 1 must come with a
// level-5 line carrying the failed call's code (`reported`); a failure reported so and passed
// over by design (an INI file no account can reach: another user may) may leave its part
// undone under a 0.
std::string Judge(unsigned int result, size_t failAt, unsigned int expected, bool reported, bool install,
                  const std::string& missing, const std::string& left) {
    std::string wrong = ThreadAsItWas();
    if ((result == 0 && !reported) || result == 6) wrong += missing;
    else if (install && result != 0) wrong += left;
    if (result == 1 && failAt > 0 && !reported) wrong += "no level-5 line with the failed call's code; ";
    if (failAt == 0 && result != expected) wrong += "answered " + std::to_string(result) + " without a failure; ";
    return wrong;
}

// What is wrong after a request, without a failure, that is to put the machine right: an
// answer other than 0 or 6, or what is still `missing`.
std::string PutRight(const std::string& request, unsigned int answer, const std::string& missing) {
    if ((answer == 0 || answer == 6) && missing.empty()) return "";
    return request + " answered " + std::to_string(answer) + ": " + missing;
}

// Where a request may write, besides the agent folder: in both registry views as stored, the
// add-in's key and class, Outlook's per-user records (disabled items, load times, the per-user
// add-in key), Windows' list of files to delete at the next restart, and what Wine's service
// manager counts whatever program runs.
const wchar_t* const kAddinsPlaces[] = {
    LR"((key|value) HKLM\\Software(\\Wow6432Node)?\\Microsoft\\Office\\Outlook\\Addins\\Tolvane\.OutlookAddin\.1([\\:].*)?)",
    LR"((key|value) HKLM\\Software\\Classes(\\Wow6432Node)?\\CLSID\\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18\}([\\:].*)?)",
    LR"((key|value) HKU\\[^\\]+\\Software(\\Wow6432Node)?\\Microsoft\\Office\\([^\\]+\\Outlook\\(Resiliency\\DisabledItems|AddInLoadTimes)|Outlook\\Addins\\Tolvane\.OutlookAddin\.1)([\\:].*)?)",
    LR"(value HKLM\\System\\CurrentControlSet\\Control\\(Session Manager:PendingFileRenameOperations|ServiceCurrent:))",
};

// What a request wrote outside the add-in's places, from the listings before and after it.
std::string WrittenElsewhere(const Listing& before, const Machine& m) {
    const std::wstring outside = Unexplained(before, ListPrefix(), [&m](const std::wstring& entry) {
        if (entry.rfind(L"file ", 0) == 0) return _wcsnicmp(entry.c_str() + 5, m.home.c_str(), m.home.size()) == 0;
        for (const wchar_t* place : kAddinsPlaces)
            if (std::regex_match(entry, std::wregex(place, std::regex::icase))) return true;
        return false;
    });
    return outside.empty() ? "" : "wrote outside the add-in's places:\n" + std::string(outside.begin(), outside.end());
}

// Requests through the exported DLL. Without a failure, each writes only in the add-in's places.
struct Procedure {
    const char* name;
    const wchar_t* request;
    unsigned int answer;  // without a failure
    bool installedBefore;
    bool broker;  // also for 32-bit Outlook, whose COM work goes through the broker
    // Also killed, for 64-bit Outlook: a 32-bit request differs only in its calls to the
    // broker, where a kill leaves the broker at work, done or not, as at a call before or after.
    bool killed;
    std::function<void(Machine&)> setup;  // then, before the request
};

const Procedure kProcedures[] = {
    {"install", L"install", 0, false, true, true, nullptr},
    {"repair-nothing-to-do", L"repair", 6, true, true, false, nullptr},
    {"repair-after-deletion", L"repair", 0, true, false, true, [](Machine& m) { DeleteFileW(m.Dll().c_str()); }},
    // The load time and the user's LoadBehavior are put right without a word: the answer stays 6.
    {"repair-user-records", L"repair", 6, true, false, false,
     [](Machine& m) {
         Record(m, L"other", 0, DisabledRecord(L"C:\\other.dll"));
         SetValue(HKEY_USERS, m.Hive(1) + kLoadTimes15, kAddinProgId, REG_BINARY, "time");
         SetDword(HKEY_USERS, m.Hive(2) + kUserAddin, L"LoadBehavior", 0);
     }},
    {"uninstall", L"uninstall", 0, true, true, true, nullptr},
};

class Request : public ::testing::TestWithParam<std::tuple<Outlook, Procedure>> {};

// The procedure's machine, before the request, with Outlook's own key for add-ins.
void Prepare(Machine& m, const Procedure& procedure) {
    SetValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins", L"", 0, "", m.outlook.view);
    if (procedure.installedBefore) {
        EXPECT_EQ(m.Run(L"install"), 0u);
    }
    if (procedure.setup) procedure.setup(m);
    m.log.lines.clear();
}

TEST_P(Request, SurvivesEachFailedCallAndEachKill) {
    const auto& [outlook, procedure] = GetParam();
    const std::wstring request = procedure.request;
    if (killedAt > 0) {  // the machine is the caller's
        Transcript log;
        injector::Arm(TheDll(), killedAt, true);
        RunRequest(kAgentFolder, request, log);
        return;
    }
    const bool uninstall = request == L"uninstall";
    const std::string name = std::string(procedure.name) + (outlook.view == KEY_WOW64_64KEY ? " x64" : " x86");
    FailEachCall(name, [&](size_t failAt, std::vector<injector::Call>& calls) {
        Machine m(outlook);
        Prepare(m, procedure);
        const Listing before = failAt == 0 ? ListPrefix() : Listing();
        injector::Arm(TheDll(), failAt);
        const unsigned int result = m.Run(request);
        calls = injector::Disarm();
        const std::string elsewhere = failAt == 0 ? WrittenElsewhere(before, m) : "";
        const Transcript answer = m.log;
        const bool reported = failAt > 0 && failAt <= calls.size() &&
                              LogsError(answer, injector::FailureCode(calls[failAt - 1].function));
        const std::string missing = result != 0 && result != 6 ? "" : uninstall ? m.NothingLeft() : m.Working();
        // Repair puts a user's LoadBehavior right without a word, and still answers 6 when it cannot.
        std::string wrong = Judge(result, failAt, procedure.answer, reported, request == L"install",
                                  result == 6 && missing == "load-behavior; " ? "" : missing, m.NothingLeft()) +
                            elsewhere;
        // Without a failure, the next request puts the machine right.
        const unsigned int next = m.Run(uninstall ? L"uninstall" : L"repair");
        wrong += PutRight("the next request", next, uninstall ? m.NothingLeft() : m.Working());
        if (!wrong.empty()) wrong = "answered " + std::to_string(result) + ": " + wrong + Lines(answer);
        return wrong;
    });
    if (!procedure.killed || outlook.view != KEY_WOW64_64KEY) return;
    FailEachCall(name + " killed", [&](size_t killAt, std::vector<injector::Call>& calls) {
        Machine m(outlook);
        Prepare(m, procedure);
        std::string wrong;
        if (killAt == 0) {
            injector::Arm(TheDll(), 0);
            m.Run(request);
            calls = injector::Disarm();
        } else if (RunChild(L"--killed-at=", {killAt}) != injector::kKilled) {
            wrong += "the request ended before the call; ";
        }
        const unsigned int repaired = m.Run(L"repair");
        wrong += PutRight("the Repair after it", repaired, m.Working());
        const unsigned int removed = m.Run(L"uninstall");
        if (removed != 0 || !m.NothingLeft().empty())
            wrong += "the Uninstall after it answered " + std::to_string(removed) + ": " + m.NothingLeft();
        return wrong;
    }, false, kKill);
}

std::string RowName(const ::testing::TestParamInfo<Request::ParamType>& info) {
    const auto& [outlook, procedure] = info.param;
    return CaseName(std::string(procedure.name) + (outlook.view == KEY_WOW64_64KEY ? "_x64" : "_x86"));
}

// Each procedure for 64-bit Outlook; those that register, verify and unregister through the
// broker for 32-bit Outlook too (whose other steps are the same code and call sites).
std::vector<Request::ParamType> Rows() {
    std::vector<Request::ParamType> rows;
    for (const Outlook& outlook : {kOutlook64, kOutlook32})
        for (const Procedure& procedure : kProcedures)
            if (outlook.view == KEY_WOW64_64KEY || procedure.broker) rows.emplace_back(outlook, procedure);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Procedures, Request, ::testing::ValuesIn(Rows()), RowName);

// A host logger that allocates nothing: while the program's own calls are counted, every
// allocation counted is the library's. It keeps the lines of level 5.
class ErrorLog final : public PluginInstallerLogger {
public:
    void HostSlot0() override {}
    void HostSlot1() override {}
    void HostSlot2() override {}
    void HostSlot3() override {}
    void Log(int level, const wchar_t* message) override {
        if (level == kLogError && count_ < kLines) wcsncpy_s(lines_[count_++], message, _TRUNCATE);
    }
    Transcript Kept() const {
        Transcript kept;
        for (size_t i = 0; i < count_; ++i) kept.lines.push_back(std::wstring(L"[5] ") + lines_[i]);
        return kept;
    }

private:
    static constexpr size_t kLines = 64;
    wchar_t lines_[kLines][512] = {};
    size_t count_ = 0;
};

// The engine's INI-entry and config-file steps, through the test profile: the item in two INI
// files and one no account sees (the logged-on users are asked for it), the application
// folders and INI files recorded in the config file, a file and a folder (with a folder in
// it) deployed.
struct EngineProcedure {
    const char* name;
    OutlookPluginInstallerImpl::Procedure request;
    bool installedBefore;
};

const EngineProcedure kEngineProcedures[] = {
    {"install", &PluginInstallationManager::Install, false},
    {"repair", &PluginInstallationManager::Repair, true},
    {"uninstall", &PluginInstallationManager::Uninstall, true},
};

class EngineRequest : public ::testing::TestWithParam<EngineProcedure> {};

// Other programs' items before the add-in's, longer than the INI functions' first read.
const std::wstring kOthers = L"x," + std::wstring(1000, L'i');

TEST_P(EngineRequest, SurvivesEachFailedCall) {
    const std::wstring folder = L"C:\\Agent\\Engine";
    const auto ini = [&folder](const wchar_t* name) { return folder + L"\\ini\\" + name; };
    // What is laid down: "deployed" or "nothing", or what differs from both.
    const auto state = [&]() {
        std::string state;
        for (const wchar_t* name : {L"a.ini", L"b.ini"}) {
            std::wstring value;
            sys::IniFile::ReadValue(ini(name), L"Extensions", L"AddinManagers", value);
            state += value == kOthers + L",tolvane" ? "d" : value == kOthers ? "n" : "?";
        }
        std::vector<std::wstring> recorded;
        InstallerConfigFile(folder).GetINIPaths(L"TestApp", recorded);
        const auto count = std::count(recorded.begin(), recorded.end(), ini(L"a.ini")) +
                           std::count(recorded.begin(), recorded.end(), ini(L"b.ini"));
        state += count == 2 ? "d" : count == 0 ? "n" : "?";
        state += Exists(folder + L"\\addin.txt") ? "d" : "n";
        state += Exists(folder + L"\\res\\strings.txt") ? "d" : Exists(folder + L"\\res") ? "?" : "n";
        return state == "ddddd" ? "deployed" : state == "nnnnn" ? "nothing"
                                : "partly laid down: " + state + " (INI files, records, file, folder)";
    };
    const EngineProcedure& procedure = GetParam();
    const bool uninstall = procedure.request == &PluginInstallationManager::Uninstall;
    const bool install = procedure.request == &PluginInstallationManager::Install;
    FailEachCall(std::string("engine ") + procedure.name, [&](size_t failAt, std::vector<injector::Call>& calls) {
        ErrorLog log;
        TestProfile p(folder, log, {ini(L"a.ini"), ini(L"b.ini"), ini(L"unseen.ini")});
        for (const wchar_t* name : {L"a.ini", L"b.ini"})
            WriteFileBytes(ini(name), "[Extensions]\r\nAddinManagers=" + std::string(kOthers.begin(), kOthers.end()) + "\r\n");
        CreateFolders(folder + L"\\Install\\res\\sub");
        WriteFileBytes(folder + L"\\Install\\res\\strings.txt", "strings");
        p.files[L"res"] = {folder};  // a folder is deployed with what it holds
        p.section = L"TestApp";
        p.sectionResult = 0;
        if (procedure.installedBefore) {
            EXPECT_EQ(p.Install(), 0u);
        }
        injector::Arm(Program(), failAt);
        const unsigned int result = OutlookPluginInstallerImpl::RunRequest(&log, p, procedure.request, L"started", L"failure", L"completed");
        calls = injector::Disarm();
        const bool reported = failAt > 0 && failAt <= calls.size() &&
                              LogsError(log.Kept(), injector::FailureCode(calls[failAt - 1].function));
        const std::string promised = uninstall ? "nothing" : "deployed";
        // Never 6: Repair cannot verify the item in the file no account sees, and adds it again.
        std::string wrong = Judge(result, failAt, 0, reported, install,
                                  state() == promised ? "" : state() + "; ", state() == "nothing" ? "" : state() + "; ");
        const unsigned int next = uninstall ? p.Uninstall() : p.Repair();
        wrong += PutRight("the next request", next, state() == promised ? "" : state());
        if (!wrong.empty()) wrong = "answered " + std::to_string(result) + ": " + wrong + Lines(log.Kept());
        return wrong;
    }, true);
}

INSTANTIATE_TEST_SUITE_P(Procedures, EngineRequest, ::testing::ValuesIn(kEngineProcedures),
                         [](const auto& info) { return std::string(info.param.name); });

// The diagnosis of installer-host status: whatever call fails, it answers; on a working
// machine it finds nothing but what it could not read, and on a broken one never "healthy".
// Without a failure it writes nothing.
TEST(Diagnosis, SurvivesEachFailedCall) {
    for (const bool broken : {false, true}) {
        FailEachCall(broken ? "status, file deleted" : "status", [broken](size_t failAt, std::vector<injector::Call>& calls) {
            Machine m(kOutlook64);
            EXPECT_EQ(m.Run(L"install"), 0u);
            if (broken) DeleteFileW(m.Dll().c_str());
            const std::wstring dll = status::DllBesideProgram();
            const Listing before = failAt == 0 ? ListPrefix() : Listing();
            injector::Arm(Program(), failAt);
            const status::Report report = status::Diagnose(m.folder, dll);
            calls = injector::Disarm();
            const std::wstring written = failAt == 0 ? ChangedSince(before) : L"";
            std::string wrong = std::string(written.begin(), written.end());
            if (broken && report.verdict == status::Verdict::kHealthy) wrong += "healthy; ";
            for (const status::Problem& problem : report.problems)
                if (!broken && (failAt == 0 || problem.code != "read-failure")) wrong += problem.code + "; ";
            return wrong;
        }, true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // "--fail=1,5,9," and the like: the calls a child is given.
    const auto read = [](const char* argument, const char* option, std::vector<size_t>& ks) {
        const size_t length = std::strlen(option);
        std::istringstream list(std::strncmp(argument, option, length) == 0 ? argument + length : "");
        for (std::string k; std::getline(list, k, ',');) ks.push_back(std::stoul(k));
    };
    for (int i = 1; i < argc; ++i) {
        everyCall = everyCall || std::strcmp(argv[i], "--every-call") == 0;
        read(argv[i], "--fail=", assigned[kFailure]);
        read(argv[i], "--kill=", assigned[kKill]);
        if (std::strncmp(argv[i], "--killed-at=", 12) == 0) killedAt = std::stoul(argv[i] + 12);
    }
    const bool child = killedAt > 0 || !assigned[kFailure].empty() || !assigned[kKill].empty();
    TheLibrary();
    injector::Patch(TheDll());
    injector::Patch(Program());
    const std::vector<std::string> unlisted = injector::Unlisted(TheDll());
    for (const std::string& function : child ? std::vector<std::string>() : unlisted)
        std::printf("the library imports %s, in neither table\n", function.c_str());
    const int failed = RUN_ALL_TESTS();
    if (child) return kChildExit + std::max(wrongInChild, failed);
    return failed || !unlisted.empty();
}
