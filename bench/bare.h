// The floor: only the Win32 work that a request cannot do without, for the 64-bit add-in,
// with no checks beyond each call's own result and no logging. The library's time for the
// same request is compared with it.
#pragma once

#include <windows.h>

#include <string>

namespace bare {

// Copy the DLL, load it and call DllRegisterServer, create the add-in key and write its
// five values. 0 or the first failing call's code.
DWORD Install(const std::wstring& sourceDll, const std::wstring& deployedDll);
// DllUnregisterServer, delete the add-in key in both views, delete the file.
DWORD Uninstall(const std::wstring& deployedDll);

}  // namespace bare
