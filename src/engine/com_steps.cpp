#include "engine/plugin_installation_manager.h"

#include "sys/com_registration.h"
#include "sys/file_system.h"

namespace {

// Unregistration codes that mean the file was never registered: the DLL is not there, its
// type library was not registered (the low word of TYPE_E_REGISTRYACCESS), or it is no DLL
// the loader accepts, so it cannot have registered itself.
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
    const DWORD result = is64Bit ? sys::ComRegistration::RegisterComDll(path)
                                 : sys::ComRegistration::RegisterComDllByBroker(path);
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << L"RegisterCOMServer: Registeration failure" << kErrorSuffix << result;
        return result;
    }
    Log(kLogTrace) << L"RegisterCOMServer End";
    return ERROR_SUCCESS;
}

// Every file is attempted; only the last one's outcome decides the result. A file that is
// not deployed has nothing registered through it and is not asked about.
DWORD PluginInstallationManager::UnRegisterCOMServer() {
    Log(kLogTrace) << L"UnRegisterCOMServer Start";
    COMServerFileMap files;
    DWORD result = GetAllFileNamesForCOMRegistration(files);
    for (const auto& [fileName, is64Bit] : files) {
        const std::wstring path = ServerPath(installDir, fileName);
        Log(kLogTrace) << L"UnRegister COM DLL " << path;
        bool exists = false;
        const bool absent = sys::FileSystem::DoesFileExists(path, exists) == ERROR_SUCCESS && !exists;
        const DWORD code = absent   ? kDllMissing
                           : is64Bit ? sys::ComRegistration::UnregisterComDll(path)
                                     : sys::ComRegistration::UnregisterComDllByBroker(path);
        result = code;
        if (IsAlreadyUnregistered(code)) {
            Log(kLogInfo) << L"CleanUp: UnRegisterCOMServer failure" << kErrorSuffix << code;
            result = ERROR_SUCCESS;
        }
    }
    if (result != ERROR_SUCCESS) {
        Log(kLogError) << L"UnRegisterCOMServer: UnRegister failure" << kErrorSuffix << result;
        return result;
    }
    Log(kLogTrace) << L"UnRegisterCOMServer End";
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::VerifyCOMRegistration(bool& registered) {
    std::wstring clsid;
    if (const DWORD r = GetCLSID(clsid)) {
        Log(kLogError) << L"VerifyCOMRegistration: GetCLSID failure" << kErrorSuffix << r;
        return r;
    }
    const bool is64Bit = Is64BitApplication();
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
