// Reference host: loads OutlookPluginInstaller.dll the way the agent does and runs one
// request on a folder, printing every log line. Support staff use it to replay a run, and
// its status command to see why the add-in does not load without changing anything.
#include "build_commit.h"
#include "status.h"
#include "status_output.h"
#include "version.h"

#include <windows.h>

#include <OutlookPluginInstaller.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr const wchar_t* kUsage =
    L"Usage: installer-host.exe install|repair|uninstall <folder> [--dll <path>]\n"
    L"       installer-host.exe status <folder> [--json] [--dll <path>]\n"
    L"       installer-host.exe --version\n"
    L"\n"
    L"Loads OutlookPluginInstaller.dll (by default from this program's folder), calls\n"
    L"Initialize with <folder> (its \"Install\" subfolder holds tolvane.dll and\n"
    L"tolvane64.dll), then the request, and prints every log line as\n"
    L"  [level] text\n"
    L"Levels: 0 trace, 1 folder not deleted, 3 information, 5 error.\n"
    L"The exit code is the request's result: 0 success, 1 a step failed, 2 Outlook not\n"
    L"installed, 3 add-in disabled by Outlook, 4 add-in files missing, 5 bad argument,\n"
    L"6 nothing to repair; other values are Windows error codes.\n"
    L"\n"
    L"status reads what the add-in needs on this machine for <folder> and changes nothing.\n"
    L"It prints every fact, each problem with the request that fixes it (or why none\n"
    L"does) and a verdict; --json prints the same as one JSON document. It names the\n"
    L"FileVersion of the DLL (by default the one in this program's folder). Exit code: 0\n"
    L"healthy, 1 something to fix, 2 Outlook not installed.\n";

void PrintBytes(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void PrintUtf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    PrintBytes(bytes);
}

int Status(const wchar_t* folder, const std::wstring& dllPath, bool json) {
    const status::Report report = status::Diagnose(folder, dllPath);
    if (json) PrintBytes(status::ReportJson(report).dump(2) + "\n");
    else PrintUtf8(status::ReportText(report));
    return report.exitCode;
}

class ConsoleLogger final : public PluginInstallerLogger {
public:
    void HostSlot0() override {}
    void HostSlot1() override {}
    void HostSlot2() override {}
    void HostSlot3() override {}
    void Log(int level, const wchar_t* message) override {
        PrintUtf8(L"[" + std::to_wstring(level) + L"] " + message + L"\n");
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--version") == 0) {
        PrintUtf8(L"installer-host " INSTALLER_VERSION_TEXT L", commit " INSTALLER_BUILD_COMMIT L"\n");
        return 0;
    }
    if (argc < 3 || std::wcscmp(argv[1], L"--help") == 0) {
        PrintUtf8(kUsage);
        return argc >= 2 && std::wcscmp(argv[1], L"--help") == 0 ? 0 : ERROR_BAD_ARGUMENTS;
    }
    const std::wstring request = argv[1];
    const wchar_t* folder = argv[2];
    std::wstring dllPath = status::DllBesideProgram();
    if (request == L"status") {
        bool json = false;
        for (int i = 3; i < argc; ++i) {
            if (std::wcscmp(argv[i], L"--json") == 0) {
                json = true;
            } else if (std::wcscmp(argv[i], L"--dll") == 0 && i + 1 < argc) {
                dllPath = argv[++i];
            } else {
                PrintUtf8(kUsage);
                return ERROR_BAD_ARGUMENTS;
            }
        }
        return Status(folder, dllPath, json);
    }
    if (argc == 5 && std::wcscmp(argv[3], L"--dll") == 0) dllPath = argv[4];
    if (request != L"install" && request != L"repair" && request != L"uninstall") {
        PrintUtf8(kUsage);
        return ERROR_BAD_ARGUMENTS;
    }

    HMODULE library = LoadLibraryW(dllPath.c_str());
    if (!library) {
        const DWORD error = GetLastError();
        PrintUtf8(L"cannot load " + dllPath + L": error " + std::to_wstring(error) + L"\n");
        return static_cast<int>(error);
    }
    using CreateFunction = PluginInstaller* (*)();
    using DeleteFunction = void (*)(PluginInstaller*);
    auto create = reinterpret_cast<CreateFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "CreatePluginInstaller")));
    auto destroy = reinterpret_cast<DeleteFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DeletePluginInstaller")));
    if (!create || !destroy) {
        PrintUtf8(L"the library does not export CreatePluginInstaller and DeletePluginInstaller\n");
        FreeLibrary(library);
        return ERROR_PROC_NOT_FOUND;
    }

    ConsoleLogger logger;
    PluginInstaller* installer = create();
    unsigned int result = ERROR_NOT_ENOUGH_MEMORY;
    if (installer) {
        result = installer->Initialize(folder, &logger);
        if (result == 0) {
            if (request == L"install") result = installer->Install();
            else if (request == L"repair") result = installer->Repair();
            else result = installer->Uninstall();
        }
        destroy(installer);
    }
    PrintUtf8(L"result " + std::to_wstring(result) + L"\n");
    FreeLibrary(library);
    return static_cast<int>(result);
}
