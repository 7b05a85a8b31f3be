#include "engine/plugin_installation_manager.h"

// COM registration arrives with the COM module.
DWORD PluginInstallationManager::RegisterCOMServer() { return kResultNotImplemented; }
DWORD PluginInstallationManager::UnRegisterCOMServer() { return kResultNotImplemented; }
DWORD PluginInstallationManager::VerifyCOMRegistration(bool&) { return kResultNotImplemented; }
