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
// The DLL that the class's in-process server key names in that registry view; 2 when the
// class has none there.
DWORD GetClassServer(const std::wstring& clsid, DWORD view, std::wstring& dllPath);
// Removes the class's registration in that view, as the DLL's own unregistration would.
DWORD RemoveClass(const std::wstring& clsid, DWORD view);

}  // namespace sys::ComRegistration
