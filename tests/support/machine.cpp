#include "machine.h"

#include "outlook/outlook_plugin_installation_manager.h"
#include "status.h"
#include "sys/file_security.h"
#include "sys/handles.h"

#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

const std::wstring kUserAddin = std::wstring(L"\\") + kAddinKeyPath;

namespace {

constexpr const wchar_t* kOfficeKey = L"SOFTWARE\\Microsoft\\Office";
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingValue = L"PendingFileRenameOperations";
constexpr const wchar_t* kBrokerClassKey = L"SOFTWARE\\Classes\\CLSID\\{2F4C9A17-6B3E-4D85-A1C0-93E7B52D8F46}";
constexpr const wchar_t* kHiveNamePrefix = L"S-1-5-21-4242-4242-4242-";
constexpr DWORD kBothViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// Win32 takes a path longer than MAX_PATH only in its long form.
std::wstring LongForm(const std::wstring& path) {
    return path.size() >= MAX_PATH && path[1] == L':' ? L"\\\\?\\" + path : path;
}

sys::UniqueKey OpenKey(HKEY root, const std::wstring& key, REGSAM access) {
    sys::UniqueKey opened;
    RegOpenKeyExW(root, key.c_str(), 0, access, opened.put());
    return opened;
}

std::string PendingList() {
    std::string bytes;
    ReadValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, 0, bytes);
    return bytes;
}


// Sections of every transcript file, by name.
using Sections = std::map<std::string, std::vector<std::string>>;
Sections LoadTranscripts() {
    Sections sections;
    std::vector<std::string>* section = nullptr;
    for (const std::wstring& name : FolderEntries(TRANSCRIPT_DIR)) {
        std::istringstream text(ReadFileBytes(std::wstring(TRANSCRIPT_DIR) + L"\\" + name));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("== ", 0) == 0) section = &sections[line.substr(3)];
            else if (section && !line.empty() && line[0] != '#') section->push_back(line);
        }
    }
    return sections;
}

// "name a b": section name with {1} and {2} replaced by a and b.
void Expand(const Sections& sections, const std::string& call, std::vector<std::wstring>& out) {
    std::istringstream words(call);
    std::string name, word;
    std::vector<std::string> arguments;
    for (words >> name; words >> word;) arguments.push_back(word);
    const auto found = sections.find(name);
    if (found == sections.end()) ADD_FAILURE() << "no transcript section " << name;
    for (std::string line : found == sections.end() ? std::vector<std::string>() : found->second) {
        for (size_t i = 0, at; i < arguments.size(); ++i)
            while ((at = line.find("{" + std::to_string(i + 1) + "}")) != std::string::npos) line.replace(at, 3, arguments[i]);
        if (line[0] == '@') Expand(sections, line.substr(1), out);
        else out.emplace_back(line.begin(), line.end());  // transcripts are ASCII
    }
}

}  // namespace

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return program.substr(0, program.rfind(L'\\'));
}

std::string CaseName(std::string name) {
    for (char& c : name) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

std::wstring Fixture(const std::wstring& name) { return ProgramFolder() + L"\\fixtures\\" + name; }

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(LongForm(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(std::filesystem::path(LongForm(path)), std::ios::binary);
    EXPECT_TRUE(file.write(bytes.data(), bytes.size())) << "writing a test file failed";
}

// Full, without a long-path prefix or a trailing backslash.
static std::wstring Full(const std::wstring& path) {
    wchar_t full[32768];
    const DWORD length = GetFullPathNameW(path.c_str(), 32768, full, nullptr);
    std::wstring result(full, length < 32768 ? length : 0);
    if (result.rfind(L"\\\\?\\", 0) == 0) result.erase(0, 4);
    if (result.size() > 3 && result.back() == L'\\') result.pop_back();
    return result;
}

bool SamePlace(const std::wstring& a, const std::wstring& b) {
    const std::wstring fullA = Full(a), fullB = Full(b);
    return CompareStringOrdinal(fullA.c_str(), -1, fullB.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const sys::UniqueFind search(FindFirstFileW(LongForm(folder + L"\\*").c_str(), &entry));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &entry))
        if (entry.cFileName != std::wstring(L".") && entry.cFileName != std::wstring(L"..")) names.push_back(entry.cFileName);
    std::sort(names.begin(), names.end());
    return names;
}

void CreateFolders(const std::wstring& path) {
    for (size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        CreateDirectoryW(LongForm(path.substr(0, end)).c_str(), nullptr);
        if (end == std::wstring::npos) return;
    }
}

// Goes on past what cannot be removed: a file still in use stays, the rest goes. A link is
// never entered: what it points to is not the tree's.
void RemoveTree(const std::wstring& path) {
    const std::wstring target = LongForm(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        for (const std::wstring& name : FolderEntries(path)) RemoveTree(path + L"\\" + name);
    if (!DeleteFileW(target.c_str())) RemoveDirectoryW(target.c_str());
}

// An empty name and type 0 only create the key.
void SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const std::string& bytes,
              DWORD view) {
    sys::UniqueKey created;
    EXPECT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, created.put(), nullptr),
              ERROR_SUCCESS);
    if (type || !name.empty()) {
        EXPECT_EQ(RegSetValueExW(created.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
}

void SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, DWORD view) {
    SetValue(root, key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)), view);
}

std::string Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

void DeleteTree(HKEY root, const std::wstring& key, DWORD view) {
    if (const auto opened = OpenKey(root, key, KEY_ALL_ACCESS | view)) {
        RegDeleteTreeW(opened.get(), nullptr);
        RegDeleteKeyExW(root, key.c_str(), view, 0);
    }
}

bool ReadValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD view, std::string& bytes,
               DWORD* type) {
    const auto opened = OpenKey(root, key, KEY_READ | view);
    DWORD size = 0;
    if (!opened || RegQueryValueExW(opened.get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    bytes.assign(size, '\0');
    return RegQueryValueExW(opened.get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(bytes.data()),
                            &size) == ERROR_SUCCESS;
}

std::string DisabledRecord(const std::wstring& dll) {
    return Bytes(L"\x0001" + dll + L'\0' + L"Tolvane Outlook Add-in");
}

void Transcript::Log(int level, const wchar_t* message) {
    lines.push_back(L"[" + std::to_wstring(level) + L"] " + message);
}

// The library may call only slot 4 of the host's logger.
void Transcript::Unexpected() { FatalAppExitW(0, L"the library called a host-owned logger slot"); }

const Library& TheLibrary() {
    static const Library library = [] {
        Library loaded;
        const HMODULE module = LoadLibraryW((ProgramFolder() + L"\\OutlookPluginInstaller.dll").c_str());
        loaded.create = reinterpret_cast<PluginInstaller* (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, "CreatePluginInstaller")));
        loaded.destroy = reinterpret_cast<void (*)(PluginInstaller*)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DeletePluginInstaller")));
        return loaded;
    }();
    return library;
}

unsigned int RunRequest(const std::wstring& folder, const std::wstring& request, Transcript& log) {
    PluginInstaller* installer = TheLibrary().create();
    // No object: memory is exhausted.
    unsigned int result = installer ? installer->Initialize(folder.c_str(), &log) : ERROR_NOT_ENOUGH_MEMORY;
    if (result == 0) {
        if (request == L"install") result = installer->Install();
        else if (request == L"repair") result = installer->Repair();
        else result = installer->Uninstall();
    }
    TheLibrary().destroy(installer);
    log.lines.push_back(L"result " + std::to_wstring(result));
    return result;
}

void ExpectTranscript(const std::string& section, std::vector<std::wstring> actual, const std::wstring& agentFolder) {
    static const auto sections = LoadTranscripts();
    std::vector<std::wstring> expected;
    Expand(sections, section, expected);
    for (std::wstring& line : actual)
        for (size_t at; !agentFolder.empty() && (at = line.find(agentFolder)) != std::wstring::npos;)
            line.replace(at, agentFolder.size(), L"{AGENT}");
    if (actual == expected) return;
    size_t same = 0;
    while (same < actual.size() && same < expected.size() && actual[same] == expected[same]) ++same;
    std::wstring text;
    for (size_t i = 0; i < actual.size(); ++i) text += (i == same ? L">> " : L"   ") + actual[i] + L"\n";
    ADD_FAILURE() << "transcript " << section << " differs at line " << same + 1 << ", expected:\n   "
                  << (same < expected.size() ? expected[same] : L"(the end)") << "\nactual:\n" << text;
}

Undo MakeReadOnly(HKEY root, const std::wstring& key, DWORD view) {
    const auto opened = OpenKey(root, key, READ_CONTROL | WRITE_DAC | view);
    DWORD size = 0;
    RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    auto original = std::make_shared<std::string>(size, '\0');
    EXPECT_EQ(RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, original->data(), &size), ERROR_SUCCESS);
    // Everyone may read it, and nothing is inherited.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &descriptor, nullptr);
    EXPECT_EQ(RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
    LocalFree(descriptor);
    // The owner may always change the DACL back, whatever it grants.
    return [=] {
        if (const auto key2 = OpenKey(root, key, WRITE_DAC | view))
            RegSetKeySecurity(key2.get(), DACL_SECURITY_INFORMATION, original->data());
    };
}

Undo HoldOpen(const std::wstring& path) {
    auto file = std::make_shared<sys::UniqueFile>(
        CreateFileW(LongForm(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(*file) << "opening a test file failed";
    return [file] { file->reset(); };
}

Undo KeepLoaded(const std::wstring& path) {
    auto module = std::make_shared<sys::UniqueModule>(LoadLibraryW(path.c_str()));
    EXPECT_TRUE(*module) << "loading a test DLL failed";
    return [module] { module->reset(); };
}

Undo EnterSingleThreadedApartment() {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    return [] { CoUninitialize(); };
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created))
        return GetLastError();
    const sys::UniqueKernelHandle process(created.hProcess), thread(created.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), WAIT_TIMEOUT);
        WaitForSingleObject(process.get(), timeoutMs);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

static std::wstring UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(path.c_str()) : nullptr;
    EXPECT_TRUE(unix) << "no Unix path under Wine";
    const std::string narrow = unix ? unix : "";  // the prefix's path is ASCII
    HeapFree(GetProcessHeap(), 0, unix);
    return L"\"" + std::wstring(narrow.begin(), narrow.end()) + L"\"";
}

// Wine starts a Unix program with no process to wait for: it hands back no process handle
// and a thread handle that is no handle (closing it may close another), so neither is
// touched, and the caller waits for the program's effect instead.
static void RunUnixTool(const std::wstring& program, const std::wstring& arguments, const std::function<bool()>& done) {
    std::wstring command = program + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                               &startup, &started));
    for (int waited = 0; !done() && waited < 5000; waited += 10) Sleep(10);
    EXPECT_TRUE(done()) << "the Unix tool had no effect: " << std::string(program.begin(), program.end());
}

static bool IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

Undo LinkTo(const std::wstring& link, const std::wstring& target) {
    RemoveTree(link);
    RunUnixTool(L"/bin/ln", L"-s " + UnixPath(target) + L" " + UnixPath(link), [link] { return IsReparsePoint(link); });
    return [link] { RunUnixTool(L"/bin/rm", UnixPath(link), [link] { return !Exists(link); }); };
}

static bool OthersMayWrite(const std::wstring& path) {
    sys::FileSecurity::Writer writer;
    return sys::FileSecurity::FindUntrustedWriter(path, writer) == 0 && !writer.account.empty();
}

Undo LetOthersWrite(const std::wstring& path) {
    RunUnixTool(L"/bin/chmod", L"o+w " + UnixPath(path), [path] { return OthersMayWrite(path); });
    return [path] { RunUnixTool(L"/bin/chmod", L"o-w " + UnixPath(path), [path] { return !OthersMayWrite(path); }); };
}

static DWORD RegisterBroker() { return RunProgram(Fixture(L"broker\\ComRegistrationBroker.exe"), L"/RegServer"); }

// Its class goes and comes back as /UnregServer and /RegServer write it, without a process
// start for either.
Undo UnregisterBroker() {
    DeleteTree(HKEY_LOCAL_MACHINE, kBrokerClassKey, KEY_WOW64_64KEY);
    return [] {
        SetValue(HKEY_LOCAL_MACHINE, kBrokerClassKey, L"", REG_SZ, Bytes(L"ComRegistrationBroker"), KEY_WOW64_64KEY);
        SetValue(HKEY_LOCAL_MACHINE, std::wstring(kBrokerClassKey) + L"\\LocalServer32", L"", REG_SZ,
                 Bytes(L"\"" + Fixture(L"broker\\ComRegistrationBroker.exe") + L"\""), KEY_WOW64_64KEY);
    };
}

Machine::Machine(Outlook which, std::wstring agentFolder)
    : outlook(which), folder(std::move(agentFolder)), home(Full(folder)), pendingBefore_(PendingList()) {
    static const DWORD brokerRegistered = RegisterBroker();
    EXPECT_EQ(brokerRegistered, 0u);
    if (outlook.version)
        SetValue(HKEY_LOCAL_MACHINE, std::wstring(kOfficeKey) + L"\\" + outlook.version + L"\\Outlook\\InstallRoot",
                 L"Path", REG_SZ, Bytes(std::wstring(L"C:\\Program Files\\Microsoft Office\\") + outlook.folder + L"\\"),
                 outlook.view);
    RemoveTree(home);
    CreateFolders(home + L"\\Install");
    CreateFolders(Temp());
    for (const wchar_t* dll : {kAddinFile32, kAddinFile64})
        EXPECT_TRUE(CopyFileW(Fixture(std::wstring(L"v1\\") + dll).c_str(), LongForm(Source(dll)).c_str(), FALSE));
}

Machine::~Machine() {
    for (const DWORD view : kBothViews) {
        DeleteTree(HKEY_LOCAL_MACHINE, kOfficeKey, view);
        DeleteTree(HKEY_LOCAL_MACHINE, kAddinClassKey, view);
    }
    for (const std::wstring& hive : hives_) RegDeleteTreeW(HKEY_USERS, hive.c_str());
    RemoveTree(home);
    if (pendingBefore_.empty()) RegDeleteValueW(OpenKey(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_SET_VALUE).get(), kPendingValue);
    else SetValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue, REG_MULTI_SZ, pendingBefore_);
}

std::wstring Machine::Hive(int n) const {
    const std::wstring name = kHiveNamePrefix + std::to_wstring(1000 + n);
    if (std::find(hives_.begin(), hives_.end(), name) == hives_.end()) {
        hives_.push_back(name);
        // Once SOFTWARE\Wow6432Node exists, Wine keeps 32-bit access below SOFTWARE apart.
        SetValue(HKEY_USERS, name + L"\\SOFTWARE\\Wow6432Node", L"", 0, "", KEY_WOW64_64KEY);
    }
    return name;
}

std::vector<std::wstring> Machine::PendingDeletions() const {
    const std::string now = PendingList();
    const std::string added = now.substr(std::min(now.size(), pendingBefore_.size()));
    std::wistringstream text(std::wstring(reinterpret_cast<const wchar_t*>(added.data()), added.size() / 2));
    std::vector<std::wstring> deletions;  // pairs: "\??\path", then the new name, empty for deletion
    for (std::wstring from, to; std::getline(text, from, L'\0') && std::getline(text, to, L'\0');)
        if (to.empty() && from.size() > 4) deletions.push_back(from.substr(4));
    return deletions;
}

std::string Machine::NothingLeft() const {
    std::string wrong;
    for (const wchar_t* dll : {kAddinFile32, kAddinFile64})
        if (Exists(Agent(dll))) wrong += std::string(dll, dll + wcslen(dll)) + " is in the agent folder; ";
    const std::vector<std::wstring> pending = PendingDeletions();
    for (const std::wstring& name : FolderEntries(Temp()))
        if (std::none_of(pending.begin(), pending.end(),
                         [&](const std::wstring& path) { return SamePlace(path, Temp() + L"\\" + name); }))
            wrong += "temp holds a file not waiting for deletion; ";
    for (const DWORD view : kBothViews) {
        const std::string in = view == KEY_WOW64_32KEY ? " in the 32-bit view; " : " in the 64-bit view; ";
        if (OpenKey(HKEY_LOCAL_MACHINE, kAddinKeyPath, KEY_READ | view)) wrong += "the add-in key" + in;
        if (OpenKey(HKEY_LOCAL_MACHINE, kAddinClassKey, KEY_READ | view)) wrong += "the add-in's class" + in;
    }
    return wrong;
}

// What the diagnosis of `installer-host status` finds wrong, and a deployed file that is
// not its source byte for byte (a copy cut short has its source's FileVersion).
std::string Machine::Working() const {
    std::string wrong;
    for (const status::Problem& problem : status::Diagnose(folder).problems) wrong += problem.code + "; ";
    if (ReadFileBytes(Dll()) != ReadFileBytes(Source(outlook.dll))) wrong += "the deployed add-in is not its source; ";
    return wrong;
}

Undo Record(Machine& m, const std::wstring& name, DWORD view, const std::string& bytes) {
    SetValue(HKEY_USERS, m.Hive(1) + kDisabledItems15, name, REG_BINARY, bytes, view);
    return Undo();
}
