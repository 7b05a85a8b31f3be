#include "outlook/outlook_plugin_installation_manager.h"

// Add-in health repair arrives with the Repair procedure.
DWORD OutlookPluginInstallationManager::EnablePlugin(const ApplicationPathList&, bool, bool&) {
    return kResultNotImplemented;
}

void OutlookPluginInstallationManager::RepairMiscRegistryKeys(const std::wstring&) {}
