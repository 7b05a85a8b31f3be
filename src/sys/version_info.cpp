#include "sys/version_info.h"

#include "sys/handles.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>

namespace sys::VersionInfo {
namespace {

// The "Ex" functions are looked up at run time: older version.dll builds lack them.
constexpr const wchar_t* kVersionLibrary = L"version.dll";
constexpr const char* kGetSizeExName = "GetFileVersionInfoSizeExW";
constexpr const char* kGetInfoExName = "GetFileVersionInfoExW";
constexpr DWORD kNeutralFlags = FILE_VER_GET_NEUTRAL;

constexpr const wchar_t* kTranslationBlock = L"\\VarFileInfo\\Translation";
constexpr const wchar_t* kFileVersionBlockFormat = L"\\StringFileInfo\\%04x%04x\\FileVersion";
constexpr size_t kFileVersionBlockLength = 64;

using GetSizeExFunction = DWORD(WINAPI*)(DWORD flags, LPCWSTR path, LPDWORD handle);
using GetInfoExFunction = BOOL(WINAPI*)(DWORD flags, LPCWSTR path, DWORD handle, DWORD size,
                                        LPVOID buffer);

// One Translation entry: language identifier, then code page.
struct Translation {
    WORD language;
    WORD codePage;
};

template <typename Function>
Function Lookup(const UniqueModule& library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
}

// HRESULT_FROM_WIN32, which passes 0 and negative values on unchanged.
HRESULT FromWin32(DWORD error) {
    const auto value = static_cast<HRESULT>(error);
    if (value <= 0) return value;
    return static_cast<HRESULT>((error & 0xFFFF) | 0x80070000);
}

DWORD VersionInfoSize(const std::wstring& path) {
    DWORD handle = 0;
    DWORD size = 0;
    {
        const UniqueModule library(LoadLibraryW(kVersionLibrary));
        if (library) {
            if (const auto getSizeEx = Lookup<GetSizeExFunction>(library, kGetSizeExName))
                size = getSizeEx(kNeutralFlags, path.c_str(), &handle);
        }
    }
    if (size == 0) size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    return size;
}

}  // namespace

BOOL LoadFileVersionInfo(const std::wstring& path, DWORD handle, DWORD size, void* buffer) {
    {
        const UniqueModule library(LoadLibraryW(kVersionLibrary));
        if (library) {
            if (const auto getInfoEx = Lookup<GetInfoExFunction>(library, kGetInfoExName)) {
                if (const BOOL loaded =
                        getInfoEx(kNeutralFlags, path.c_str(), handle, size, buffer))
                    return loaded;
            }
        }
    }
    return GetFileVersionInfoW(path.c_str(), handle, size, buffer);
}

HRESULT GetFileVersionString(const std::wstring& path, std::wstring& version) {
    const DWORD size = VersionInfoSize(path);
    if (size == 0) return FromWin32(GetLastError());

    const std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
    if (!block) return E_OUTOFMEMORY;
    if (!LoadFileVersionInfo(path, 0, size, block.get())) return FromWin32(GetLastError());

    // A Translation value too short for one entry counts as none.
    void* translations = nullptr;
    UINT translationsLength = 0;
    if (!VerQueryValueW(block.get(), kTranslationBlock, &translations, &translationsLength) ||
        !translations || translationsLength < sizeof(Translation))
        return E_FAIL;

    // Only the first translation is read, however many the resource lists.
    const auto* first = static_cast<const Translation*>(translations);
    wchar_t subBlock[kFileVersionBlockLength];
    std::swprintf(subBlock, kFileVersionBlockLength, kFileVersionBlockFormat, first->language,
                  first->codePage);

    // The text ends at its NUL, at the length the resource gives, or at the block's end,
    // whichever comes first: a crafted resource may claim any length.
    void* text = nullptr;
    UINT textLength = 0;
    if (VerQueryValueW(block.get(), subBlock, &text, &textLength) && text && textLength != 0) {
        const auto* first = static_cast<const wchar_t*>(text);
        const auto* blockEnd = reinterpret_cast<const wchar_t*>(block.get() + size);
        if (first < reinterpret_cast<const wchar_t*>(block.get()) || first >= blockEnd) return E_FAIL;
        const size_t available = static_cast<size_t>(blockEnd - first);
        const size_t length = textLength < available ? textLength : available;
        version.assign(first, std::find(first, first + length, L'\0'));
    }
    return S_OK;
}

}  // namespace sys::VersionInfo
