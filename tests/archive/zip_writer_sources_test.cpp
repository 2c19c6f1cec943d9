// What ZipWriter refuses to pack before reading anything, and the POSIX
// modes it records beside the Windows attributes.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/zip_reader.h"
#include "common/error.h"
#include "common/file_names.h"
#include "zip_test_support.h"
#include "zip_test_tree.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace volok::testing {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// The message of packing `folder`, or "" when it packs.
std::string PackFailure(const TempFolder& temp, const std::string& folder) {
  try {
    PackFolder(temp.File(folder), temp.File(folder + ".zip"));
  } catch (const Error& error) {
    EXPECT_FALSE(fs::exists(temp.Native(folder + ".zip"))) << folder;
    return error.what();
  }
  return "";
}

// Windows (and Wine) cannot make any of these, so only POSIX meets them.
TEST(ZipWriterSources, EntriesWindowsCannotHoldFailNamingThem) {
  TempFolder temp;
  auto folder = [&](const std::string& name) {
    fs::create_directories(temp.Native(name));
    WriteNative(temp.Native(name + "/plain.txt"), "plain");
    return temp.Native(name);
  };
  ASSERT_EQ(::mkfifo((folder("fifo") / "pipe").c_str(), 0600), 0);
  fs::create_symlink("nowhere", folder("dangling") / "gone");
  ASSERT_EQ(::mkfifo((folder("linked") / ".pipe").c_str(), 0600), 0);
  fs::create_symlink(".pipe", temp.Native("linked/to-pipe"));
  WriteNative(folder("case") / "A.txt", "upper");
  WriteNative(temp.Native("case/a.txt"), "lower");
  WriteNative(folder("drive") / "c:foo", "drive-like");
  WriteNative(temp.Native("drive/foo"), "foo");
  fs::create_directories(folder("nested") / "sub");
  WriteNative(temp.Native("nested/sub/d:e"), "stream-like");
  WriteNative(folder("dots") / "trailing.", "");

  EXPECT_EQ(PackFailure(temp, "fifo"), NotFileOrFolderMessage(temp.File("fifo\\pipe")));
  EXPECT_EQ(PackFailure(temp, "dangling"), NotFileOrFolderMessage(temp.File("dangling\\gone")));
  std::string linked = PackFailure(temp, "linked");
  EXPECT_TRUE(linked == NotFileOrFolderMessage(temp.File("linked\\.pipe")) ||
              linked == NotFileOrFolderMessage(temp.File("linked\\to-pipe")))
      << linked;
  std::string cased = PackFailure(temp, "case");
  EXPECT_EQ(cased.rfind("Имена различаются только регистром: ", 0), 0u) << cased;
  EXPECT_NE(cased.find(temp.File("case\\A.txt")), std::string::npos) << cased;
  EXPECT_NE(cased.find(temp.File("case\\a.txt")), std::string::npos) << cased;
  EXPECT_EQ(PackFailure(temp, "drive"), "Имя недопустимо в Windows: " + temp.File("drive\\c:foo") + ".");
  EXPECT_EQ(PackFailure(temp, "nested"), "Имя недопустимо в Windows: " + temp.File("nested\\sub\\d:e") + ".");
  EXPECT_EQ(PackFailure(temp, "dots"), "Имя недопустимо в Windows: " + temp.File("dots\\trailing.") + ".");
}
#endif

// POSIX hosts record each item's mode as Unix hosts do, Windows records
// none; the Windows attributes stay in the low half either way.
TEST(ZipWriterSources, ModesAreRecordedWhereTheSystemHasThem) {
  TempFolder temp;
  fs::create_directories(temp.Native("src/bin"));
  WriteNative(temp.Native("src/bin/tool"), "#!/bin/sh\n");
  WriteNative(temp.Native("src/.hidden"), "h");
#ifndef _WIN32
  fs::permissions(temp.Native("src/bin/tool"), fs::perms(0750));
  fs::permissions(temp.Native("src/.hidden"), fs::perms(0640));
#endif
  PackFolder(temp.File("src"), temp.File("a.zip"));
  ZipReader reader;
  reader.Open(temp.File("a.zip"));
  std::map<std::string, const archive::ZipItemInfo*> items;
  for (std::size_t i = 0; i < reader.Count(); ++i) items[reader.Item(i).FName] = &reader.Item(i);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_NE(items["bin/"]->FExternalAttributes & archive::AttributeDirectory, 0u);
  EXPECT_NE(items[".hidden"]->FExternalAttributes & archive::AttributeHidden, 0u);
#ifdef _WIN32
  for (const auto& [name, item] : items) EXPECT_EQ(item->FHost, archive::HostNtfs) << name;
  for (const auto& [name, item] : items) EXPECT_EQ(item->PosixMode(), 0u) << name;
#else
  for (const auto& [name, item] : items) EXPECT_EQ(item->FHost, archive::HostUnix) << name;
  EXPECT_EQ(items["bin/tool"]->PosixMode(), 0100750u);
  EXPECT_EQ(items[".hidden"]->PosixMode(), 0100640u);
  EXPECT_EQ(items["bin/"]->PosixMode() & 0170000, 0040000u);
#endif
}

}  // namespace
}  // namespace volok::testing
