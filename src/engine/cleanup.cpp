#include "engine/plugin_installation_manager.h"

// Uninstall and clean-up arrive with the registry settings.
DWORD PluginInstallationManager::Uninstall() { return kResultNotImplemented; }
DWORD PluginInstallationManager::CleanUp(bool) { return kResultNotImplemented; }
