// Path and folder routines over the real file system and, for the calls they
// must (or must not) make, over a recording wrapper.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <vector>

#include "common/file_utils.h"
#include "platform/file_system.h"
#include "temp_folder.h"

namespace volok {
namespace {

using platform::FileSystem;
using platform::Status;
using testing::TempFolder;
using testing::WriteNative;
namespace fs = std::filesystem;

// Records folder creations and shell deletes; fails the folders it is told
// to and deletes nothing.
class RecordingFileSystem final : public platform::FileSystemWrapper {
 public:
  RecordingFileSystem() : FileSystemWrapper(FileSystem::BuiltIn()) {}
  Status MakeFolder(const std::string& path) override {
    FMade.push_back(path);
    if (FFailing.count(path)) return Status::Failure("refused: " + path);
    return FTarget.MakeFolder(path);
  }
  Status ShellDelete(const std::string& path, bool permanent) override {
    FDeleted.push_back(path + (permanent ? " permanent" : " recycle"));
    return Status::Ok();
  }
  std::vector<std::string> FMade, FDeleted;
  std::set<std::string> FFailing;
};

TEST(TrailingDelimiterTest, OneBackslashOnlyAndNeverASlash) {
  EXPECT_EQ(IncludeTrailingDelimiter(""), "\\");
  EXPECT_EQ(IncludeTrailingDelimiter("C:\\x"), "C:\\x\\");
  EXPECT_EQ(IncludeTrailingDelimiter("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(IncludeTrailingDelimiter("a/"), "a/\\");
  EXPECT_EQ(ExcludeTrailingDelimiter("C:\\"), "C:");
  EXPECT_EQ(ExcludeTrailingDelimiter("a\\\\"), "a\\");
  EXPECT_EQ(ExcludeTrailingDelimiter("a/"), "a/");
  EXPECT_EQ(ExcludeTrailingDelimiter(""), "");
}

TEST(ForceFoldersTest, CreatesFromTheOutermostMissingFolderInwards) {
  TempFolder temp;
  fs::create_directory(temp.Native("a"));
  RecordingFileSystem recorder;
  platform::ScopedDefault<FileSystem> scoped(recorder);
  EXPECT_TRUE(ForceFolders(temp.File("a\\b\\c\\")));
  EXPECT_TRUE(fs::is_directory(temp.Native("a/b/c")));
  EXPECT_EQ(recorder.FMade, (std::vector<std::string>{temp.File("a\\b"), temp.File("a\\b\\c")}));
  recorder.FMade.clear();
  EXPECT_TRUE(ForceFolders(temp.File("a\\b")));
  EXPECT_TRUE(recorder.FMade.empty());
}

TEST(ForceFoldersTest, AFailedParentStopsBeforeTheChild) {
  TempFolder temp;
  RecordingFileSystem recorder;
  recorder.FFailing.insert(temp.File("x"));
  platform::ScopedDefault<FileSystem> scoped(recorder);
  EXPECT_FALSE(ForceFolders(temp.File("x\\y")));
  EXPECT_EQ(recorder.FMade, std::vector<std::string>{temp.File("x")});
  // A file where a folder belongs cannot become one.
  WriteNative(temp.Native("file"), "x");
  EXPECT_FALSE(ForceFolders(temp.File("file\\sub")));
}

TEST(ForceFoldersTest, ShortAndDriveTextsCountAsExistingAndCreateNothing) {
  RecordingFileSystem recorder;
  platform::ScopedDefault<FileSystem> scoped(recorder);
  EXPECT_TRUE(ForceFolders(""));
  EXPECT_TRUE(ForceFolders("C:\\"));
  EXPECT_TRUE(ForceFolders("ab"));
  EXPECT_TRUE(ForceFolders("жж"));  // two characters, four bytes
  EXPECT_TRUE(ForceFolders("ab:"));  // its parent is itself
  EXPECT_TRUE(recorder.FMade.empty());
}

TEST(ForceFoldersTest, ARelativeNameIsCreatedInTheCurrentFolder) {
  TempFolder temp;
  fs::path saved = fs::current_path();
  fs::current_path(temp.NativePath());
  bool made = ForceFolders("abc");
  bool nested = ForceFolders("abc\\def");
  fs::current_path(saved);
  EXPECT_TRUE(made);
  EXPECT_TRUE(nested);
  EXPECT_TRUE(fs::is_directory(temp.Native("abc/def")));
}

TEST(DeleteFolderTest, HandsTheShellOneFullPathWithoutDelimiter) {
  TempFolder temp;
  RecordingFileSystem recorder;
  platform::ScopedDefault<FileSystem> scoped(recorder);
  EXPECT_TRUE(DeleteFolder(temp.File("Data\\.\\Old\\"), false));
  EXPECT_TRUE(DeleteFolder(temp.File("x\\..\\f"), true));
  EXPECT_EQ(recorder.FDeleted,
            (std::vector<std::string>{temp.File("Data\\Old") + " recycle", temp.File("f") + " permanent"}));
}

TEST(DeleteFolderTest, RefusesDriveRoots) {
  RecordingFileSystem recorder;
  platform::ScopedDefault<FileSystem> scoped(recorder);
  for (const char* root : {"C:\\", "C:", "Z:\\", "\\", "C:\\Windows\\..", "\\\\server\\share\\"})
    EXPECT_FALSE(DeleteFolder(root, true)) << root;
  EXPECT_FALSE(DeleteFolder("", true));
  // The shell would expand a wildcard itself: "C:\\*" is a drive's content.
  for (const char* mask : {"C:\\*", "\\*", "C:\\*.*", "Z:\\tmp\\?", "*"}) EXPECT_FALSE(DeleteFolder(mask, true)) << mask;
  EXPECT_TRUE(recorder.FDeleted.empty());
}

TEST(MatchesMaskTest, WindowsRules) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"a.tmp", "*.tmp", true},      {"A.TMP", "*.tmp", true},     {"a.tmp.txt", "*.tmp", false},
      {"a.tmp", "*", true},          {"noext", "*.*", true},       {"noext", "noext.*", true},
      {"noext.x", "noext.*", true},  {"ab", "a?", true},           {"a", "a?", false},
      {"abc", "a*c", true},          {"abcbc", "a*bc", true},      {"abcb", "a*bc", false},
      {"Файл.ТМП", "файл.*", true},  {"Ёлка.txt", "?лка.txt", true}, {"x", "", false},
      {"", "*", true},               {"a*b", "a*b", true},         {"aXb", "a*b", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
  EXPECT_TRUE(MatchesMask(std::string(10000, 'a') + "b", "*a*a*a*a*b"));
}

TEST(DeleteFolderTest, DeletesFoldersAndFilesAndAnswersFalseForMissingOnes) {
  TempFolder temp;
  fs::create_directories(temp.Native("Old/inner"));
  WriteNative(temp.Native("Old/inner/f"), "x");
  EXPECT_TRUE(DeleteFolder(temp.File("Old\\"), true));
  EXPECT_FALSE(fs::exists(temp.Native("Old")));
  EXPECT_TRUE(fs::exists(temp.NativePath()));
  EXPECT_FALSE(DeleteFolder(temp.File("Old"), true));
  WriteNative(temp.Native("plain.txt"), "x");
  fs::path saved = fs::current_path();
  fs::current_path(temp.NativePath());
  bool deleted = DeleteFolder("plain.txt", true);
  fs::current_path(saved);
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(fs::exists(temp.Native("plain.txt")));
}

TEST(GetTempFolderTest, NoTrailingDelimiterAndEmptyWhenTheSystemHasNone) {
  std::string folder = GetTempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(FileSystem::Default().FolderExists(folder));
  class NoTemp final : public platform::FileSystemWrapper {
   public:
    NoTemp() : FileSystemWrapper(FileSystem::BuiltIn()) {}
    Status TempFolderPath(std::string&) override { return Status::Failure("none"); }
  } no_temp;
  platform::ScopedDefault<FileSystem> scoped(no_temp);
  EXPECT_EQ(GetTempFolder(), "");
}

}  // namespace
}  // namespace volok
