#include "bare.h"

#include "sys/handles.h"

#include <objbase.h>

#include <cwchar>
#include <vector>

namespace bare {
namespace {

using ServerExport = HRESULT(STDAPICALLTYPE*)();

constexpr const wchar_t* kFileName = L"tolvane64.dll";
constexpr const wchar_t* kFriendlyName = L"Outlook2K3 Addin";
constexpr const wchar_t* kDescription = L"ATLCOM Outlook Addin";
constexpr DWORD kCommandLineSafe = 0;
constexpr DWORD kLoadBehavior = 3;
constexpr const wchar_t* kAddinValues[] = {L"FileName", L"FriendlyName", L"Description", L"CommandLineSafe",
                                           L"LoadBehavior"};
constexpr const wchar_t* kAddinClsid = L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";
// The installed Outlook's own record of disabled add-ins, relative to a user hive.
constexpr const wchar_t* kDisabledItemsKey = L"\\SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems";
constexpr const wchar_t* kTranslation = L"\\VarFileInfo\\Translation";
constexpr const wchar_t* kFileVersionFormat = L"\\StringFileInfo\\%04x%04x\\FileVersion";
constexpr size_t kSubBlockLength = 64;
constexpr DWORD kKeyNameLength = 256;
constexpr DWORD kValueNameLength = 16384;

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

// Every value of the hive's disabled-items key, where the hive has one.
DWORD ReadDisabledItems(const std::wstring& hive) {
    sys::UniqueKey key;
    const LONG opened = RegOpenKeyExW(HKEY_USERS, (hive + kDisabledItemsKey).c_str(), 0,
                                      KEY_READ | KEY_WOW64_64KEY, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
    std::vector<wchar_t> name(kValueNameLength);
    BYTE data[MAX_PATH * sizeof(wchar_t)];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kValueNameLength;
        DWORD dataSize = sizeof(data);
        const LONG r = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, nullptr, data, &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return static_cast<DWORD>(r);
    }
}

DWORD ReadDisabledItemsOfEveryHive() {
    for (DWORD index = 0;; ++index) {
        wchar_t hive[kKeyNameLength];
        DWORD length = kKeyNameLength;
        const LONG r = RegEnumKeyExW(HKEY_USERS, index, hive, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (r != ERROR_SUCCESS) return static_cast<DWORD>(r);
        if (DWORD read = ReadDisabledItems(hive)) return read;
    }
}

DWORD FileVersion(const std::wstring& path, std::wstring& version) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return GetLastError();
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return GetLastError();
    void* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), kTranslation, &translation, &length) || length < 2 * sizeof(WORD))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const auto* languageAndCodePage = static_cast<const WORD*>(translation);
    wchar_t subBlock[kSubBlockLength];
    std::swprintf(subBlock, kSubBlockLength, kFileVersionFormat, languageAndCodePage[0], languageAndCodePage[1]);
    void* text = nullptr;
    if (VerQueryValueW(block.data(), subBlock, &text, &length) && text) version = static_cast<const wchar_t*>(text);
    return ERROR_SUCCESS;
}

DWORD ClassRegisteredInProcess(bool& registered) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(joined)) return static_cast<DWORD>(joined) & 0xFFFF;
    CLSID clsid;
    HRESULT result = CLSIDFromString(kAddinClsid, &clsid);
    if (SUCCEEDED(result)) {
        sys::ComPtr<IClassFactory> factory;
        registered =
            SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()));
    }
    CoUninitialize();
    return FAILED(result) ? static_cast<DWORD>(result) & 0xFFFF : ERROR_SUCCESS;
}

DWORD ReadAddinKey() {
    sys::UniqueKey key;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAddinRegistryKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    for (const wchar_t* name : kAddinValues) {
        if (r != ERROR_SUCCESS) break;
        BYTE data[MAX_PATH * sizeof(wchar_t)];
        DWORD size = sizeof(data);
        r = RegQueryValueExW(key.get(), name, nullptr, nullptr, data, &size);
    }
    return static_cast<DWORD>(r);
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

DWORD Repair(const std::wstring& sourceDll, const std::wstring& deployedDll) {
    if (GetFileAttributesW(deployedDll.c_str()) == INVALID_FILE_ATTRIBUTES) return Install(sourceDll, deployedDll);
    if (DWORD r = ReadDisabledItemsOfEveryHive()) return r;
    std::wstring sourceVersion, deployedVersion;
    if (DWORD r = FileVersion(sourceDll, sourceVersion)) return r;
    if (DWORD r = FileVersion(deployedDll, deployedVersion)) return r;
    bool registered = false;
    if (DWORD r = ClassRegisteredInProcess(registered)) return r;
    if (DWORD r = ReadAddinKey()) return r;
    // Anything out of place is left to the library: the floor only measures the case it can.
    return sourceVersion == deployedVersion && registered ? kNothingToRepair : ERROR_INVALID_DATA;
}

}  // namespace bare
