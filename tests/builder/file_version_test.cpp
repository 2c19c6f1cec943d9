#include "builder/file_version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/pe_version.h"
#include "temp_folder.h"

namespace volok {
namespace {

#ifdef VOLOK_FIXTURE_DIR
// The fixture as the code under test sees it: under Wine the build folder is
// on drive Z:.
std::string Fixture(const std::string& arch) {
  std::string path = std::string(VOLOK_FIXTURE_DIR) + "/versioned_" + arch + ".exe";
#ifdef _WIN32
  path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

bool FindInBytes(const std::string& image, platform::FixedFileVersion& version) {
  platform::PeReadAt read = [&](std::uint64_t offset, void* buffer, std::size_t size) {
    if (offset > image.size() || size > image.size() - offset) {
      ADD_FAILURE() << "read beyond the image";
      return false;
    }
    std::memcpy(buffer, image.data() + offset, size);
    return true;
  };
  return platform::FindPeFixedFileVersion(read, image.size(), version);
}

class FileVersionTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FileVersionTest, FileAndProductVersionsComeFromTheFixedPart) {
  TVersion version;
  ASSERT_TRUE(ReadFileVersion(version, Fixture(GetParam()), true));
  EXPECT_EQ(VersionToStr(version), "3.2.1.45");
  ASSERT_TRUE(ReadFileVersion(version, Fixture(GetParam()), false));
  EXPECT_EQ(VersionToStr(version), "65535.0.40000.7");
}

// Every truncation and a sweep of damaged bytes: the reader answers without
// reading outside the image, and a damaged image never gives a wrong version
// unless the damage missed the parts it reads.
TEST_P(FileVersionTest, DamagedImagesAreRefusedWithoutReadingOutside) {
  std::string image = testing::ReadNative(testing::TempFolder::NativeOf(Fixture(GetParam())));
  ASSERT_GT(image.size(), 1024u);
  platform::FixedFileVersion version;
  ASSERT_TRUE(FindInBytes(image, version));
  for (std::size_t length = 0; length < image.size(); length += 61) {
    platform::FixedFileVersion truncated;
    if (FindInBytes(image.substr(0, length), truncated)) {
      EXPECT_EQ(truncated.FileVersionMS, version.FileVersionMS);
    }
  }
  for (std::size_t at = 0; at < image.size(); at += 7) {
    std::string damaged = image;
    damaged[at] = static_cast<char>(damaged[at] ^ 0xA5);
    platform::FixedFileVersion found;
    (void)FindInBytes(damaged, found);
  }
}

INSTANTIATE_TEST_SUITE_P(Toolchains, FileVersionTest, ::testing::Values("x86_64", "i686"));
#endif

TEST(FileVersionFailures, FilesWithoutAVersionResourceGiveFalseAndZero) {
  testing::TempFolder folder;
  testing::WriteNative(folder.Native("plain.txt"), "MZ but nothing else");
  TVersion version{1, 2, 3, 4};
  EXPECT_FALSE(ReadFileVersion(version, folder.File("plain.txt"), true));
  EXPECT_EQ(VersionToStr(version), "0.0.0.0");
  EXPECT_FALSE(ReadFileVersion(version, folder.File("absent.exe"), true));
  EXPECT_FALSE(ReadFileVersion(version, folder.Path(), true));  // a folder is no file
}

}  // namespace
}  // namespace volok
