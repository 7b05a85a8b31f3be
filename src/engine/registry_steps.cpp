#include "engine/plugin_installation_manager.h"

// Registry settings arrive with the uninstall procedure.
DWORD PluginInstallationManager::AddSettingsToRegistry() { return kResultNotImplemented; }
DWORD PluginInstallationManager::RemoveSettingsFromRegistry() { return kResultNotImplemented; }
DWORD PluginInstallationManager::VerifyRegistrySettings(bool&) { return kResultNotImplemented; }
