// The installation engine: the generic Install, Repair and Uninstall procedures and the
// steps they are made of. A profile subclass describes the application to extend by
// answering the pure virtual questions (slots 5 to 21); the procedures never change.
//
// Every operation returns a Windows error code, 0 for success, and never throws on
// purpose; an allocation failure is the one exception that may leave a step. A profile's
// answers are codes too: memory running out in a slot is ERROR_NOT_ENOUGH_MEMORY (Answer).
#pragma once

#include "engine/log_line.h"
#include "engine/records.h"

#include <OutlookPluginInstaller.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

// Results of the procedures, beside the Windows codes that the steps pass on.
constexpr DWORD kResultSuccess = 0;
constexpr DWORD kResultStepFailed = 1;             // the failing step logged its own code
constexpr DWORD kResultNotInstalled = 2;           // no copy of the application, or no INI file
constexpr DWORD kResultPluginDisabled = 3;         // Repair: the application disabled the add-in
constexpr DWORD kResultSourceMissing = 4;          // Install, Repair: VerifySource failed
constexpr DWORD kResultInitializeFailed = 5;       // installer object: bad argument or no memory
constexpr DWORD kResultNothingToRepair = 6;        // Repair: everything verified
constexpr DWORD kResultNotSupported = ERROR_NOT_SUPPORTED;  // 50: a profile slot that does not apply
constexpr DWORD kResultNotImplemented = ERROR_CALL_NOT_IMPLEMENTED;

class PluginInstallationManager {
public:
    PluginInstallationManager() = default;
    PluginInstallationManager(const PluginInstallationManager&) = delete;
    PluginInstallationManager& operator=(const PluginInstallationManager&) = delete;

    // Virtual operations, in slot order.
    virtual ~PluginInstallationManager();                                           // 0
    virtual void Initialize(const std::wstring& installDir, PluginInstallerLogger* logger);  // 1
    virtual DWORD Install();                                                          // 2
    virtual DWORD Repair();                                                           // 3
    virtual DWORD Uninstall();                                                        // 4
    virtual DWORD GetSourceFilesForVerification(std::vector<std::wstring>& fileNames) = 0;  // 5
    virtual DWORD GetInstalledApplicationList(ApplicationPathList& appInstallLocationList) = 0;  // 6
    virtual DWORD GetSourceFileWithDestinationPaths(const ApplicationPathList& applicationPaths,
                                                    FileCopyMap& files) = 0;          // 7
    virtual DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList& applicationPaths,
                                                       FileCopyMap& files) = 0;       // 8
    virtual DWORD GetCLSID(std::wstring& clsid) = 0;                                  // 9
    virtual bool IsCOMRegistrationRequired() = 0;                                     // 10
    virtual bool IsINIEntryRequired() = 0;                                            // 11
    virtual bool IsRegistrySettingRequired() = 0;                                     // 12
    virtual DWORD GetFileNameForCOMRegistration(std::wstring& fileName) = 0;          // 13
    virtual DWORD GetAllFileNamesForCOMRegistration(COMServerFileMap& files);         // 14
    virtual bool Is64BitApplication();                                                // 15
    virtual DWORD GetRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys) = 0;     // 16
    virtual DWORD GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>& keys) = 0;  // 17
    virtual DWORD GetINIFileEntryInfo(INIFileEntryInfo& entry) = 0;                   // 18
    // Sets pluginEnabled to false when the application disabled the add-in; removes the
    // disabled entries only when removeIfDisabled, else returns 50 at the first one.
    virtual DWORD EnablePlugin(const ApplicationPathList& applicationPaths, bool removeIfDisabled,
                               bool& pluginEnabled) = 0;                              // 19
    virtual bool IsApplicationListRequiredForCleanUp() = 0;                           // 20
    // 50: the profile keeps no record in the installer config file.
    virtual DWORD GetInstallerConfigSectionName(std::wstring& section) = 0;           // 21

    // Steps of the procedures.

    // File deployment.
    DWORD VerifySource();
    DWORD CopyFiles(const ApplicationPathList& applicationPaths, bool compareVersions);
    DWORD DeleteFiles(const ApplicationPathList& applicationPaths);
    DWORD VerifyIfFilesExists(const ApplicationPathList& applicationPaths, bool& allPresent);
    DWORD ReplaceUntrustedFile(const std::wstring& name, const std::wstring& folder);
    bool CheckIfFileAccessible(const std::wstring& path, DWORD code);
    DWORD AddLongPathPrefix(std::wstring& path);

    // COM server registration.
    DWORD RegisterCOMServer();
    DWORD UnRegisterCOMServer();
    DWORD VerifyCOMRegistration(bool& registered);
    bool ClassNames(const std::wstring& clsid, DWORD view, const std::wstring& path);
    DWORD RemoveClassOf(const std::wstring& clsid, DWORD view, const std::wstring& path, DWORD code);
    // 0 when the DLL may be loaded: it is no link, and neither it, the agent folder, Install
    // nor its source there may be written by any account but the trusted ones; else the
    // code of the refusal and why.
    DWORD CheckSafeToLoad(const std::wstring& dllPath, std::wstring& why);

    // Registry settings. VerifyRegistrySettings only ever clears settingsOk.
    DWORD AddSettingsToRegistry();
    DWORD RemoveSettingsFromRegistry();
    DWORD VerifyRegistrySettings(bool& settingsOk);

    // INI file entries. VerifyIniSettings only ever clears settingsOk.
    DWORD AddEntryToINIFile(INIFileEntryInfo& iniFileEntryInfo);
    // itemLeftIn receives the files whose item could not be removed or that no account reached.
    DWORD RemoveEntryFromINIFile(std::vector<std::wstring>& itemLeftIn);
    DWORD VerifyIniSettings(bool& settingsOk);
    // reached: whether the service or a logged-on user could see the file.
    DWORD UpdateINILotusExtension(const std::wstring& iniFilePath, const INIFileEntryInfo& entry,
                                  IniOperation operation, const std::wstring& sectionName,
                                  std::vector<std::wstring>& items, bool& reached);
    // iniFilePath is the long form the file is reached by; recordedPath names the same file
    // as the profile or the installer config file gave it, the only form the config file knows.
    DWORD GetUpdateIniValuesIntoFile(const std::wstring& iniFilePath, const std::wstring& recordedPath,
                                     const INIFileEntryInfo& entry, IniOperation operation,
                                     const std::wstring& sectionName,
                                     std::vector<std::wstring>& items);

    // Installer config file.
    DWORD UpdateInstallerConfigFile(const std::wstring& section,
                                    const ApplicationPathList& applicationPaths);
    DWORD UpdateInstallerConfigFile(const std::wstring& section,
                                    const INIFileEntryInfo& iniFileEntryInfo);
    DWORD CleanUpInstallerConfigFile();

    // Repair and clean-up.
    DWORD IsApplicationReinstalled(const ApplicationPathList& applicationPaths, bool& reinstalled);
    DWORD VerifySettings(const ApplicationPathList& applicationPaths, bool& repairNeeded);
    DWORD CleanUp(bool isUninstall);

    // The folders Initialize derived from the host's folder.
    const std::wstring& GetInstallSourceDir() const { return installSourceDir; }
    const std::wstring& GetTempDir() const { return tempDir; }

protected:
    // A slot's answer, built aside and handed over whole: when memory runs out the caller's
    // list stays as it was and the answer is ERROR_NOT_ENOUGH_MEMORY.
    template <typename Out, typename Fill>
    static DWORD Answer(Out& out, Fill fill) noexcept {
        try {
            Out answer = out;
            fill(answer);
            std::swap(out, answer);
            return ERROR_SUCCESS;
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    // Install's steps; `deploying` is set once they begin to lay anything down.
    DWORD InstallSteps(bool& deploying);
    LogLine Log(int level) const { return LogLine(logger, level); }
    // A procedure's summary line for the step that failed; the procedure's result 1.
    DWORD ReportFailure(const wchar_t* text, DWORD code);
    // The same, then CleanUp of what the procedure laid down (a roll back, not an uninstall).
    DWORD ReportFailureAndRollBack(const wchar_t* text, DWORD code);

    std::wstring installSourceDir;  // installDir\Install: where the add-in's files come from
    std::wstring tempDir;           // installDir\temp: where files in use are set aside
    std::wstring installDir;        // the host's folder: deployment target, config file
    PluginInstallerLogger* logger = nullptr;  // the host's; not owned
};
