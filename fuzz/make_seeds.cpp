// Writes the seed inputs of the fuzz targets with the project's own writers
// (the container, the uninstall description, the ZIP writer), so the fuzzers
// start from what real packages hold. Seeds are small; commit what changes.
//   fuzz_seeds <corpus folder>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "archive/archive_password.h"
#include "archive/zip_item_writer.h"
#include "archive/zip_links.h"
#include "archive/zip_writer.h"
#include "common/crypt.h"
#include "common/text_file.h"
#include "common/file_digest.h"
#include "common/manifest_record.h"
#include "common/package_layout.h"
#include "common/package_manifest.h"
#include "engine/run_journal.h"
#include "fuzz_support.h"
#include "model/install.h"

namespace fs = std::filesystem;

namespace {

fs::path gCorpus;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(gCorpus / target);
  std::ofstream(gCorpus / target / name, std::ios::binary) << bytes;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const char* const kDescription =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Installer><Number>1.2.3.4</Number><Company>Фирма</Company>"
    "<Name>Программа</Name><ShortName>S</ShortName><URL>u</URL><InstallPath>{ProgramFiles}\\N</InstallPath>"
    "<Options><Default>full, \"a b\"</Default><Group><Name>g</Name><DisplayName>G</DisplayName></Group>"
    "<Option><Name>full</Name><Type>check</Type><Group>g</Group><DisplayName>F</DisplayName></Option></Options>"
    "<Install><File><Name>a</Name><FileName>a.zip</FileName><Action>UnZip</Action><Destination>{InstallPath}"
    "</Destination><Size>10</Size><CRC32>1a2b</CRC32><Options>full</Options><Arch>x86</Arch></File></Install>"
    "<UnInstall><File><Name>d</Name><FileName>{InstallPath}</FileName><Action>DeleteFolder</Action>"
    "<Destination>-</Destination><Options>FULL</Options></File></UnInstall></Installer>";

void ContainerSeeds() {
  // Lengths around the Base64 group (3) and the cipher block (8).
  const std::pair<const char*, const char*> texts[] = {
      {"empty", ""}, {"one", "a"}, {"three", "abc"}, {"block", "abcdefgh"}, {"block-and-one", "abcdefghi"}, {"utf8", "Ы"}};
  for (const auto& [name, text] : texts) Seed("container", name, volok::EncryptText(text));
}

// The author's form and the installer's own uninstall description.
void DescriptionSeeds(const fs::path& scratch) {
  Seed("description", "full.xml", kDescription);
  volok::TInstall install;
  install.ReadXml(kDescription);
  std::string saved = volok::fuzz::WindowsPath(scratch / "uninstall.xml");
  install.SaveUnInstallXml(saved);
  Seed("description", "uninstall.xml", volok::DecryptText(volok::ReadTextFile(saved)));
  Seed("description", "missing.xml", "<Installer><Company> </Company></Installer>");
}

// `from` replaced by `to` (same length) in every name of the archive, so a
// writer that never stores such names still gives the reader one.
std::string Renamed(std::string archive, const std::string& from, const std::string& to) {
  for (size_t at = archive.find(from); at != std::string::npos; at = archive.find(from, at + to.size()))
    archive.replace(at, from.size(), to);
  return archive;
}

// An archive of items no writer would make, as a zip_reader seed.
void SeedArchive(const fs::path& scratch, const std::string& name, const std::vector<volok::archive::ZipSource>& sources) {
  std::string path = volok::fuzz::WindowsPath(scratch / name);
  std::unique_ptr<volok::platform::File> file;
  if (!volok::platform::FileSystem::Default()
           .OpenFile(path, volok::platform::FileAccess::CreateAlways, volok::platform::FileShare::None, file)
           .ok())
    throw std::runtime_error("cannot write " + path);
  volok::archive::WriteZipArchive(*file, sources, volok::ArchivePassword);
  file.reset();
  Seed("zip_reader", name, ReadAll(scratch / name));
}

// A folder item named "..<NUL>/": the system call cuts the path at the NUL,
// so it names the target's parent, which would become read-only, hidden and
// system, dated 1990.
void CutNameSeed(const fs::path& scratch) {
  constexpr std::uint64_t June1990 = 122'898'816'000'000'000;
  SeedArchive(scratch, "parent-cut-at-nul.zip", {{"", std::string("..\0/", 4), true, 0x17, June1990}});
}

// Links that try to lead out: one by its text, one through another link,
// with a file item below the first.
void LinkSeed(const fs::path& scratch, const fs::path& file) {
  auto link = [](const std::string& name, const std::string& text) {
    volok::archive::ZipSource source;
    source.FName = name;
    source.FPosixMode = volok::archive::PosixLinkMode;
    source.FLinkText = text;
    return source;
  };
  volok::archive::ZipSource folder{"", "c/", true};
  volok::archive::ZipSource below{volok::fuzz::WindowsPath(file), "evil/p", false};
  std::vector<volok::archive::ZipSource> sources = {folder, link("a/b/z", "../../c"), link("a/b/l", "z/../../../x"),
                                                    link("evil", "../x"), below, link("in", "c")};
  SeedArchive(scratch, "links.zip", sources);
}

void ZipSeeds(const fs::path& scratch) {
  fs::path tree = scratch / "tree";
  fs::create_directories(tree / "sub" / "empty");
  std::ofstream(tree / "text.txt") << std::string(200, 'a');
  std::ofstream(tree / "sub" / "Файл.txt") << "ы";
  std::ofstream(tree / "zero");
  std::string noise;
  for (int i = 0; i < 64; ++i) noise += static_cast<char>(i * 2654435761u >> 11);
  std::ofstream(tree / "sub" / "noise.bin", std::ios::binary) << noise;
  volok::ZipWriter writer;
  writer.SetBaseFolder(volok::fuzz::WindowsPath(tree));
  writer.SetPassword(std::string(volok::ArchivePassword));
  writer.SetFileName(volok::fuzz::WindowsPath(scratch / "tree.zip"));
  writer.AddFiles("*.*", volok::ZipWriter::AnyFile);
  writer.Save();
  std::string archive = ReadAll(scratch / "tree.zip");
  Seed("zip_reader", "tree.zip", archive);
  // Names that try to leave the target folder.
  Seed("zip_reader", "parent.zip", Renamed(archive, "sub/", "../."));
  Seed("zip_reader", "absolute.zip", Renamed(archive, "text.txt", "/tmp/x.t"));
  Seed("zip_reader", "drive.zip", Renamed(archive, "text.txt", "C:\\x.txt"));
  Seed("zip_reader", "stream.zip", Renamed(archive, "text.txt", "text:x.t"));
  CutNameSeed(scratch);
  LinkSeed(scratch, tree / "text.txt");
}

void TextSeeds() {
  Seed("delimited_text", "options", "full, \"a b\" docs,,\"q\"\"q\",");
  Seed("delimited_text", "combo", "one;\"two;2\";\"th\"\"ree\";");
  Seed("registry_list", "string", "HKLM\\Software\\Volok\nVersion, STRING, \"1, 2\"");
  Seed("registry_list", "dword", "hkcu\\Software\\Volok\nCount,dword,0x1F");
  Seed("registry_list", "default", "HKEY_CURRENT_USER\\Software\\Volok\n\"\"");
  Seed("link_target", "quoted", "\"C:\\Program Files\\App\\app.exe\" -min \"x y\"");
  Seed("link_target", "plain", "C:\\App\\app.exe");
  Seed("command_line", "silent", "\"C:\\pkg\\setup.exe\" silent \"C:\\Program Files\\App\"");
  Seed("command_line", "escapes", "prog a\\\\\\\"b \"c\"\"d\" e\\\\ \"\"");
  Seed("placeholders", "nested", "{InstallPath}\\{Name}{A}{{Name}}{");
}

// Journals as the engine writes them, one cut short and one altered.
void JournalSeeds() {
  volok::TJournalState state;
  state.RunId = "0a1b2c3d4e5f";
  state.Folder = "C:\\Program Files\\App";
  state.FolderExisted = true;
  state.Staging = "Backup.run-0a1b2c3d4e5f";
  state.Earlier = {"app.exe", "Backup", "setup.log"};
  volok::TKeySnapshot key;
  key.Key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App";
  key.Existed = true;
  key.SubKeys = {"Sub"};
  volok::platform::RegistryValue text, number;
  text.Text = "App 1.0";
  number.Type = volok::platform::RegistryType::Dword;
  number.Number = 7;
  key.Values = {{"", {"DisplayName", text}}, {"Sub", {"Count", number}}};
  state.Keys = {key};
  state.RegistryValues = {{volok::platform::RegistryRoot::CurrentUser, "Software\\App", "Setting", true, text}};
  state.Asides = {{"C:\\Users\\Public\\app.ini", "C:\\Users\\Public\\app.ini.volok-0a1b2c3d4e5f.0"},
                  {"C:\\Users\\Public\\Desktop\\App.lnk", ""}};
  const std::string install = volok::FormatJournal(state);
  Seed("journal", "install", install);
  Seed("journal", "torn", install.substr(0, install.size() / 2));
  std::string altered = install;
  altered[altered.find("aside\t") + 7] = 'D';
  Seed("journal", "altered", altered);
  state.Committed = true;
  Seed("journal", "committed", volok::FormatJournal(state));
  volok::TJournalState uninstall;
  uninstall.UnInstall = true;
  uninstall.RunId = "zz9";
  uninstall.Folder = "C:\\App";
  uninstall.Asides = {{"C:\\App", "C:\\App.volok-zz9.0"}};
  Seed("journal", "uninstall", volok::FormatJournal(uninstall));
}

void ManifestSeeds() {
  volok::TPackageManifest manifest;
  volok::TManifestEntry entry;
  entry.Name = "setup.xml";
  entry.Size = 1234;
  entry.Sha256.fill(0xAB);
  manifest.Entries.push_back(entry);
  entry.Name = "bin\\app.zip";
  entry.Flags = volok::kManifestAttached;
  entry.Offset = 16;
  entry.Size = 32;
  manifest.Entries.push_back(entry);
  const std::string blob = volok::WriteManifest(manifest);
  Seed("manifest_reader", "two-entries", blob);
  Seed("manifest_reader", "truncated", blob.substr(0, blob.size() - 5));
  Seed("manifest_reader", "padded", blob + std::string(7, '\0'));
  std::string huge = blob;
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  Seed("manifest_reader", "huge-count", huge);
  volok::TManifestRecord record;
  record.Offset = 4096;
  record.Length = blob.size();
  Seed("manifest_reader", "record", volok::EncodeManifestRecord(record));
}

// A PE's headers as far as the layout reads them: 16 data directories.
std::string PeHeaders() {
  std::string head(0x200, '\0');
  head[0] = 'M', head[1] = 'Z', head[0x3C] = 0x40;
  head.replace(0x40, 4, std::string("PE\0\0", 4));
  head[0x58] = 0x0B, head[0x59] = 0x02, head[0x58 + 108] = 16;
  return head;
}

// A single file made by hand as the builder lays it out, the input being
// the running image's record and then the file.
void LayoutSeeds() {
  const std::string head = PeHeaders(), tail = "image after the record";
  const std::vector<std::pair<std::string, std::string>> files = {
      {volok::kUninstallerEntry, "bare engine"}, {"setup.xml", "<Installer/>"}, {"app.zip", "PK archive"}};
  volok::TPackageManifest manifest;
  volok::TManifestEntry entry = {volok::kImageHeadEntry, head.size(), volok::ImageHeadDigest(head), volok::kManifestAttached, 0};
  manifest.Entries.push_back(entry);
  std::uint64_t at = head.size() + volok::kManifestRecordSize;
  std::string attached;
  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{{volok::kImageTailEntry, tail}}) {
    manifest.Entries.push_back({name, bytes.size(), volok::BytesDigest(bytes).Sha256, volok::kManifestAttached, at});
    at += bytes.size();
  }
  for (const auto& [name, bytes] : files) {
    manifest.Entries.push_back({name, bytes.size(), volok::BytesDigest(bytes).Sha256, volok::kManifestAttached, at});
    at += bytes.size();
    attached += bytes;
  }
  const std::string blob = volok::WriteManifest(manifest);
  volok::TManifestRecord record;
  record.Offset = at;
  record.Length = blob.size();
  record.Sha256 = volok::BytesDigest(blob).Sha256;
  const std::string encoded = volok::EncodeManifestRecord(record);
  const std::string file = head + encoded + tail + attached + blob;
  Seed("package_layout", "single-file", encoded + file);
  Seed("package_layout", "truncated", encoded + file.substr(0, file.size() - 3));
  Seed("package_layout", "padded", encoded + file + std::string(8, '\0'));
  // Signed: zeros to a multiple of 8 and the table the directory names.
  auto signed_after = [&](std::size_t added) {
    std::string bytes = file + std::string(added, '\0');
    while (bytes.size() % 8) bytes += '\0';
    const std::uint32_t table = static_cast<std::uint32_t>(bytes.size()), size = 32;
    for (int i = 0; i < 4; ++i) {
      bytes[0x58 + 144 + i] = static_cast<char>((table >> (8 * i)) & 0xFF);
      bytes[0x58 + 148 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    return encoded + bytes + std::string(size, 'S');
  };
  Seed("package_layout", "signed", signed_after(0));
  Seed("package_layout", "re-signed", signed_after(16));
  // The folder's setup.exe: the manifest names files beside it.
  volok::TPackageManifest beside;
  beside.Entries.push_back({"setup.xml", 12, volok::BytesDigest("<Installer/>").Sha256, 0, 0});
  const std::string beside_blob = volok::WriteManifest(beside);
  volok::TManifestRecord folder_record;
  folder_record.Offset = head.size();
  folder_record.Length = beside_blob.size();
  folder_record.Sha256 = volok::BytesDigest(beside_blob).Sha256;
  Seed("package_layout", "folder-form", volok::EncodeManifestRecord(folder_record) + head + beside_blob);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seeds <corpus folder>\n";
    return 2;
  }
  gCorpus = argv[1];
  fs::path scratch = volok::fuzz::PrivateTempPath("volok-fuzz-seeds");
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  ContainerSeeds();
  DescriptionSeeds(scratch);
  ZipSeeds(scratch);
  TextSeeds();
  JournalSeeds();
  ManifestSeeds();
  LayoutSeeds();
  fs::remove_all(scratch);
  return 0;
}
