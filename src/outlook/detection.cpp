#include "outlook/outlook_plugin_installation_manager.h"

#include "outlook/detection.h"
#include "sys/registry.h"

#include <algorithm>

namespace {

struct DetectionPass {
    DWORD view;
    const wchar_t* lookingFor;
    bool is64Bit;
};
// 32-bit installations first: the 64-bit pass decides the add-in's bitness.
constexpr DetectionPass kDetectionPasses[] = {
    {KEY_WOW64_32KEY, L" Looking for 32-bit SubKey=", false},
    {KEY_WOW64_64KEY, L" Looking for 64-bit SubKey=", true},
};

constexpr const wchar_t* kLogPrefix = L"GetInstalledApplicationList:- ";

// What the C library's wide upper-casing does in its default locale, whatever locale the
// process has chosen since.
wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::wstring AsciiUpperCopy(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), AsciiUpper);
    return text;
}

}  // namespace

std::wstring::size_type FindStringNoCase(const std::wstring& text, const std::wstring& word) {
    return AsciiUpperCopy(text).find(AsciiUpperCopy(word));
}

DWORD OutlookPluginInstallationManager::GetInstalledApplicationList(
    ApplicationPathList& appInstallLocationList) {
    for (const DetectionPass& pass : kDetectionPasses) {
        for (const wchar_t* keyPath : kInstallRootKeys) {
            Log(kLogTrace) << kLogPrefix << pass.lookingFor << keyPath << L" Value="
                           << kInstallRootValue;
            std::wstring path;
            const DWORD read = sys::Registry::GetStringValue(HKEY_LOCAL_MACHINE, keyPath,
                                                             kInstallRootValue, path, pass.view);
            // An absent key or value is a version that is not installed.
            if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) {
                Log(kLogTrace) << L"GetInstalledApplicationList failure " << read;
                return read;
            }
            if (path.empty()) continue;

            Log(kLogTrace) << L"GetInstalledApplicationList, Application path Value =" << path;
            Log(kLogTrace) << L"GetInstalledApplicationList-check for keywords";
            // Every keyword is tried: a path naming two of them is listed twice.
            for (const wchar_t* keyword : kOfficeFolderKeywords) {
                if (FindStringNoCase(path, keyword) == std::wstring::npos) continue;
                Log(kLogTrace) << kLogPrefix << L" ApplicationPath=" << path;
                if (pass.is64Bit) is64BitOutlook = true;
                appInstallLocationList.push_back(path);
            }
        }
    }
    return ERROR_SUCCESS;
}
