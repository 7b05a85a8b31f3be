// Registration of COM server DLLs: a 64-bit DLL in process through its own exports, a
// 32-bit DLL through the out-of-process ComRegistrationBroker. Each operation joins the
// multithreaded apartment for its own duration. Failed HRESULTs become their low 16 bits.
// A class's registration can also be read from the registry alone.
#pragma once

#include <windows.h>

#include <string>

namespace sys::ComRegistration {

// The registration broker's class, {2F4C9A17-6B3E-4D85-A1C0-93E7B52D8F46}.
inline constexpr CLSID kBrokerClsid = {0x2f4c9a17, 0x6b3e, 0x4d85,
                                       {0xa1, 0xc0, 0x93, 0xe7, 0xb5, 0x2d, 0x8f, 0x46}};

// What the registry says of a class in one view. Read without COM, which would load the
// server or start it to answer.
struct ClassRegistration {
    bool registered = false;      // its CLSID key exists
    std::wstring inprocServer;    // InprocServer32's default value: the DLL's path
    std::wstring threadingModel;  // InprocServer32's ThreadingModel
    std::wstring localServer;     // LocalServer32's default value: a command line
};

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
// 0 with `registered` false for a class that is not registered in that view.
DWORD ReadClassRegistration(const std::wstring& clsid, DWORD view, ClassRegistration& registration);

}  // namespace sys::ComRegistration
