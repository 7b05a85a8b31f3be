// FileVersion texts read from the built fixture DLLs.
#include "scoped_temp_dir.h"
#include "sys/version_info.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using sys::VersionInfo::GetFileVersionString;
using sys::VersionInfo::LoadFileVersionInfo;

constexpr const wchar_t* kUntouched = L"untouched";

struct VersionCase {
    const wchar_t* fixture;
    HRESULT result;
    const wchar_t* text;  // what the caller's string holds afterwards
};

TEST(GetFileVersionString, ReadsTheFirstTranslationOfEveryFixture) {
    const VersionCase cases[] = {
        {L"v1\\tolvane64.dll", S_OK, L"1.0.0.1"},
        {L"v2\\tolvane64.dll", S_OK, L"1.0.0.2"},
        {L"v1\\tolvane.dll", S_OK, L"1.0.0.1"},  // a 32-bit DLL read from 64-bit code
        {L"v2\\tolvane.dll", S_OK, L"1.0.0.2"},
        // Missing file: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
        {L"v1\\missing.dll", static_cast<HRESULT>(0x80070002), kUntouched},
        // No resources at all: ERROR_RESOURCE_DATA_NOT_FOUND.
        {L"version\\no_resource.dll", static_cast<HRESULT>(0x80070714), kUntouched},
        // The FileVersion is in the second translation only, which is never read.
        {L"version\\second_translation.dll", S_OK, kUntouched},
        // Language 0x0C0A, code page 0x04E4: \StringFileInfo\0c0a04e4\FileVersion.
        {L"version\\spanish.dll", S_OK, L"3.2.1.0"},
        // A Translation value of two bytes counts as none.
        {L"version\\short_translation.dll", E_FAIL, kUntouched},
    };
    for (const VersionCase& c : cases) {
        std::wstring text = kUntouched;
        EXPECT_EQ(GetFileVersionString(FixturePath(c.fixture), text), c.result) << c.fixture;
        EXPECT_EQ(text, c.text) << c.fixture;
    }
}

TEST(GetFileVersionString, LeavesAnEmptyStringEmptyWhenTheFirstTableHasNoFileVersion) {
    std::wstring text;
    EXPECT_EQ(GetFileVersionString(FixturePath(L"version\\second_translation.dll"), text), S_OK);
    EXPECT_TRUE(text.empty());
}

TEST(LoadFileVersionInfo, FillsTheBlockOrFailsWithTheWindowsError) {
    const std::wstring path = FixturePath(L"v1\\tolvane64.dll");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    EXPECT_TRUE(LoadFileVersionInfo(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(LoadFileVersionInfo(FixturePath(L"v1\\missing.dll"), 0, size, block.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
