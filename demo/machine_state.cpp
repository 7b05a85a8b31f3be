// Prints what of the add-in is on this machine: the deployed files with their FileVersion,
// files set aside in temp, the add-in key in both registry views, the COM class in both
// views.   machine-state.exe <agent folder>
#include "outlook/outlook_plugin_installation_manager.h"
#include "sys/handles.h"
#include "sys/registry.h"
#include "sys/version_info.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    std::printf("%s\n", bytes.c_str());
}

void PrintFile(const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = folder + L"\\" + name;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Print(L"  " + name + L": absent");
        return;
    }
    std::wstring version = L"(none)";
    sys::VersionInfo::GetFileVersionString(path, version);
    Print(L"  " + name + L": present, FileVersion " + version);
}

void PrintTempFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    sys::UniqueFind search(FindFirstFileW((folder + L"\\temp\\*").c_str(), &data));
    std::vector<std::wstring> names;
    if (search) {
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") names.push_back(name);
        } while (FindNextFileW(search.get(), &data));
    }
    Print(L"  temp: " + (names.empty() ? std::wstring(L"empty") : std::to_wstring(names.size()) +
                                                                     L" file(s) set aside for deletion at restart"));
    for (const std::wstring& name : names) Print(L"    " + name);
}

void PrintKey(const wchar_t* label, HKEY root, const std::wstring& path, DWORD view) {
    std::vector<sys::Registry::RegistryValueData> values;
    const DWORD r = sys::Registry::GetValue(root, path, values, view);
    if (r != ERROR_SUCCESS) {
        Print(std::wstring(L"  ") + label + L": absent");
        return;
    }
    Print(std::wstring(L"  ") + label + L": present");
    for (const auto& value : values) {
        const std::wstring name = value.Name.empty() ? L"(default)" : value.Name;
        const std::wstring data =
            value.ValueType == REG_DWORD ? std::to_wstring(value.DwordValue) : L"\"" + value.Value + L"\"";
        Print(L"    " + name + L" = " + data);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        Print(L"Usage: machine-state.exe <agent folder>");
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring classKey = std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + kAddinClsid + L"\\InprocServer32";
    Print(L"Machine state:");
    PrintFile(folder, kAddinFile32);
    PrintFile(folder, kAddinFile64);
    PrintTempFolder(folder);
    PrintKey(L"add-in key, 64-bit view", HKEY_LOCAL_MACHINE, kAddinKeyPath, KEY_WOW64_64KEY);
    PrintKey(L"add-in key, 32-bit view", HKEY_LOCAL_MACHINE, kAddinKeyPath, KEY_WOW64_32KEY);
    PrintKey(L"COM class, 64-bit view", HKEY_LOCAL_MACHINE, classKey, KEY_WOW64_64KEY);
    PrintKey(L"COM class, 32-bit view", HKEY_LOCAL_MACHINE, classKey, KEY_WOW64_32KEY);
    return 0;
}
