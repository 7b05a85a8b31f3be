// An interrupted copy of an add-in DLL keeps the source's FileVersion in its first block:
// the version comparison must still call it different, or Repair keeps the broken file
// and even reports it verified.
#include "file_fixtures.h"
#include "scoped_temp_dir.h"
#include "sys/file_system.h"

#include <gtest/gtest.h>

namespace {

namespace fs = sys::FileSystem;

constexpr const wchar_t* kName = L"x.dll";
constexpr const wchar_t* kSourceFixture = L"v1\\tolvane64.dll";

TEST(CutShortCopy, DiffersFromItsSourceWhileOtherFilesCompareByFileVersion) {
    struct Case {
        const char* name;
        const wchar_t* otherFixture;  // null: the source cut short
        size_t kept;                  // bytes of the source that were written
        bool reserved;                // the rest of the source's size is zeros
        bool differs;
    };
    const Case cases[] = {
        {"created, nothing written", nullptr, 0, false, true},
        {"headers written, no version resource yet", nullptr, 4096, false, true},
        {"first block written, FileVersion readable", nullptr, 65536, false, true},
        {"first block written into reserved space", nullptr, 65536, true, true},
        {"the whole source: a complete copy", nullptr, SIZE_MAX, false, false},
        {"another build of the same FileVersion", L"noexport\\tolvane64.dll", 0, false, false},
    };
    const ScopedTempDir source;
    ASSERT_TRUE(CopyFixture(kSourceFixture, source / kName));
    const std::string sourceBytes = ReadTextFile(source / kName);
    for (const Case& c : cases) {
        const ScopedTempDir destination;
        if (c.otherFixture) {
            ASSERT_TRUE(CopyFixture(c.otherFixture, destination / kName));
        } else {
            std::string written = sourceBytes.substr(0, c.kept);
            if (c.reserved) written.resize(sourceBytes.size(), '\0');
            WriteTextFile(destination / kName, written);
        }

        bool differs = !c.differs;
        EXPECT_EQ(fs::CompareFileVersions(kName, source.path(), destination.path(), differs), 0u)
            << c.name;
        EXPECT_EQ(differs, c.differs) << c.name;
    }
}

TEST(CutShortCopy, IsCopiedOverWhenVersionsAreCompared) {
    const ScopedTempDir source;
    const ScopedTempDir destination;
    const ScopedTempDir temp;
    ASSERT_TRUE(CopyFixture(kSourceFixture, source / kName));
    WriteTextFile(destination / kName, ReadTextFile(source / kName).substr(0, 65536));

    EXPECT_EQ(fs::CopyFile(kName, source.path(), destination.path(), temp.path(), true), 0u);
    EXPECT_TRUE(SameContents(destination / kName, source / kName));
}

}  // namespace
