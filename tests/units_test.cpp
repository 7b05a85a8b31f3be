// What a request through the DLL cannot reach or pin down: pure logic at its edges, the
// Win32 behaviours under Wine that the library relies on, the installer object's guards.
#include "installer/outlook_plugin_installer_impl.h"
#include "machine.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "state/installer_config_file.h"
#include "sys/file_system.h"
#include "sys/ini_file.h"
#include "sys/registry.h"
#include "sys/sessions.h"
#include "sys/version_info.h"
#include "test_profile.h"

#include <new>

namespace {

TEST(PureLogic, PathEncodingDecodesWhatItEncodesAndReadsAnyTextSafely) {
    for (const std::wstring path : {L"", L"C:\\Program Files\\App", L"\\\\server\\share\\\u0410\U0001F4E6"})
        EXPECT_EQ(DecodePath(EncodePath(path)), path);
    EXPECT_EQ(EncodePath(L"AB"), L"116,7,");  // 'A' ^ '5', 'B' ^ 'E'
    const struct { std::wstring item, path; } cases[] = {
        {L" +116, -65529,", L"AB"},                 // blanks and a sign, as "%d" reads them
        {L"116,7,trailing", L"AB"},                 // text after the last comma is ignored
        {L"x,", std::wstring(1, L'5')},             // no digits: 0, XORed with the key
        {L"65652,", L"A"},                          // numbers keep their low 16 bits
        {std::wstring(100000, L'9') + L",", std::wstring(1, static_cast<wchar_t>(0xFFFF ^ L'5'))},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodePath(c.item), c.path) << c.item.substr(0, 20);
}

TEST(PureLogic, ListsSplitTrimAndPrefixPaths) {
    const struct { std::wstring value, delimiter; std::vector<std::wstring> items; } splits[] = {
        {L" a ,\tb\r\n,, \v c", L",", {L"a", L"b", L"\v c"}},  // only blanks, tabs and line ends go
        {L"a;;b", L";;", {L"a", L"b"}},
        {L" a,b ", L"", {L"a,b"}},                             // no delimiter: one item
    };
    for (const auto& s : splits) {
        std::vector<std::wstring> items;
        sys::IniFile::SplitValue(s.value, s.delimiter, items);
        EXPECT_EQ(items, s.items) << s.value;
    }
    Transcript log;
    TestProfile profile(L"C:\\Agent\\Prefix", log, {});
    const struct { std::wstring path, longPath; } prefixes[] = {
        {L"C:\\a.ini", L"\\\\?\\C:\\a.ini"},
        {L"\\\\server\\share\\a.ini", L"\\\\?\\UNC\\server\\share\\a.ini"},
        {L"", L""},
        {L"\\\\?\\C:\\a.ini", L"\\\\?\\C:\\a.ini"},  // already in long form
    };
    for (const auto& p : prefixes) {
        std::wstring path = p.path;
        EXPECT_EQ(profile.AddLongPathPrefix(path), 0u);
        EXPECT_EQ(path, p.longPath);
    }
    EXPECT_EQ(FindStringNoCase(L"c:\\program files\\office15\\", L"OFFICE15"), 17u);
    EXPECT_EQ(FindStringNoCase(L"\u00e9OFFICE15", L"\u00c9office15"), std::wstring::npos);
}

TEST(Win32, VersionResourcesGiveTheFirstTranslationsFileVersion) {
    const struct { const wchar_t* fixture; HRESULT result; const wchar_t* text; } cases[] = {
        {L"v2\\tolvane64.dll", S_OK, L"1.0.0.2"},
        {L"v1\\tolvane.dll", S_OK, L"1.0.0.1"},  // a 32-bit DLL read from 64-bit code
        {L"v1\\missing.dll", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"untouched"},
        {L"unversioned\\tolvane64.dll", HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND), L"untouched"},
        {L"version\\two_translations.dll", S_OK, L"3.2.1.0"},  // "0c0a04e4", not the second
        {L"version\\short_translation.dll", E_FAIL, L"untouched"},
    };
    for (const auto& c : cases) {
        std::wstring text = L"untouched";
        EXPECT_EQ(sys::VersionInfo::GetFileVersionString(Fixture(c.fixture), text), c.result) << c.fixture;
        EXPECT_EQ(text, c.text) << c.fixture;
    }
}

// Z: is Wine's view of the Linux root; /dev/shm there is another volume than C:.
TEST(Win32, AFileInUseIsSetAsideBesideItselfWhenTempIsOnAnotherVolume) {
    Machine m;
    CopyFileW(Fixture(L"v1\\tolvane64.dll").c_str(), m.Agent(L"tolvane64.dll").c_str(), FALSE);
    const Undo loaded = KeepLoaded(m.Agent(L"tolvane64.dll"));
    // A folder on the other volume: the volume's own mount point is a link, which takes nothing.
    const std::wstring otherVolume = L"Z:\\dev\\shm\\agent-temp";
    CreateDirectoryW(otherVolume.c_str(), nullptr);
    EXPECT_EQ(sys::FileSystem::DeleteFile(L"tolvane64.dll", m.folder, otherVolume), 0u);
    RemoveDirectoryW(otherVolume.c_str());
    const std::vector<std::wstring> pending = m.PendingDeletions();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].rfind(m.Agent(L"tolvane64.dll_"), 0), 0u);
    loaded();
}

// Wine hands every session the process's own token, and names its user.
TEST(Win32, AnImpersonationRevertsOnceAndNeverAnotherOne) {
    namespace sessions = sys::Sessions;
    sys::UniqueKernelHandle token;
    ASSERT_EQ(sessions::QueryUserToken(1, token), 0u);
    std::wstring domain, user;
    EXPECT_TRUE(sessions::GetSessionUserName(1, domain, user) == 0 && !domain.empty() && !user.empty());
    sessions::Impersonation later;
    {
        sessions::Impersonation first;
        ASSERT_EQ(sessions::Impersonate(token.get(), first), 0u);
        EXPECT_EQ(first.Revert(), 0u);
        EXPECT_FALSE(sessions::IsThreadImpersonating());
        ASSERT_EQ(sessions::Impersonate(token.get(), later), 0u);
    }
    EXPECT_TRUE(sessions::IsThreadImpersonating());
    EXPECT_EQ(later.Revert(), 0u);
    EXPECT_FALSE(sessions::IsThreadImpersonating());
}

TEST(InstallerObject, GuardsItsRequests) {
    const Library& library = TheLibrary();
    Transcript log;
    PluginInstaller* installer = library.create();
    EXPECT_EQ(installer->Install(), 5u);  // before any Initialize
    EXPECT_EQ(installer->Initialize(L"C:\\Agent", nullptr), 5u);
    EXPECT_EQ(installer->Initialize(L"", &log), 5u);
    EXPECT_TRUE(log.lines.empty());
    // One object serves every request in turn, on the folder last given; a null folder
    // changes nothing, an empty one leaves the object refusing requests.
    Machine m;
    EXPECT_EQ(installer->Initialize(L"C:\\Elsewhere", &log), 0u);
    EXPECT_EQ(installer->Initialize(m.folder.c_str(), &log), 0u);
    EXPECT_EQ(installer->Initialize(nullptr, &log), 5u);
    EXPECT_EQ(installer->Install(), 0u);
    EXPECT_EQ(installer->Repair(), 6u);
    EXPECT_EQ(installer->Uninstall(), 0u);
    EXPECT_EQ(m.NothingLeft(), "");
    EXPECT_EQ(installer->Initialize(L"", &log), 5u);
    EXPECT_EQ(installer->Uninstall(), 5u);
    library.destroy(installer);
    library.destroy(nullptr);
}

}  // namespace
