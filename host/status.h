// Diagnosis for support staff: what of the add-in this machine holds (Outlook, the agent
// folder, the COM class, the add-in key, every loaded user hive), what of it keeps the
// add-in from loading, and which request fixes each problem. It only reads; it asks the
// library's Outlook profile for every name, path and expected value.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace status {

struct OutlookInstallation {
    std::wstring key;        // install-root key under HKEY_LOCAL_MACHINE
    int view = 0;            // registry view it was found in: 32 or 64
    std::wstring path;       // its Path value
    bool supported = false;  // names the program folder of an Office version the add-in supports
};

struct FileFact {
    std::wstring name;
    std::wstring path;
    bool present = false;
    std::wstring fileVersion;    // empty when absent or without one
    // Deployed files only.
    bool expected = false;       // the file a request lays down for the Outlook found
    bool matchesSource = false;  // the same FileVersion as its source in Install
    bool unreadable = false;     // its presence could not be told: a read failure says why
};

struct TempEntry {
    std::wstring name;
    bool pendingDeletion = false;  // Windows deletes it at the next restart
};

struct ClassView {
    int view = 0;
    bool registered = false;
    std::wstring server;          // InprocServer32
    bool agentCopy = false;       // the server is the agent folder's add-in file of this bitness
    std::wstring threadingModel;
    bool expected = false;        // the view a request registers in
    bool unreadable = false;
};

struct BrokerFact {
    std::wstring clsid;
    bool required = false;        // the Outlook found is 32-bit: its add-in is registered through it
    bool registered = false;      // a LocalServer32 that names a program that is there
    int view = 0;                 // where its class was found, 0 when nowhere
    std::wstring server;          // LocalServer32: a command line
    bool programPresent = false;
};

struct ValueFact {
    std::wstring name;
    std::wstring type;            // expected type: REG_SZ, REG_DWORD
    std::wstring expected;        // as text; numbers in decimal
    bool present = false;
    std::wstring actualType;
    std::wstring actual;
    bool matches = false;         // as repair's verification compares
};

struct AddinKeyView {
    int view = 0;
    bool expected = false;        // the view a request writes
    bool present = false;
    bool unreadable = false;
    std::vector<ValueFact> values;
};

struct DisabledItem {
    std::wstring key;             // relative to the hive
    std::wstring value;           // the record's value name
    std::wstring fileNamed;       // the add-in file its data names
    std::vector<int> views;       // registry views it was seen through
    bool agentCopy = false;       // it names the agent folder's own copy of that file
};

struct UserHive {
    std::wstring name;
    std::vector<DisabledItem> disabledItems;
    bool loadBehaviorSet = false;     // a per-user LoadBehavior of the add-in
    DWORD loadBehaviorType = REG_NONE;
    DWORD loadBehaviorNumber = 0;     // when a REG_DWORD
    std::wstring loadBehavior;        // as text
    bool loadBehaviorOverrides = false;
    DWORD loadBehaviorWriteError = 0; // when it overrides: why repair could not write it, or 0
    bool loadTimeRecord = false;      // Outlook's record of the add-in's load time
};

// A place the add-in is loaded from or set aside in that someone else may change.
struct UnsafePlace {
    std::wstring place;           // the agent folder, or a deployed add-in file
    std::wstring account;
    std::wstring rights;
};

struct Problem {
    std::string code;                 // stable: see the README
    std::wstring subject;             // the file, key, value or hive it concerns
    std::wstring what;
    std::vector<std::wstring> fix;    // requests to run, in order; empty when none fixes it
    std::wstring reason;              // how the fix works, or why no request does
};

enum class Verdict { kHealthy, kNeedsFixing, kOutlookNotInstalled };

inline constexpr int kExitHealthy = 0;
inline constexpr int kExitNeedsFixing = 1;
inline constexpr int kExitOutlookNotInstalled = 2;

struct Report {
    std::wstring agentFolder;
    FileFact dll;                     // the library a host would load: which build is diagnosed
    std::vector<OutlookInstallation> outlooks;
    int requestBitness = 0;           // the add-in a request would lay down: 32, 64, 0 without Outlook
    std::wstring requestFile;
    std::vector<FileFact> sourceFiles;
    std::vector<FileFact> deployedFiles;
    std::vector<TempEntry> temp;
    std::vector<std::wstring> pendingDeletions;  // in the agent folder, temp included
    std::wstring addinClsid;
    std::vector<ClassView> classViews;
    BrokerFact broker;
    std::wstring addinKeyPath;        // under HKEY_LOCAL_MACHINE
    std::vector<AddinKeyView> addinKeys;
    std::vector<UserHive> users;
    std::vector<UnsafePlace> unsafePlaces;
    std::vector<std::wstring> links;  // links where a deployed add-in file, Install or temp belong
    std::vector<Problem> problems;
    Verdict verdict = Verdict::kHealthy;
    int exitCode = kExitHealthy;
};

// OutlookPluginInstaller.dll in the running program's folder, where a host loads it from.
std::wstring DllBesideProgram();

// Reads the machine for the agent folder `agentFolder`, as given to the library, and the
// FileVersion of the library at `dllPath` (a fact only: the diagnosis does not load it).
Report Diagnose(const std::wstring& agentFolder, const std::wstring& dllPath = DllBesideProgram());

}  // namespace status
