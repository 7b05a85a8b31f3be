#include "status_output.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace status {
namespace {

using json = nlohmann::ordered_json;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                           0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::kHealthy: return "healthy";
    case Verdict::kNeedsFixing: return "needs-fixing";
    case Verdict::kOutlookNotInstalled: return "outlook-not-installed";
    }
    return "";
}

std::wstring Bits(int view) { return std::to_wstring(view) + L"-bit view"; }

std::wstring FixText(const Problem& problem) {
    if (problem.fix.empty()) return L"no request fixes this: " + problem.reason;
    std::wstring requests;
    for (const std::wstring& request : problem.fix) requests += (requests.empty() ? L"" : L", then ") + request;
    return L"fix: " + requests + L" (" + problem.reason + L")";
}

std::wstring FileLine(const FileFact& file) {
    if (!file.present) return L"absent";
    return L"FileVersion " + (file.fileVersion.empty() ? std::wstring(L"(none)") : file.fileVersion);
}

void TextOutlook(const Report& report, std::wostringstream& out) {
    out << L"Outlook\n";
    if (report.outlooks.empty()) out << L"  no install root found\n";
    for (const OutlookInstallation& outlook : report.outlooks)
        out << L"  HKLM\\" << outlook.key << L", " << Bits(outlook.view) << L": " << outlook.path
            << (outlook.supported ? L"" : L" (not a supported Office folder)") << L"\n";
    if (report.requestBitness != 0)
        out << L"  a request would use the " << report.requestBitness << L"-bit add-in, " << report.requestFile
            << L"\n";
}

void TextFiles(const Report& report, std::wostringstream& out) {
    out << L"Files\n";
    for (const FileFact& file : report.sourceFiles) out << L"  Install\\" << file.name << L": " << FileLine(file) << L"\n";
    for (const FileFact& file : report.deployedFiles) {
        out << L"  " << file.name << L": " << FileLine(file);
        if (file.present) out << (file.matchesSource ? L", the same as Install's" : L", differs from Install's");
        out << (file.expected || report.requestBitness == 0 ? L"" : L" (not used with this Outlook)") << L"\n";
    }
    out << L"  temp:" << (report.temp.empty() ? L" empty" : L"") << L"\n";
    for (const TempEntry& entry : report.temp)
        out << L"    " << entry.name << (entry.pendingDeletion ? L" (deleted at the next restart)" : L"") << L"\n";
    out << L"  waiting for deletion at the next restart:" << (report.pendingDeletions.empty() ? L" none" : L"")
        << L"\n";
    for (const std::wstring& path : report.pendingDeletions) out << L"    " << path << L"\n";
}

void TextSafety(const Report& report, std::wostringstream& out) {
    out << L"Safety\n";
    if (report.unsafePlaces.empty() && report.links.empty()) out << L"  only trusted accounts may change the add-in's places; no link\n";
    for (const UnsafePlace& unsafe : report.unsafePlaces)
        out << L"  " << unsafe.place << L": " << unsafe.account << L" may change it (" << unsafe.rights << L")\n";
    for (const std::wstring& link : report.links) out << L"  " << link << L": a link\n";
}

void TextComClass(const Report& report, std::wostringstream& out) {
    out << L"COM class " << report.addinClsid << L"\n";
    for (const ClassView& view : report.classViews) {
        out << L"  " << Bits(view.view) << L": ";
        if (!view.registered) {
            out << L"not registered\n";
            continue;
        }
        out << (view.server.empty() ? std::wstring(L"no InprocServer32") : view.server)
            << (view.agentCopy ? L" (the agent folder's copy)" : L" (not the agent folder's copy)")
            << L", ThreadingModel " << (view.threadingModel.empty() ? L"(none)" : view.threadingModel) << L"\n";
    }
    const BrokerFact& broker = report.broker;
    out << L"  registration broker " << broker.clsid << L": ";
    if (broker.view == 0) out << L"not registered";
    else
        out << L"registered in the " << Bits(broker.view) << L", " << broker.server
            << (broker.programPresent ? L"" : L" (the program is missing)");
    out << (broker.required ? L" (needed: Outlook is 32-bit)" : L" (not needed by this Outlook)") << L"\n";
}

void TextAddinKey(const Report& report, std::wostringstream& out) {
    out << L"Add-in key HKLM\\" << report.addinKeyPath << L"\n";
    for (const AddinKeyView& key : report.addinKeys) {
        out << L"  " << Bits(key.view) << (key.expected ? L" (used by this Outlook)" : L"") << L": "
            << (key.present ? L"present" : L"absent") << L"\n";
        if (!key.present) continue;
        for (const ValueFact& value : key.values) {
            out << L"    " << value.name << L" = ";
            if (value.present) out << value.actualType << L" " << value.actual;
            else out << L"(missing)";
            out << (value.matches ? L"  ok" : L"  expected " + value.type + L" " + value.expected) << L"\n";
        }
    }
}

void TextUsers(const Report& report, std::wostringstream& out) {
    out << L"Users\n";
    for (const UserHive& hive : report.users) {
        out << L"  " << hive.name << L": ";
        if (hive.disabledItems.empty()) out << L"no disabled item";
        else out << hive.disabledItems.size() << L" disabled item(s)";
        out << L", LoadBehavior " << (hive.loadBehaviorSet ? hive.loadBehavior : L"not set") << L", "
            << (hive.loadTimeRecord ? L"a load-time record" : L"no load-time record") << L"\n";
        for (const DisabledItem& item : hive.disabledItems) {
            out << L"    " << item.key << L" : " << item.value << L" names "
                << (item.agentCopy ? L"the agent folder's " + item.fileNamed : item.fileNamed + L" elsewhere") << L" (";
            for (size_t i = 0; i < item.views.size(); ++i) out << (i ? L", " : L"") << Bits(item.views[i]);
            out << L")\n";
        }
    }
}

json FileJson(const FileFact& file, bool deployed) {
    json entry = {{"name", Utf8(file.name)},
                  {"path", Utf8(file.path)},
                  {"present", file.present},
                  {"fileVersion", file.present ? json(Utf8(file.fileVersion)) : json(nullptr)}};
    if (deployed) {
        entry["expected"] = file.expected;
        entry["matchesSource"] = file.matchesSource;
    }
    return entry;
}

}  // namespace

std::wstring ReportText(const Report& report) {
    std::wostringstream out;
    out << L"Diagnosis of the Outlook add-in, agent folder " << report.agentFolder << L"\n";
    out << L"Library " << report.dll.path << L": "
        << (report.dll.unreadable ? std::wstring(L"could not be read") : FileLine(report.dll)) << L"\n";
    TextOutlook(report, out);
    TextFiles(report, out);
    TextSafety(report, out);
    TextComClass(report, out);
    TextAddinKey(report, out);
    TextUsers(report, out);
    out << L"Problems\n";
    if (report.problems.empty()) out << L"  none\n";
    for (const Problem& problem : report.problems) {
        out << L"  [" << std::wstring(problem.code.begin(), problem.code.end()) << L"] " << problem.subject << L"\n"
            << L"    " << problem.what << L"\n"
            << L"    " << FixText(problem) << L"\n";
    }
    out << L"Verdict: ";
    switch (report.verdict) {
    case Verdict::kHealthy: out << L"healthy, nothing keeps the add-in from loading"; break;
    case Verdict::kNeedsFixing: out << report.problems.size() << L" problem(s) to fix"; break;
    case Verdict::kOutlookNotInstalled: out << L"Outlook is not installed"; break;
    }
    out << L" (exit code " << report.exitCode << L")\n";
    return out.str();
}

json ReportJson(const Report& report) {
    json outlooks = json::array();
    for (const OutlookInstallation& outlook : report.outlooks)
        outlooks.push_back({{"key", Utf8(outlook.key)},
                            {"view", outlook.view},
                            {"path", Utf8(outlook.path)},
                            {"supported", outlook.supported}});

    json source = json::array();
    for (const FileFact& file : report.sourceFiles) source.push_back(FileJson(file, false));
    json deployed = json::array();
    for (const FileFact& file : report.deployedFiles) deployed.push_back(FileJson(file, true));
    json temp = json::array();
    for (const TempEntry& entry : report.temp)
        temp.push_back({{"name", Utf8(entry.name)}, {"pendingDeletion", entry.pendingDeletion}});
    json pending = json::array();
    for (const std::wstring& path : report.pendingDeletions) pending.push_back(Utf8(path));

    json classViews = json::array();
    for (const ClassView& view : report.classViews)
        classViews.push_back({{"view", view.view},
                              {"expected", view.expected},
                              {"registered", view.registered},
                              {"server", view.registered ? json(Utf8(view.server)) : json(nullptr)},
                              {"agentCopy", view.agentCopy},
                              {"threadingModel", view.registered ? json(Utf8(view.threadingModel)) : json(nullptr)}});
    const BrokerFact& broker = report.broker;
    const json brokerJson = {{"clsid", Utf8(broker.clsid)},
                             {"required", broker.required},
                             {"registered", broker.registered},
                             {"view", broker.view == 0 ? json(nullptr) : json(broker.view)},
                             {"server", broker.view == 0 ? json(nullptr) : json(Utf8(broker.server))},
                             {"programPresent", broker.programPresent}};

    json keyViews = json::array();
    for (const AddinKeyView& key : report.addinKeys) {
        json values = json::array();
        for (const ValueFact& value : key.values)
            values.push_back({{"name", Utf8(value.name)},
                              {"type", Utf8(value.type)},
                              {"expected", Utf8(value.expected)},
                              {"present", value.present},
                              {"actualType", value.present ? json(Utf8(value.actualType)) : json(nullptr)},
                              {"actual", value.present ? json(Utf8(value.actual)) : json(nullptr)},
                              {"matches", value.matches}});
        keyViews.push_back(
            {{"view", key.view}, {"expected", key.expected}, {"present", key.present}, {"values", values}});
    }

    json users = json::array();
    for (const UserHive& hive : report.users) {
        json disabled = json::array();
        for (const DisabledItem& item : hive.disabledItems)
            disabled.push_back({{"key", Utf8(item.key)},
                                {"value", Utf8(item.value)},
                                {"fileNamed", Utf8(item.fileNamed)},
                                {"agentCopy", item.agentCopy},
                                {"views", item.views}});
        json loadBehavior = nullptr;
        if (hive.loadBehaviorSet)
            loadBehavior = hive.loadBehaviorType == REG_DWORD ? json(hive.loadBehaviorNumber) : json(Utf8(hive.loadBehavior));
        users.push_back({{"hive", Utf8(hive.name)},
                         {"disabledItems", disabled},
                         {"loadBehavior", loadBehavior},
                         {"loadBehaviorOverrides", hive.loadBehaviorOverrides},
                         {"loadTimeRecord", hive.loadTimeRecord}});
    }

    json unsafePlaces = json::array();
    for (const UnsafePlace& unsafe : report.unsafePlaces)
        unsafePlaces.push_back(
            {{"place", Utf8(unsafe.place)}, {"account", Utf8(unsafe.account)}, {"rights", Utf8(unsafe.rights)}});
    json links = json::array();
    for (const std::wstring& link : report.links) links.push_back(Utf8(link));

    json problems = json::array();
    for (const Problem& problem : report.problems) {
        json fix = json::array();
        for (const std::wstring& request : problem.fix) fix.push_back(Utf8(request));
        problems.push_back({{"code", problem.code},
                            {"subject", Utf8(problem.subject)},
                            {"what", Utf8(problem.what)},
                            {"fix", fix},
                            {"reason", Utf8(problem.reason)}});
    }

    return {{"agentFolder", Utf8(report.agentFolder)},
            {"dllPath", Utf8(report.dll.path)},
            {"dllVersion", report.dll.present ? json(Utf8(report.dll.fileVersion)) : json(nullptr)},
            {"outlook",
             {{"installations", outlooks},
              {"requestBitness", report.requestBitness == 0 ? json(nullptr) : json(report.requestBitness)},
              {"requestFile", report.requestBitness == 0 ? json(nullptr) : json(Utf8(report.requestFile))}}},
            {"files", {{"source", source}, {"deployed", deployed}, {"temp", temp}, {"pendingDeletions", pending}}},
            {"comClass", {{"clsid", Utf8(report.addinClsid)}, {"views", classViews}, {"broker", brokerJson}}},
            {"addinKey", {{"path", Utf8(report.addinKeyPath)}, {"views", keyViews}}},
            {"users", users},
            {"safety", {{"unsafePlaces", unsafePlaces}, {"links", links}}},
            {"problems", problems},
            {"verdict", VerdictName(report.verdict)},
            {"exitCode", report.exitCode}};
}

}  // namespace status
