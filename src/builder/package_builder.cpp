#include "builder/package_builder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "builder/engine_image.h"
#include "builder/entry_lines.h"
#include "builder/file_version.h"
#include "builder/single_file.h"
#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/error.h"
#include "common/file_digest.h"
#include "common/file_names.h"
#include "common/file_utils.h"
#include "common/package_layout.h"
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
// them, and its line when the file's text told it.
std::string DescribeEntry(const TBuildWarning& entry, XmlNode* node) {
  auto text = [&](const char* name) { return node ? TrimmedText(node->SelectSingleNode(name)) : std::string(); };
  std::string kinds = entry.List == "Install" ? ", " + text("UpdateType") + "/" + text("UpdateAction") : "";
  std::string line = entry.Line > 0 ? ", строка " + std::to_string(entry.Line) : "";
  return "[Запись \"" + entry.Name + "\", Action " + entry.Action + kinds + ", FileName " + text("FileName") + line + "]";
}

TBuildWarning EntryOf(const std::string& list, std::size_t position, XmlNode& node, const std::vector<int>& lines) {
  TBuildWarning entry;
  entry.List = list;
  entry.Position = position;
  entry.Name = TrimmedText(node.SelectSingleNode("Name"));
  entry.Action = TrimmedText(node.SelectSingleNode("Action"));
  if (position >= 1 && position <= lines.size()) entry.Line = lines[position - 1];
  return entry;
}

// The entry's elements that the installer needs, missing or empty: the
// reason of "Нет данных для файла.", so the author knows what to write.
std::string MissingElements(XmlNode& entry, std::initializer_list<const char*> required,
                            std::initializer_list<const char*> not_empty) {
  std::string missing, empty;
  for (const char* name : required)
    if (!entry.SelectSingleNode(name)) missing += std::string(missing.empty() ? "" : ", ") + name;
  for (const char* name : not_empty) {
    NodePtr node = entry.SelectSingleNode(name);
    if (node && Trim(node->Text()).empty()) empty += std::string(empty.empty() ? "" : ", ") + name;
  }
  std::string reason;
  if (!missing.empty()) reason += " Нет элементов: " + missing + ".";
  if (!empty.empty()) reason += " Пусты элементы: " + empty + ".";
  return reason.empty() ? reason : "Нет данных для файла." + reason;
}

// Names a text's placeholders could be: only these can ever be replaced,
// so braces of other kinds (JSON, code) are not warned about.
bool IsVariableName(const std::string& placeholder) {
  if (placeholder.size() < 3) return false;
  for (std::size_t i = 1; i + 1 < placeholder.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(placeholder[i]);
    if (!(std::isalnum(c) || c == '_' || c >= 0x80)) return false;
  }
  return true;
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
  FWarnings = FDroppedEntries = 0;
  FWarningList.clear();
  FPayloads.clear();
  FBuiltFolder.clear();
  FSingleFile.clear();
  FLastError.clear();
  FWinget = TWingetFields();
  try {
    Build(FileName, OutputFolder);
    return true;
  } catch (...) {
    FLastError = CurrentExceptionMessage();
    FBuiltFolder.clear();
    Log("[MakeUpdate] Ошибка: " + FLastError, 1);
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

  std::string bytes;
  try {
    bytes = ReadFileBytes(FileName);
  } catch (...) {
    // Loaded above: without its text the warnings only name no line.
  }
  FInstallLines = EntryLines(bytes, "Install");
  FUnInstallLines = EntryLines(bytes, "UnInstall");
  if (FInstallLines.size() != entries.size()) FInstallLines.clear();
  ReadWingetFields(*root);
  ReadScope(*root);
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
  CheckUnInstallEntries(*root);

  WriteTextFile(EncryptText(document->Xml()), folder + "setup.xml", 65001);
  CheckPackageDescription(folder + "setup.xml");
  CopyEngine(folder, WriteManifest(PackageManifest(folder)));
  try {
    MakeSingleFile(folder, SingleFileName(TrimmedText(root->SelectSingleNode("ShortName")), version));
  } catch (...) {
    (void)DeleteFolder(folder, true);
    throw;
  }
  std::string dropped = FDroppedEntries == 0 ? std::string()
                                             : ". Пропущено записей: " + std::to_string(FDroppedEntries) +
                                                   " (их нет в пакете)";
  FBuiltFolder = folder;
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
    entry.Flags = ExecutableFlag(folder + name);
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

void TPackageBuilder::MakeSingleFile(const std::string& folder, const std::string& name) {
  // Both names lie beside the payload while the file is made: a payload of
  // either name would be overwritten, or named twice in the manifest.
  const std::string bare = folder + kUninstallerEntry;
  for (const std::string& payload : FPayloads)
    if (SameText(payload, kUninstallerEntry) || SameText(payload, kImageTailEntry) || SameText(payload, name))
      throw Error("Недопустимое имя файла в пакете: " + payload + " (так называется файл установщика).");
  const std::string engine = FEngineFile.empty() ? ExeFileName() : FEngineFile;
  // The installed uninstaller is this bare engine as it was signed, so its
  // signature holds on its own once it is written out.
  if (!platform::FileSystem::Default().CopyFileOver(engine, bare).ok())
    throw Error("Не удалось скопировать исполняемый файл: " + engine + ".");
  if (FSigning.Enabled()) {
    Log("[MakeUpdate]: Подпись " + std::string(kUninstallerEntry) + ": " + FSigning.Certificate, 4);
    SignExecutable(FSigning, bare);
  }
  std::vector<TAttachedFile> files = {{kUninstallerEntry, bare}, {"setup.xml", folder + "setup.xml"}};
  for (const std::string& payload : FPayloads) files.push_back({payload, folder + payload});
  (void)WriteSingleFile(engine, files, folder + name);
  (void)platform::FileSystem::Default().RemoveFile(bare);
  // A program natively too, as the copied setup.exe is.
  if (!platform::FileSystem::Default().SetExecuteBits(folder + name, 0111).ok())
    throw Error("Не удалось записать установщик одним файлом: " + folder + name + ".");
  if (FSigning.Enabled()) {
    Log("[MakeUpdate]: Подпись " + name + ": " + FSigning.Certificate, 4);
    SignExecutable(FSigning, folder + name);
  }
  FSingleFile = folder + name;
  Log("[MakeUpdate]: Установщик одним файлом: " + FSingleFile, 0);
}

std::string TPackageBuilder::PreparePackageFolder(const std::string& OutputFolder, const std::string& version) {
  std::string folder = IncludeTrailingDelimiter(OutputFolder) + version + "\\";
  // Every build of a version starts from nothing, so no file of an earlier
  // build can slip into this one.
  if (platform::FileSystem::Default().FolderExists(folder)) (void)DeleteFolder(folder, true);
  if (!ForceFolders(folder)) throw Error("Невозможно создать каталог с выходными файлами.");
  return folder;
}

void TPackageBuilder::Warn(TBuildWarning warning, const std::string& text, const std::string& described,
                           bool dropped) {
  ++FWarnings;
  warning.Text = text;
  warning.Dropped = dropped;
  std::string where = warning.List == "Install"     ? " (" + std::to_string(warning.Position) + ")"
                      : warning.List.empty()        ? std::string()
                                                    : " (" + warning.List + ", " + std::to_string(warning.Position) + ")";
  FWarningList.push_back(warning);
  Log("[MakeInstall] Предупреждение" + where + ": " + text + (described.empty() ? "" : " " + described), 1);
}

void TPackageBuilder::WarnPackage(const std::string& text) { Warn(TBuildWarning(), text); }

void TPackageBuilder::BuildEntries(const std::vector<NodePtr>& entries, const std::string& folder) {
  for (std::size_t p = entries.size(); p >= 1; --p) {
    XmlNode& entry = *entries[p - 1];
    // Taken before the build removes the entry's Update elements.
    const TBuildWarning ref = EntryOf("Install", p, entry, FInstallLines);
    const std::string described = DescribeEntry(ref, &entry);
    std::string output = TrimmedText(entry.SelectSingleNode("UpdateDestination"));
    if (output.empty()) output = TrimmedText(entry.SelectSingleNode("FileName"));
    try {
      BuildEntry(entry, folder);
    } catch (...) {
      ++FDroppedEntries;
      Warn(ref, CurrentExceptionMessage() + " Запись пропущена.", described, true);
      RemoveFromParent(entry);
      continue;
    }
    CheckEntryWords(entry, ref, described, "установщик");
    CheckTextPayload(ref, described, folder + output);
  }
}

void TPackageBuilder::CheckEntryWords(XmlNode& entry, const TBuildWarning& ref, const std::string& described,
                                      const std::string& runner) {
  if (!IsEntryCommand(ref.Action))
    Warn(ref, "Неизвестное действие \"" + ref.Action + "\": " + runner + " пропустит эту запись.", described);
  for (const char* field : {"FileName", "Destination"})
    for (const std::string& name : UnknownPlaceholders(TrimmedText(entry.SelectSingleNode(field)), FKnownNames, true))
      Warn(ref, "Неизвестная переменная " + name + " в " + field + ": она останется текстом.", described);
  CheckPerUserEntry(entry, ref, described);
}

void TPackageBuilder::ReadScope(XmlNode& root) {
  const std::string scope = TrimmedText(root.SelectSingleNode("Scope"));
  // Every run of such a package would refuse it: nothing is packed for it.
  if (!ParseInstallScope(scope, FScope))
    throw Error("Недопустимая область установки (Scope): \"" + scope + "\"; допустимы machine, user и either.");
}

void TPackageBuilder::CheckPerUserEntry(XmlNode& entry, const TBuildWarning& ref, const std::string& described) {
  if (FScope == TInstallScope::Machine) return;
  const std::string when = FScope == TInstallScope::User
                               ? " Установка для текущего пользователя (Scope = user) откажется от неё."
                               : " Установка для текущего пользователя (Scope = either без /allusers) откажется от неё.";
  const std::string action = LowerCase(ref.Action), file = TrimmedText(entry.SelectSingleNode("FileName"));
  if (action == "registrywrite" || action == "registrydelete") {
    const std::string root = UpperCase(Trim(file.substr(0, file.find('\\'))));
    if (root != "HKCU" && root != "HKEY_CURRENT_USER")
      Warn(ref, "Запись обращается к разделу " + root + ", а не к HKEY_CURRENT_USER." + when, described);
    return;
  }
  const std::string paths = LowerCase(file + "|" + TrimmedText(entry.SelectSingleNode("Destination")));
  for (const std::string& name : MachineFolderVariables())
    if (paths.find(LowerCase("{" + name + "}")) != std::string::npos)
      Warn(ref, "Запись пишет в папку для всех пользователей {" + name + "}." + when, described);
}

void TPackageBuilder::CheckTextPayload(const TBuildWarning& entry, const std::string& described,
                                       const std::string& path) {
  const std::string action = LowerCase(entry.Action);
  if (action != "copytext" && action != "processtext") return;
  if (platform::FileSystem::Default().KindOf(path) != platform::FileKind::Regular) return;
  std::string text;
  try {
    text = ReadTextFile(path);  // as the installer reads it
  } catch (...) {
    return;
  }
  std::vector<std::string> seen;
  for (const std::string& name : UnknownPlaceholders(text, FKnownNames, false)) {
    if (!IsVariableName(name) || std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
    seen.push_back(name);
    Warn(entry, "Неизвестная переменная " + name + " в файле " + ExtractFileName(path) +
                    ": она останется текстом (в текстах имена пишутся точно).", described);
  }
}

void TPackageBuilder::CheckUnInstallEntries(XmlNode& root) {
  std::vector<NodePtr> entries = root.SelectNodes("UnInstall/File");
  const std::vector<int> lines = FUnInstallLines.size() == entries.size() ? FUnInstallLines : std::vector<int>();
  for (std::size_t p = 1; p <= entries.size(); ++p) {
    XmlNode& entry = *entries[p - 1];
    const TBuildWarning ref = EntryOf("UnInstall", p, entry, lines);
    const std::string described = DescribeEntry(ref, &entry);
    std::string missing = MissingElements(entry, {"Name", "FileName", "Action", "Destination"},
                                          {"Name", "FileName", "Action", "Destination"});
    if (!missing.empty()) {
      // Kept, it would make the installer refuse the whole package.
      ++FDroppedEntries;
      Warn(ref, missing + " Запись пропущена.", described, true);
      RemoveFromParent(entry);
      continue;
    }
    CheckEntryWords(entry, ref, described, "программа удаления");
  }
}

void TPackageBuilder::WarnUnknownPlaceholders(XmlNode& root) {
  FKnownNames = TVariables::StandardNames();
  for (const NodePtr& name : root.SelectNodes("Options/Option/Name")) FKnownNames.push_back(TrimmedText(name));
  // The install folder is replaced with exact names only.
  for (const std::string& name : UnknownPlaceholders(TrimmedText(root.SelectSingleNode("InstallPath")), FKnownNames, false))
    WarnPackage("Неизвестная переменная " + name +
                " в InstallPath (имена переменных пишутся точно, например {ProgramFiles}).");
}

void TPackageBuilder::ReadWingetFields(XmlNode& root) {
  NodePtr winget = root.SelectSingleNode("Winget");
  if (!winget) return;
  FWinget.PackageIdentifier = TrimmedText(winget->SelectSingleNode("PackageIdentifier"));
  FWinget.InstallerUrl = TrimmedText(winget->SelectSingleNode("InstallerUrl"));
  FWinget.License = TrimmedText(winget->SelectSingleNode("License"));
  FWinget.ShortDescription = TrimmedText(winget->SelectSingleNode("ShortDescription"));
  FWinget.PackageLocale = TrimmedText(winget->SelectSingleNode("PackageLocale"));
  // The builder's own element, like the Update elements: not the package's.
  ThrowIfFailed(root.RemoveChild(*winget));
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
  std::string missing = MissingElements(entry, {"Name", "FileName", "Action", "Destination", "UpdateSource",
                                                "UpdateType", "UpdateAction", "Size", "CRC32"},
                                        {"Name", "FileName", "Action", "Destination"});
  if (!missing.empty()) throw Error(missing);
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
