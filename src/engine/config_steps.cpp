#include "engine/plugin_installation_manager.h"

// Installer config file steps arrive with the config file.
DWORD PluginInstallationManager::UpdateInstallerConfigFile(const std::wstring&, const ApplicationPathList&) {
    return kResultNotImplemented;
}
DWORD PluginInstallationManager::UpdateInstallerConfigFile(const std::wstring&, const INIFileEntryInfo&) {
    return kResultNotImplemented;
}
DWORD PluginInstallationManager::CleanUpInstallerConfigFile() { return kResultNotImplemented; }
