#include "installer/outlook_plugin_installer_impl.h"

#include "outlook/outlook_plugin_installation_manager.h"

#include <new>

void* OutlookPluginInstallerImpl::ScalarDeletingDestructor(unsigned int flags) {
    this->~OutlookPluginInstallerImpl();
    if (flags & 1) ::operator delete(this);
    return this;
}

unsigned int OutlookPluginInstallerImpl::Initialize(const wchar_t* installDir,
                                                    PluginInstallerLogger* hostLogger) {
    if (!installDir || !hostLogger) return kResultInitializeFailed;
    initialized = false;
    // An empty folder would make "\Install" and "\temp" of the current drive's root.
    if (*installDir == L'\0') return kResultInitializeFailed;
    logger = hostLogger;
    try {
        auto fresh = std::make_unique<OutlookPluginInstallationManager>();
        engine = std::move(fresh);  // the old engine goes only once the new one exists
        engine->Initialize(std::wstring(installDir), logger);
    } catch (...) {
        try {
            LogLine(logger, kLogError)
                << L"Initialize:- failed to allocate memory for OutlookPluginInstallationManager";
        } catch (...) {
        }
        return kResultInitializeFailed;
    }
    initialized = true;
    return kResultSuccess;
}

unsigned int OutlookPluginInstallerImpl::Install() {
    return Run(&PluginInstallationManager::Install, L"Install started", L"Install: failure",
               L"Install completed");
}

unsigned int OutlookPluginInstallerImpl::Repair() {
    return Run(&PluginInstallationManager::Repair, L"Repair started", L"Repair: failure",
               L"Repair completed");
}

unsigned int OutlookPluginInstallerImpl::Uninstall() {
    return Run(&PluginInstallationManager::Uninstall, L"Uninstall started", L"Uninstall: failure",
               L"Uninstall completed");
}

unsigned int OutlookPluginInstallerImpl::Run(Procedure procedure, const wchar_t* startLine,
                                             const wchar_t* failureText, const wchar_t* endLine) {
    if (!initialized) return kResultInitializeFailed;
    return RunRequest(logger, *engine, procedure, startLine, failureText, endLine);
}

unsigned int OutlookPluginInstallerImpl::RunRequest(PluginInstallerLogger* logger,
                                                    PluginInstallationManager& engine,
                                                    Procedure procedure, const wchar_t* startLine,
                                                    const wchar_t* failureText,
                                                    const wchar_t* endLine) {
    // Only memory can run out here; whatever escapes the engine is reported as that.
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    try {
        LogLine(logger, kLogInfo) << startLine;
        result = (engine.*procedure)();
    } catch (...) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    try {
        if (result != kResultSuccess)
            LogLine(logger, kLogInfo) << failureText << kErrorSuffix << static_cast<int>(result);
        LogLine(logger, kLogInfo) << endLine;
    } catch (...) {
    }
    return result;
}
