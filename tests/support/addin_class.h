// The add-in's COM class registration as the add-in DLLs and the broker write it, read in
// one registry view, and a scoped fixture that removes it from both views.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kTestAddinClsid = L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}";

// Default value of the class's InprocServer32 key in that view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY), or empty when the key is missing. `value` names another value.
std::wstring AddinServerValue(REGSAM view, const wchar_t* value = nullptr);
bool AddinClassExists(REGSAM view);

// Removes the class in both views now and again at the end of the scope.
class ScopedAddinClass {
public:
    ScopedAddinClass();
    ~ScopedAddinClass();
    ScopedAddinClass(const ScopedAddinClass&) = delete;
    ScopedAddinClass& operator=(const ScopedAddinClass&) = delete;
};

// Copies a built add-in fixture (e.g. L"v1\\tolvane.dll") into `folder` under `name`.
std::wstring CopyAddin(const std::wstring& fixture, const std::wstring& folder,
                       const std::wstring& name);
