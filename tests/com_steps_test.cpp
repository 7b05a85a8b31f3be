// The engine's COM steps: which DLL each registers and how, their exact lines and codes.
#include "addin_class.h"
#include "broker_registration.h"
#include "outlook/outlook_plugin_installation_manager.h"
#include "recording_logger.h"
#include "scoped_temp_dir.h"
#include "sys/com_registration.h"
#include "test_profile.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Lines = std::vector<LogEntry>;

constexpr DWORD kBrokerExitWaitMs = 10000;
constexpr const wchar_t* kTampered = L"VerifyCOMRegistration: COM registration tampered, need repair";

class ComSteps : public ::testing::Test {
protected:
    void SetUp() override {
        engine.Initialize(dir.path(), &logger);
        engine.comRequired = true;
        engine.clsid = kTestAddinClsid;
    }

    ScopedAddinClass addinClass;
    ScopedTempDir dir;
    RecordingLogger logger;
    TestProfile engine;
};

// The same with the broker registered; no broker process may outlive a test.
class ComStepsWithBroker : public ComSteps {
protected:
    void SetUp() override {
        ComSteps::SetUp();
        ASSERT_EQ(broker.result(), 0u);
    }
    void TearDown() override { EXPECT_TRUE(WaitUntilNoBrokerProcess(kBrokerExitWaitMs)); }

    ScopedBrokerRegistration broker;
};

TEST_F(ComSteps, RegistersThe64BitFileInProcess) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane64.dll", dir.path(), L"tolvane64.dll");
    engine.comFile = L"tolvane64.dll";
    engine.is64Bit = true;

    EXPECT_EQ(engine.RegisterCOMServer(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"RegisterCOMServer Start"},
                                     {0, L"Register COM DLL " + dll},
                                     {0, L"RegisterCOMServer End"}}));
    EXPECT_EQ(AddinServerValue(KEY_WOW64_64KEY), dll);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_32KEY));
}

TEST_F(ComSteps, RegistrationFailuresEndWithTheirCode) {
    const struct {
        const wchar_t* fixture;  // nullptr: no file deployed
        DWORD code;
    } cases[] = {
        {nullptr, 126},                    // the DLL is not there
        {L"noexport\\tolvane64.dll", 127},  // no DllRegisterServer
        {L"denied\\tolvane64.dll", 5},      // it returns E_ACCESSDENIED
    };
    engine.comFile = L"tolvane64.dll";
    engine.is64Bit = true;
    const std::wstring dll = dir / engine.comFile;
    for (const auto& c : cases) {
        DeleteFileW(dll.c_str());
        if (c.fixture) CopyAddin(c.fixture, dir.path(), engine.comFile);
        logger.Clear();
        EXPECT_EQ(engine.RegisterCOMServer(), c.code);
        EXPECT_EQ(logger.entries,
                  (Lines{{0, L"RegisterCOMServer Start"},
                         {0, L"Register COM DLL " + dll},
                         {5, L"RegisterCOMServer: Registeration failure Error=" + std::to_wstring(c.code)}}));
    }
}

TEST_F(ComSteps, FileNameFailureStopsBeforeRegistering) {
    engine.comFileResult = ERROR_INVALID_DATA;
    EXPECT_EQ(engine.RegisterCOMServer(), 13u);
    EXPECT_EQ(logger.entries,
              (Lines{{0, L"RegisterCOMServer Start"},
                     {5, L"RegisterCOMServer: GetFileNameForCOMRegistration failure  Error=13"}}));
}

TEST_F(ComStepsWithBroker, RegistersThe32BitFileThroughTheBroker) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    engine.comFile = L"tolvane.dll";

    EXPECT_EQ(engine.RegisterCOMServer(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"RegisterCOMServer Start"},
                                     {0, L"Register COM DLL " + dll},
                                     {0, L"RegisterCOMServer End"}}));
    EXPECT_EQ(AddinServerValue(KEY_WOW64_32KEY), dll);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
}

// The Outlook profile unregisters both files whatever was deployed: a missing one is
// already unregistered.
TEST_F(ComStepsWithBroker, OnlyThe32BitFileDeployedIsNoFailure) {
    OutlookPluginInstallationManager outlook;
    outlook.Initialize(dir.path(), &logger);
    const std::wstring dll32 = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    ASSERT_EQ(sys::ComRegistration::RegisterComDllByBroker(dll32), 0u);

    EXPECT_EQ(outlook.UnRegisterCOMServer(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"UnRegisterCOMServer Start"},
                                     {0, L"UnRegister COM DLL " + dll32},
                                     {0, L"UnRegister COM DLL " + (dir / L"tolvane64.dll")},
                                     {3, L"CleanUp: UnRegisterCOMServer failure Error=126"},
                                     {0, L"UnRegisterCOMServer End"}}));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_32KEY));
}

// Without a broker the 32-bit file fails (340); the 64-bit file is still unregistered and,
// being the last, decides the result.
TEST_F(ComSteps, OnlyTheLastFileDecidesTheResult) {
    ASSERT_EQ(UnregisterBroker(), 0u);
    engine.allComFiles = {{L"tolvane.dll", false}, {L"tolvane64.dll", true}};
    const std::wstring dll32 = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    const std::wstring dll64 = CopyAddin(L"v1\\tolvane64.dll", dir.path(), L"tolvane64.dll");

    // The last succeeds: the earlier failure is not reported.
    ASSERT_EQ(sys::ComRegistration::RegisterComDll(dll64), 0u);
    EXPECT_EQ(engine.UnRegisterCOMServer(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"UnRegisterCOMServer Start"},
                                     {0, L"UnRegister COM DLL " + dll32},
                                     {0, L"UnRegister COM DLL " + dll64},
                                     {0, L"UnRegisterCOMServer End"}}));
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));

    // Both fail: the last code is the result. A DLL held open without sharing cannot be loaded.
    logger.Clear();
    HANDLE held = CreateFileW(dll64.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(engine.UnRegisterCOMServer(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    EXPECT_EQ(logger.entries.back(), (LogEntry{5, L"UnRegisterCOMServer: UnRegister failure Error=32"}));
}

// What no DLL can have registered is not asked about or counts as unregistered: a file that
// is not there, and one the loader refuses.
TEST_F(ComSteps, FilesThatCannotHaveRegisteredCountAsUnregistered) {
    ASSERT_EQ(UnregisterBroker(), 0u);  // would fail with 340 if it were asked
    engine.allComFiles = {{L"tolvane.dll", false}, {L"tolvane64.dll", true}};
    const std::wstring dll32 = dir / L"tolvane.dll";
    const std::wstring dll64 = dir / L"tolvane64.dll";
    WriteTextFile(dll64, "not a DLL");
    EXPECT_EQ(engine.UnRegisterCOMServer(), 0u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"UnRegisterCOMServer Start"},
                                     {0, L"UnRegister COM DLL " + dll32},
                                     {3, L"CleanUp: UnRegisterCOMServer failure Error=126"},
                                     {0, L"UnRegister COM DLL " + dll64},
                                     {3, L"CleanUp: UnRegisterCOMServer failure Error=193"},
                                     {0, L"UnRegisterCOMServer End"}}));
}

TEST_F(ComSteps, EmptyFileListKeepsTheSlotResult) {
    engine.allComFilesResult = ERROR_INVALID_DATA;
    EXPECT_EQ(engine.UnRegisterCOMServer(), 13u);
    EXPECT_EQ(logger.entries, (Lines{{0, L"UnRegisterCOMServer Start"},
                                     {5, L"UnRegisterCOMServer: UnRegister failure Error=13"}}));
}

TEST_F(ComSteps, VerificationInProcessFindsATamperedRegistration) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane64.dll", dir.path(), L"tolvane64.dll");
    engine.is64Bit = true;
    ASSERT_EQ(sys::ComRegistration::RegisterComDll(dll), 0u);
    bool registered = false;
    EXPECT_EQ(engine.VerifyCOMRegistration(registered), 0u);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(logger.entries.empty());

    ASSERT_EQ(sys::ComRegistration::UnregisterComDll(dll), 0u);  // behind the engine's back
    EXPECT_EQ(engine.VerifyCOMRegistration(registered), 0u);
    EXPECT_FALSE(registered);
    EXPECT_EQ(logger.entries, (Lines{{0, kTampered}}));
}

TEST_F(ComStepsWithBroker, VerificationThroughTheBrokerFindsATamperedRegistration) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    ASSERT_EQ(sys::ComRegistration::RegisterComDllByBroker(dll), 0u);
    bool registered = false;
    EXPECT_EQ(engine.VerifyCOMRegistration(registered), 0u);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(logger.entries.empty());

    ASSERT_EQ(sys::ComRegistration::UnregisterComDllByBroker(dll), 0u);
    EXPECT_EQ(engine.VerifyCOMRegistration(registered), 0u);
    EXPECT_FALSE(registered);
    EXPECT_EQ(logger.entries, (Lines{{0, kTampered}}));
}

TEST_F(ComSteps, VerificationFailuresAreLoggedWithTheirCode) {
    ASSERT_EQ(UnregisterBroker(), 0u);
    const struct {
        DWORD clsidResult;
        const wchar_t* clsid;
        bool is64Bit;
        DWORD code;
        const wchar_t* line;
    } cases[] = {
        {ERROR_INVALID_DATA, L"", true, 13, L"VerifyCOMRegistration: GetCLSID failure Error=13"},
        {0, L"", true, 160, L"VerifyCOMRegistration: VerifyRegistration failure Error=160"},
        {0, L"not a class id", true, 499,  // CO_E_CLASSSTRING
         L"VerifyCOMRegistration: VerifyRegistration failure Error=499"},
        {0, kTestAddinClsid, false, 340,  // no broker registered
         L"VerifyCOMRegistration: VerifyRegistration failure Error=340"},
    };
    for (const auto& c : cases) {
        engine.clsidResult = c.clsidResult;
        engine.clsid = c.clsid;
        engine.is64Bit = c.is64Bit;
        logger.Clear();
        bool registered = true;
        EXPECT_EQ(engine.VerifyCOMRegistration(registered), c.code) << c.line;
        EXPECT_EQ(logger.entries, (Lines{{5, c.line}}));
        // Without a class to ask about, the flag is not touched.
        if (c.clsidResult != 0 || c.clsid[0] == L'\0') {
            EXPECT_TRUE(registered) << c.line;
        }
    }
}

}  // namespace
