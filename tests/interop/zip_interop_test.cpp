// Archives written by ZipWriter opened by Info-ZIP unzip, 7-Zip and
// python's zipfile; archives of Info-ZIP zip and 7-Zip opened by ZipReader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <sys/stat.h>

#include "../archive/zip_test_support.h"
#include "../archive/zip_test_tree.h"
#include "archive/zip_item_writer.h"
#include "platform/file_system.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command in a UTF-8 locale, so the peers keep Cyrillic names.
int RunPeer(const std::string& command) { return std::system(("LC_ALL=C.UTF-8 " + command + " >/dev/null 2>&1").c_str()); }

std::string Python(const std::string& script, const std::string& arguments) {
  return "python3 -c \"" + script + "\" " + arguments;
}

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

// Packed here, items carry their POSIX modes: Info-ZIP restores them, lists
// them as made on Unix, and our own reader gives scripts their execute bits.
TEST_F(ZipInterop, ModesPackedOnPosixSurviveInfoZipAndOurReader) {
  fs::create_directories(Native("modes"));
  WriteNative(Native("modes/run.sh"), "#!/bin/sh\n");
  WriteNative(Native("modes/data.txt"), "data");
  WriteNative(Native("modes/own.sh"), "#!/bin/sh\n");
  fs::permissions(Native("modes/run.sh"), fs::perms(0755));
  fs::permissions(Native("modes/data.txt"), fs::perms(0644));
  fs::permissions(Native("modes/own.sh"), fs::perms(0744));
  PackFolder(FTemp.File("modes"), FTemp.File("modes.zip"));
  fs::path archive = Native("modes.zip");
  fs::create_directories(Native("private"));

  std::string listing = Output("zipinfo " + Quote(archive));
  EXPECT_NE(listing.find("-rwxr-xr-x  2.0 unx"), std::string::npos) << listing;
  EXPECT_NE(listing.find("-rw-r--r--  2.0 unx"), std::string::npos) << listing;
  EXPECT_NE(listing.find("-rwxr--r--  2.0 unx"), std::string::npos) << listing;

  auto mode = [](const fs::path& path) { return static_cast<unsigned>(fs::status(path).permissions()) & 0777; };
  ASSERT_EQ(RunPeer("unzip -qq -P " + FPassword + " " + Quote(archive) + " -d " + Quote(Native("unzipped"))), 0);
  for (const char* name : {"run.sh", "data.txt", "own.sh"})
    EXPECT_EQ(mode(Native("unzipped") / name), mode(Native("modes") / name)) << name;

  mode_t saved = ::umask(022);
  std::size_t unpacked = UnpackArchive(FTemp.File("modes.zip"), FTemp.File("out"));
  ::umask(077);
  ASSERT_EQ(UnpackArchive(FTemp.File("modes.zip"), FTemp.File("private")), 3u);
  ::umask(saved);
  ASSERT_EQ(unpacked, 3u);
  for (const char* name : {"run.sh", "data.txt", "own.sh"})
    EXPECT_EQ(mode(Native("out") / name), mode(Native("modes") / name)) << name;
  // Execute bits go only to the classes the new file lets read it.
  EXPECT_EQ(mode(Native("private/run.sh")), 0700u);
  EXPECT_EQ(mode(Native("private/data.txt")), 0600u);
}

// Links kept as Info-ZIP's "zip --symlinks" keeps them: each side restores
// the other's links as links, encrypted as packages are.
TEST_F(ZipInterop, SymbolicLinksTravelBothWaysWithInfoZip) {
  fs::create_directories(Native("links/lib/real"));
  WriteNative(Native("links/lib/real/libz.so.1"), "library");
  fs::create_symlink("libz.so.1", Native("links/lib/real/libz.so"));
  fs::create_symlink("real", Native("links/lib/current"));
  PackFolder(FTemp.File("links"), FTemp.File("ours.zip"));
  std::string listing = Output("zipinfo " + Quote(Native("ours.zip")));
  // Mode, host, the text's length, encrypted ("B"), stored.
  EXPECT_NE(listing.find("lrwxrwxrwx  2.0 unx        4 Bl stor"), std::string::npos) << listing;
  ASSERT_EQ(RunPeer("unzip -qq -P " + FPassword + " " + Quote(Native("ours.zip")) + " -d " + Quote(Native("unzip"))), 0);
  EXPECT_EQ(fs::read_symlink(Native("unzip/lib/current")), "real");
  EXPECT_EQ(fs::read_symlink(Native("unzip/lib/real/libz.so")), "libz.so.1");

  ASSERT_EQ(RunPeer("cd " + Quote(Native("links")) + " && zip -q -r --symlinks -P " + FPassword + " ../infozip.zip ."), 0);
  EXPECT_EQ(UnpackArchive(FTemp.File("infozip.zip"), FTemp.File("out")), 5u);
  EXPECT_EQ(fs::read_symlink(Native("out/lib/current")), "real");
  EXPECT_EQ(fs::read_symlink(Native("out/lib/real/libz.so")), "libz.so.1");
  EXPECT_EQ(ReadNative(Native("out/lib/current/libz.so")), "library");
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

// ZIP64: items past 4 GiB (a sparse file of zeros keeps the disk use and
// the time small), more than 65535 items, and ZIP64 records on small
// archives as `zip -fz` and python's force_zip64 write them.
class ZipInterop64 : public ZipInterop {
 protected:
  static constexpr std::uint64_t BigSize = (std::uint64_t{1} << 32) + (1 << 20);

  fs::path SparseFile(const std::string& name) {
    fs::path path = Native(name);
    WriteNative(path, "");
    fs::resize_file(path, BigSize);
    return path;
  }
};

TEST_F(ZipInterop64, PeersOpenOurItemsPast4GiB) {
  fs::create_directories(Native("big"));
  SparseFile("big/zeros.bin");
  WriteNative(Native("big/after.txt"), "after the big one");
  PackFolder(FTemp.File("big"), FTemp.File("big.zip"));
  fs::remove(Native("big/zeros.bin"));
  std::string archive = Quote(Native("big.zip"));
  EXPECT_EQ(RunPeer("unzip -tq -P " + FPassword + " " + archive), 0);
  EXPECT_EQ(RunPeer("7z t -p" + FPassword + " " + archive), 0);
  EXPECT_EQ(Output(Python("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                          "print(z.getinfo('zeros.bin').file_size, z.read('after.txt', pwd=sys.argv[2].encode()))",
                          archive + " " + FPassword)),
            std::to_string(BigSize) + " b'after the big one'\n");
}

TEST_F(ZipInterop64, PeersOpenOurArchivesOfMoreThan65535Items) {
  std::vector<archive::ZipSource> sources(70'000);
  for (std::size_t i = 0; i < sources.size(); ++i) sources[i] = {"", "d" + std::to_string(i) + "/", true, 0, 0};
  WriteNative(Native("last.txt"), "last");
  sources.push_back({FTemp.File("last.txt"), "last.txt", false, 0, 0});
  {
    std::unique_ptr<platform::File> out;
    ASSERT_TRUE(platform::FileSystem::Default()
                    .OpenFile(FTemp.File("many.zip"), platform::FileAccess::CreateAlways,
                              platform::FileShare::None, out)
                    .ok());
    archive::WriteZipArchive(*out, sources, FPassword);
  }
  std::string archive = Quote(Native("many.zip"));
  std::string listing = Output("unzip -Z1 " + archive);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 70'001);
  EXPECT_EQ(RunPeer("7z t -p" + FPassword + " " + archive), 0);
  EXPECT_EQ(Output(Python("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                          "print(len(z.namelist()), z.read('last.txt', pwd=sys.argv[2].encode()))",
                          archive + " " + FPassword)),
            "70001 b'last'\n");
}

TEST_F(ZipInterop64, WeExtractZip64ArchivesOfInfoZipAndPython) {
  ASSERT_EQ(RunPeer("cd " + Quote(Native("src")) + " && zip -q -fz -r -P " + FPassword + " ../fz.zip ."), 0);
  EXPECT_EQ(UnpackArchive(FTemp.File("fz.zip"), FTemp.File("out")), FTree.size());
  EXPECT_EQ(ReadTree(Native("out")), FTree);

  // Python's ZIP64 local headers on every item; it writes no encryption.
  ASSERT_EQ(RunPeer(Python("import os, sys, zipfile\n"
                           "z = zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED)\n"
                           "for root, dirs, files in os.walk(sys.argv[1]):\n"
                           "  for d in dirs: z.mkdir(os.path.relpath(os.path.join(root, d), sys.argv[1]))\n"
                           "  for f in files:\n"
                           "    p = os.path.join(root, f)\n"
                           "    with z.open(os.path.relpath(p, sys.argv[1]), 'w', force_zip64=True) as o:\n"
                           "      o.write(open(p, 'rb').read())\n"
                           "z.close()",
                           Quote(Native("src")) + " " + Quote(Native("py.zip")))),
            0);
  fs::create_directories(Native("py"));
  EXPECT_EQ(UnpackArchive(FTemp.File("py.zip"), FTemp.File("py"), ""), FTree.size());
  EXPECT_EQ(ReadTree(Native("py")), FTree);
}

TEST_F(ZipInterop64, WeReadPythonArchivesPast4GiBAndPast65535Items) {
  SparseFile("zeros.bin");
  // Stored, so the archive itself passes 4 GiB and the last item's offset
  // needs ZIP64 too; then 70,000 more items.
  ASSERT_EQ(RunPeer(Python("import sys, zipfile\n"
                           "z = zipfile.ZipFile(sys.argv[2], 'w')\n"
                           "z.write(sys.argv[1], 'zeros.bin')\n"
                           "z.writestr('tail.txt', 'past 4 GiB')\n"
                           "for i in range(70000): z.writestr('e%d/' % i, '')\n"
                           "z.close()",
                           Quote(Native("zeros.bin")) + " " + Quote(Native("py.zip")))),
            0);
  fs::remove(Native("zeros.bin"));
  ZipReader reader;
  reader.Open(FTemp.File("py.zip"));
  ASSERT_EQ(reader.Count(), 70'002u);
  EXPECT_EQ(reader.Item(0).FUncompressedSize, BigSize);
  EXPECT_GT(reader.Item(1).FLocalHeaderOffset, BigSize);
  reader.SetPassword("");
  reader.SetBaseFolder(FTemp.File("out"));
  EXPECT_EQ(reader.ExtractFiles("tail.txt"), 1u);
  EXPECT_EQ(ReadNative(Native("out/tail.txt")), "past 4 GiB");
  // Counted only when its size and CRC-32 check out.
  EXPECT_EQ(reader.ExtractFiles("zeros.bin"), 1u);
  EXPECT_EQ(fs::file_size(Native("out/zeros.bin")), BigSize);
}

}  // namespace
}  // namespace volok::testing
