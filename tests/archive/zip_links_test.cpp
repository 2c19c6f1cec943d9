// Symbolic links in payload folders: kept as link items when packed on
// POSIX, restored as links where the system makes them and as copies where
// it does not (Windows), and never a way out of the folder being unpacked.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "archive/zip_item_writer.h"
#include "archive/zip_links.h"
#include "archive/zip_names.h"
#include "common/error.h"
#include "temp_folder.h"
#include "zip_test_support.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
using archive::LinkTargetName;

TEST(ZipLinkTargets, OnlyPlainRelativeTextsThatStayBelowTheTopAndOffTheLinksOwnFolders) {
  struct Case {
    const char* link;
    const char* text;
    std::optional<std::string> target;
  } cases[] = {
      {"lib/libz.so", "libz.so.1", "lib/libz.so.1"},
      {"bin/tool", "../lib/./tool.real", "lib/tool.real"},
      {"current", "versions/2.0", "versions/2.0"},
      {"a/b/l", "../../c//d", "c/d"},
      {"top", "../etc", std::nullopt},              // climbs above the top
      {"a/l", "../../etc/passwd", std::nullopt},
      {"l", "/etc/passwd", std::nullopt},           // absolute
      {"l", "C:/Windows", std::nullopt},            // a drive
      {"l", "dir\\file", std::nullopt},             // Windows delimiter
      {"l", "", std::nullopt},
      {"a/b/up", "..", std::nullopt},               // its own folder's parent holds it
      {"a/b/self", ".", std::nullopt},              // its own folder
      {"a/b/loop", "../../A", std::nullopt},        // the same folder, another case
      {"a/b/side", "../c", "a/c"},
  };
  for (const Case& c : cases) EXPECT_EQ(LinkTargetName(c.link, c.text), c.target) << c.link << " -> " << c.text;
}

// A hand-made archive: what a hostile or careless tool could write, which
// the writer itself refuses to make.
void WriteArchive(const std::string& path, const std::vector<archive::ZipSource>& sources) {
  std::unique_ptr<platform::File> file;
  ASSERT_TRUE(platform::FileSystem::Default()
                  .OpenFile(path, platform::FileAccess::CreateAlways, platform::FileShare::Read, file)
                  .ok());
  archive::WriteZipArchive(*file, sources, ArchivePassword);
}

archive::ZipSource LinkItem(const std::string& name, const std::string& text) {
  archive::ZipSource source;
  source.FName = name;
  source.FPosixMode = archive::PosixLinkMode;
  source.FLinkText = text;
  return source;
}

archive::ZipSource FileItem(const std::string& name, const std::string& path) {
  archive::ZipSource source;
  source.FName = name;
  source.FPath = path;
  source.FAttributes = archive::AttributeArchive;
  return source;
}

archive::ZipSource FolderItem(const std::string& name) {
  archive::ZipSource source;
  source.FName = name;
  source.FFolder = true;
  return source;
}

// The copies a Windows reader makes, checked natively too: this file system
// says it makes no links.
class LinklessFileSystem final : public platform::FileSystemWrapper {
 public:
  LinklessFileSystem() : FileSystemWrapper(platform::FileSystem::BuiltIn()) {}
  bool MakesSymbolicLinks() override { return false; }
};

class ZipLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FTemp.Native("outside"));
    fs::create_directories(FTemp.Native("in"));
    WriteNative(FTemp.Native("data.txt"), "data");
    WriteNative(FTemp.Native("outside/secret"), "secret");
  }
  std::size_t Unpack(const std::vector<archive::ZipSource>& sources, std::vector<std::string>* refusals = nullptr) {
    WriteArchive(FTemp.File("hand.zip"), sources);
    ZipReader reader;
    reader.Open(FTemp.File("hand.zip"));
    reader.SetPassword(std::string(ArchivePassword));
    reader.SetBaseFolder(FTemp.File("in"));
    std::size_t count = reader.ExtractFiles("*.*");
    if (refusals) *refusals = reader.Refusals();
    return count;
  }
  // Every entry below the temporary folder that is not where a test put it.
  std::vector<std::string> Outside() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(FTemp.NativePath())) {
      std::string relative = fs::relative(entry.path(), FTemp.NativePath()).generic_string();
      if (relative.rfind("in", 0) != 0 && relative != "data.txt" && relative != "hand.zip" &&
          relative.rfind("outside", 0) != 0)
        found.push_back(relative);
    }
    // A link counts even when it leads nowhere.
    for (const auto& entry : fs::directory_iterator(FTemp.Native("outside")))
      if (entry.path().filename() != "secret") found.push_back(entry.path().generic_string());
    return found;
  }

  TempFolder FTemp;
};

// The classic zip slip through a link: the link is refused whatever order
// its items come in, and no byte lands outside the folder.
TEST_F(ZipLinks, ALinkOutOfTheFolderNeverCarriesAFileOut) {
  std::vector<std::string> refusals;
  std::size_t count = Unpack({LinkItem("evil", "../outside"), FileItem("evil/passwd", FTemp.File("data.txt")),
                              LinkItem("abs", "/etc"), FileItem("abs/new", FTemp.File("data.txt"))},
                             &refusals);
  EXPECT_EQ(count, 2u);  // the two files, inside, in real folders
  EXPECT_TRUE(Outside().empty());
  EXPECT_FALSE(fs::is_symlink(FTemp.Native("in/evil")));
  EXPECT_EQ(ReadNative(FTemp.Native("in/evil/passwd")), "data");
  ASSERT_EQ(refusals.size(), 2u);
  EXPECT_EQ(refusals[0],
            "Ссылка не восстановлена: evil -> ../outside: она ведёт за пределы папки распаковки или на свою же папку.");
}

TEST_F(ZipLinks, LinksAreCopiesWhereTheSystemMakesNoLinks) {
  LinklessFileSystem linkless;
  platform::ScopedDefault<platform::FileSystem> use(linkless);
  std::vector<std::string> refusals;
  std::size_t count = Unpack({FolderItem("lib/"), FileItem("lib/libz.so.1", FTemp.File("data.txt")),
                              LinkItem("libz.so", "lib/libz.so.1"), LinkItem("current", "lib"),
                              LinkItem("chain", "libz.so"), LinkItem("nowhere", "missing")},
                             &refusals);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(ReadNative(FTemp.Native("in/libz.so")), "data");
  EXPECT_EQ(ReadNative(FTemp.Native("in/chain")), "data");
  EXPECT_EQ(ReadNative(FTemp.Native("in/current/libz.so.1")), "data");
  EXPECT_FALSE(fs::is_symlink(FTemp.Native("in/current")));
  EXPECT_FALSE(fs::exists(FTemp.Native("in/nowhere")));
  EXPECT_EQ(refusals, std::vector<std::string>{
                          "Ссылка не восстановлена: nowhere -> missing: в архиве нет того, на что она указывает."});
}

#ifndef _WIN32
TEST_F(ZipLinks, LinksStayLinksOnPosixAndALinkPastAnotherStaysInside) {
  std::vector<std::string> refusals;
  // "a/b/z" leads up to "c" beside "a"; through it, "a/b/l" reads as
  // "a/outside/secret" and "a/b/o" as "a/outside" but both reach the folder
  // above "in": only the disk tells. "a/b/o/sub/new" would land there too.
  std::size_t count = Unpack({FolderItem("c/"), FileItem("lib.so.1", FTemp.File("data.txt")),
                              LinkItem("lib.so", "lib.so.1"), LinkItem("a/b/z", "../../c"),
                              LinkItem("a/b/l", "z/../../outside/secret"), LinkItem("a/b/o", "z/../../outside"),
                              LinkItem("a/b/o/sub/new", "x"), LinkItem("deep/er/lib", "../../lib.so")},
                             &refusals);
  EXPECT_EQ(count, 5u);
  EXPECT_TRUE(Outside().empty());
  EXPECT_EQ(fs::read_symlink(FTemp.Native("in/lib.so")), "lib.so.1");
  EXPECT_EQ(fs::read_symlink(FTemp.Native("in/a/b/z")), "../../c");
  EXPECT_EQ(ReadNative(FTemp.Native("in/deep/er/lib")), "data");  // its folders made as an item's are
  EXPECT_FALSE(fs::exists(fs::symlink_status(FTemp.Native("in/a/b/l"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(FTemp.Native("in/a/b/o"))));
  std::string out = "она ведёт за пределы папки распаковки или в никуда.";
  EXPECT_EQ(refusals, (std::vector<std::string>{
                          "Ссылка не восстановлена: a/b/o/sub/new -> x: её папка лежит за пределами папки распаковки или "
                          "не создаётся.",
                          "Ссылка не восстановлена: a/b/l -> z/../../outside/secret: " + out,
                          "Ссылка не восстановлена: a/b/o -> z/../../outside: " + out}));
  // Unpacked again over itself: the links give way to the new ones.
  EXPECT_EQ(Unpack({LinkItem("lib.so", "lib.so.1"), FileItem("lib.so.1", FTemp.File("data.txt"))}), 2u);
  EXPECT_EQ(ReadNative(FTemp.Native("in/lib.so")), "data");
}

TEST_F(ZipLinks, PackingKeepsLinksInsideAndRefusesLinksOut) {
  fs::create_directories(FTemp.Native("src/lib/real"));
  WriteNative(FTemp.Native("src/lib/real/f"), "f");
  fs::create_symlink("real", FTemp.Native("src/lib/current"));
  fs::create_symlink("lib/real/f", FTemp.Native("src/f-link"));
  PackFolder(FTemp.File("src"), FTemp.File("links.zip"));
  ZipReader reader;
  reader.Open(FTemp.File("links.zip"));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < reader.Count(); ++i) {
    names.push_back(reader.Item(i).FName);
    EXPECT_EQ(archive::IsLinkItem(reader.Item(i)), names.back() == "f-link" || names.back() == "lib/current");
  }
  // The linked folder is one item, not a second copy of its files.
  EXPECT_EQ(names, (std::vector<std::string>{"f-link", "lib/", "lib/current", "lib/real/", "lib/real/f"}));
  ASSERT_EQ(UnpackArchive(FTemp.File("links.zip"), FTemp.File("in")), 5u);
  EXPECT_EQ(fs::read_symlink(FTemp.Native("in/lib/current")), "real");
  EXPECT_EQ(ReadNative(FTemp.Native("in/f-link")), "f");

  fs::create_symlink("../../outside", FTemp.Native("src/lib/out"));
  try {
    PackFolder(FTemp.File("src"), FTemp.File("out.zip"));
    ADD_FAILURE() << "a link out of the folder was packed";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Ссылка ведёт за пределы архивируемой папки: " +
                                             FTemp.File("src\\lib\\out") + " -> ../../outside.");
  }
  EXPECT_FALSE(fs::exists(FTemp.Native("out.zip")));
}
#endif

}  // namespace
}  // namespace volok::testing
