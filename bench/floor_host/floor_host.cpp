// The floor of installer-host: one request's bare calls in a process of its own, with the
// same arguments and exit codes and nothing printed.
//   bench-floor-host.exe install|repair|uninstall <folder>
#include "bare.h"

#include <cwchar>
#include <string>

namespace {
constexpr const wchar_t* kSourceFolder = L"\\Install\\";
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return ERROR_BAD_ARGUMENTS;
    const std::wstring folder = argv[2];
    const std::wstring source = folder + kSourceFolder + kAddinDll64;
    const std::wstring deployed = folder + L"\\" + kAddinDll64;
    if (std::wcscmp(argv[1], L"install") == 0) return static_cast<int>(bare::Install(source, deployed));
    if (std::wcscmp(argv[1], L"repair") == 0) return static_cast<int>(bare::Repair(source, deployed));
    if (std::wcscmp(argv[1], L"uninstall") == 0) return static_cast<int>(bare::Uninstall(deployed));
    return ERROR_BAD_ARGUMENTS;
}
