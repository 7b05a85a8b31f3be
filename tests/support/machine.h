// The one simulated machine of the suite and the benchmark: an installed Outlook (its
// install root in one registry view), an agent folder whose "Install" subfolder holds the
// add-in files, the registration broker, user hives, and the library loaded as the agent
// loads it. Everything a machine or a fault sets up is removed again at the end of its scope.
#pragma once

#include <OutlookPluginInstaller.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

struct Outlook {
    const wchar_t* version;  // Office version key; null: no Outlook
    DWORD view;              // of its install root, the add-in key and the COM class
    const wchar_t* folder;   // Office folder under "C:\Program Files\Microsoft Office"
    const wchar_t* dll;      // the add-in file deployed for it
};
inline constexpr Outlook kOutlook64{L"15.0", KEY_WOW64_64KEY, L"Office15", L"tolvane64.dll"};
inline constexpr Outlook kOutlook32{L"14.0", KEY_WOW64_32KEY, L"Office14", L"tolvane.dll"};
inline constexpr Outlook kNoOutlook{nullptr, 0, nullptr, nullptr};

inline constexpr const wchar_t* kAgentFolder = L"C:\\Agent\\Outlook";
// Where Outlook 2013 and the add-in's COM class live; the user's keys below a hive.
inline const std::wstring kAddinClassKey = L"SOFTWARE\\Classes\\CLSID\\{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
inline const std::wstring kInstallRoot15 = L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot";
inline const std::wstring kDisabledItems15 = L"\\SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
inline const std::wstring kLoadTimes15 = L"\\Software\\Microsoft\\Office\\15.0\\Outlook\\AddInLoadTimes";
extern const std::wstring kUserAddin;  // Outlook's key for the add-in, below a hive

// A test's name made of a row's name: what is not a letter or digit becomes '_'.
std::string CaseName(std::string name);

std::wstring ProgramFolder();                       // where the DLL and the fixtures are built
std::wstring Fixture(const std::wstring& name);     // ProgramFolder()\fixtures\name
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
void CreateFolders(const std::wstring& path);       // with the missing ones above it
void RemoveTree(const std::wstring& path);          // files and folders, through Win32
std::vector<std::wstring> FolderEntries(const std::wstring& folder);  // sorted
bool Exists(const std::wstring& path);
// Whether both paths name one place, as Windows compares them: made full, without a
// long-path prefix, letter case aside.
bool SamePlace(const std::wstring& a, const std::wstring& b);

// Runs a program in this console and waits for it, at most `timeoutMs`; its exit code
// (WAIT_TIMEOUT once it had to be stopped), or the failure to start it.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 60000);

// Registry set-up through Win32 alone. Keys are created with their parents.
void SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
              const std::string& bytes, DWORD view = 0);
void SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, DWORD view = 0);
std::string Bytes(const std::wstring& text);        // UTF-16 bytes of the text and its NUL
void DeleteTree(HKEY root, const std::wstring& key, DWORD view);
// false when the value cannot be read.
bool ReadValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD view,
               std::string& bytes, DWORD* type = nullptr);

// Outlook's record of a disabled add-in, naming the DLL's path as UTF-16 text.
std::string DisabledRecord(const std::wstring& dll);

// Host loggers. A transcript keeps every line as the reference host prints it.
class Transcript final : public PluginInstallerLogger {
public:
    void HostSlot0() override { Unexpected(); }
    void HostSlot1() override { Unexpected(); }
    void HostSlot2() override { Unexpected(); }
    void HostSlot3() override { Unexpected(); }
    void Log(int level, const wchar_t* message) override;
    std::vector<std::wstring> lines;

private:
    static void Unexpected();
};

// OutlookPluginInstaller.dll, loaded once per process from the program's folder.
struct Library {
    PluginInstaller* (*create)() = nullptr;
    void (*destroy)(PluginInstaller*) = nullptr;
};
const Library& TheLibrary();
// Create, Initialize, the request ("install", "repair", "uninstall"), Delete, and the
// "result N" line as the reference host prints it.
unsigned int RunRequest(const std::wstring& folder, const std::wstring& request, Transcript& log);

// The expected transcript `section` (transcripts/*.txt: "== name" starts a section, "@name
// a b" includes one with {1}, {2} replaced, "#" starts a comment), compared whole with
// `actual`, in which the agent folder reads {AGENT}. The difference is printed.
void ExpectTranscript(const std::string& section, std::vector<std::wstring> actual,
                      const std::wstring& agentFolder);

// What a fault set up, undone at the end of the case or when the fault is to be gone.
using Undo = std::function<void()>;
Undo MakeReadOnly(HKEY root, const std::wstring& key, DWORD view);  // for everyone
Undo HoldOpen(const std::wstring& path);  // shared with no one: reads and deletes fail (32)
Undo KeepLoaded(const std::wstring& path);    // as Outlook holds the add-in
Undo EnterSingleThreadedApartment();          // the calling thread, as a host may have left it
// Under Wine a Unix symbolic link is a reparse point and a file's ACL follows its mode bits:
// both are made with the Unix tools, and each waits (bounded) for its effect.
Undo LinkTo(const std::wstring& link, const std::wstring& target);  // what was at `link` goes
Undo LetOthersWrite(const std::wstring& path);                      // Everyone may write it
Undo UnregisterBroker();  // its class, not its type library

class Machine {
public:
    // `folder` is the agent folder as the host spells it; the machine's own paths are its
    // full form.
    explicit Machine(Outlook outlook = kOutlook64, std::wstring folder = kAgentFolder);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    unsigned int Run(const std::wstring& request) { return RunRequest(folder, request, log); }
    std::wstring Agent(const std::wstring& name) const { return home + L"\\" + name; }
    std::wstring Dll() const { return Agent(outlook.dll); }  // the add-in file for this Outlook
    std::wstring Source(const std::wstring& name) const { return home + L"\\Install\\" + name; }
    std::wstring Temp() const { return home + L"\\temp"; }
    // Test user hive n under HKEY_USERS (named to sort after the prefix's own), created
    // with separate 32- and 64-bit views and removed with the machine.
    std::wstring Hive(int n) const;
    // Files scheduled for deletion at the next restart since the machine was set up.
    std::vector<std::wstring> PendingDeletions() const;

    // What is wrong, or nothing. Nothing left: no add-in file in the agent folder, no add-in
    // key and no COM class in either view, in "temp" only files waiting for deletion at the
    // next restart. Working: installer-host status finds nothing wrong, and the deployed
    // file is its source byte for byte.
    std::string NothingLeft() const;
    std::string Working() const;

    Outlook outlook;
    std::wstring folder;  // as given to the library
    std::wstring home;    // the same folder, full
    Transcript log;

private:
    std::string pendingBefore_;
    mutable std::vector<std::wstring> hives_;
};

// Value `name` among Outlook's records of disabled add-ins in user hive 1, in `view`.
Undo Record(Machine& m, const std::wstring& name, DWORD view, const std::string& bytes);

