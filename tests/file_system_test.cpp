// File-system operations on real files under Wine, locked files included: a DLL loaded
// into this process cannot be overwritten (32) or deleted (5), but it can be renamed.
#include "file_fixtures.h"
#include "scoped_temp_dir.h"
#include "sys/file_system.h"
#include "sys/handles.h"

#include <gtest/gtest.h>

namespace {

namespace fs = sys::FileSystem;

constexpr const wchar_t* kDll = L"tolvane64.dll";
constexpr const wchar_t* kOldDll = L"v1\\tolvane64.dll";
constexpr const wchar_t* kNewDll = L"v2\\tolvane64.dll";

class FileSystem : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::wstring& folder : {source, destination, temp})
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    }

    // Copies a fixture to `path` and loads it into this process, which locks it.
    static sys::UniqueModule LoadCopy(const std::wstring& fixture, const std::wstring& path) {
        if (!CopyFixture(fixture, path)) return sys::UniqueModule();
        return sys::UniqueModule(LoadLibraryW(path.c_str()));
    }

    // `name` must read `file`_{ticks} with a tick count taken between before and after.
    static void ExpectSetAsideName(const std::wstring& name, const std::wstring& file, long before,
                                   long after) {
        const std::wstring prefix = file + L"_";
        ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0) << "set aside as " << name.c_str();
        const std::wstring suffix = name.substr(prefix.size());
        const long ticks = std::wcstol(suffix.c_str(), nullptr, 10);
        EXPECT_EQ(std::to_wstring(ticks), suffix);
        EXPECT_GE(ticks, before);
        EXPECT_LE(ticks, after);
    }

    ScopedTempDir root;
    const std::wstring source = root / L"source";
    const std::wstring destination = root / L"destination";
    const std::wstring temp = root / L"temp";
};

TEST_F(FileSystem, DoesFileExistsReportsFilesAndFoldersAndRefusesAnEmptyPath) {
    WriteTextFile(source + L"\\a.txt", "a");
    struct Case {
        std::wstring path;
        DWORD result;
        bool exists;
    };
    const Case cases[] = {
        {source + L"\\a.txt", 0, true},
        {source, 0, true},
        {source + L"\\missing.txt", 0, false},
        {root / L"missing\\a.txt", 0, false},
        {source + L"\\a?b", ERROR_INVALID_NAME, false},
    };
    for (const Case& c : cases) {
        bool exists = !c.exists;
        EXPECT_EQ(fs::DoesFileExists(c.path, exists), c.result) << c.path.c_str();
        EXPECT_EQ(exists, c.exists) << c.path.c_str();
    }
    for (bool untouched : {false, true}) {
        bool exists = untouched;
        EXPECT_EQ(fs::DoesFileExists(L"", exists), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
        EXPECT_EQ(exists, untouched);
    }
}

TEST_F(FileSystem, JoinPathInsertsOneBackslashWithoutNormalising) {
    EXPECT_EQ(fs::JoinPath(L"C:\\a", L"b.dll"), L"C:\\a\\b.dll");
    EXPECT_EQ(fs::JoinPath(L"C:\\a\\", L"b.dll"), L"C:\\a\\\\b.dll");
    // Windows accepts the doubled separator as it comes.
    WriteTextFile(source + L"\\a.txt", "a");
    EXPECT_EQ(fs::CopyFile(L"a.txt", source + L"\\", destination + L"\\", temp, false), 0u);
    EXPECT_EQ(ReadTextFile(destination + L"\\a.txt"), "a");
}

TEST_F(FileSystem, CopyOntoALoadedDllSetsItAsideInTheTemporaryFolder) {
    PendingRenames pending;
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\" + kDll));
    const std::wstring target = destination + L"\\" + kDll;
    const sys::UniqueModule module = LoadCopy(kOldDll, target);
    ASSERT_TRUE(module);
    ASSERT_FALSE(CopyFileW((source + L"\\" + kDll).c_str(), target.c_str(), FALSE));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const long before = SignedTickCount();
    EXPECT_EQ(fs::CopyFile(kDll, source, destination, temp, false), 0u);
    const long after = SignedTickCount();

    EXPECT_TRUE(SameContents(target, FixturePath(kNewDll)));
    const std::vector<std::wstring> setAside = FolderEntries(temp);
    ASSERT_EQ(setAside.size(), 1u);
    ExpectSetAsideName(setAside[0], kDll, before, after);
    EXPECT_TRUE(SameContents(temp + L"\\" + setAside[0], FixturePath(kOldDll)));
    EXPECT_TRUE(pending.ScheduledForDeletion(temp + L"\\" + setAside[0]));
}

TEST_F(FileSystem, DeletingALoadedDllSetsItAside) {
    PendingRenames pending;
    const sys::UniqueModule module = LoadCopy(kOldDll, destination + L"\\" + kDll);
    ASSERT_TRUE(module);
    ASSERT_FALSE(DeleteFileW((destination + L"\\" + kDll).c_str()));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    const long before = SignedTickCount();
    EXPECT_EQ(fs::DeleteFile(kDll, destination, temp), 0u);
    const long after = SignedTickCount();

    EXPECT_TRUE(FolderEntries(destination).empty());
    const std::vector<std::wstring> setAside = FolderEntries(temp);
    ASSERT_EQ(setAside.size(), 1u);
    ExpectSetAsideName(setAside[0], kDll, before, after);
    EXPECT_TRUE(pending.ScheduledForDeletion(temp + L"\\" + setAside[0]));
}

TEST_F(FileSystem, ATemporaryFolderOnAnotherVolumeSetsTheFileAsideBesideItself) {
    const ScopedTempDir otherVolume(kOtherVolumeParent);
    if (!otherVolume.created()) GTEST_SKIP() << "no folder on another volume";
    PendingRenames pending;
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\" + kDll));
    const sys::UniqueModule module = LoadCopy(kOldDll, destination + L"\\" + kDll);
    ASSERT_TRUE(module);

    const long before = SignedTickCount();
    EXPECT_EQ(fs::CopyFile(kDll, source, destination, otherVolume.path(), false), 0u);
    const long after = SignedTickCount();

    EXPECT_TRUE(FolderEntries(otherVolume.path()).empty());
    const std::vector<std::wstring> entries = FolderEntries(destination);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], kDll);
    EXPECT_TRUE(SameContents(destination + L"\\" + kDll, FixturePath(kNewDll)));
    ExpectSetAsideName(entries[1], kDll, before, after);
    EXPECT_TRUE(pending.ScheduledForDeletion(destination + L"\\" + entries[1]));
}

TEST_F(FileSystem, AMissingTemporaryFolderFailsWith3AndLeavesTheLockedFile) {
    PendingRenames pending;
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\" + kDll));
    const sys::UniqueModule module = LoadCopy(kOldDll, destination + L"\\" + kDll);
    ASSERT_TRUE(module);
    const std::wstring absent = root / L"absent";

    EXPECT_EQ(fs::CopyFile(kDll, source, destination, absent, false),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(fs::DeleteFile(kDll, destination, absent), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FolderEntries(destination), std::vector<std::wstring>{kDll});
    EXPECT_TRUE(SameContents(destination + L"\\" + kDll, FixturePath(kOldDll)));
    EXPECT_TRUE(pending.Added().empty());
}

TEST_F(FileSystem, ACopyFailingWith5SetsNothingAside) {
    // A folder in the file's place: CopyFileW fails with 5 whoever runs it.
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\" + kDll));
    ASSERT_TRUE(CreateDirectoryW((destination + L"\\" + kDll).c_str(), nullptr));
    EXPECT_EQ(fs::CopyFile(kDll, source, destination, temp, false),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(FolderEntries(temp).empty());
}

TEST_F(FileSystem, CopyOntoAReadOnlyFileFailsWith5AndSetsNothingAside) {
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\" + kDll));
    const std::wstring target = destination + L"\\" + kDll;
    ASSERT_TRUE(CopyFixture(kOldDll, target));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine run by root writes read-only files regardless: Linux lets root open them.
    const std::wstring probe = root / L"probe.dll";
    ASSERT_TRUE(CopyFixture(kOldDll, probe));
    ASSERT_TRUE(SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY));
    if (CopyFileW(FixturePath(kNewDll).c_str(), probe.c_str(), FALSE))
        GTEST_SKIP() << "read-only files are writable here";

    EXPECT_EQ(fs::CopyFile(kDll, source, destination, temp, false),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(SameContents(target, FixturePath(kOldDll)));
    EXPECT_TRUE(FolderEntries(temp).empty());
}

TEST_F(FileSystem, DeletingAReadOnlyFileSetsItAside) {
    PendingRenames pending;
    const std::wstring target = destination + L"\\" + kDll;
    ASSERT_TRUE(CopyFixture(kOldDll, target));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(fs::DeleteFile(kDll, destination, temp), 0u);
    EXPECT_TRUE(FolderEntries(destination).empty());
    const std::vector<std::wstring> setAside = FolderEntries(temp);
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_NE(GetFileAttributesW((temp + L"\\" + setAside[0]).c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
    EXPECT_TRUE(pending.ScheduledForDeletion(temp + L"\\" + setAside[0]));
}

TEST_F(FileSystem, CopyFileComparesFileVersionsOnlyWhenAsked) {
    struct Case {
        const wchar_t* name;
        const wchar_t* sourceFixture;
        const wchar_t* destinationFixture;  // null: no destination file
        bool compareVersions;
        bool copied;
    };
    const Case cases[] = {
        // noexport's tolvane64.dll has other bytes but the same FileVersion 1.0.0.1.
        {L"equal.dll", L"noexport\\tolvane64.dll", kOldDll, true, false},
        {L"equal-unchecked.dll", L"noexport\\tolvane64.dll", kOldDll, false, true},
        {L"different.dll", kNewDll, kOldDll, true, true},
        {L"absent.dll", kNewDll, nullptr, true, true},
        // A version that cannot be read is no reason to keep the old file.
        {L"unreadable.dll", kNewDll, L"version\\no_resource.dll", true, true},
    };
    for (const Case& c : cases) {
        const std::wstring from = source + L"\\" + c.name;
        const std::wstring to = destination + L"\\" + c.name;
        ASSERT_TRUE(CopyFixture(c.sourceFixture, from));
        if (c.destinationFixture) {
            ASSERT_TRUE(CopyFixture(c.destinationFixture, to));
        }

        EXPECT_EQ(fs::CopyFile(c.name, source, destination, temp, c.compareVersions), 0u) << c.name;
        EXPECT_EQ(SameContents(to, from), c.copied) << c.name;
    }
    EXPECT_TRUE(FolderEntries(temp).empty());
}

TEST_F(FileSystem, CopyFileOfAMissingSourceFailsWith2AndLeavesTheDestination) {
    ASSERT_TRUE(CopyFixture(kOldDll, destination + L"\\" + kDll));
    for (bool compareVersions : {false, true})
        EXPECT_EQ(fs::CopyFile(kDll, source, destination, temp, compareVersions),
                  static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(SameContents(destination + L"\\" + kDll, FixturePath(kOldDll)));
}

TEST_F(FileSystem, EmptyArgumentsAreRefusedWith160) {
    const DWORD refused = ERROR_BAD_ARGUMENTS;
    EXPECT_EQ(fs::CopyFile(L"", source, destination, temp, false), refused);
    EXPECT_EQ(fs::CopyFile(kDll, L"", destination, temp, false), refused);
    EXPECT_EQ(fs::CopyFile(kDll, source, L"", temp, false), refused);
    EXPECT_EQ(fs::CopyFile(kDll, source, destination, L"", false), refused);
    EXPECT_EQ(fs::CopyDirectory(L"", source, destination, temp, false), refused);
    EXPECT_EQ(fs::CopyDirectory(L"pack", L"", destination, temp, false), refused);
    EXPECT_EQ(fs::CopyDirectory(L"pack", source, L"", temp, false), refused);
    EXPECT_EQ(fs::CopyDirectory(L"pack", source, destination, L"", false), refused);
    EXPECT_EQ(fs::DeleteFile(L"", destination, temp), refused);
    EXPECT_EQ(fs::DeleteFile(kDll, L"", temp), refused);
    EXPECT_EQ(fs::DeleteFile(kDll, destination, L""), refused);
    EXPECT_EQ(fs::DeleteDirectory(L"", temp), refused);
    EXPECT_EQ(fs::DeleteDirectory(destination, L""), refused);
}

TEST_F(FileSystem, CompareFileVersionsComparesTheTextsOrPassesTheReadFailureOn) {
    struct Case {
        const wchar_t* fixtureA;
        const wchar_t* fixtureB;  // null: missing
        DWORD result;
        bool differs;
    };
    const Case cases[] = {
        {kOldDll, L"noexport\\tolvane64.dll", 0, false},
        {kOldDll, kNewDll, 0, true},
        {L"v1\\tolvane.dll", kOldDll, 0, false},  // same text in another bitness
        {L"version\\second_translation.dll", L"version\\second_translation.dll", 0, false},
        {kOldDll, nullptr, ERROR_FILE_NOT_FOUND, true},
        {L"version\\no_resource.dll", kOldDll, ERROR_RESOURCE_DATA_NOT_FOUND, true},
        {L"version\\short_translation.dll", kOldDll, 0x4005, true},  // E_FAIL's low bits
    };
    for (const Case& c : cases) {
        const ScopedTempDir a(root.path());
        const ScopedTempDir b(root.path());
        ASSERT_TRUE(CopyFixture(c.fixtureA, a / L"x.dll"));
        if (c.fixtureB) {
            ASSERT_TRUE(CopyFixture(c.fixtureB, b / L"x.dll"));
        }
        bool differs = !c.differs;
        EXPECT_EQ(fs::CompareFileVersions(L"x.dll", a.path(), b.path(), differs), c.result)
            << c.fixtureA;
        EXPECT_EQ(differs, c.differs) << c.fixtureA;
    }
}

TEST_F(FileSystem, CopyDirectoryMergesIntoAnExistingTree) {
    for (const wchar_t* folder : {L"\\pack", L"\\pack\\sub", L"\\pack\\sub\\deeper"})
        ASSERT_TRUE(CreateDirectoryW((source + folder).c_str(), nullptr));
    WriteTextFile(source + L"\\pack\\a.txt", "new a");
    WriteTextFile(source + L"\\pack\\sub\\b.txt", "b");
    WriteTextFile(source + L"\\pack\\sub\\deeper\\c.txt", "c");
    ASSERT_TRUE(CreateDirectoryW((destination + L"\\pack").c_str(), nullptr));
    WriteTextFile(destination + L"\\pack\\a.txt", "old a");
    WriteTextFile(destination + L"\\pack\\extra.txt", "extra");

    EXPECT_EQ(fs::CopyDirectory(L"pack", source, destination, temp, false), 0u);
    EXPECT_EQ(ReadTextFile(destination + L"\\pack\\a.txt"), "new a");
    EXPECT_EQ(ReadTextFile(destination + L"\\pack\\sub\\b.txt"), "b");
    EXPECT_EQ(ReadTextFile(destination + L"\\pack\\sub\\deeper\\c.txt"), "c");
    EXPECT_EQ(ReadTextFile(destination + L"\\pack\\extra.txt"), "extra");

    // Only one level is created: the destination parent must exist.
    EXPECT_EQ(fs::CopyDirectory(L"pack", source, root / L"absent", temp, false),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystem, CopyDirectorySetsLockedFilesOfAnyDepthAsideFlatInTheTemporaryFolder) {
    PendingRenames pending;
    for (const std::wstring& base : {source, destination})
        for (const wchar_t* folder : {L"\\pack", L"\\pack\\sub"})
            ASSERT_TRUE(CreateDirectoryW((base + folder).c_str(), nullptr));
    ASSERT_TRUE(CopyFixture(kNewDll, source + L"\\pack\\sub\\" + kDll));
    const sys::UniqueModule module = LoadCopy(kOldDll, destination + L"\\pack\\sub\\" + kDll);
    ASSERT_TRUE(module);

    EXPECT_EQ(fs::CopyDirectory(L"pack", source, destination, temp, false), 0u);
    EXPECT_TRUE(SameContents(destination + L"\\pack\\sub\\" + kDll, FixturePath(kNewDll)));
    const std::vector<std::wstring> setAside = FolderEntries(temp);
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_TRUE(pending.ScheduledForDeletion(temp + L"\\" + setAside[0]));
}

TEST_F(FileSystem, DeleteDirectoryRemovesTreesAndEmptyFolders) {
    const std::wstring tree = destination + L"\\tree";
    for (const std::wstring& folder : {tree, tree + L"\\sub", tree + L"\\sub\\empty"})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteTextFile(tree + L"\\a.txt", "a");
    WriteTextFile(tree + L"\\sub\\b.txt", "b");
    const std::wstring empty = destination + L"\\empty";
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));

    EXPECT_EQ(fs::DeleteDirectory(tree, temp), 0u);
    EXPECT_EQ(fs::DeleteDirectory(empty, temp), 0u);
    EXPECT_TRUE(FolderEntries(destination).empty());
    EXPECT_EQ(fs::DeleteDirectory(destination + L"\\absent", temp),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystem, DeleteDirectoryLeavesTheFolderForAFileSetAsideBesideItself) {
    const ScopedTempDir otherVolume(kOtherVolumeParent);
    if (!otherVolume.created()) GTEST_SKIP() << "no folder on another volume";
    PendingRenames pending;
    const std::wstring folder = destination + L"\\bin";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteTextFile(folder + L"\\a.txt", "a");
    const sys::UniqueModule module = LoadCopy(kOldDll, folder + L"\\" + kDll);
    ASSERT_TRUE(module);

    EXPECT_EQ(fs::DeleteDirectory(folder, otherVolume.path()), 0u);
    const std::vector<std::wstring> left = FolderEntries(folder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].compare(0, 14, L"tolvane64.dll_"), 0) << left[0].c_str();
    EXPECT_TRUE(pending.ScheduledForDeletion(folder + L"\\" + left[0]));
}

TEST_F(FileSystem, DeleteFileOfNothingSucceeds) {
    EXPECT_EQ(fs::DeleteFile(kDll, destination, temp), 0u);
    EXPECT_EQ(fs::DeleteFile(kDll, root / L"absent", temp), 0u);
}

}  // namespace
