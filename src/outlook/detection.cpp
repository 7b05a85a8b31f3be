#include "outlook/outlook_plugin_installation_manager.h"

// Outlook detection arrives with the registry module.
DWORD OutlookPluginInstallationManager::GetInstalledApplicationList(ApplicationPathList&) {
    return kResultNotImplemented;
}
