// The installer object that the host holds: logs each request's start and end and runs
// the engine's procedure of the same name. Nothing it is given or does ever throws back
// into the host.
#pragma once

#include "engine/plugin_installation_manager.h"

#include <OutlookPluginInstaller.h>

#include <memory>

class OutlookPluginInstallerImpl final : public PluginInstaller {
public:
    OutlookPluginInstallerImpl() = default;
    ~OutlookPluginInstallerImpl() = default;

    void* ScalarDeletingDestructor(unsigned int flags) override;
    unsigned int Initialize(const wchar_t* installDir, PluginInstallerLogger* logger) override;
    unsigned int Install() override;
    unsigned int Repair() override;
    unsigned int Uninstall() override;

    using Procedure = DWORD (PluginInstallationManager::*)();
    // Logs a request's start line, runs the engine's procedure, logs its failure (if any)
    // and end line; an exception from the engine becomes ERROR_NOT_ENOUGH_MEMORY.
    static unsigned int RunRequest(PluginInstallerLogger* logger, PluginInstallationManager& engine,
                                   Procedure procedure, const wchar_t* startLine,
                                   const wchar_t* failureText, const wchar_t* endLine);

private:
    unsigned int Run(Procedure procedure, const wchar_t* startLine, const wchar_t* failureText,
                     const wchar_t* endLine);

    PluginInstallerLogger* logger = nullptr;  // the host's; not owned
    std::unique_ptr<PluginInstallationManager> engine;
    // Requests run only after the last Initialize succeeded: an engine left with empty
    // paths would act on the root of the current drive.
    bool initialized = false;
};
