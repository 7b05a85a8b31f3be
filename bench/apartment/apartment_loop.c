/* The COM calls of the library's in-process class check, and nothing else: from a thread
 * that holds no apartment, rounds of CoInitializeEx (multithreaded), CLSIDFromString,
 * CoGetClassObject (in process, class factory), Release and CoUninitialize. With an
 * apartment-threaded class, such as the add-in's, COM hosts it in an apartment of its own
 * that lives as long as the multithreaded one, so every round builds and ends one.
 *   bench-apartment-loop.exe <rounds> <clsid>
 * The exit code is the number of rounds that ended; a round that has not ended after
 * ROUND_LIMIT_MS counts as hung, and the process ends there. */
#include <windows.h>
#include <objbase.h>

#include <stdlib.h>

#define ROUND_LIMIT_MS 30000

static const wchar_t* clsidText;
static LONG rounds;
static LONG ended;
static HANDLE roundEnded;

static DWORD WINAPI Rounds(void* unused) {
    (void)unused;
    for (LONG i = 0; i < rounds; ++i) {
        if (SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) {
            CLSID clsid;
            IClassFactory* factory = NULL;
            if (SUCCEEDED(CLSIDFromString(clsidText, &clsid)) &&
                SUCCEEDED(CoGetClassObject(&clsid, CLSCTX_INPROC_SERVER, NULL, &IID_IClassFactory,
                                           (void**)&factory)))
                factory->lpVtbl->Release(factory);
            CoUninitialize();
        }
        InterlockedIncrement(&ended);
        SetEvent(roundEnded);
    }
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    HANDLE worker;
    if (argc != 3) return -1;
    clsidText = argv[2];
    rounds = _wtoi(argv[1]);
    roundEnded = CreateEventW(NULL, FALSE, FALSE, NULL);
    worker = CreateThread(NULL, 0, Rounds, NULL, 0, NULL);
    if (!roundEnded || !worker) return -1;
    while (ended < rounds)
        if (WaitForSingleObject(roundEnded, ROUND_LIMIT_MS) == WAIT_TIMEOUT) break;
    /* A hung round holds COM's locks: end without running anyone's clean-up. */
    TerminateProcess(GetCurrentProcess(), (UINT)ended);
    return (int)ended;
}
