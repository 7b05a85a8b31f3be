#include "registry_fixture.h"

#include "sys/handles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

constexpr DWORD kBothViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

bool ExistsInEitherView(HKEY root, const std::wstring& path) {
    for (DWORD view : kBothViews)
        if (RawKeyExists(root, path, view)) return true;
    return false;
}

std::wstring ShallowestNewKey(HKEY root, const std::wstring& path) {
    for (std::wstring::size_type end = path.find(L'\\'); end != std::wstring::npos;
         end = path.find(L'\\', end + 1)) {
        std::wstring prefix = path.substr(0, end);
        if (!ExistsInEitherView(root, prefix)) return prefix;
    }
    return path;
}

sys::UniqueKey CreateKey(HKEY root, const std::wstring& path, DWORD view) {
    sys::UniqueKey key;
    const LONG created = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr);
    EXPECT_EQ(created, ERROR_SUCCESS) << "creating the test key failed";
    return key;
}

}  // namespace

ScopedRegistryKey::ScopedRegistryKey(HKEY root, std::wstring path, DWORD view)
    : root_(root), path_(std::move(path)), view_(view), removeOnExit_(ShallowestNewKey(root_, path_)) {
    CreateKey(root_, path_, view_);
}

ScopedRegistryKey::~ScopedRegistryKey() {
    for (DWORD view : kBothViews) {
        sys::UniqueKey key;
        if (::RegOpenKeyExW(root_, removeOnExit_.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) !=
            ERROR_SUCCESS)
            continue;
        ::RegDeleteTreeW(key.get(), nullptr);
        key.reset();
        ::RegDeleteKeyExW(root_, removeOnExit_.c_str(), view, 0);
    }
}

void ScopedRegistryKey::SetRaw(const std::wstring& subKey, const std::wstring& name, DWORD type,
                               const void* data, DWORD size) const {
    const sys::UniqueKey key = CreateKey(root_, subKey.empty() ? path_ : *this / subKey, view_);
    EXPECT_EQ(::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS)
        << "setting up a test value failed";
}

void ScopedRegistryKey::SetString(const std::wstring& subKey, const std::wstring& name,
                                  const std::wstring& text) const {
    SetRaw(subKey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool RawKeyExists(HKEY root, const std::wstring& path, DWORD view) {
    sys::UniqueKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

bool RawReadValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD view,
                  DWORD& type, std::vector<BYTE>& data) {
    sys::UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    data.assign(size, 0);
    return ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size) ==
           ERROR_SUCCESS;
}

std::vector<std::wstring> RawSubKeys(HKEY root, const std::wstring& path, DWORD view) {
    std::vector<std::wstring> names;
    sys::UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(name, length);
    }
}
