#include "addin_class.h"

#include "scoped_temp_dir.h"
#include "sys/handles.h"

namespace {

constexpr wchar_t kClasses[] = L"Software\\Classes\\CLSID";

std::wstring ClassPath() { return std::wstring(kClasses) + L"\\" + kTestAddinClsid; }

void DeleteAddinClass() {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        sys::UniqueKey classes;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClasses, 0, KEY_ALL_ACCESS | view, classes.put()) ==
            ERROR_SUCCESS)
            RegDeleteTreeW(classes.get(), kTestAddinClsid);
    }
}

}  // namespace

std::wstring AddinServerValue(REGSAM view, const wchar_t* value) {
    sys::UniqueKey server;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (ClassPath() + L"\\InprocServer32").c_str(), 0,
                      KEY_READ | view, server.put()) != ERROR_SUCCESS)
        return {};
    wchar_t data[MAX_PATH] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegQueryValueExW(server.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                         &size) != ERROR_SUCCESS)
        return {};
    return data;
}

bool AddinClassExists(REGSAM view) {
    sys::UniqueKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, ClassPath().c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
}

ScopedAddinClass::ScopedAddinClass() { DeleteAddinClass(); }
ScopedAddinClass::~ScopedAddinClass() { DeleteAddinClass(); }

std::wstring CopyAddin(const std::wstring& fixture, const std::wstring& folder,
                       const std::wstring& name) {
    const std::wstring target = folder + L"\\" + name;
    CopyFileW(FixturePath(fixture).c_str(), target.c_str(), FALSE);
    return target;
}
