// The two machines the reliability suite runs on: a 64-bit Outlook, whose add-in DLL is
// registered in process, and a 32-bit Outlook on 64-bit Windows, whose add-in DLL is
// registered through the broker, a COM server that Wine starts for each call.
#pragma once

#include <windows.h>

#include <ostream>

struct Scenario {
    const char* name;  // in figures and messages
    const char* id;    // in test names
    const wchar_t* officeVersion;
    DWORD view;  // of Outlook's install root, the add-in key and the COM class
    const wchar_t* officeFolder;
    const wchar_t* addinFile;  // the file deployed for this Outlook
    bool registersThroughBroker;
};

inline const Scenario k64BitOutlook = {
    "64-bit Outlook 2013", "Outlook64",      L"15.0", KEY_WOW64_64KEY,
    L"Office15",           L"tolvane64.dll", false};
inline const Scenario k32BitOutlook = {
    "32-bit Outlook 2010", "Outlook32",    L"14.0", KEY_WOW64_32KEY,
    L"Office14",           L"tolvane.dll", true};

inline void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }
