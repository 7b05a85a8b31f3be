// OutlookPluginInstaller.dll: installs, repairs and removes the Tolvane Outlook add-in.
//
// A host obtains an installer with CreatePluginInstaller, calls Initialize with the
// agent folder and its logger, then Install, Repair or Uninstall, and finally hands the
// object back to DeletePluginInstaller. Every call returns a Windows result code
// (0 = success; see README for the codes of the procedures) and never throws.
//
// The interfaces are laid out as Microsoft's x64 compiler lays them out, whichever
// compiler includes this header: the host calls the installer through these slots.
//
//   PluginInstaller            slot 0  scalar deleting destructor (flags; bit 0 frees)
//                              slot 1  Initialize(installDir, logger)
//                              slot 2  Install()
//                              slot 3  Repair()
//                              slot 4  Uninstall()
//   PluginInstallerLogger      slots 0-3 belong to the host and are never called here
//                              slot 4  Log(level, message)
#ifndef OUTLOOK_PLUGIN_INSTALLER_H
#define OUTLOOK_PLUGIN_INSTALLER_H

#ifndef __cplusplus
#error "OutlookPluginInstaller.h is a C++ header"
#endif

// Implemented by the host. The message is valid only during the call.
// Levels: 0 trace, 1 a folder that could not be deleted, 3 information, 5 error.
class PluginInstallerLogger {
public:
    virtual void HostSlot0() = 0;
    virtual void HostSlot1() = 0;
    virtual void HostSlot2() = 0;
    virtual void HostSlot3() = 0;
    virtual void Log(int level, const wchar_t* message) = 0;

protected:
    ~PluginInstallerLogger() = default;
};

class PluginInstaller {
public:
#ifdef _MSC_VER
    virtual ~PluginInstaller() {}
#else
    // g++ would give a virtual destructor two slots; this one slot is what an MSVC
    // host calls as the scalar deleting destructor. Hosts use DeletePluginInstaller.
    virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;
#endif
    // Returns 5 for a null or empty folder, a null logger, or exhausted memory.
    virtual unsigned int Initialize(const wchar_t* installDir, PluginInstallerLogger* logger) = 0;
    virtual unsigned int Install() = 0;
    virtual unsigned int Repair() = 0;
    virtual unsigned int Uninstall() = 0;

#ifndef _MSC_VER
protected:
    ~PluginInstaller() = default;
#endif
};

extern "C" {
// Returns null when memory is exhausted.
PluginInstaller* CreatePluginInstaller();
// Accepts null.
void DeletePluginInstaller(PluginInstaller* installer);
}

#endif  // OUTLOOK_PLUGIN_INSTALLER_H
