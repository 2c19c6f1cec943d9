#include "builder/package_builder.h"

#include <cstdio>
#include <memory>

#include "builder/engine_image.h"
#include "builder/file_version.h"
#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/error.h"
#include "common/file_digest.h"
#include "common/file_names.h"
#include "common/file_utils.h"
#include "common/package_manifest.h"
#include "common/text.h"
#include "common/text_file.h"
#include "model/install.h"
#include "model/install_file.h"
#include "model/variables.h"
#include "model/version.h"
#include "platform/file_system.h"
#include "platform/xml.h"

namespace volok {

namespace {

using platform::XmlNode;
using NodePtr = std::unique_ptr<XmlNode>;

constexpr char kParseError[] = "Ошибка разбора xml-документа с описанием версии.";

[[noreturn]] void FailParse(const std::string& detail) {
  throw Error(std::string(kParseError) + (detail.empty() ? "" : " " + detail));
}

std::string TrimmedText(const NodePtr& node) { return node ? Trim(node->Text()) : std::string(); }

void RemoveFromParent(XmlNode& node) {
  NodePtr parent = node.SelectSingleNode("..");
  if (!parent) throw Error("Узел XML не имеет родителя");
  ThrowIfFailed(parent->RemoveChild(node));
}

// Removes the first child of each name that `parent` has.
void RemoveChildren(XmlNode& parent, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (NodePtr child = parent.SelectSingleNode(name)) ThrowIfFailed(parent.RemoveChild(*child));
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

TVersion ResolveVersion(const NodePtr& source, const NodePtr& number) {
  TVersion version;
  std::string path = TrimmedText(source);
  if (path.empty()) {
    if (StrToVersion(TrimmedText(number), version) == 0) FailParse("Нет номера версии.");
    return version;
  }
  platform::FileKind kind = platform::FileSystem::Default().KindOf(path);
  // Reading the version of a FIFO or a device could hold the build for ever.
  if (kind == platform::FileKind::Special) throw Error(NotFileOrFolderMessage(path));
  if (kind != platform::FileKind::Regular) FailParse("Нет исходного файла для получения версии.");
  if (!ReadFileVersion(version, path, true)) FailParse("Нет версии в исходном файле для получения версии.");
  return version;
}

// Which entry a warning is about: its Name and its kinds, as the user wrote
// them.
std::string DescribeEntry(XmlNode& entry) {
  auto text = [&](const char* name) { return TrimmedText(entry.SelectSingleNode(name)); };
  return "[Запись \"" + text("Name") + "\", Action " + text("Action") + ", " + text("UpdateType") + "/" +
         text("UpdateAction") + ", FileName " + text("FileName") + "]";
}

// Reads the written description back as the installer will at start, so a
// package whose installer would refuse it is never reported created.
void CheckPackageDescription(const std::string& path) {
  TInstall install;
  install.ReadXml(DecryptText(ReadTextFile(path)));
}

}  // namespace

TPackageBuilder::TPackageBuilder() {
  using namespace std::placeholders;
  FUpdateActions.Add("File", "Copy", std::bind(&TPackageBuilder::CopyFile, this, _1, _2, _3, _4));
  FUpdateActions.Add("File", "CopyNoCRC", std::bind(&TPackageBuilder::CopyFileNoCRC, this, _1, _2, _3, _4));
  FUpdateActions.Add("Folder", "Zip", std::bind(&TPackageBuilder::ZipFolder, this, _1, _2, _3, _4));
  FUpdateActions.Add("Command", "None", std::bind(&TPackageBuilder::FileCommand, this, _1, _2, _3, _4));
}

void TPackageBuilder::Log(const std::string& text, int message_type) const {
  if (OnLog) OnLog(text, message_type);
}

bool TPackageBuilder::MakeInstall(const std::string& FileName, const std::string& OutputFolder) {
  Log("[MakeInstall]: Создание установки.", 4);
  try {
    Build(FileName, OutputFolder);
    return true;
  } catch (...) {
    Log("[MakeUpdate] Ошибка: " + CurrentExceptionMessage(), 1);
    Log("[MakeUpdate]: Установка не создана.", 1);
    return false;
  }
}

void TPackageBuilder::Build(const std::string& FileName, const std::string& OutputFolder) {
  std::unique_ptr<platform::XmlDocument> document;
  ThrowIfFailed(platform::XmlParser::Default().CreateDocument(document));
  // A missing or broken file shows as a document without an element below.
  (void)document->Load(FileName);
  NodePtr element = document->DocumentElement();
  if (!element) FailParse(document->LoadError());
  NodePtr root = element->SelectSingleNode("/Installer");
  if (!root) FailParse("Нет описания версии.");
  NodePtr source = root->SelectSingleNode("UpdateSource");
  NodePtr type = root->SelectSingleNode("UpdateType");
  NodePtr action = root->SelectSingleNode("UpdateAction");
  NodePtr number = root->SelectSingleNode("Number");
  NodePtr install = root->SelectSingleNode("Install");
  if (!source || !type || !action) FailParse("Нет описания получения исходной информации о версии.");
  if (!number) FailParse("Нет номера версии.");
  std::vector<NodePtr> entries = root->SelectNodes("Install/File");
  if (!install || entries.empty()) FailParse("Нет описания файлов.");

  std::string version = VersionToStr(ResolveVersion(source, number));
  ThrowIfFailed(number->SetText(version));
  RemoveChildren(*root, {"UpdateSource", "UpdateType", "UpdateAction"});

  FWarnings = FDroppedEntries = 0;
  FPayloads.clear();
  WarnUnknownPlaceholders(*root);
  std::string folder = PreparePackageFolder(OutputFolder, version);
  FPackageFolder = folder;
  try {
    BuildEntries(entries, folder);
  } catch (...) {
    FPackageFolder.clear();
    throw;
  }
  FPackageFolder.clear();
  // A package whose every entry was left out would install nothing, and
  // its setup.xml would read as an uninstall description.
  if (FDroppedEntries == static_cast<int>(entries.size())) {
    (void)DeleteFolder(folder, true);
    throw Error("Ни одна запись установки не собрана, пакет не создан.");
  }

  WriteTextFile(EncryptText(document->Xml()), folder + "setup.xml", 65001);
  CheckPackageDescription(folder + "setup.xml");
  CopyEngine(folder, WriteManifest(PackageManifest(folder)));
  std::string dropped = FDroppedEntries == 0 ? std::string()
                                             : ". Пропущено записей: " + std::to_string(FDroppedEntries) +
                                                   " (их нет в пакете)";
  Log("[MakeUpdate]: Установка создана. Предупреждений: " + std::to_string(FWarnings) + dropped, 0);
  Log("[MakeUpdate]: Каталог с файлами: " + folder, 0);
}

TPackageManifest TPackageBuilder::PackageManifest(const std::string& folder) const {
  TPackageManifest manifest;
  std::vector<std::string> names = {"setup.xml"};
  names.insert(names.end(), FPayloads.begin(), FPayloads.end());
  for (const std::string& name : names) {
    std::unique_ptr<platform::File> file;
    TFileDigest digest;
    if (!platform::FileSystem::Default()
             .OpenFile(folder + name, platform::FileAccess::ReadExisting, platform::FileShare::Read, file)
             .ok() ||
        !StreamDigest(*file, digest))
      throw Error("Не удалось прочитать файл пакета: " + folder + name + ".");
    TManifestEntry entry;
    entry.Name = name;
    entry.Size = digest.Size;
    entry.Sha256 = digest.Sha256;
    manifest.Entries.push_back(entry);
  }
  return manifest;
}

void TPackageBuilder::CopyEngine(const std::string& folder, const std::string& manifest) {
  std::string engine = FEngineFile.empty() ? ExeFileName() : FEngineFile;
  // A package without its engine cannot install anything: report it rather
  // than call the build a success.
  if (!platform::FileSystem::Default().CopyFileOver(engine, folder + "setup.exe").ok())
    throw Error("Не удалось скопировать исполняемый файл: " + engine + ".");
  // Sealed before it is signed, so the signature covers the manifest too.
  try {
    SealEngine(folder + "setup.exe", manifest);
  } catch (...) {
    (void)DeleteFolder(folder, true);
    throw;
  }
  if (!FSigning.Enabled()) return;
  Log("[MakeUpdate]: Подпись setup.exe: " + FSigning.Certificate, 4);
  try {
    SignExecutable(FSigning, folder + "setup.exe");
  } catch (...) {
    (void)DeleteFolder(folder, true);
    throw;
  }
}

std::string TPackageBuilder::PreparePackageFolder(const std::string& OutputFolder, const std::string& version) {
  std::string folder = IncludeTrailingDelimiter(OutputFolder) + version + "\\";
  // Every build of a version starts from nothing, so no file of an earlier
  // build can slip into this one.
  if (platform::FileSystem::Default().FolderExists(folder)) (void)DeleteFolder(folder, true);
  if (!ForceFolders(folder)) throw Error("Невозможно создать каталог с выходными файлами.");
  return folder;
}

void TPackageBuilder::Warn(std::size_t position, const std::string& entry, const std::string& text) {
  ++FWarnings;
  Log("[MakeInstall] Предупреждение (" + std::to_string(position) + "): " + text + " " + entry, 1);
}

void TPackageBuilder::BuildEntries(const std::vector<NodePtr>& entries, const std::string& folder) {
  for (std::size_t p = entries.size(); p >= 1; --p) {
    XmlNode& entry = *entries[p - 1];
    // Taken before the build removes the entry's Update elements.
    const std::string described = DescribeEntry(entry);
    try {
      BuildEntry(entry, folder);
    } catch (...) {
      ++FDroppedEntries;
      Warn(p, described, CurrentExceptionMessage() + " Запись пропущена.");
      RemoveFromParent(entry);
      continue;
    }
    std::string action = TrimmedText(entry.SelectSingleNode("Action"));
    if (!IsEntryCommand(action))
      Warn(p, described, "Неизвестное действие \"" + action + "\": установщик пропустит эту запись.");
    for (const char* field : {"FileName", "Destination"})
      for (const std::string& name : UnknownPlaceholders(TrimmedText(entry.SelectSingleNode(field)), FKnownNames, true))
        Warn(p, described, "Неизвестная переменная " + name + " в " + field + ": она останется текстом.");
  }
}

void TPackageBuilder::WarnUnknownPlaceholders(XmlNode& root) {
  FKnownNames = TVariables::StandardNames();
  for (const NodePtr& name : root.SelectNodes("Options/Option/Name")) FKnownNames.push_back(TrimmedText(name));
  // The install folder is replaced with exact names only.
  for (const std::string& name : UnknownPlaceholders(TrimmedText(root.SelectSingleNode("InstallPath")), FKnownNames, false)) {
    ++FWarnings;
    Log("[MakeInstall] Предупреждение: Неизвестная переменная " + name +
            " в InstallPath (имена переменных пишутся точно, например {ProgramFiles}).", 1);
  }
}

void TPackageBuilder::BuildEntry(XmlNode& entry, const std::string& folder) {
  NodePtr source = entry.SelectSingleNode("UpdateSource");
  NodePtr type = entry.SelectSingleNode("UpdateType");
  NodePtr action = entry.SelectSingleNode("UpdateAction");
  NodePtr destination = entry.SelectSingleNode("UpdateDestination");
  NodePtr size = entry.SelectSingleNode("Size");
  NodePtr crc = entry.SelectSingleNode("CRC32");
  std::string output = TrimmedText(entry.SelectSingleNode("FileName"));
  if (!TrimmedText(destination).empty()) output = TrimmedText(destination);
  std::string missing;
  for (const char* name : {"Name", "FileName", "Action", "Destination", "UpdateSource", "UpdateType", "UpdateAction",
                           "Size", "CRC32"})
    if (!entry.SelectSingleNode(name)) missing += std::string(missing.empty() ? "" : ", ") + name;
  if (!missing.empty()) throw Error("Нет данных для файла. Нет элементов: " + missing + ".");
  if (output.empty()) throw Error("Нет данных для файла. Пусты FileName и UpdateDestination.");
  // The installer reads the entry as it stands in the package; one it would
  // refuse is left out here instead of stopping every install of the package.
  TInstallFile installed;
  installed.ReadXml(entry);

  std::string kind = TrimmedText(type), act = TrimmedText(action);
  std::uint32_t produced_size = 0, produced_crc = 0;
  FUpdateActions.Process(kind.empty() ? "File" : kind, act.empty() ? "Copy" : act, TrimmedText(source),
                         folder + output, produced_size, produced_crc);
  ThrowIfFailed(size->SetText(std::to_string(produced_size)));
  ThrowIfFailed(crc->SetText(Hex8(produced_crc)));
  // Every file an action wrote goes into the manifest, CRC or not.
  if (LowerCase(kind) != "command") {
    const std::string key = ManifestKey(output);
    bool known = false;
    for (const std::string& name : FPayloads) known = known || ManifestKey(name) == key;
    if (!known) FPayloads.push_back(output);
  }
  RemoveChildren(entry, {"UpdateSource", "UpdateType", "UpdateAction", "UpdateDestination"});
}

}  // namespace volok
