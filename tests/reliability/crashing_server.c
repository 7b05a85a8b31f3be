/* Stands in for a registration broker whose program crashes as soon as COM starts it: it
 * ends at once with the status of an access violation, as a crash ends a process, without
 * calling up the debugger that a real crash would start under Wine. */
#include <windows.h>

int main(void) {
    TerminateProcess(GetCurrentProcess(), (UINT)EXCEPTION_ACCESS_VIOLATION);
    return 0;
}
