#include "engine/plugin_installation_manager.h"

#include "sys/com_registration.h"
#include "sys/file_security.h"
#include "sys/file_system.h"

namespace {

// Unregistration codes after which the DLL cannot have taken its class with it: the DLL is
// not there, its type library was not registered (the low word of TYPE_E_REGISTRYACCESS),
// or it is no DLL the loader accepts (a copy cut short). A class left naming that very file
// is removed directly.
constexpr DWORD kDllMissing = ERROR_MOD_NOT_FOUND;   // 126
constexpr DWORD kTypeLibNotRegistered = 0x801C;       // 32796
constexpr DWORD kNotADll = ERROR_BAD_EXE_FORMAT;      // 193

bool IsAlreadyUnregistered(DWORD code) {
    return code == kDllMissing || code == kTypeLibNotRegistered || code == kNotADll;
}

// A COM server DLL always lies directly in the deployment folder.
std::wstring ServerPath(const std::wstring& installDir, const std::wstring& fileName) {
    return installDir + L"\\" + fileName;
}

}  // namespace

DWORD PluginInstallationManager::RegisterCOMServer() {
    Log(kLogTrace) << L"RegisterCOMServer Start";
    std::wstring fileName;
    const DWORD nameResult = GetFileNameForCOMRegistration(fileName);
    const bool is64Bit = Is64BitApplication();
    if (nameResult != ERROR_SUCCESS) {
        Log(kLogError) << L"RegisterCOMServer: GetFileNameForCOMRegistration failure " << kErrorSuffix
                       << nameResult;
        return nameResult;
    }

    const std::wstring path = ServerPath(installDir, fileName);
    Log(kLogTrace) << L"Register COM DLL " << path;
    std::wstring why;
    if (const DWORD refused = CheckSafeToLoad(path, why)) {
        Log(kLogError) << L"RegisterCOMServer: " << why << L", so " << path << L" is not loaded" << kErrorSuffix
                       << refused;
        return refused;
    }
    const DWORD result = is64Bit ? sys::ComRegistration::RegisterComDll(path)
                                 : sys::ComRegistration::RegisterComDllByBroker(path);
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << L"RegisterCOMServer: Registeration failure" << kErrorSuffix << result;
        return result;
    }
    Log(kLogTrace) << L"RegisterCOMServer End";
    return ERROR_SUCCESS;
}

// Every file is attempted, and a failure stays the result whatever the files after it give.
// A file that is not deployed has nothing registered through it and is not asked about.
DWORD PluginInstallationManager::UnRegisterCOMServer() {
    Log(kLogTrace) << L"UnRegisterCOMServer Start";
    COMServerFileMap files;
    const DWORD filesResult = GetAllFileNamesForCOMRegistration(files);
    std::wstring clsid;
    if (GetCLSID(clsid) != ERROR_SUCCESS) clsid.clear();  // then no class is looked at
    DWORD failure = ERROR_SUCCESS;
    for (const auto& [fileName, is64Bit] : files) {
        const std::wstring path = ServerPath(installDir, fileName);
        const DWORD view = is64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        Log(kLogTrace) << L"UnRegister COM DLL " << path;
        bool exists = false;
        const bool absent = sys::FileSystem::DoesFileExists(path, exists) == ERROR_SUCCESS && !exists;
        std::wstring why;
        if (const DWORD refused = absent ? ERROR_SUCCESS : CheckSafeToLoad(path, why)) {
            // Not loaded, and what it registered goes as a missing DLL's does.
            Log(kLogInfo) << L"UnRegisterCOMServer: " << why << L", so " << path << L" is not loaded"
                          << kErrorSuffix << refused;
            if (const DWORD removed = RemoveClassOf(clsid, view, path, refused)) failure = removed;
            continue;
        }
        DWORD code = absent   ? kDllMissing
                     : is64Bit ? sys::ComRegistration::UnregisterComDll(path)
                               : sys::ComRegistration::UnregisterComDllByBroker(path);
        if (IsAlreadyUnregistered(code) || (code != ERROR_SUCCESS && !ClassNames(clsid, view, path))) {
            Log(kLogInfo) << L"CleanUp: UnRegisterCOMServer failure" << kErrorSuffix << code;
            code = IsAlreadyUnregistered(code) ? RemoveClassOf(clsid, view, path, code) : ERROR_SUCCESS;
        }
        if (code != ERROR_SUCCESS) failure = code;
    }
    const DWORD result = files.empty() ? filesResult : failure;
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << L"UnRegisterCOMServer: UnRegister failure" << kErrorSuffix << result;
        return result;
    }
    Log(kLogTrace) << L"UnRegisterCOMServer End";
    return ERROR_SUCCESS;
}

// Whether the class may be registered for this very file; when its registration cannot be
// read, it may.
bool PluginInstallationManager::ClassNames(const std::wstring& clsid, DWORD view, const std::wstring& path) {
    std::wstring server;
    const DWORD read = clsid.empty() ? ERROR_FILE_NOT_FOUND
                                     : sys::ComRegistration::GetClassServer(clsid, view, server);
    if (read == ERROR_FILE_NOT_FOUND) return false;
    return read != ERROR_SUCCESS || sys::FileSystem::SamePath(server, path);
}

// Removes the class's registration when it names this file, which could not unregister it
// (`code`); a registration that names another file belongs to someone else.
DWORD PluginInstallationManager::RemoveClassOf(const std::wstring& clsid, DWORD view, const std::wstring& path,
                                               DWORD code) {
    std::wstring server;
    if (clsid.empty() || sys::ComRegistration::GetClassServer(clsid, view, server) != ERROR_SUCCESS ||
        !sys::FileSystem::SamePath(server, path))
        return ERROR_SUCCESS;
    const DWORD removed = sys::ComRegistration::RemoveClass(clsid, view);
    if (removed != ERROR_SUCCESS) return removed;
    if (code == kDllMissing)
        Log(kLogInfo) << L"UnRegisterCOMServer: class " << clsid << L" of the missing " << path << L" removed";
    else
        Log(kLogInfo) << L"UnRegisterCOMServer: class " << clsid << L" of " << path
                      << L" removed, the DLL could not unregister it" << kErrorSuffix << code;
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::VerifyCOMRegistration(bool& registered) {
    std::wstring clsid;
    if (const DWORD r = GetCLSID(clsid)) {
        Log(kLogError) << L"VerifyCOMRegistration: GetCLSID failure" << kErrorSuffix << r;
        return r;
    }
    const bool is64Bit = Is64BitApplication();
    // In process, COM loads the class's DLL to answer.
    std::wstring fileName;
    std::wstring why;
    if (is64Bit && GetFileNameForCOMRegistration(fileName) == ERROR_SUCCESS) {
        const std::wstring path = ServerPath(installDir, fileName);
        if (const DWORD refused = CheckSafeToLoad(path, why)) {
            Log(kLogError) << L"VerifyCOMRegistration: " << why << L", so " << path << L" is not loaded"
                           << kErrorSuffix << refused;
            return refused;
        }
    }
    const DWORD result = clsid.empty()
                             ? ERROR_BAD_ARGUMENTS
                             : sys::ComRegistration::VerifyRegistration(clsid, registered, is64Bit);
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << L"VerifyCOMRegistration: VerifyRegistration failure" << kErrorSuffix << result;
        return result;
    }
    if (!registered) Log(kLogTrace) << L"VerifyCOMRegistration: COM registration tampered, need repair";
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::CheckSafeToLoad(const std::wstring& dllPath, std::wstring& why) {
    if (sys::FileSystem::IsLink(dllPath)) {
        why = dllPath + L" is a link";
        return sys::FileSystem::kLinkRefused;
    }
    // The DLL's bytes came from its source in Install: that place must be as trusted.
    const std::wstring source =
        sys::FileSystem::JoinPath(installSourceDir, dllPath.substr(dllPath.find_last_of(L'\\') + 1));
    std::vector<std::wstring> places;
    for (const std::wstring& place : {installDir, installSourceDir, dllPath, source}) {
        bool exists = false;
        if (sys::FileSystem::DoesFileExists(place, exists) == ERROR_SUCCESS && exists) places.push_back(place);
    }
    for (const std::wstring& place : places) {
        sys::FileSecurity::Writer writer;
        if (const DWORD r = sys::FileSecurity::FindUntrustedWriter(place, writer)) {
            why = L"who may change " + place + L" could not be read";
            return r;
        }
        if (writer.account.empty()) continue;
        why = sys::FileSecurity::WhoMayChange(place, writer);
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}
