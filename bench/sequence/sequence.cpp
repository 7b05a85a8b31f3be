// Requests one after another in a process of their own, on its main thread, which holds no
// apartment, as a host without COM makes them: through the library (loaded first with
// LoadLibraryW, which is timed) or as the floor's bare calls.
//   bench-sequence.exe library|floor install|repair|uninstall <folder> <count> <figures file>
// The figures file is written as the run goes, so that a run cut short tells how far it got:
//   load <seconds>              library only
//   request <seconds> <result>  one line per request
#include "bare.h"
#include "machine.h"
#include "report.h"

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
    const bool library = std::wcscmp(argv[1], L"library") == 0;
    const std::wstring folder = argv[3];
    const int count = _wtoi(argv[4]);
    const UniqueStdioFile figures(_wfopen(argv[5], L"w"));
    if (!figures) return ERROR_OPEN_FAILED;

    std::unique_ptr<InstallerLibrary> installer;
    if (library) {
        const double load = SecondsOf([&] { installer = std::make_unique<InstallerLibrary>(); });
        if (!installer->loaded()) return ERROR_MOD_NOT_FOUND;
        std::fprintf(figures.get(), "load %.9f\n", load);
        std::fflush(figures.get());
    }
    CountingLogger logger;
    for (int i = 0; i < count; ++i) {
        DWORD result = 0;
        const double seconds = SecondsOf([&] {
            result = library ? installer->Run(request, folder, logger) : RunFloor(request, folder);
        });
        std::fprintf(figures.get(), "request %.9f %lu\n", seconds, result);
        std::fflush(figures.get());
    }
    return 0;
}
