/* A DLL that is nothing but its version resource: the files of a deployed folder. */
#include <windows.h>

BOOL WINAPI PayloadEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
