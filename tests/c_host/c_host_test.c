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
typedef void (*LogSlot)(void* self, int level, const wchar_t* message);

enum { kSlotDestructor = 0, kSlotInitialize = 1, kSlotInstall = 2, kSlotRepair = 3, kSlotUninstall = 4 };

static int failures = 0;
#define CHECK(condition)                                                  \
    do {                                                                  \
        if (!(condition)) {                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                   \
        }                                                                 \
    } while (0)

/* The host's logger: four host-owned slots, then Log. */
static void HostOwnedSlot(void* self) {
    (void)self;
    fprintf(stderr, "the library called a host-owned logger slot\n");
    abort();
}

#define MAX_LINES 256
typedef struct {
    void** vtable;
    int levels[MAX_LINES];
    wchar_t texts[MAX_LINES][512];
    int count;
} Logger;

static void LoggerLog(void* self, int level, const wchar_t* message) {
    Logger* logger = (Logger*)self;
    if (logger->count < MAX_LINES) {
        logger->levels[logger->count] = level;
        wcsncpy(logger->texts[logger->count], message, 511);
        logger->texts[logger->count][511] = L'\0';
        ++logger->count;
    }
}

static void* loggerVtable[5] = {(void*)HostOwnedSlot, (void*)HostOwnedSlot, (void*)HostOwnedSlot,
                                (void*)HostOwnedSlot, (void*)LoggerLog};

static void** Vtable(void* object) { return *(void***)object; }

static int Logged(const Logger* logger, int level, const wchar_t* text) {
    for (int i = 0; i < logger->count; ++i)
        if (logger->levels[i] == level && wcscmp(logger->texts[i], text) == 0) return 1;
    return 0;
}

/* Every request logs its start and end line at level 3, and a failure line exactly when
 * its result is not 0. */
static void CheckRequest(Logger* logger, void* installer, int slot, const wchar_t* name) {
    wchar_t line[128];
    logger->count = 0;
    unsigned int result = ((RequestSlot)Vtable(installer)[slot])(installer);
    swprintf(line, 128, L"%ls started", name);
    CHECK(logger->count > 0 && logger->levels[0] == 3 && wcscmp(logger->texts[0], line) == 0);
    swprintf(line, 128, L"%ls completed", name);
    CHECK(logger->count > 0 && logger->levels[logger->count - 1] == 3 &&
          wcscmp(logger->texts[logger->count - 1], line) == 0);
    swprintf(line, 128, L"%ls: failure Error=%d", name, (int)result);
    CHECK(Logged(logger, 3, line) == (result != 0));
    printf("%ls returned %u after %d log lines\n", name, result, logger->count);
}

int main(void) {
    wchar_t dllPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, dllPath, MAX_PATH);
    while (length > 0 && dllPath[length - 1] != L'\\') --length;
    wcscpy(dllPath + length, L"OutlookPluginInstaller.dll");

    HMODULE library = LoadLibraryW(dllPath);
    if (!library) {
        fprintf(stderr, "cannot load the library: %lu\n", GetLastError());
        return 1;
    }
    void* (*create)(void) = (void* (*)(void))(void*)GetProcAddress(library, "CreatePluginInstaller");
    void (*destroy)(void*) = (void (*)(void*))(void*)GetProcAddress(library, "DeletePluginInstaller");
    CHECK(create != NULL && destroy != NULL);
    if (!create || !destroy) return 1;

    Logger* logger = (Logger*)calloc(1, sizeof(Logger));
    logger->vtable = loggerVtable;

    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wcscat(folder, L"c-host-agent");
    CreateDirectoryW(folder, NULL);

    void* installer = create();
    CHECK(installer != NULL);
    CHECK(((InitializeSlot)Vtable(installer)[kSlotInitialize])(installer, NULL, logger) == 5);
    CHECK(logger->count == 0);
    CHECK(((InitializeSlot)Vtable(installer)[kSlotInitialize])(installer, folder, logger) == 0);
    CheckRequest(logger, installer, kSlotInstall, L"Install");
    CheckRequest(logger, installer, kSlotRepair, L"Repair");
    CheckRequest(logger, installer, kSlotUninstall, L"Uninstall");
    destroy(installer);

    /* An MSVC host's `delete` calls slot 0 with flags 1. */
    void* second = create();
    CHECK(((InitializeSlot)Vtable(second)[kSlotInitialize])(second, folder, logger) == 0);
    void* returned = ((DestructorSlot)Vtable(second)[kSlotDestructor])(second, 1);
    CHECK(returned == second);

    RemoveDirectoryW(folder);
    free(logger);
    FreeLibrary(library);
    printf("%s\n", failures == 0 ? "C host: all checks passed" : "C host: checks failed");
    return failures == 0 ? 0 : 1;
}
