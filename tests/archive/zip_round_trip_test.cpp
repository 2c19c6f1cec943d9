#include <gtest/gtest.h>

#include <algorithm>

#include "archive/zip_format.h"
#include "common/error.h"
#include "platform/file_system.h"
#include "zip_test_support.h"
#include "zip_test_tree.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileSystem;
namespace attr = platform::FileAttribute;

class ZipRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FTemp.Native("src"));
    fs::create_directories(FTemp.Native("out"));
  }
  std::string Source() const { return FTemp.File("src"); }
  std::string Out() const { return FTemp.File("out"); }
  std::string Archive() const { return FTemp.File("payload.zip"); }

  ZipReader& OpenArchive() {
    FReader.Open(Archive());
    return FReader;
  }
  const archive::ZipItemInfo& ItemNamed(const std::string& name) {
    for (std::size_t i = 0; i < FReader.Count(); ++i) {
      if (FReader.Item(i).FName == name) return FReader.Item(i);
    }
    throw std::runtime_error("no item " + name);
  }

  TempFolder FTemp;
  ZipReader FReader;
};

TEST_F(ZipRoundTrip, EveryKindOfItemComesBackIdentical) {
  Tree tree = SampleTree();
  WriteTree(FTemp.Native("src"), tree);
  PackFolder(Source(), Archive());

  EXPECT_EQ(UnpackArchive(Archive(), Out()), tree.size());
  EXPECT_EQ(ReadTree(FTemp.Native("out")), tree);

  OpenArchive();
  ASSERT_EQ(FReader.Count(), tree.size());
  EXPECT_EQ(ItemNamed("noise.bin").FMethod, archive::MethodStored);  // deflate could not shrink it
  EXPECT_EQ(ItemNamed("readme.txt").FMethod, archive::MethodDeflated);
  EXPECT_LT(ItemNamed("readme.txt").FCompressedSize, 10'000u);
  EXPECT_EQ(ItemNamed("empty.dat").FCrc32, 0u);
  EXPECT_EQ(ItemNamed("empty.dat").FMethod, archive::MethodStored);
  EXPECT_EQ(ItemNamed("Документы/отчёт.txt").FFlags,
            archive::FlagEncrypted | archive::FlagDataDescriptor | archive::FlagUtf8Name);
  EXPECT_EQ(ItemNamed("readme.txt").FFlags, archive::FlagEncrypted | archive::FlagDataDescriptor);
  EXPECT_TRUE(ItemNamed("empty folder/").IsFolder());
}

TEST_F(ZipRoundTrip, ItemsOfAFolderComeBeforeTheContentsOfItsSubFolders) {
  WriteTree(FTemp.Native("src"), SampleTree());
  PackFolder(Source(), Archive());
  OpenArchive();
  std::vector<std::string> names;
  for (std::size_t i = 0; i < FReader.Count(); ++i) names.push_back(FReader.Item(i).FName);
  auto position = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
  auto depth = [](const std::string& name) {
    return std::count(name.begin(), name.end() - (name.back() == '/'), '/');
  };
  // Breadth of the base folder first: all its entries precede any nested one.
  std::size_t top_level = std::count_if(names.begin(), names.end(), [&](auto& n) { return depth(n) == 0; });
  for (std::size_t i = 0; i < top_level; ++i) EXPECT_EQ(depth(names[i]), 0) << names[i];
  EXPECT_LT(position("bin/lib/"), position("bin/lib/deep.txt"));
}

TEST_F(ZipRoundTrip, ArchiveEndsWithItsEndRecordAfterAStoredRewrite) {
  // The last item is rewritten stored, shorter than its deflated attempt:
  // nothing of that attempt may trail the end record.
  WriteTree(FTemp.Native("src"), {{"z.bin", RandomBytes(2'000'000, 3)}});
  PackFolder(Source(), Archive());
  std::string bytes = ReadNative(FTemp.Native("payload.zip"));
  ASSERT_GE(bytes.size(), archive::EndRecordSize);
  EXPECT_EQ(bytes.substr(bytes.size() - archive::EndRecordSize, 4), "PK\x05\x06");
  EXPECT_EQ(UnpackArchive(Archive(), Out()), 1u);
  EXPECT_EQ(ReadNative(FTemp.Native("out/z.bin")), RandomBytes(2'000'000, 3));
}

TEST_F(ZipRoundTrip, AttributesAndTimesAreRestored) {
  WriteTree(FTemp.Native("src"), {{"hidden.txt", "h"}, {"system.txt", "s"}, {"readonly.txt", "r"}, {"f/", ""}});
  FileSystem& files = FileSystem::Default();
  const platform::FileTime when = 132'000'000'000'000'000;  // 2019-04-18, an even second
  ASSERT_TRUE(files.SetLastWriteTime(Source() + "\\hidden.txt", when).ok());
  ASSERT_TRUE(files.SetAttributes(Source() + "\\hidden.txt", attr::Hidden).ok());
  ASSERT_TRUE(files.SetAttributes(Source() + "\\system.txt", attr::System).ok());
  ASSERT_TRUE(files.SetAttributes(Source() + "\\readonly.txt", attr::ReadOnly).ok());
  ASSERT_TRUE(files.SetAttributes(Source() + "\\f", attr::Hidden).ok());
  PackFolder(Source(), Archive());
  ASSERT_EQ(UnpackArchive(Archive(), Out()), 4u);

  auto attributes = [&](const std::string& name) {
    std::uint32_t value = 0;
    EXPECT_TRUE(files.GetAttributes(Out() + "\\" + name, value).ok()) << name;
    return value & (attr::Hidden | attr::System | attr::ReadOnly);
  };
  EXPECT_EQ(attributes("hidden.txt"), attr::Hidden);
  EXPECT_EQ(attributes("system.txt"), attr::System);
  EXPECT_EQ(attributes("readonly.txt"), attr::ReadOnly);
  EXPECT_EQ(attributes("f"), attr::Hidden);
  platform::FileTime restored = 0;
  ASSERT_TRUE(files.GetLastWriteTime(Out() + "\\hidden.txt", restored).ok());
  EXPECT_EQ(restored, when);
  // Hidden and system files are replaced on a second run (CreateFileW alone
  // refuses to), read-only ones are not.
  EXPECT_EQ(UnpackArchive(Archive(), Out()), 3u);
  EXPECT_EQ(attributes("hidden.txt"), attr::Hidden);
}

TEST_F(ZipRoundTrip, AttributeFilterMaskAndReplacementShapeTheItemList) {
  WriteTree(FTemp.Native("src"), {{"a.txt", "a"}, {"b.log", "b"}, {"secret.txt", "s"}, {"sub/", ""}, {"sub/c.txt", "c"}});
  ASSERT_TRUE(FileSystem::Default().SetAttributes(Source() + "\\secret.txt", attr::Hidden).ok());
  ZipWriter writer;
  writer.SetBaseFolder(Source());
  writer.SetPassword("pw");
  writer.SetFileName(Source() + "\\inside.zip");  // inside the packed folder
  writer.AddFiles("*.txt", ZipWriter::AnyFile & ~attr::Hidden);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < writer.Count(); ++i) names.push_back(writer.ItemName(i));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/c.txt"}));
  writer.AddFiles("*.*", ZipWriter::AnyFile);  // same names again replace, new ones append
  EXPECT_EQ(writer.Count(), 5u);
  writer.Save();
  writer.AddFiles("*.*", ZipWriter::AnyFile);  // the archive now exists and is skipped
  EXPECT_EQ(writer.Count(), 5u);
  EXPECT_THROW(ZipWriter().SetBaseFolder(FTemp.File("missing")), Error);
}

}  // namespace
}  // namespace volok::testing
