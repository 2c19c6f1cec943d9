// The single-file package as the builder writes it and as the engine reads
// its layout: every part in its place, and any file that is cut, grown,
// altered or signed again over added bytes refused without a read past
// its end.
#include <functional>

#include "builder/single_file.h"
#include "builder_fixture.h"
#include "common/package_layout.h"
#include "memory_file.h"

namespace volok {
namespace {

class SingleFileTest : public BuilderTest {
 protected:
  void BuildPackage() {
    std::filesystem::create_directories(FWork.Native("app"));
    testing::WriteNative(FWork.Native("app") / "main.txt", "main");
    testing::WriteNative(FWork.Native("readme.txt"), "read me");
    WriteDescription(Entry("readme.txt", FWork.File("readme.txt"), "", "") +
                     Entry("app.zip", FWork.File("app"), "Folder", "Zip"));
    ASSERT_TRUE(Build());
    FSingle = testing::ReadNative(PackageNative("2.5.0.0", "Demo-2.5.0.0-setup.exe"));
    ASSERT_TRUE(DecodeManifestRecord(std::string_view(FSingle).substr(ManifestRecordOffset(FSingle)), FRecord));
  }
  // Reads `bytes` as the engine reads its own file; "" when it is taken.
  std::string Layout(const std::string& bytes, TPackageManifest& manifest) {
    testing::MemoryFile file(bytes);
    std::string failure;
    const bool read = ReadPackageLayout(file, FRecord, manifest, failure);
    EXPECT_FALSE(file.ReadPastEnd);
    EXPECT_EQ(read, failure.empty());
    return failure;
  }
  std::string Layout(const std::string& bytes) {
    TPackageManifest manifest;
    return Layout(bytes, manifest);
  }

  std::string FSingle;
  TManifestRecord FRecord;
};

TEST_F(SingleFileTest, CarriesTheImageTheBareEngineAndEveryPackageFileBackToBack) {
  BuildPackage();
  TPackageManifest manifest;
  ASSERT_EQ(Layout(FSingle, manifest), "");
  std::vector<std::string> names;
  for (const TManifestEntry& entry : manifest.Entries) {
    EXPECT_TRUE(entry.Attached()) << entry.Name;
    names.push_back(entry.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"setup.exe", "setup.exe.tail", "uninstall.exe", "setup.xml", "app.zip",
                                             "readme.txt"}));
  auto part = [&](const char* name) {
    const TManifestEntry* entry = manifest.Find(name);
    return entry ? FSingle.substr(entry->Offset, entry->Size) : std::string("<none>");
  };
  // Unsigned, the uninstaller is the bare engine itself; the other files
  // are those of the folder, which keeps its own form.
  const std::string engine = testing::ReadNative(FWork.Native("engine.exe"));
  EXPECT_EQ(part("uninstall.exe"), engine);
  for (const char* name : {"setup.xml", "app.zip", "readme.txt"})
    EXPECT_EQ(part(name), testing::ReadNative(PackageNative("2.5.0.0", name))) << name;
  EXPECT_EQ(part("setup.exe") + EncodeManifestRecord(FRecord) + part("setup.exe.tail"), FSingle.substr(0, engine.size()));
  for (const TManifestEntry& entry : SealedManifest("2.5.0.0").Entries) EXPECT_FALSE(entry.Attached());
  EXPECT_EQ(FBuilder.SingleFile(), PackageFolder("2.5.0.0") + "Demo-2.5.0.0-setup.exe");
  // The build left no working file beside the package's.
  EXPECT_FALSE(std::filesystem::exists(PackageNative("2.5.0.0", "uninstall.exe")));
}

TEST_F(SingleFileTest, AFileCutGrownOrAlteredIsRefused) {
  BuildPackage();
  const std::size_t record_at = static_cast<std::size_t>(ManifestRecordOffset(FSingle));
  struct Case {
    const char* what;
    std::function<void(std::string&)> alter;
  } cases[] = {
      {"cut by a byte", [](std::string& f) { f.pop_back(); }},
      {"cut inside the files", [&](std::string& f) { f.erase(f.size() / 2, 1); }},
      {"grown by a byte", [](std::string& f) { f += '\0'; }},
      {"a byte of the manifest", [&](std::string& f) { f[FRecord.Offset + 20] ^= 1; }},
      {"the record in the file", [&](std::string& f) { f[record_at + 40] ^= 1; }},
  };
  for (const Case& c : cases) {
    std::string bytes = FSingle;
    c.alter(bytes);
    EXPECT_NE(Layout(bytes), "") << c.what;
  }
}

// A PE stand-in whose certificate table osslsigncode's way is faked: zeros
// up to a multiple of 8, the table to the end, the data directory naming it.
TEST_F(SingleFileTest, ASignatureIsTakenOnlyRightAfterTheManifest) {
  testing::WriteNative(FWork.Native("engine.exe"), testing::StandInPeEngine(0x8664));
  BuildPackage();
  auto signed_with = [&](std::size_t added, char pad, std::size_t after) {
    std::string bytes = FSingle + std::string(added, '\0');
    while (bytes.size() % 8) bytes += pad;
    const std::size_t table = bytes.size();
    bytes += std::string(24, 'C') + std::string(after, 'X');
    for (int i = 0; i < 4; ++i) {
      bytes[0x58 + 112 + 32 + i] = static_cast<char>((table >> (8 * i)) & 0xFF);
      bytes[0x58 + 112 + 36 + i] = static_cast<char>(((24 + after) >> (8 * i)) & 0xFF);
    }
    return bytes;
  };
  EXPECT_EQ(Layout(signed_with(0, '\0', 0)), "");
  EXPECT_NE(Layout(signed_with(8, '\0', 0)), "") << "signed again over bytes added after the manifest";
  if (FSingle.size() % 8) {
    EXPECT_NE(Layout(signed_with(0, 'P', 0)), "") << "padding that is not zeros";
  }
  std::string grown = signed_with(0, '\0', 0) + "tail";
  EXPECT_NE(Layout(grown), "") << "bytes after the table";
  // The fields that signing rewrites are out of the image's hash; others
  // are in it.
  const std::string head = FSingle.substr(0, 0x200);
  std::string resigned = signed_with(0, '\0', 0).substr(0, 0x200), other = head;
  resigned[0x58 + 64] = 0x7F;
  other[0x4E] ^= 1;
  EXPECT_EQ(ImageHeadDigest(resigned), ImageHeadDigest(head));
  EXPECT_NE(ImageHeadDigest(other), ImageHeadDigest(head));
}

TEST_F(SingleFileTest, NamesOfTheSingleFileAndAPayloadThatWouldTakeTheUninstallersPlace) {
  EXPECT_EQ(SingleFileName("Demo", "1.2.0.0"), "Demo-1.2.0.0-setup.exe");
  EXPECT_EQ(SingleFileName("Мой:Про/г*ра?м.", "1.0"), "МойПрограм-1.0-setup.exe");
  EXPECT_EQ(SingleFileName("<>|", "1.0"), "setup-1.0-setup.exe");
  testing::WriteNative(FWork.Native("u.exe"), "payload");
  WriteDescription(Entry("uninstall.exe", FWork.File("u.exe"), "", ""));
  EXPECT_FALSE(Build());
  EXPECT_EQ(FBuilder.LastError(), "Недопустимое имя файла в пакете: uninstall.exe (так называется файл установщика).");
  EXPECT_FALSE(std::filesystem::exists(PackageNative("2.5.0.0")));
}

}  // namespace
}  // namespace volok
