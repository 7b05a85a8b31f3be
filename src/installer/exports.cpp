// The library's entry points. Loading the library runs nothing of its own.
#include "installer/outlook_plugin_installer_impl.h"

#include <new>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" PluginInstaller* CreatePluginInstaller() {
    return new (std::nothrow) OutlookPluginInstallerImpl();
}

extern "C" void DeletePluginInstaller(PluginInstaller* installer) {
    if (installer) installer->ScalarDeletingDestructor(1);
}
