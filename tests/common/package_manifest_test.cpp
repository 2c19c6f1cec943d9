// The manifest's bytes, the image record, and the platform's SHA-256 they
// rest on.
#include <gtest/gtest.h>

#include "common/file_digest.h"
#include "common/manifest_record.h"
#include "common/package_manifest.h"

namespace volok {
namespace {

TEST(Sha256Test, PublishedVectorsAndOneSplitUpdate) {
  EXPECT_EQ(HexDigest(BytesDigest("").Sha256), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexDigest(BytesDigest("abc").Sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  auto sha = platform::Sha256::Create();
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  sha->Update(text.data(), 10);
  sha->Update(text.data() + 10, text.size() - 10);
  EXPECT_EQ(HexDigest(sha->Final()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(BytesDigest("123456789").Crc32, 0xCBF43926u);
}

TPackageManifest TwoEntries() {
  TPackageManifest manifest;
  TManifestEntry entry;
  entry.Name = "setup.xml";
  entry.Size = 10;
  entry.Sha256.fill(1);
  manifest.Entries.push_back(entry);
  entry.Name = "bin\\App.zip";
  entry.Flags = kManifestAttached | kManifestExecutable;
  entry.Offset = 90;
  entry.Size = 10;
  manifest.Entries.push_back(entry);
  return manifest;
}

TEST(PackageManifestTest, RoundTripsAndFindsNamesAsWindowsCompares) {
  const std::string blob = WriteManifest(TwoEntries());
  TPackageManifest read;
  std::string failure;
  ASSERT_TRUE(ReadManifest(blob, 100, read, failure)) << failure;
  ASSERT_EQ(read.Entries.size(), 2u);
  EXPECT_EQ(read.Find("BIN/app.ZIP"), &read.Entries[1]);
  EXPECT_EQ(read.Find("app.zip"), nullptr);
  EXPECT_TRUE(read.Entries[1].Attached());
  EXPECT_TRUE(read.Entries[1].Executable());
  EXPECT_FALSE(read.Entries[0].Executable());
  EXPECT_EQ(WriteManifest(read), blob);
}

TEST(PackageManifestTest, RefusesWhatIsNotExactlyAManifest) {
  const std::string blob = WriteManifest(TwoEntries());
  auto with_name = [](const std::string& name) {
    TPackageManifest manifest = TwoEntries();
    manifest.Entries[0].Name = name;
    return WriteManifest(manifest);
  };
  std::string huge = blob, flags = blob, format = blob;
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  flags[16] = 4;
  format[8] = 2;
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"truncated", blob.substr(0, blob.size() - 1)},
      {"padded", blob + '\0'},
      {"huge count", huge},
      {"unknown flags", flags},
      {"unknown format", format},
      {"wrong magic", "X" + blob.substr(1)},
      {"empty name", with_name("")},
      {"climbing name", with_name("sub\\..\\..\\x")},
      {"absolute name", with_name("C:\\x")},
      {"rooted name", with_name("\\x")},
      {"control character", with_name("a\nb")},
      {"repeated name", with_name("BIN/APP.ZIP")},
  };
  for (const auto& [what, bytes] : cases) {
    TPackageManifest read;
    std::string failure;
    EXPECT_FALSE(ReadManifest(bytes, 100, read, failure)) << what;
    EXPECT_FALSE(failure.empty()) << what;
    EXPECT_TRUE(read.Entries.empty()) << what;
  }
  // Attached bytes must lie inside the engine file.
  TPackageManifest read;
  std::string failure;
  EXPECT_FALSE(ReadManifest(blob, 99, read, failure));
}

TEST(ManifestRecordTest, TheImageCarriesABareRecordAndAStandInReplacesIt) {
  EXPECT_TRUE(OwnManifestRecord().Empty());
  TManifestRecord record;
  record.Offset = 7;
  record.Length = 9;
  record.Sha256.fill(3);
  const std::string bytes = EncodeManifestRecord(record);
  ASSERT_EQ(bytes.size(), kManifestRecordSize);
  TManifestRecord decoded;
  ASSERT_TRUE(DecodeManifestRecord(bytes, decoded));
  EXPECT_EQ(decoded.Offset, 7u);
  EXPECT_EQ(decoded.Sha256, record.Sha256);
  EXPECT_FALSE(DecodeManifestRecord(bytes.substr(0, 63), decoded));
  {
    ScopedManifestRecord stand_in(record);
    EXPECT_EQ(OwnManifestRecord().Length, 9u);
  }
  EXPECT_TRUE(OwnManifestRecord().Empty());
}

}  // namespace
}  // namespace volok
