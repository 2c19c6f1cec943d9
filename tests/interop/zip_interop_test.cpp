// Archives written by ZipWriter opened by Info-ZIP unzip, 7-Zip and
// python's zipfile; archives of Info-ZIP zip and 7-Zip opened by ZipReader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "../archive/zip_test_support.h"
#include "../archive/zip_test_tree.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command in a UTF-8 locale, so the peers keep Cyrillic names.
int RunPeer(const std::string& command) { return std::system(("LC_ALL=C.UTF-8 " + command + " >/dev/null 2>&1").c_str()); }

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(("LC_ALL=C.UTF-8 " + command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return text;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

class ZipInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    FTree = SampleTree();
    WriteTree(FTemp.Native("src"), FTree);
    fs::create_directories(FTemp.Native("out"));
  }
  fs::path Native(const std::string& name) const { return FTemp.Native(name); }

  TempFolder FTemp;
  Tree FTree;
  const std::string FPassword{ArchivePassword};
};

TEST_F(ZipInterop, PeersExtractOurArchivesByteIdentically) {
  PackFolder(FTemp.File("src"), FTemp.File("ours.zip"));
  fs::path archive = Native("ours.zip");

  EXPECT_EQ(RunPeer("unzip -tq -P " + FPassword + " " + Quote(archive)), 0) << "Info-ZIP's own integrity test";
  std::istringstream listing(Output("unzip -Z1 " + Quote(archive)));
  Tree listed;
  for (std::string name; std::getline(listing, name);) listed[name] = FTree.count(name) ? FTree[name] : "?";
  EXPECT_EQ(listed, FTree);

  ASSERT_EQ(RunPeer("unzip -qq -P " + FPassword + " " + Quote(archive) + " -d " + Quote(Native("unzip"))), 0);
  EXPECT_EQ(ReadTree(Native("unzip")), FTree);

  ASSERT_EQ(RunPeer("7z x -y -p" + FPassword + " -o" + Quote(Native("7z")) + " " + Quote(archive)), 0);
  EXPECT_EQ(ReadTree(Native("7z")), FTree);

  ASSERT_EQ(RunPeer("python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], "
                "pwd=sys.argv[3].encode())\" " +
                Quote(archive) + " " + Quote(Native("python")) + " " + FPassword),
            0);
  EXPECT_EQ(ReadTree(Native("python")), FTree);
}

TEST_F(ZipInterop, PeersRefuseOurArchivesWithAnotherPassword) {
  PackFolder(FTemp.File("src"), FTemp.File("ours.zip"));
  EXPECT_NE(RunPeer("unzip -tq -P wrong " + Quote(Native("ours.zip"))), 0);
}

TEST_F(ZipInterop, WeExtractInfoZipArchives) {
  ASSERT_EQ(RunPeer("cd " + Quote(Native("src")) + " && zip -q -r -P " + FPassword + " ../infozip.zip ."), 0);
  EXPECT_EQ(UnpackArchive(FTemp.File("infozip.zip"), FTemp.File("out")), FTree.size());
  EXPECT_EQ(ReadTree(Native("out")), FTree);
}

TEST_F(ZipInterop, WeExtract7ZipArchivesWithZipCrypto) {
  ASSERT_EQ(RunPeer("cd " + Quote(Native("src")) + " && 7z a -tzip -mem=ZipCrypto -p" + FPassword + " ../7z.zip ."), 0);
  EXPECT_EQ(UnpackArchive(FTemp.File("7z.zip"), FTemp.File("out")), FTree.size());
  EXPECT_EQ(ReadTree(Native("out")), FTree);
}

}  // namespace
}  // namespace volok::testing
