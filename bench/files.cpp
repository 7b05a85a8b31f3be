#include "engine/plugin_installation_manager.h"
#include "sections.h"

#include <cwchar>
#include <memory>

namespace {

constexpr const wchar_t* kFolderName = L"Payload";
constexpr const wchar_t* kPayloadFile = L"bench-payload.dll";
constexpr const wchar_t* kTranslation = L"\\VarFileInfo\\Translation";
constexpr const wchar_t* kFileVersionFormat = L"\\StringFileInfo\\%04x%04x\\FileVersion";
constexpr size_t kNameLength = 64;
constexpr double kFlatLimit = 1.5;
// The floor of the version comparison is flat and as costly as the library's; above this
// size it would only lengthen the run.
constexpr size_t kLargestFloorVerify = 1000;

std::wstring PayloadName(size_t index) {
    wchar_t name[kNameLength];
    std::swprintf(name, kNameLength, L"file%05zu.dll", index);
    return name;
}

// A profile that deploys one folder, Payload, from installSourceDir into installDir and
// verifies it by the names of its files; it registers nothing and writes no settings.
class FolderProfile final : public PluginInstallationManager {
public:
    void SetFileCount(size_t count) {
        while (names_.size() < count)
            names_.push_back(std::wstring(kFolderName) + L"\\" + PayloadName(names_.size()));
    }

    DWORD GetSourceFilesForVerification(std::vector<std::wstring>& fileNames) override {
        fileNames.insert(fileNames.end(), names_.begin(), names_.end());
        return ERROR_SUCCESS;
    }
    DWORD GetInstalledApplicationList(ApplicationPathList& applications) override {
        applications.push_back(installDir);
        return ERROR_SUCCESS;
    }
    DWORD GetSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& files) override {
        files[kFolderName] = {installDir};
        return ERROR_SUCCESS;
    }
    DWORD GetAllSourceFileWithDestinationPaths(const ApplicationPathList&, FileCopyMap& files) override {
        files[kFolderName] = {installDir};
        return ERROR_SUCCESS;
    }
    DWORD GetCLSID(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    bool IsCOMRegistrationRequired() override { return false; }
    bool IsINIEntryRequired() override { return false; }
    bool IsRegistrySettingRequired() override { return false; }
    DWORD GetFileNameForCOMRegistration(std::wstring&) override { return ERROR_NOT_SUPPORTED; }
    DWORD GetRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return ERROR_SUCCESS; }
    DWORD GetAllRegistryKeyValueData(std::vector<RegistryKeyValueData>&) override { return ERROR_SUCCESS; }
    DWORD GetINIFileEntryInfo(INIFileEntryInfo&) override { return ERROR_SUCCESS; }
    DWORD EnablePlugin(const ApplicationPathList&, bool, bool& pluginEnabled) override {
        pluginEnabled = true;
        return ERROR_SUCCESS;
    }
    bool IsApplicationListRequiredForCleanUp() override { return false; }
    DWORD GetInstallerConfigSectionName(std::wstring&) override { return ERROR_NOT_SUPPORTED; }

private:
    std::vector<std::wstring> names_;
};

// The floor of the version comparison: read one file's FileVersion, nothing else.
std::wstring BareFileVersion(const std::wstring& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return {};
    const std::unique_ptr<BYTE[]> block(new BYTE[size]);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.get())) return {};
    void* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.get(), kTranslation, &translation, &length) || length < 2 * sizeof(WORD)) return {};
    const WORD* ids = static_cast<const WORD*>(translation);
    wchar_t subBlock[kNameLength];
    std::swprintf(subBlock, kNameLength, kFileVersionFormat, ids[0], ids[1]);
    void* text = nullptr;
    if (!VerQueryValueW(block.get(), subBlock, &text, &length) || !text) return {};
    return static_cast<const wchar_t*>(text);
}

struct FileTimes {
    std::vector<double> copy, verify, compare, remove, bareCopy, bareVerify, bareRemove;
};

}  // namespace

void MeasureFiles(Report& report, const Plan& plan, const std::wstring& root) {
    report.Say("== Files: a profile that deploys one folder of small versioned DLLs");
    const ScratchFolder folder(Join(root, L"files"));
    const std::wstring source = folder / (std::wstring(L"Install\\") + kFolderName);
    const std::wstring deployed = folder / kFolderName;
    CreateDirectoryW((folder / L"Install").c_str(), nullptr);
    CreateDirectoryW(source.c_str(), nullptr);
    CreateDirectoryW((folder / L"temp").c_str(), nullptr);
    const std::wstring payload = Join(ProgramFolder(), kPayloadFile);

    CountingLogger logger;
    FolderProfile profile;
    profile.Initialize(folder.path(), &logger);
    ApplicationPathList applications;
    profile.GetInstalledApplicationList(applications);

    std::vector<const Figure*> copyFigures, verifyFigures, compareFigures, removeFigures;
    size_t created = 0;
    for (const Size& size : plan.files) {
        for (; created < size.count; ++created)
            if (!CopyFileW(payload.c_str(), Join(source, PayloadName(created)).c_str(), FALSE))
                report.Say("WARNING could not create the source files");
        profile.SetFileCount(size.count);

        FileTimes times;
        for (int round = FirstRound(size.warmUp()); round < size.repeats; ++round) {
            const bool timed = IsTimed(round);
            const auto time = [&](std::vector<double>& into, const char* what, auto&& action) {
                DWORD result = 0;
                const double s = SecondsOf([&] { result = action(); });
                Expect(report, what, result, 0);
                if (timed) into.push_back(s);
            };
            bool allPresent = false;
            time(times.copy, "CopyFiles", [&] { return profile.CopyFiles(applications, false); });
            time(times.verify, "VerifyIfFilesExists",
                 [&] { return profile.VerifyIfFilesExists(applications, allPresent); });
            if (!allPresent) report.Say("WARNING VerifyIfFilesExists found a file missing or different");
            time(times.compare, "CopyFiles comparing versions", [&] { return profile.CopyFiles(applications, true); });
            time(times.remove, "DeleteFiles", [&] { return profile.DeleteFiles(applications); });
            if (GetFileAttributesW(deployed.c_str()) != INVALID_FILE_ATTRIBUTES)
                report.Say("WARNING DeleteFiles left the folder");

            time(times.bareCopy, "floor copy", [&]() -> DWORD {
                if (!CreateDirectoryW(deployed.c_str(), nullptr)) return GetLastError();
                for (size_t i = 0; i < size.count; ++i) {
                    const std::wstring name = PayloadName(i);
                    if (!CopyFileW(Join(source, name).c_str(), Join(deployed, name).c_str(), FALSE))
                        return GetLastError();
                }
                return ERROR_SUCCESS;
            });
            if (size.count <= kLargestFloorVerify) time(times.bareVerify, "floor verify", [&]() -> DWORD {
                for (size_t i = 0; i < size.count; ++i) {
                    const std::wstring name = PayloadName(i);
                    if (BareFileVersion(Join(source, name)) != BareFileVersion(Join(deployed, name)))
                        return ERROR_REVISION_MISMATCH;
                }
                return ERROR_SUCCESS;
            });
            time(times.bareRemove, "floor delete", [&]() -> DWORD {
                for (size_t i = 0; i < size.count; ++i)
                    if (!DeleteFileW(Join(deployed, PayloadName(i)).c_str())) return GetLastError();
                return RemoveDirectoryW(deployed.c_str()) ? ERROR_SUCCESS : GetLastError();
            });
        }
        const double n = static_cast<double>(size.count);
        const auto id = [&](const char* what) { return Format("files.%s.%zu-files", what, size.count); };
        copyFigures.push_back(&report.AddMicrosecondsPer(id("CopyFiles"), "file", n, times.copy));
        verifyFigures.push_back(&report.AddMicrosecondsPer(id("VerifyIfFilesExists"), "file", n, times.verify));
        compareFigures.push_back(&report.AddMicrosecondsPer(id("CopyFiles-compare-versions"), "file", n, times.compare,
                                                            "over an identical deployment: nothing copied"));
        removeFigures.push_back(&report.AddMicrosecondsPer(id("DeleteFiles"), "file", n, times.remove));
        report.AddMicrosecondsPer(id("floor-copy"), "file", n, times.bareCopy, "CopyFileW per file");
        if (!times.bareVerify.empty())
            report.AddMicrosecondsPer(id("floor-verify"), "file", n, times.bareVerify,
                                      "FileVersion of source and copy, per file");
        report.AddMicrosecondsPer(id("floor-delete"), "file", n, times.bareRemove, "DeleteFileW per file");
    }
    CheckFlat(report, "CopyFiles per file flat", copyFigures, kFlatLimit);
    CheckFlat(report, "VerifyIfFilesExists per file flat", verifyFigures, kFlatLimit);
    CheckFlat(report, "CopyFiles (compare) per file flat", compareFigures, kFlatLimit);
    CheckFlat(report, "DeleteFiles per file flat", removeFigures, kFlatLimit);
}
