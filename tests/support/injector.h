// Fault injection: every call a module makes to Windows or to the C runtime can be made to
// fail, one at a time. The module's import table is pointed at forwarders that count the
// calls the module makes on the armed thread and make the K-th fail as its function
// documents (FALSE, a null or invalid handle, an error status or HRESULT, zero, no memory),
// with ERROR_ACCESS_DENIED, E_ACCESSDENIED or ERROR_NOT_ENOUGH_MEMORY. Functions the module
// finds through GetProcAddress (what is loaded at first use, an add-in's entry points) are
// forwarded the same way. The module's file stays as built.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace injector {

struct Call {
    const char* function;
    // Where it came from: the return addresses inside the module of its few innermost frames,
    // folded into one (a helper's call is a site of its own for each caller).
    uintptr_t site;
};

// Once per module, before it runs; again for a module loaded anew.
void Patch(HMODULE module);
// The module's imports that neither fail nor are listed as passed through.
std::vector<std::string> Unlisted(HMODULE module);

// Counts the calls `module` makes on this thread from now on; the `failAt`-th fails (1 is
// the first; 0: none fails), or with `kill` the process ends just before it, with kKilled.
void Arm(HMODULE module, size_t failAt, bool kill = false);
inline constexpr UINT kKilled = 0xDEAD;
// Stops counting; the calls counted since Arm, the failed one included.
std::vector<Call> Disarm();

// The Windows code a failed call of that function leaves, as its last error, its status or
// in its HRESULT.
DWORD FailureCode(const char* function);

}  // namespace injector
