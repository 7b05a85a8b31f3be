/* A host in plain C that uses the library exactly as an MSVC-built host does: it walks
 * the virtual tables by slot number. Its logger aborts if the library calls any slot but
 * slot 4. Exit code 0 means every check passed. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

typedef void* (*DestructorSlot)(void* self, unsigned int flags);
typedef unsigned int (*InitializeSlot)(void* self, const wchar_t* folder, void* logger);
typedef unsigned int (*RequestSlot)(void* self);

static int failures = 0;
#define CHECK(condition) \
    if (!(condition)) fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), ++failures

static void HostOwnedSlot(void* self) {
    (void)self;
    fprintf(stderr, "the library called a host-owned logger slot\n");
    abort();
}

/* The host's logger: four host-owned slots, then Log. It keeps the first and last line of
 * a request and whether a failure line came. */
typedef struct {
    void** vtable;
    int lines, failureLogged;
    wchar_t first[128], last[128];
} Logger;

static void LoggerLog(void* self, int level, const wchar_t* message) {
    Logger* logger = (Logger*)self;
    if (level == 3 && logger->lines++ == 0) wcsncpy(logger->first, message, 127);
    if (level == 3) wcsncpy(logger->last, message, 127);
    if (level == 3 && wcsstr(message, L": failure Error=")) logger->failureLogged = 1;
}

static void* loggerVtable[5] = {(void*)HostOwnedSlot, (void*)HostOwnedSlot, (void*)HostOwnedSlot,
                                (void*)HostOwnedSlot, (void*)LoggerLog};

static void** Vtable(void* object) { return *(void***)object; }

/* Every request logs its start and end line at level 3, and a failure line exactly when
 * its result is not 0. */
static void CheckRequest(Logger* logger, void* installer, int slot, const wchar_t* name) {
    wchar_t started[64], completed[64];
    memset(logger->first, 0, sizeof(logger->first));
    logger->lines = logger->failureLogged = 0;
    unsigned int result = ((RequestSlot)Vtable(installer)[slot])(installer);
    swprintf(started, 64, L"%ls started", name);
    swprintf(completed, 64, L"%ls completed", name);
    CHECK(wcscmp(logger->first, started) == 0 && wcscmp(logger->last, completed) == 0);
    CHECK(logger->failureLogged == (result != 0));
    printf("%ls returned %u\n", name, result);
}

int main(void) {
    wchar_t path[MAX_PATH], folder[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    while (length > 0 && path[length - 1] != L'\\') --length;
    wcscpy(path + length, L"OutlookPluginInstaller.dll");
    HMODULE library = LoadLibraryW(path);
    void* (*create)(void) = (void* (*)(void))(void*)GetProcAddress(library, "CreatePluginInstaller");
    void (*destroy)(void*) = (void (*)(void*))(void*)GetProcAddress(library, "DeletePluginInstaller");
    if (!create || !destroy) return fprintf(stderr, "cannot use the library: %lu\n", GetLastError()), 1;

    static Logger logger = {loggerVtable, 0, 0, {0}, {0}};
    GetTempPathW(MAX_PATH, folder);
    wcscat(folder, L"c-host-agent");
    CreateDirectoryW(folder, NULL);

    void* installer = create();
    CHECK(((InitializeSlot)Vtable(installer)[1])(installer, NULL, &logger) == 5 && logger.lines == 0);
    CHECK(((InitializeSlot)Vtable(installer)[1])(installer, folder, &logger) == 0);
    CheckRequest(&logger, installer, 2, L"Install");
    CheckRequest(&logger, installer, 3, L"Repair");
    CheckRequest(&logger, installer, 4, L"Uninstall");
    destroy(installer);

    /* An MSVC host's `delete` calls slot 0 with flags 1. */
    void* second = create();
    CHECK(((InitializeSlot)Vtable(second)[1])(second, folder, &logger) == 0);
    CHECK(((DestructorSlot)Vtable(second)[0])(second, 1) == second);

    RemoveDirectoryW(folder);
    FreeLibrary(library);
    printf("%s\n", failures == 0 ? "C host: all checks passed" : "C host: checks failed");
    return failures != 0;
}
