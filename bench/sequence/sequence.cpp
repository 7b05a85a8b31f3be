// Requests one after another in a process of their own, on its main thread, which holds no
// apartment, as a host without COM makes them: through the library (loaded first with
// LoadLibraryW, which is timed) or as the floor's bare calls. With library-mta another
// thread of the process keeps the multithreaded apartment for the process's life, as a host
// that uses COM elsewhere does; the requesting thread still joins none itself.
//   bench-sequence.exe library|library-mta|floor install|repair|uninstall <folder> <count> <figures file>
// The figures file is written as the run goes, so that a run cut short tells how far it got:
//   load <seconds>              library only
//   request <seconds> <result>  one line per request
#include "bare.h"
#include "setup.h"
#include "report.h"

#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

namespace {

constexpr const wchar_t* kSourceFolder = L"\\Install\\";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueStdioFile = std::unique_ptr<FILE, FileCloser>;

bool ParseRequest(const wchar_t* text, Request& request) {
    if (std::wcscmp(text, L"install") == 0) request = Request::kInstall;
    else if (std::wcscmp(text, L"repair") == 0) request = Request::kRepair;
    else if (std::wcscmp(text, L"uninstall") == 0) request = Request::kUninstall;
    else return false;
    return true;
}

// Joins the multithreaded apartment and stays in it until the process ends; ends at once
// when it cannot join.
DWORD WINAPI HoldApartment(void* joined) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    SetEvent(joined);
    Sleep(INFINITE);
    return 0;
}

bool StartApartmentHolder() {
    const sys::UniqueKernelHandle joined(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!joined) return false;
    const sys::UniqueKernelHandle holder(CreateThread(nullptr, 0, HoldApartment, joined.get(), 0, nullptr));
    if (!holder) return false;
    const HANDLE either[] = {joined.get(), holder.get()};
    return WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
}

DWORD RunFloor(Request request, const std::wstring& folder) {
    const std::wstring source = folder + kSourceFolder + kAddinDll64;
    const std::wstring deployed = Join(folder, kAddinDll64);
    switch (request) {
        case Request::kInstall: return bare::Install(source, deployed);
        case Request::kRepair: return bare::Repair(source, deployed);
        case Request::kUninstall: return bare::Uninstall(deployed);
    }
    return ERROR_BAD_ARGUMENTS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Request request;
    if (argc != 6 || !ParseRequest(argv[2], request)) return ERROR_BAD_ARGUMENTS;
    const bool heldApartment = std::wcscmp(argv[1], L"library-mta") == 0;
    const bool library = heldApartment || std::wcscmp(argv[1], L"library") == 0;
    const std::wstring folder = argv[3];
    const int count = _wtoi(argv[4]);
    const UniqueStdioFile figures(_wfopen(argv[5], L"w"));
    if (!figures) return ERROR_OPEN_FAILED;

    if (heldApartment && !StartApartmentHolder()) return ERROR_INVALID_FUNCTION;
    const InstallerLibrary installer;
    if (library) {
        bool loaded = false;  // the first look loads the library
        const double load = SecondsOf([&] { loaded = installer.loaded(); });
        if (!loaded) return ERROR_MOD_NOT_FOUND;
        std::fprintf(figures.get(), "load %.9f\n", load);
        std::fflush(figures.get());
    }
    CountingLogger logger;
    for (int i = 0; i < count; ++i) {
        DWORD result = 0;
        const double seconds = SecondsOf([&] {
            result = library ? installer.Run(request, folder, logger) : RunFloor(request, folder);
        });
        std::fprintf(figures.get(), "request %.9f %lu\n", seconds, result);
        std::fflush(figures.get());
    }
    return 0;
}
