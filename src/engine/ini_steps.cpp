#include "engine/plugin_installation_manager.h"

// INI entries arrive with the sessions module.
DWORD PluginInstallationManager::AddEntryToINIFile(INIFileEntryInfo&) { return kResultNotImplemented; }
DWORD PluginInstallationManager::RemoveEntryFromINIFile() { return kResultNotImplemented; }
DWORD PluginInstallationManager::VerifyIniSettings(bool&) { return kResultNotImplemented; }
DWORD PluginInstallationManager::UpdateINILotusExtension(const std::wstring&, const INIFileEntryInfo&,
                                                         IniOperation, const std::wstring&,
                                                         std::vector<std::wstring>&) {
    return kResultNotImplemented;
}
DWORD PluginInstallationManager::GetUpdateIniValuesIntoFile(const std::wstring&, const INIFileEntryInfo&,
                                                            IniOperation, const std::wstring&,
                                                            std::vector<std::wstring>&) {
    return kResultNotImplemented;
}
