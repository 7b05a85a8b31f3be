#include "machine_state.h"

#include "addin_class.h"
#include "sys/handles.h"

namespace {

constexpr const wchar_t* kFile32 = L"tolvane.dll";
constexpr const wchar_t* kFile64 = L"tolvane64.dll";
constexpr const wchar_t* kClassServerKey =
    L"SOFTWARE\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}\\InprocServer32";
constexpr unsigned int kNothingToRepair = 6;
constexpr DWORD kBrokerExitWaitMs = 10000;

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

std::wstring StringValue(const std::wstring& key, const wchar_t* name, DWORD view) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!RawReadValue(HKEY_LOCAL_MACHINE, key, name, view, type, data) || type != REG_SZ) return {};
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

}  // namespace

std::wstring ClassServerPath(DWORD view) { return StringValue(kClassServerKey, L"", view); }

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> EntriesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const sys::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search.get(), &entry));
    return names;
}

void CreateFolders(const std::wstring& path) {
    for (size_t end = path.find(L'\\', 3); end != std::wstring::npos; end = path.find(L'\\', end + 1))
        CreateDirectoryW(path.substr(0, end).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    for (const std::wstring& name : EntriesIn(path)) RemoveTree(path + L"\\" + name);
    RemoveDirectoryW(path.c_str());
}

AgentFolder::AgentFolder(const std::wstring& leaf) {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base_ = std::wstring(temp) + L"opi-agent-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    path_ = base_ + L"\\" + leaf;
    CreateFolders(path_ + L"\\Install");
    CreateFolders(path_ + L"\\temp");
    CopyAddin(L"v1\\tolvane.dll", path_ + L"\\Install", L"tolvane.dll");
    CopyAddin(L"v1\\tolvane64.dll", path_ + L"\\Install", L"tolvane64.dll");
}

::testing::AssertionResult HoldsNothing(const std::wstring& agentFolder, const PendingRenames& pending) {
    for (const wchar_t* file : {kFile32, kFile64})
        if (PathExists(agentFolder + L"\\" + file))
            return ::testing::AssertionFailure() << Narrow(file) << " is still deployed";
    for (const DWORD view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        if (RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, view))
            return ::testing::AssertionFailure() << "the add-in key is still in view 0x" << std::hex << view;
        if (AddinClassExists(view))
            return ::testing::AssertionFailure() << "the COM class is still in view 0x" << std::hex << view;
    }
    const std::wstring temp = agentFolder + L"\\temp";
    for (const std::wstring& name : EntriesIn(temp))
        if (!pending.ScheduledForDeletion(temp + L"\\" + name))
            return ::testing::AssertionFailure() << "temp holds " << Narrow(name)
                                                 << ", not scheduled for deletion";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HoldsNothing(const SimulatedMachine& machine, const PendingRenames& pending) {
    return HoldsNothing(machine.agentFolder(), pending);
}

::testing::AssertionResult FullyWorking(const std::wstring& agentFolder, Bitness bitness) {
    const bool is64 = bitness == Bitness::k64;
    const std::wstring file = is64 ? kFile64 : kFile32;
    const DWORD view = is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::wstring deployed = agentFolder + L"\\" + file;
    if (!PathExists(deployed))
        return ::testing::AssertionFailure() << Narrow(file) << " is not deployed";
    if (StringValue(kAddinKey, L"FileName", view) != file)
        return ::testing::AssertionFailure() << "the add-in key does not name " << Narrow(file);
    if (ClassServerPath(view) != deployed)
        return ::testing::AssertionFailure() << "the COM class does not name " << Narrow(deployed);
    RecordingLogger logger;
    const unsigned int repair = ExportedLibrary().Run(agentFolder, L"repair", logger);
    if (repair != kNothingToRepair)
        return ::testing::AssertionFailure() << "a following Repair returned " << repair;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FullyWorking(const SimulatedMachine& machine, Bitness bitness) {
    return FullyWorking(machine.agentFolder(), bitness);
}

Lines StartFailureAndEnd(const std::wstring& request, unsigned int result) {
    return {request + L" started", request + L": failure Error=" + std::to_wstring(result),
            request + L" completed"};
}

OutlookMachineTest::OutlookMachineTest(Bitness bitness)
    : machine(bitness == Bitness::k64 ? L"15.0" : L"14.0",
              bitness == Bitness::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY,
              bitness == Bitness::k64 ? L"Office15" : L"Office14") {}

void OutlookMachineTest::TearDown() { EXPECT_TRUE(WaitUntilNoBrokerProcess(kBrokerExitWaitMs)); }
