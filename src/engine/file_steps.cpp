#include "engine/plugin_installation_manager.h"

// File deployment arrives with the file-system module.
DWORD PluginInstallationManager::VerifySource() { return kResultNotImplemented; }
DWORD PluginInstallationManager::CopyFiles(const ApplicationPathList&, bool) { return kResultNotImplemented; }
DWORD PluginInstallationManager::DeleteFiles(const ApplicationPathList&) { return kResultNotImplemented; }
DWORD PluginInstallationManager::VerifyIfFilesExists(const ApplicationPathList&, bool&) {
    return kResultNotImplemented;
}
bool PluginInstallationManager::CheckIfFileAccessible(const std::wstring&, DWORD) { return false; }
DWORD PluginInstallationManager::AddLongPathPrefix(std::wstring&) { return kResultNotImplemented; }
