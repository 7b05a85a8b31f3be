#include "engine/plugin_installation_manager.h"

// The Repair procedure arrives with the add-in health repair.
DWORD PluginInstallationManager::Repair() { return kResultNotImplemented; }
DWORD PluginInstallationManager::IsApplicationReinstalled(const ApplicationPathList&, bool&) {
    return kResultNotImplemented;
}
DWORD PluginInstallationManager::VerifySettings(const ApplicationPathList&, bool&) {
    return kResultNotImplemented;
}
