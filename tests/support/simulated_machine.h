// A machine as the agent meets it: an installed Outlook (its install root in one registry
// view), an agent folder whose "Install" subfolder holds the add-in files, and the library
// loaded the way the agent loads it. Everything is removed again at the end of the scope.
#pragma once

#include "addin_class.h"
#include "broker_registration.h"
#include "recording_logger.h"
#include "registry_fixture.h"
#include "scoped_temp_dir.h"

#include <OutlookPluginInstaller.h>

#include <memory>
#include <string>
#include <vector>

inline constexpr const wchar_t* kAddinKey =
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1";

// OutlookPluginInstaller.dll, loaded from the build folder.
class ExportedLibrary {
public:
    ExportedLibrary();
    ~ExportedLibrary();
    ExportedLibrary(const ExportedLibrary&) = delete;
    ExportedLibrary& operator=(const ExportedLibrary&) = delete;

    PluginInstaller* Create() const { return create_(); }
    void Delete(PluginInstaller* installer) const { delete_(installer); }
    // Create, Initialize(folder), one request ("install", "repair" or "uninstall"), Delete.
    unsigned int Run(const std::wstring& folder, const std::wstring& request, RecordingLogger& logger) const;

private:
    HMODULE module_ = nullptr;
    PluginInstaller* (*create_)() = nullptr;
    void (*delete_)(PluginInstaller*) = nullptr;
};

class SimulatedMachine {
public:
    // An Outlook of `officeVersion` (e.g. L"15.0") whose install root lies in `view`, in the
    // folder "C:\Program Files\Microsoft Office\<officeFolder>\". An empty version: no Outlook.
    SimulatedMachine(const std::wstring& officeVersion, DWORD view, const std::wstring& officeFolder);
    ~SimulatedMachine();

    const std::wstring& agentFolder() const { return agent_.path(); }
    std::wstring AgentFile(const std::wstring& name) const { return agent_ / name; }
    std::wstring SourceFile(const std::wstring& name) const { return agent_ / (L"Install\\" + name); }
    std::wstring TempFolder() const { return agent_ / L"temp"; }
    const std::wstring& officePath() const { return officePath_; }
    unsigned int Run(const std::wstring& request) { return library_.Run(agentFolder(), request, logger); }

    // Nothing of the add-in: no deployed file, no add-in key in either view, no COM class.
    bool HoldsNothingOfTheAddin() const;

    RecordingLogger logger;

private:
    ScopedAddinClass addinClass_;
    ScopedBrokerRegistration broker_;
    ScopedTempDir agent_;
    std::wstring officePath_;
    std::unique_ptr<ScopedRegistryKey> installRoot_;
    ExportedLibrary library_;
};
