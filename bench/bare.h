// The floor: only the Win32 and COM work that a request cannot do without, for the 64-bit
// add-in, with no checks beyond each call's own result and no logging. The library's time
// for the same request is compared with it.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kAddinRegistryKey =
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";
inline constexpr const wchar_t* kAddinDll64 = L"tolvane64.dll";

namespace bare {

// What a repair that finds everything in place answers, as the library does.
inline constexpr DWORD kNothingToRepair = 6;

// Copy the DLL, load it and call DllRegisterServer, create the add-in key and write its
// five values. 0 or the first failing call's code.
DWORD Install(const std::wstring& sourceDll, const std::wstring& deployedDll);
// DllUnregisterServer, delete the add-in key in both views, delete the file.
DWORD Uninstall(const std::wstring& deployedDll);
// The deployed DLL looked for. Found: Outlook's disabled items read in every loaded user
// hive, both files' FileVersion, the add-in's class asked for in process inside the
// multithreaded apartment, the add-in key's five values read; kNothingToRepair. Missing:
// Install's calls. ERROR_INVALID_DATA when something else is out of place; the first
// failing call's code otherwise.
DWORD Repair(const std::wstring& sourceDll, const std::wstring& deployedDll);

}  // namespace bare
