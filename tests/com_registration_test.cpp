// COM registration of the add-in DLLs: in process for the 64-bit DLL, through the
// out-of-process registration broker for the 32-bit DLL, against Wine's real COM.
#include "sys/com_registration.h"

#include "addin_class.h"
#include "broker_registration.h"
#include "scoped_temp_dir.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

namespace {

using namespace sys::ComRegistration;

constexpr DWORD kBrokerExitWaitMs = 10000;
constexpr const wchar_t* kUnregisteredClsid = L"{0B7E55C1-94A2-4E1D-8C3F-6D2A17B9E004}";
constexpr const wchar_t* kNotAClsid = L"not a class id";
constexpr DWORD kNotAClsidCode = 0x01F3;  // CO_E_CLASSSTRING

TEST(ComResultCodes, FailuresKeepTheirLowWordAndSuccessesGiveZero) {
    const struct {
        HRESULT result;
        DWORD code;
    } cases[] = {
        {E_ACCESSDENIED, 5},
        {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), 126},
        {REGDB_E_CLASSNOTREG, 340},
        {TYPE_E_REGISTRYACCESS, 32796},
        {RPC_E_CHANGED_MODE, 262},
        {E_OUTOFMEMORY, 14},
        {S_OK, 0},
        {S_FALSE, 0},
        {0x00040000, 0},  // any other success
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeFromHResult(c.result), c.code) << std::hex << c.result;
}

class InProcessRegistration : public ::testing::Test {
protected:
    ScopedAddinClass addinClass;
    ScopedTempDir dir;
};

TEST_F(InProcessRegistration, RegistersVerifiesAndUnregisters) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane64.dll", dir.path(), L"tolvane64.dll");

    ASSERT_EQ(RegisterComDll(dll), 0u);
    EXPECT_EQ(AddinServerValue(KEY_WOW64_64KEY), dll);
    bool registered = false;
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, true), 0u);
    EXPECT_TRUE(registered);

    EXPECT_EQ(UnregisterComDll(dll), 0u);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
    registered = true;
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, true), 0u);
    EXPECT_FALSE(registered);
}

TEST_F(InProcessRegistration, MissingFileGives126) {
    const std::wstring missing = dir / L"tolvane64.dll";
    EXPECT_EQ(RegisterComDll(missing), 126u);
    EXPECT_EQ(UnregisterComDll(missing), 126u);
}

TEST_F(InProcessRegistration, MissingExportGives127AndUnloadsTheDll) {
    const std::wstring dll = CopyAddin(L"noexport\\tolvane64.dll", dir.path(), L"tolvane64.dll");
    EXPECT_EQ(RegisterComDll(dll), 127u);
    EXPECT_EQ(GetModuleHandleW(dll.c_str()), nullptr);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));
}

TEST_F(InProcessRegistration, ResultOfTheExportIsMapped) {
    const struct {
        const wchar_t* variant;
        DWORD code;
    } cases[] = {
        {L"sfalse", 0},  // S_FALSE is a success
        {L"denied", 5},  // E_ACCESSDENIED
    };
    for (const auto& c : cases) {
        const std::wstring dll = CopyAddin(std::wstring(c.variant) + L"\\tolvane64.dll", dir.path(),
                                           std::wstring(c.variant) + L".dll");
        EXPECT_EQ(RegisterComDll(dll), c.code) << c.variant;
        EXPECT_EQ(GetModuleHandleW(dll.c_str()), nullptr) << c.variant;
    }
}

TEST(VerifyRegistrationInProcess, TextThatIsNotAClsidGivesTheParseFailure) {
    bool registered = true;
    EXPECT_EQ(VerifyRegistration(kNotAClsid, registered, true), kNotAClsidCode);
    EXPECT_FALSE(registered);
}

TEST(VerifyRegistrationInProcess, WellFormedUnregisteredClsidIsNotRegistered) {
    bool registered = true;
    EXPECT_EQ(VerifyRegistration(kUnregisteredClsid, registered, true), 0u);
    EXPECT_FALSE(registered);
}

// Joining the apartment a thread is already in counts, and is undone once, as it was done.
TEST(VerifyRegistrationInProcess, ThreadAlreadyInTheMultithreadedApartmentStaysThere) {
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        bool registered = true;
        EXPECT_EQ(VerifyRegistration(kUnregisteredClsid, registered, true), 0u);
        EXPECT_FALSE(registered);
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
        EXPECT_EQ(type, APTTYPE_MTA);
        CoUninitialize();
    }).join();
}

// Every test leaves no broker process behind: each one exits after its client let go.
class BrokerRegistration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(broker.result(), 0u); }
    void TearDown() override { EXPECT_TRUE(WaitUntilNoBrokerProcess(kBrokerExitWaitMs)); }

    ScopedBrokerRegistration broker;
    ScopedAddinClass addinClass;
    ScopedTempDir dir;
};

TEST_F(BrokerRegistration, RegistersVerifiesAndUnregistersThe32BitFile) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");

    ASSERT_EQ(RegisterComDllByBroker(dll), 0u);
    EXPECT_EQ(AddinServerValue(KEY_WOW64_32KEY), dll);
    EXPECT_EQ(AddinServerValue(KEY_WOW64_32KEY, L"ThreadingModel"), L"Apartment");
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_64KEY));  // only the 32-bit view
    bool registered = false;
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, false), 0u);
    EXPECT_TRUE(registered);
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, true), 0u);
    EXPECT_FALSE(registered);  // no 64-bit server is registered

    EXPECT_EQ(UnregisterComDllByBroker(dll), 0u);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_32KEY));
    registered = true;
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, false), 0u);
    EXPECT_FALSE(registered);
    EXPECT_EQ(UnregisterComDllByBroker(dll), 0u);  // nothing left to remove
}

TEST_F(BrokerRegistration, MissingFileGives126) {
    const std::wstring missing = dir / L"tolvane.dll";
    EXPECT_EQ(RegisterComDllByBroker(missing), 126u);
    EXPECT_FALSE(AddinClassExists(KEY_WOW64_32KEY));
    EXPECT_EQ(UnregisterComDllByBroker(missing), 126u);
}

TEST_F(BrokerRegistration, ClassTextsAreCheckedLikeInProcess) {
    bool registered = true;
    EXPECT_EQ(VerifyRegistration(kNotAClsid, registered, false), kNotAClsidCode);
    EXPECT_FALSE(registered);
    registered = true;
    EXPECT_EQ(VerifyRegistration(kUnregisteredClsid, registered, false), 0u);
    EXPECT_FALSE(registered);
}

// A thread that already runs a single-threaded apartment cannot join the multithreaded
// one: every broker operation and every verification stops there, touching nothing.
TEST_F(BrokerRegistration, SingleThreadedApartmentGives262AndDoesNothing) {
    const std::wstring dll = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    const std::wstring other = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"other.dll");
    ASSERT_EQ(RegisterComDllByBroker(dll), 0u);
    ASSERT_TRUE(WaitUntilNoBrokerProcess(kBrokerExitWaitMs));

    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        bool registered = true;
        EXPECT_EQ(RegisterComDllByBroker(other), 262u);
        EXPECT_EQ(UnregisterComDllByBroker(dll), 262u);
        EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, false), 262u);
        EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, true), 262u);
        EXPECT_EQ(BrokerProcessCount(), 0);
        CoUninitialize();
    }).join();

    EXPECT_EQ(AddinServerValue(KEY_WOW64_32KEY), dll);  // neither replaced nor removed
}

TEST(BrokerNotRegistered, EveryBrokerOperationGivesClassNotRegistered) {
    ASSERT_EQ(UnregisterBroker(), 0u);
    ScopedTempDir dir;
    const std::wstring dll = CopyAddin(L"v1\\tolvane.dll", dir.path(), L"tolvane.dll");
    EXPECT_EQ(RegisterComDllByBroker(dll), 340u);
    EXPECT_EQ(UnregisterComDllByBroker(dll), 340u);
    bool registered = true;
    EXPECT_EQ(VerifyRegistration(kTestAddinClsid, registered, false), 340u);
    EXPECT_FALSE(registered);
    EXPECT_EQ(BrokerProcessCount(), 0);
}

}  // namespace
