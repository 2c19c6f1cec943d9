// The file-system service's contract, run against the POSIX layer natively
// and against the Win32 layer under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/file_system.h"
#include "temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace volok::platform {
namespace {

using testing::ReadNative;
using testing::TempFolder;
using testing::WriteNative;
namespace fs = std::filesystem;

constexpr FileTime k2020 = 132223104000000000ULL;  // 2020-01-01 00:00 UTC

class FileSystemTest : public ::testing::Test {
 protected:
  FileSystem& FFs = FileSystem::Default();
  TempFolder FTemp;
};

TEST_F(FileSystemTest, FullPathResolvesDotsSlashesAndKeepsTheTrailingDelimiter) {
  std::string base = FTemp.Path(), full;
  ASSERT_TRUE(FFs.FullPath(base + "\\x\\..\\y\\.\\z\\", full).ok());
  EXPECT_EQ(full, base + "\\y\\z\\");
  ASSERT_TRUE(FFs.FullPath(base + "/a/b", full).ok());
  EXPECT_EQ(full, base + "\\a\\b");
  ASSERT_TRUE(FFs.FullPath("C:\\a\\..\\..", full).ok());
  EXPECT_EQ(full, "C:\\");
  std::string current;
  ASSERT_TRUE(FFs.FullPath(".", current).ok());
  ASSERT_TRUE(FFs.FullPath("name\\..\\other", full).ok());
  EXPECT_EQ(full, current + (current.back() == '\\' ? "" : "\\") + "other");
  EXPECT_FALSE(FFs.FullPath("", full).ok());
}

// Every call resolves "." and ".." without looking at the disk: the folder
// before a ".." need not exist, nor be a folder at all.
TEST_F(FileSystemTest, DotsAreResolvedBeforeTheDiskIsAsked) {
  std::string base = FTemp.Path();
  WriteNative(FTemp.Native("file"), "x");
  std::unique_ptr<File> file;
  ASSERT_TRUE(FFs.OpenFile(base + "\\missing\\..\\r2.txt", FileAccess::CreateAlways, FileShare::Read, file).ok());
  file.reset();
  EXPECT_TRUE(fs::exists(FTemp.Native("r2.txt")));
  EXPECT_TRUE(FFs.FileExists(base + "\\missing\\.\\..\\r2.txt"));
  EXPECT_TRUE(FFs.FileExists(base + "\\file\\..\\r2.txt"));
  EXPECT_TRUE(FFs.FolderExists(base + "\\missing\\.."));
  ASSERT_TRUE(FFs.MakeFolder(base + "\\missing\\..\\made").ok());
  EXPECT_TRUE(fs::is_directory(FTemp.Native("made")));
  ASSERT_TRUE(FFs.CopyFileOver(base + "\\no\\..\\file", base + "\\made\\deeper\\..\\copy").ok());
  EXPECT_EQ(ReadNative(FTemp.Native("made") / "copy"), "x");
  ASSERT_TRUE(FFs.MoveFileReplace(base + "\\x\\..\\r2.txt", base + "\\made\\.\\r3.txt").ok());
  EXPECT_TRUE(fs::exists(FTemp.Native("made") / "r3.txt"));
  ASSERT_TRUE(FFs.RemoveFile(base + "\\made\\gone\\..\\r3.txt").ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("made") / "r3.txt"));
}

TEST_F(FileSystemTest, ExistenceTellsFilesFromFoldersAndFollowsFolderLinks) {
  WriteNative(FTemp.Native("f"), "x");
  fs::create_directory(FTemp.Native("d"));
  EXPECT_TRUE(FFs.FileExists(FTemp.File("f")));
  EXPECT_FALSE(FFs.FolderExists(FTemp.File("f")));
  EXPECT_TRUE(FFs.FolderExists(FTemp.File("d")));
  EXPECT_TRUE(FFs.FolderExists(FTemp.File("d") + "\\"));
  EXPECT_FALSE(FFs.FileExists(FTemp.File("d")));
  EXPECT_FALSE(FFs.FileExists(FTemp.File("missing")));
  std::error_code no_links;
  fs::create_directory_symlink(FTemp.Native("d"), FTemp.Native("link"), no_links);
  if (!no_links) {
    EXPECT_TRUE(FFs.FolderExists(FTemp.File("link")));
    EXPECT_EQ(FFs.KindOf(FTemp.File("link")), FileKind::Folder);
  }
  EXPECT_EQ(FFs.KindOf(FTemp.File("f")), FileKind::Regular);
  EXPECT_EQ(FFs.KindOf(FTemp.File("d")), FileKind::Folder);
  EXPECT_EQ(FFs.KindOf(FTemp.File("missing")), FileKind::Missing);
}

#ifndef _WIN32
// What reading could block on is told apart without opening it, in a
// listing too; a dangling link lists as special and is missing by path.
TEST_F(FileSystemTest, SpecialFilesAreReportedWithoutBeingOpened) {
  fs::create_directory(FTemp.Native("d"));
  ASSERT_EQ(::mkfifo(FTemp.Native("d/pipe").c_str(), 0600), 0);
  fs::create_symlink("pipe", FTemp.Native("d/to-pipe"));
  fs::create_symlink("nowhere", FTemp.Native("d/dangling"));
  WriteNative(FTemp.Native("d/plain"), "x");
  EXPECT_EQ(FFs.KindOf(FTemp.File("d\\pipe")), FileKind::Special);
  EXPECT_EQ(FFs.KindOf(FTemp.File("d\\to-pipe")), FileKind::Special);
  EXPECT_EQ(FFs.KindOf(FTemp.File("d\\dangling")), FileKind::Missing);
  std::vector<FileEntry> entries;
  ASSERT_TRUE(FFs.ListFolder(FTemp.File("d"), entries).ok());
  std::map<std::string, bool> special;
  for (const FileEntry& entry : entries) special[entry.Name] = entry.IsSpecial;
  EXPECT_EQ(special, (std::map<std::string, bool>{{"pipe", true}, {"to-pipe", true}, {"dangling", true}, {"plain", false}}));
}

TEST_F(FileSystemTest, ExecuteBitsFollowTheReadBits) {
  WriteNative(FTemp.Native("f"), "x");
  fs::permissions(FTemp.Native("f"), fs::perms(0640));
  ASSERT_TRUE(FFs.SetExecuteBits(FTemp.File("f"), 0100755).ok());
  EXPECT_EQ(static_cast<unsigned>(fs::status(FTemp.Native("f")).permissions()), 0750u);
  ASSERT_TRUE(FFs.SetExecuteBits(FTemp.File("f"), 0100644).ok());
  EXPECT_EQ(static_cast<unsigned>(fs::status(FTemp.Native("f")).permissions()), 0640u);
}
#endif

TEST_F(FileSystemTest, MakeFolderNeedsTheParentAndRefusesAnExistingFolder) {
  EXPECT_TRUE(FFs.MakeFolder(FTemp.File("a")).ok());
  EXPECT_TRUE(fs::is_directory(FTemp.Native("a")));
  EXPECT_FALSE(FFs.MakeFolder(FTemp.File("a")).ok());
  EXPECT_FALSE(FFs.MakeFolder(FTemp.File("b\\c")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("b")));
  EXPECT_TRUE(FFs.RemoveEmptyFolder(FTemp.File("a")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("a")));
}

TEST_F(FileSystemTest, CopyOverwritesAndKeepsTimeAndAttributes) {
  std::string source = FTemp.File("source"), target = FTemp.File("target");
  WriteNative(FTemp.Native("source"), std::string(200000, 's'));
  WriteNative(FTemp.Native("target"), "old and longer text that must vanish");
  ASSERT_TRUE(FFs.SetLastWriteTime(source, k2020).ok());
  ASSERT_TRUE(FFs.SetAttributes(source, FileAttribute::Hidden | FileAttribute::ReadOnly).ok());
  ASSERT_TRUE(FFs.CopyFileOver(source, target).ok());
  EXPECT_EQ(ReadNative(FTemp.Native("target")), std::string(200000, 's'));
  FileTime time = 0;
  std::uint32_t attributes = 0;
  ASSERT_TRUE(FFs.GetLastWriteTime(target, time).ok());
  EXPECT_EQ(time, k2020);
  ASSERT_TRUE(FFs.GetAttributes(target, attributes).ok());
  EXPECT_EQ(attributes & (FileAttribute::Hidden | FileAttribute::ReadOnly),
            FileAttribute::Hidden | FileAttribute::ReadOnly);
  // The copy is read-only and hidden now, so a second copy onto it is
  // refused; hidden alone is enough.
  EXPECT_FALSE(FFs.CopyFileOver(source, target).ok());
  ASSERT_TRUE(FFs.SetAttributes(target, FileAttribute::Hidden).ok());
  EXPECT_FALSE(FFs.CopyFileOver(source, target).ok());
  ASSERT_TRUE(FFs.SetAttributes(source, 0).ok());
  ASSERT_TRUE(FFs.SetAttributes(target, 0).ok());
}

TEST_F(FileSystemTest, CopyCreatesNoFolderAndNeverTruncatesItsOwnSource) {
  WriteNative(FTemp.Native("f"), "keep me");
  EXPECT_FALSE(FFs.CopyFileOver(FTemp.File("f"), FTemp.File("new\\f")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("new")));
  EXPECT_FALSE(FFs.CopyFileOver(FTemp.File("f"), FTemp.File("f")).ok());
  EXPECT_EQ(ReadNative(FTemp.Native("f")), "keep me");
  EXPECT_FALSE(FFs.CopyFileOver(FTemp.File("missing"), FTemp.File("g")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("g")));
}

TEST_F(FileSystemTest, MoveReplacesFilesButNotFolders) {
  WriteNative(FTemp.Native("a"), "new");
  WriteNative(FTemp.Native("b"), "old");
  ASSERT_TRUE(FFs.MoveFileReplace(FTemp.File("a"), FTemp.File("b")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("a")));
  EXPECT_EQ(ReadNative(FTemp.Native("b")), "new");
  fs::create_directory(FTemp.Native("d"));
  fs::create_directory(FTemp.Native("e"));
  EXPECT_FALSE(FFs.MoveFileReplace(FTemp.File("d"), FTemp.File("e")).ok());
  EXPECT_TRUE(fs::exists(FTemp.Native("d")));
  ASSERT_TRUE(FFs.MoveFileReplace(FTemp.File("d"), FTemp.File("moved")).ok());
  EXPECT_TRUE(fs::is_directory(FTemp.Native("moved")));
  EXPECT_FALSE(FFs.RemoveFile(FTemp.File("moved")).ok());
  EXPECT_TRUE(FFs.RemoveFile(FTemp.File("b")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("b")));
}

TEST_F(FileSystemTest, FlushesSucceedAndALockIsHeldOnceUntilReleased) {
  std::unique_ptr<File> file;
  ASSERT_TRUE(FFs.OpenFile(FTemp.File("f"), FileAccess::CreateAlways, FileShare::None, file).ok());
  ASSERT_TRUE(file->Write("data", 4).ok());
  EXPECT_TRUE(file->Flush().ok());
  file.reset();
  Status folder = FFs.FlushFolder(FTemp.Path());
  EXPECT_TRUE(folder.ok()) << folder.message();
  fs::create_directories(FTemp.Native("tree/sub"));
  WriteNative(FTemp.Native("tree/sub/g"), "more");
  Status tree = FFs.FlushTree(FTemp.File("tree"));
  EXPECT_TRUE(tree.ok()) << tree.message();
  EXPECT_FALSE(FFs.FlushTree(FTemp.File("missing")).ok());
  EXPECT_FALSE(FFs.FlushFolder(FTemp.File("missing")).ok());

  std::unique_ptr<File> first, second;
  bool busy = true;
  ASSERT_TRUE(FFs.LockFile(FTemp.File("run.lock"), first, busy).ok());
  EXPECT_FALSE(busy);
  // Every other holder is refused, another open in this process too.
  EXPECT_FALSE(FFs.LockFile(FTemp.File("run.lock"), second, busy).ok());
  EXPECT_TRUE(busy);
  first.reset();
  EXPECT_TRUE(FFs.LockFile(FTemp.File("run.lock"), second, busy).ok());
  EXPECT_FALSE(FFs.LockFile(FTemp.File("no-such-folder\\run.lock"), first, busy).ok());
  EXPECT_FALSE(busy);
}

TEST_F(FileSystemTest, ListingShowsHiddenEntriesWithSizesAndTimes) {
  WriteNative(FTemp.Native("plain"), "12345");
  WriteNative(FTemp.Native(".dot"), "");
  WriteNative(FTemp.Native("secret"), "x");
  fs::create_directory(FTemp.Native("sub"));
  ASSERT_TRUE(FFs.SetAttributes(FTemp.File("secret"), FileAttribute::Hidden | FileAttribute::System).ok());
  ASSERT_TRUE(FFs.SetLastWriteTime(FTemp.File("plain"), k2020).ok());
  std::vector<FileEntry> entries;
  ASSERT_TRUE(FFs.ListFolder(FTemp.Path(), entries).ok());
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.Name < b.Name; });
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Name, ".dot");
  EXPECT_EQ(entries[1].Name, "plain");
  EXPECT_EQ(entries[1].Size, 5u);
  EXPECT_EQ(entries[1].LastWriteTime, k2020);
  EXPECT_FALSE(entries[1].IsFolder);
  EXPECT_EQ(entries[2].Name, "secret");
  EXPECT_EQ(entries[2].Attributes & (FileAttribute::Hidden | FileAttribute::System),
            FileAttribute::Hidden | FileAttribute::System);
  EXPECT_TRUE(entries[3].IsFolder);
  EXPECT_TRUE(entries[3].Attributes & FileAttribute::Directory);
  EXPECT_FALSE(FFs.ListFolder(FTemp.File("missing"), entries).ok());
}

TEST_F(FileSystemTest, AttributesClearAgain) {
  WriteNative(FTemp.Native("f"), "x");
  std::uint32_t attributes = 0;
  ASSERT_TRUE(FFs.SetAttributes(FTemp.File("f"), FileAttribute::ReadOnly | FileAttribute::Hidden).ok());
  ASSERT_TRUE(FFs.SetAttributes(FTemp.File("f"), FileAttribute::Archive).ok());
  ASSERT_TRUE(FFs.GetAttributes(FTemp.File("f"), attributes).ok());
  EXPECT_EQ(attributes & (FileAttribute::ReadOnly | FileAttribute::Hidden), 0u);
  EXPECT_FALSE(FFs.GetAttributes(FTemp.File("missing"), attributes).ok());
}

TEST_F(FileSystemTest, TemporaryFolderExistsAndEndsInADelimiter) {
  std::string temp;
  ASSERT_TRUE(FFs.TempFolderPath(temp).ok());
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(FFs.FolderExists(temp));
}

TEST_F(FileSystemTest, PermanentShellDeleteRemovesWholeTreesAndFailsOnMissingPaths) {
  fs::create_directories(FTemp.Native("tree/inner"));
  WriteNative(FTemp.Native("tree/inner/f"), "x");
  WriteNative(FTemp.Native("tree/.hidden"), "x");
  WriteNative(FTemp.Native("single"), "x");
  EXPECT_TRUE(FFs.ShellDelete(FTemp.File("tree"), true).ok());
  EXPECT_TRUE(FFs.ShellDelete(FTemp.File("single"), true).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("tree")));
  EXPECT_FALSE(fs::exists(FTemp.Native("single")));
  EXPECT_FALSE(FFs.ShellDelete(FTemp.File("missing"), true).ok());
  EXPECT_FALSE(FFs.ShellDelete(FTemp.File("missing"), false).ok());
}

// Every call works on paths past MAX_PATH (260): the Win32 layer hands the
// system "\\?\" forms, and its permanent delete walks the tree itself
// where the shell would stop at 260 characters.
TEST_F(FileSystemTest, PathsLongerThanMaxPathWorkForEveryCall) {
  std::string folder = FTemp.File("long");
  ASSERT_TRUE(FFs.MakeFolder(folder).ok());
  const std::string segment(60, 'd');
  for (int i = 0; i < 6; ++i) {
    folder += "\\" + segment + std::to_string(i);
    ASSERT_TRUE(FFs.MakeFolder(folder).ok()) << folder.size();
  }
  ASSERT_GT(folder.size(), 380u);
  const std::string file = folder + "\\Файл с длинным путём.txt", copy = folder + "\\copy.txt";
  std::unique_ptr<File> out;
  ASSERT_TRUE(FFs.OpenFile(file, FileAccess::CreateAlways, FileShare::None, out).ok());
  ASSERT_TRUE(out->Write("deep", 4).ok());
  out.reset();
  ASSERT_TRUE(FFs.CopyFileOver(file, copy).ok());
  ASSERT_TRUE(FFs.MoveFileReplace(copy, folder + "\\moved.txt").ok());
  ASSERT_TRUE(FFs.SetLastWriteTime(folder + "\\moved.txt", k2020).ok());
  FileTime time = 0;
  ASSERT_TRUE(FFs.GetLastWriteTime(folder + "\\moved.txt", time).ok());
  EXPECT_EQ(time, k2020);
  EXPECT_TRUE(FFs.FileExists(file));
  EXPECT_TRUE(FFs.FolderExists(folder));
  std::vector<FileEntry> entries;
  ASSERT_TRUE(FFs.ListFolder(folder, entries).ok());
  EXPECT_EQ(entries.size(), 2u);
  std::string canonical, id, other;
  Status resolved = FFs.CanonicalPath(file, canonical);
  ASSERT_TRUE(resolved.ok()) << resolved.message();
  ASSERT_TRUE(FFs.ObjectId(file, id).ok());
  ASSERT_TRUE(FFs.ObjectId(canonical, other).ok());
  EXPECT_EQ(id, other);
  ASSERT_TRUE(FFs.SetAttributes(file, FileAttribute::ReadOnly).ok());
  ASSERT_TRUE(FFs.ShellDelete(FTemp.File("long"), true).ok());
  EXPECT_FALSE(FFs.FolderExists(FTemp.File("long")));
}

#ifndef _WIN32
// The Trash of the freedesktop.org specification, kept inside the test's
// folder through XDG_DATA_HOME.
TEST_F(FileSystemTest, RecycleDeleteMovesIntoTheTrashWithARestorableRecord) {
  std::string saved = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  ::setenv("XDG_DATA_HOME", FTemp.Native("data").c_str(), 1);
  fs::create_directories(FTemp.Native("old folder/inner"));
  WriteNative(FTemp.Native("old folder/inner/f"), "content");
  Status first = FFs.ShellDelete(FTemp.File("old folder"), false);
  fs::create_directories(FTemp.Native("old folder"));
  Status second = FFs.ShellDelete(FTemp.File("old folder"), false);
  saved.empty() ? ::unsetenv("XDG_DATA_HOME") : ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  ASSERT_TRUE(first.ok()) << first.message();
  ASSERT_TRUE(second.ok()) << second.message();
  EXPECT_FALSE(fs::exists(FTemp.Native("old folder")));
  fs::path trash = FTemp.Native("data") / "Trash";
  EXPECT_EQ(ReadNative(trash / "files/old folder/inner/f"), "content");
  EXPECT_TRUE(fs::is_directory(trash / "files/old folder.2"));
  std::string info = ReadNative(trash / "info/old folder.trashinfo");
  std::string expected_path = FTemp.NativePath().string() + "/old%20folder";
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
  EXPECT_NE(info.find("Path=" + expected_path + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos) << info;
  EXPECT_TRUE(fs::exists(trash / "info/old folder.2.trashinfo"));
}

TEST_F(FileSystemTest, PathsOfOtherDrivesAreRefusedNotGuessed) {
  EXPECT_FALSE(FFs.FileExists("C:\\Windows\\win.ini"));
  EXPECT_FALSE(FFs.MakeFolder("C:\\volok-test").ok());
  EXPECT_FALSE(FFs.ShellDelete("C:\\volok-test", true).ok());
}
#endif

}  // namespace
}  // namespace volok::platform
