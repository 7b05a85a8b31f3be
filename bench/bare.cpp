#include "bare.h"

#include "machine.h"
#include "sys/handles.h"

#include <cwchar>

namespace bare {
namespace {

using ServerExport = HRESULT(STDAPICALLTYPE*)();

constexpr const wchar_t* kFileName = L"tolvane64.dll";
constexpr const wchar_t* kFriendlyName = L"Outlook2K3 Addin";
constexpr const wchar_t* kDescription = L"ATLCOM Outlook Addin";
constexpr DWORD kCommandLineSafe = 0;
constexpr DWORD kLoadBehavior = 3;

DWORD CallExport(const std::wstring& dll, const char* name) {
    const sys::UniqueModule module(LoadLibraryW(dll.c_str()));
    if (!module) return GetLastError();
    const FARPROC address = GetProcAddress(module.get(), name);
    if (!address) return GetLastError();
    const HRESULT result = reinterpret_cast<ServerExport>(reinterpret_cast<void (*)()>(address))();
    return FAILED(result) ? static_cast<DWORD>(result) & 0xFFFF : ERROR_SUCCESS;
}

LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

LONG SetNumber(HKEY key, const wchar_t* name, DWORD number) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

}  // namespace

DWORD Install(const std::wstring& sourceDll, const std::wstring& deployedDll) {
    if (!CopyFileW(sourceDll.c_str(), deployedDll.c_str(), FALSE)) return GetLastError();
    if (DWORD r = CallExport(deployedDll, "DllRegisterServer")) return r;
    sys::UniqueKey key;
    LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAddinRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (r == ERROR_SUCCESS) r = SetText(key.get(), L"FileName", kFileName);
    if (r == ERROR_SUCCESS) r = SetText(key.get(), L"FriendlyName", kFriendlyName);
    if (r == ERROR_SUCCESS) r = SetText(key.get(), L"Description", kDescription);
    if (r == ERROR_SUCCESS) r = SetNumber(key.get(), L"CommandLineSafe", kCommandLineSafe);
    if (r == ERROR_SUCCESS) r = SetNumber(key.get(), L"LoadBehavior", kLoadBehavior);
    return static_cast<DWORD>(r);
}

DWORD Uninstall(const std::wstring& deployedDll) {
    if (DWORD r = CallExport(deployedDll, "DllUnregisterServer")) return r;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        const LONG r = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kAddinRegistryKey, view, 0);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return static_cast<DWORD>(r);
    }
    return DeleteFileW(deployedDll.c_str()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace bare
