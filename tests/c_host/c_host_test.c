/* A host in plain C that uses the library exactly as an MSVC-built host does: it walks
 * the virtual tables by slot number, and its logger aborts if the library calls any slot
 * but slot 4. Exit code 0 means every check passed. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

typedef void* (*DestructorSlot)(void* self, unsigned int flags);
typedef unsigned int (*InitializeSlot)(void* self, const wchar_t* folder, void* logger);
typedef unsigned int (*RequestSlot)(void* self);

static int failures = 0, lines = 0;
#define CHECK(condition) Check((condition), __LINE__, #condition)
static void Check(int passed, int line, const char* condition) {
    if (passed) return;
    fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    ++failures;
}

static void HostOwnedSlot(void* self) {
    (void)self;
    fputs("the library called a host-owned logger slot\n", stderr);
    abort();
}
static void Log(void* self, int level, const wchar_t* message) {
    (void)self;
    (void)level;
    (void)message;
    ++lines;
}
static void* loggerVtable[5] = {(void*)HostOwnedSlot, (void*)HostOwnedSlot, (void*)HostOwnedSlot,
                                (void*)HostOwnedSlot, (void*)Log};
static struct { void** vtable; } logger = {loggerVtable};

static void** Vtable(void* object) { return *(void***)object; }

int main(void) {
    wchar_t path[MAX_PATH], folder[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    while (length > 0 && path[length - 1] != L'\\') --length;
    wcscpy(path + length, L"OutlookPluginInstaller.dll");
    HMODULE library = LoadLibraryW(path);
    void* (*create)(void) = (void* (*)(void))(void*)GetProcAddress(library, "CreatePluginInstaller");
    void (*destroy)(void*) = (void (*)(void*))(void*)GetProcAddress(library, "DeletePluginInstaller");
    if (!create || !destroy) {
        fprintf(stderr, "cannot use the library: %lu\n", GetLastError());
        return 1;
    }
    GetTempPathW(MAX_PATH, folder);
    wcscat(folder, L"c-host-agent");
    CreateDirectoryW(folder, NULL);

    void* installer = create();
    CHECK(((InitializeSlot)Vtable(installer)[1])(installer, NULL, &logger) == 5 && lines == 0);
    CHECK(((InitializeSlot)Vtable(installer)[1])(installer, folder, &logger) == 0);
    /* Install and Repair find no add-in files in Install (4), Uninstall has nothing to do. */
    const unsigned int expected[] = {4, 4, 0};
    for (int slot = 2; slot <= 4; ++slot) {
        const int before = lines;
        CHECK(((RequestSlot)Vtable(installer)[slot])(installer) == expected[slot - 2] && lines > before);
    }
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
