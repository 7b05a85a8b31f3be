// Registration of COM server DLLs: a 64-bit DLL in process through its own exports, a
// 32-bit DLL through the out-of-process ComRegistrationBroker. Each operation joins the
// multithreaded apartment for its own duration. Failed HRESULTs become their low 16 bits.
#pragma once

#include <windows.h>

#include <string>

namespace sys::ComRegistration {

DWORD CodeFromHResult(HRESULT result);

DWORD RegisterComDll(const std::wstring& dllPath);
DWORD UnregisterComDll(const std::wstring& dllPath);
DWORD RegisterComDllByBroker(const std::wstring& dllPath);
DWORD UnregisterComDllByBroker(const std::wstring& dllPath);
// 0 with `registered` false for a class that is not registered.
DWORD VerifyRegistration(const std::wstring& clsid, bool& registered, bool is64Bit);

}  // namespace sys::ComRegistration
