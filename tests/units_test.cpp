// What a request through the DLL cannot reach or pin down: pure logic at its edges, guards
// no request reaches, and the installer object's guards.
#include "machine.h"
#include "state/installer_config_file.h"
#include "sys/registry.h"
#include "sys/version_info.h"
#include "test_profile.h"

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

TEST(PureLogic, LongPathPrefixesAreAddedOnce) {
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
}

// A Translation value shorter than one language and code page pair is read within its bounds.
TEST(Guards, AShortTranslationGivesNoFileVersion) {
    std::wstring text = L"untouched";
    EXPECT_EQ(sys::VersionInfo::GetFileVersionString(Fixture(L"version\\short_translation.dll"), text), E_FAIL);
    EXPECT_EQ(text, L"untouched");
}

// An empty path would name the root itself, and everything under it would go.
TEST(Guards, TheRegistryRefusesToRemoveARoot) {
    EXPECT_EQ(sys::Registry::RemoveKey(HKEY_LOCAL_MACHINE, L"", 0), static_cast<DWORD>(ERROR_INVALID_DATA));
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
