#include "engine/plugin_installation_manager.h"

namespace {
constexpr const wchar_t* kTempFolderName = L"temp";
constexpr const wchar_t* kSourceFolderName = L"Install";
}  // namespace

PluginInstallationManager::~PluginInstallationManager() = default;

// The folder is taken as it comes: one ending in a backslash gives doubled backslashes.
void PluginInstallationManager::Initialize(const std::wstring& folder,
                                           PluginInstallerLogger* hostLogger) {
    installDir = folder;
    tempDir = installDir + L"\\" + kTempFolderName;
    installSourceDir = installDir + L"\\" + kSourceFolderName;
    logger = hostLogger;
}

DWORD PluginInstallationManager::GetAllFileNamesForCOMRegistration(COMServerFileMap&) {
    return ERROR_SUCCESS;
}

bool PluginInstallationManager::Is64BitApplication() { return false; }

DWORD PluginInstallationManager::ReportFailure(const wchar_t* text, DWORD code) {
    Log(kLogError) << text << kErrorSuffix << code;
    return kResultStepFailed;
}

DWORD PluginInstallationManager::ReportFailureAndRollBack(const wchar_t* text, DWORD code) {
    ReportFailure(text, code);
    const bool isUninstall = false;
    CleanUp(isUninstall);
    return kResultStepFailed;
}
