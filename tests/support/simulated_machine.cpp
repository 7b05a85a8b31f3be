#include "simulated_machine.h"

#include <filesystem>

ExportedLibrary::ExportedLibrary() {
    module_ = LoadLibraryW((ProgramFolder() + L"\\OutlookPluginInstaller.dll").c_str());
    if (!module_) return;
    create_ = reinterpret_cast<PluginInstaller* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module_, "CreatePluginInstaller")));
    delete_ = reinterpret_cast<void (*)(PluginInstaller*)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DeletePluginInstaller")));
}

ExportedLibrary::~ExportedLibrary() {
    if (module_) FreeLibrary(module_);
}

unsigned int ExportedLibrary::Run(const std::wstring& folder, const std::wstring& request,
                                  RecordingLogger& logger) const {
    PluginInstaller* installer = create_();
    unsigned int result = installer->Initialize(folder.c_str(), &logger);
    if (result == 0) {
        if (request == L"install") result = installer->Install();
        else if (request == L"repair") result = installer->Repair();
        else result = installer->Uninstall();
    }
    delete_(installer);
    return result;
}

SimulatedMachine::SimulatedMachine(const std::wstring& officeVersion, DWORD view,
                                   const std::wstring& officeFolder) {
    if (!officeVersion.empty()) {
        officePath_ = L"C:\\Program Files\\Microsoft Office\\" + officeFolder + L"\\";
        installRoot_ = std::make_unique<ScopedRegistryKey>(
            HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\" + officeVersion + L"\\Outlook\\InstallRoot",
            view);
        installRoot_->SetString(L"", L"Path", officePath_);
    }
    std::filesystem::create_directories(agent_ / L"Install");
    std::filesystem::create_directories(TempFolder());
    CopyAddin(L"v1\\tolvane.dll", agent_ / L"Install", L"tolvane.dll");
    CopyAddin(L"v1\\tolvane64.dll", agent_ / L"Install", L"tolvane64.dll");
}

SimulatedMachine::~SimulatedMachine() {
    // The add-in key, and what a test put next to it, in both views.
    HKEY key = nullptr;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office", 0, KEY_ALL_ACCESS | view, &key) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(key, L"Outlook");
            RegCloseKey(key);
        }
    }
}

bool SimulatedMachine::HoldsNothingOfTheAddin() const {
    return !std::filesystem::exists(AgentFile(L"tolvane.dll")) &&
           !std::filesystem::exists(AgentFile(L"tolvane64.dll")) &&
           !RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_32KEY) &&
           !RawKeyExists(HKEY_LOCAL_MACHINE, kAddinKey, KEY_WOW64_64KEY) &&
           !AddinClassExists(KEY_WOW64_32KEY) && !AddinClassExists(KEY_WOW64_64KEY);
}
