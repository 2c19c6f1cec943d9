// The elevated engine's moves and deletes never go through a link: natively
// with real links, in the Win32 layer (under Wine, whose host links show as
// plain folders) with reparse points the test fakes through its probe.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/no_follow.h"
#endif

namespace volok::platform {
namespace {

using testing::ReadNative;
using testing::TempFolder;
using testing::WriteNative;
namespace fs = std::filesystem;

class NoFollowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FTemp.Native("target"));
    WriteNative(FTemp.Native("target/kept.txt"), "the target's");
    WriteNative(FTemp.Native("file.txt"), "a file");
  }
  FileSystem& FFs = FileSystem::Default();
  TempFolder FTemp;
};

TEST_F(NoFollowTest, LogsOpenWithoutLinksReadFromTheStartAndAppendAtTheEnd) {
  std::unique_ptr<File> file;
  ASSERT_TRUE(FFs.OpenFile(FTemp.File("file.txt"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  ASSERT_TRUE(file->Write(" and more", 9).ok());
  file.reset();
  ASSERT_TRUE(FFs.OpenFile(FTemp.File("file.txt"), FileAccess::ReadNoLink, FileShare::Read, file).ok());
  char buffer[64];
  std::size_t done = 0;
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, done).ok());
  EXPECT_EQ(std::string(buffer, done), "a file and more");
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("missing.txt"), FileAccess::ReadNoLink, FileShare::Read, file).ok());
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("target"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
}

TEST_F(NoFollowTest, EntriesMoveAndGoAsThemselves) {
  ASSERT_TRUE(FFs.MakeNewFolder(FTemp.File("new")).ok());
  EXPECT_FALSE(FFs.MakeNewFolder(FTemp.File("new")).ok()) << "an existing folder is never taken as new";
  ASSERT_TRUE(FFs.MoveEntry(FTemp.File("file.txt"), FTemp.File("new\\file.txt")).ok());
  EXPECT_EQ(ReadNative(FTemp.Native("new/file.txt")), "a file");
  WriteNative(FTemp.Native("other.txt"), "other");
  ASSERT_TRUE(FFs.MoveEntry(FTemp.File("other.txt"), FTemp.File("new\\file.txt")).ok()) << "a file is replaced";
  EXPECT_EQ(ReadNative(FTemp.Native("new/file.txt")), "other");
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("new"), FTemp.File("target")).ok()) << "a folder never is";
  EXPECT_FALSE(FFs.RemoveEntry(FTemp.File("new")).ok()) << "not empty";
  ASSERT_TRUE(FFs.RemoveEntry(FTemp.File("new\\file.txt")).ok());
  ASSERT_TRUE(FFs.RemoveEntry(FTemp.File("new")).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("new")));
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("missing"), FTemp.File("x")).ok());
}

#ifndef _WIN32
TEST_F(NoFollowTest, ALinkMovesAndGoesAsTheLinkAndIsNeverGoneThrough) {
  fs::create_directory_symlink(FTemp.Native("target"), FTemp.Native("link"));
  fs::create_symlink(FTemp.Native("file.txt"), FTemp.Native("file-link"));
  // Through a linked folder: nothing moves out of it or into it, nothing
  // there is made or deleted.
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("link\\kept.txt"), FTemp.File("out.txt")).ok());
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("file.txt"), FTemp.File("link\\in.txt")).ok());
  EXPECT_FALSE(FFs.RemoveEntry(FTemp.File("link\\kept.txt")).ok());
  EXPECT_FALSE(FFs.MakeNewFolder(FTemp.File("link\\made")).ok());
  EXPECT_FALSE(FFs.ShellDelete(FTemp.File("link\\kept.txt"), true).ok());
  EXPECT_FALSE(FFs.MakeNewFolder(FTemp.File("link")).ok());
  // The link itself moves and goes.
  ASSERT_TRUE(FFs.MoveEntry(FTemp.File("link"), FTemp.File("moved")).ok());
  EXPECT_TRUE(fs::is_symlink(FTemp.Native("moved")));
  ASSERT_TRUE(FFs.RemoveEntry(FTemp.File("file-link")).ok());
  ASSERT_TRUE(FFs.ShellDelete(FTemp.File("moved"), true).ok());
  EXPECT_FALSE(fs::exists(fs::symlink_status(FTemp.Native("moved"))));
  EXPECT_EQ(ReadNative(FTemp.Native("target/kept.txt")), "the target's");
  EXPECT_EQ(ReadNative(FTemp.Native("file.txt")), "a file");
}

TEST_F(NoFollowTest, ATreeDeleteRemovesLinksInsideAsLinks) {
  fs::create_directories(FTemp.Native("tree/sub"));
  fs::create_directory_symlink(FTemp.Native("target"), FTemp.Native("tree/sub/to-folder"));
  fs::create_symlink(FTemp.Native("target/kept.txt"), FTemp.Native("tree/to-file"));
  ASSERT_TRUE(FFs.ShellDelete(FTemp.File("tree"), true).ok());
  EXPECT_FALSE(fs::exists(FTemp.Native("tree")));
  EXPECT_EQ(ReadNative(FTemp.Native("target/kept.txt")), "the target's");
}

TEST_F(NoFollowTest, LogsAreNeverOpenedThroughALink) {
  fs::create_symlink(FTemp.Native("file.txt"), FTemp.Native("setup.log"));
  std::unique_ptr<File> file;
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("setup.log"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("setup.log"), FileAccess::ReadNoLink, FileShare::Read, file).ok());
  EXPECT_EQ(ReadNative(FTemp.Native("file.txt")), "a file");
  ASSERT_EQ(::mkfifo(FTemp.Native("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("fifo"), FileAccess::ReadNoLink, FileShare::Read, file).ok())
      << "and never block on a FIFO";
  ASSERT_TRUE(FFs.OpenFile(FTemp.File("new.log"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  ASSERT_TRUE(file->Write("x", 1).ok());
  EXPECT_TRUE(FFs.WritableByOthers(FTemp.File("setup.log")));
}
#else
// The host path of a path under Wine; "" where this is no Wine.
std::wstring HostPath(const std::string& path) {
  using UnixName = char* (*)(const wchar_t*);
  auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(fs::path(path).wstring().c_str()) : nullptr;
  std::string text = name ? name : "";
  if (name) HeapFree(GetProcessHeap(), 0, name);
  return fs::path(text).wstring();
}

// Runs a program of the host (Wine starts Unix programs too); true once it ended.
bool RunOnHost(const wchar_t* program, std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// A host link made by the host's own ln, as a user of the machine running
// Wine would make one; false where this is no Wine.
bool MakeHostLink(const std::string& target, const std::string& link) {
  std::wstring from = HostPath(target), to = HostPath(link);
  if (from.empty() || to.empty() || !RunOnHost(L"Z:\\bin\\ln", L"/bin/ln -s " + from + L" " + to)) return false;
  // Wine cannot wait for a Unix process: the link shows when ln is done.
  for (int i = 0; i < 250; ++i) {
    if (GetFileAttributesW(fs::path(link).wstring().c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(20);
  }
  return false;
}

// Wine 8 opens a host link's target even when asked for the link, and shows
// a link to a file as a plain file: none of it may delete or move the target.
TEST_F(NoFollowTest, HostLinksUnderWineNeverLeadToTheirTargets) {
  fs::create_directories(FTemp.Native("tree"));
  if (!MakeHostLink(FTemp.Native("file.txt").string(), FTemp.Native("tree/file-link").string()) ||
      !MakeHostLink(FTemp.Native("target").string(), FTemp.Native("tree/folder-link").string()))
    GTEST_SKIP() << "no Wine host links here";
  EXPECT_FALSE(FFs.RemoveEntry(FTemp.File("tree\\file-link")).ok());
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("tree\\file-link"), FTemp.File("moved.txt")).ok());
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("tree\\folder-link"), FTemp.File("moved")).ok());
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("tree\\folder-link\\kept.txt"), FTemp.File("out.txt")).ok());
  std::unique_ptr<File> file;
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("tree\\file-link"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  (void)FFs.ShellDelete(FTemp.File("tree"), true);
  EXPECT_EQ(ReadNative(FTemp.Native("file.txt")), "a file");
  EXPECT_EQ(ReadNative(FTemp.Native("target/kept.txt")), "the target's");
  RunOnHost(L"Z:\bin\rm", L"/bin/rm -f " + HostPath(FTemp.Native("tree/file-link").string()) + L" " +
                              HostPath(FTemp.Native("tree/folder-link").string()));
}

// Wine shows no reparse point of its own: the probe calls every entry
// named "fake-link" one, as Windows would call a junction or symbolic link.
bool FakeLinks(const std::wstring& path, unsigned long attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
         (path.size() >= 9 && path.compare(path.size() - 9, 9, L"fake-link") == 0);
}

class FakedReparseTest : public NoFollowTest {
 protected:
  void SetUp() override {
    NoFollowTest::SetUp();
    fs::create_directories(FTemp.Native("fake-link"));
    WriteNative(FTemp.Native("fake-link/behind.txt"), "behind the link");
    win32::SetReparseProbe(&FakeLinks);
  }
  void TearDown() override { win32::SetReparseProbe(nullptr); }
};

TEST_F(FakedReparseTest, AReparsePointOnTheWayIsRefusedNotGoneThrough) {
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("fake-link\\behind.txt"), FTemp.File("out.txt")).ok());
  EXPECT_FALSE(FFs.MoveEntry(FTemp.File("file.txt"), FTemp.File("fake-link\\in.txt")).ok());
  EXPECT_FALSE(FFs.RemoveEntry(FTemp.File("fake-link\\behind.txt")).ok());
  EXPECT_FALSE(FFs.MakeNewFolder(FTemp.File("fake-link\\made")).ok());
  EXPECT_FALSE(FFs.ShellDelete(FTemp.File("fake-link\\behind.txt"), true).ok());
  EXPECT_EQ(ReadNative(FTemp.Native("fake-link/behind.txt")), "behind the link");
  EXPECT_TRUE(fs::exists(FTemp.Native("file.txt")));
  EXPECT_FALSE(fs::exists(FTemp.Native("fake-link/made")));
}

TEST_F(FakedReparseTest, ATreeDeleteNeverEntersAReparsePoint) {
  fs::create_directories(FTemp.Native("tree/sub"));
  WriteNative(FTemp.Native("tree/sub/mine.txt"), "the tree's");
  fs::rename(FTemp.Native("fake-link"), FTemp.Native("tree/sub/fake-link"));
  // The faked link is a real folder with content, so deleting it as itself
  // fails; what matters is that nothing behind it went.
  (void)FFs.ShellDelete(FTemp.File("tree"), true);
  EXPECT_EQ(ReadNative(FTemp.Native("tree/sub/fake-link/behind.txt")), "behind the link");
  EXPECT_FALSE(fs::exists(FTemp.Native("tree/sub/mine.txt")));
}

TEST_F(FakedReparseTest, ALogIsNeverOpenedThroughAReparsePoint) {
  std::unique_ptr<File> file;
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("fake-link"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  WriteNative(FTemp.Native("fake-link/setup.log"), "");
  fs::rename(FTemp.Native("fake-link/setup.log"), FTemp.Native("log-fake-link"));
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("log-fake-link"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
  EXPECT_FALSE(FFs.OpenFile(FTemp.File("log-fake-link"), FileAccess::ReadNoLink, FileShare::Read, file).ok());
  EXPECT_TRUE(FFs.WritableByOthers(FTemp.File("fake-link")));
  EXPECT_FALSE(FFs.WritableByOthers(FTemp.File("target")));
  ASSERT_TRUE(FFs.OpenFile(FTemp.File("new.log"), FileAccess::AppendNoLink, FileShare::Read, file).ok());
}
#endif

}  // namespace
}  // namespace volok::platform
