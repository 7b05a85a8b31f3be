// What the Outlook profile answers the engine, before and after a 64-bit find.
#include "outlook/outlook_plugin_installation_manager.h"
#include "recording_logger.h"

#include <gtest/gtest.h>

namespace {

class OutlookProbe : public OutlookPluginInstallationManager {
public:
    using OutlookPluginInstallationManager::is64BitOutlook;
};

std::vector<RegistryValueEntry> ExpectedValues(const wchar_t* fileName) {
    return {{L"FileName", REG_SZ, fileName},
            {L"FriendlyName", REG_SZ, L"Outlook2K3 Addin"},
            {L"Description", REG_SZ, L"ATLCOM Outlook Addin"},
            {L"CommandLineSafe", REG_DWORD, L"00000000"},
            {L"LoadBehavior", REG_DWORD, L"00000003"}};
}

void ExpectAddinKey(const RegistryKeyValueData& key, const wchar_t* fileName, DWORD view) {
    EXPECT_EQ(key.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(key.subKey, L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\Tolvane.OutlookAddin.1");
    EXPECT_EQ(key.registryView, view);
    const auto expected = ExpectedValues(fileName);
    ASSERT_EQ(key.regValueList.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(key.regValueList[i].Name, expected[i].Name);
        EXPECT_EQ(key.regValueList[i].ValueType, expected[i].ValueType);
        EXPECT_EQ(key.regValueList[i].Value, expected[i].Value);
    }
}

class OutlookProfile : public ::testing::Test {
protected:
    void SetUp() override { profile.Initialize(L"C:\\Agent", &logger); }
    RecordingLogger logger;
    OutlookProbe profile;
};

TEST_F(OutlookProfile, BitnessDependentAnswersFollowThe64BitFlag) {
    for (bool is64 : {false, true}) {
        profile.is64BitOutlook = is64;
        const wchar_t* file = is64 ? L"tolvane64.dll" : L"tolvane.dll";
        FileCopyMap files;
        EXPECT_EQ(profile.GetSourceFileWithDestinationPaths({L"C:\\Office"}, files), 0u);
        EXPECT_EQ(files, (FileCopyMap{{file, {L"C:\\Agent"}}}));
        std::wstring name = L"previous";
        EXPECT_EQ(profile.GetFileNameForCOMRegistration(name), 0u);
        EXPECT_EQ(name, file);
        EXPECT_EQ(profile.Is64BitApplication(), is64);
        std::vector<RegistryKeyValueData> keys;
        EXPECT_EQ(profile.GetRegistryKeyValueData(keys), 0u);
        ASSERT_EQ(keys.size(), 1u);
        ExpectAddinKey(keys[0], file, is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    }
}

TEST_F(OutlookProfile, RemovalAndVerificationListsCoverBothBitnesses) {
    std::vector<std::wstring> sources;
    EXPECT_EQ(profile.GetSourceFilesForVerification(sources), 0u);
    EXPECT_EQ(sources, (std::vector<std::wstring>{L"tolvane.dll", L"tolvane64.dll"}));

    FileCopyMap all;
    EXPECT_EQ(profile.GetAllSourceFileWithDestinationPaths({}, all), 0u);
    EXPECT_EQ(all, (FileCopyMap{{L"tolvane.dll", {L"C:\\Agent"}}, {L"tolvane64.dll", {L"C:\\Agent"}}}));

    COMServerFileMap com;
    EXPECT_EQ(profile.GetAllFileNamesForCOMRegistration(com), 0u);
    EXPECT_EQ(com, (COMServerFileMap{{L"tolvane.dll", false}, {L"tolvane64.dll", true}}));
    EXPECT_EQ(com.begin()->first, L"tolvane.dll");  // unregistered first

    std::vector<RegistryKeyValueData> keys;
    EXPECT_EQ(profile.GetAllRegistryKeyValueData(keys), 0u);
    ASSERT_EQ(keys.size(), 2u);
    ExpectAddinKey(keys[0], L"tolvane.dll", KEY_WOW64_32KEY);
    ExpectAddinKey(keys[1], L"tolvane64.dll", KEY_WOW64_64KEY);
}

TEST_F(OutlookProfile, ConstantAnswers) {
    std::wstring clsid;
    EXPECT_EQ(profile.GetCLSID(clsid), 0u);
    EXPECT_EQ(clsid, L"{6A1D2E90-8B3C-4F57-9E21-C05B7D3A4F18}");
    EXPECT_TRUE(profile.IsCOMRegistrationRequired());
    EXPECT_FALSE(profile.IsINIEntryRequired());
    EXPECT_TRUE(profile.IsRegistrySettingRequired());
    EXPECT_FALSE(profile.IsApplicationListRequiredForCleanUp());
    EXPECT_FALSE(profile.is64BitOutlook);  // until detection finds a 64-bit Outlook

    std::wstring section = L"untouched";
    EXPECT_EQ(profile.GetInstallerConfigSectionName(section), 50u);
    EXPECT_EQ(section, L"untouched");

    INIFileEntryInfo entry;
    entry.key = L"untouched";
    EXPECT_EQ(profile.GetINIFileEntryInfo(entry), 0u);
    EXPECT_EQ(entry.key, L"untouched");
    EXPECT_TRUE(entry.iniFilePaths.empty());
}

}  // namespace
