#include "model/install.h"

#include <cstdio>

#include "common/crypt.h"
#include "common/error.h"
#include "common/text_file.h"
#include "common/xml_helpers.h"

namespace volok {

namespace {

using platform::XmlDocument;
using platform::XmlNode;

constexpr unsigned kUtf8CodePage = 65001;
constexpr const char* kTemplate = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Installer></Installer>";

std::unique_ptr<XmlDocument> NewDocument() {
  std::unique_ptr<XmlDocument> document;
  ThrowIfFailed(platform::XmlParser::Default().CreateDocument(document));
  return document;
}

// One element object per node, each stored before it reads, so that after a
// failure the slots before it are filled and the ones after it are null.
template <class T>
void ReadList(XmlNode& root, const std::string& path, std::vector<std::unique_ptr<T>>& list) {
  std::vector<std::unique_ptr<XmlNode>> nodes = root.SelectNodes(path);
  list.clear();
  list.resize(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    list[i] = std::make_unique<T>();
    list[i]->ReadXml(*nodes[i]);
  }
}

void RequireText(const std::string& value, const char* message) {
  if (value.empty()) throw Error(message);
}

std::string Crc32Text(std::uint32_t crc) {
  char buffer[9];
  std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(crc));
  return buffer;
}

void WriteEntry(XmlDocument& document, XmlNode& list, const TInstallFile& entry) {
  std::unique_ptr<XmlNode> file = AddXmlNode(document, list, "File", "");
  AddXmlNode(document, *file, "Name", entry.Name());
  AddXmlNode(document, *file, "FileName", entry.FileName());
  AddXmlNode(document, *file, "Action", entry.Action());
  AddXmlNode(document, *file, "Destination", entry.Destination());
  AddXmlNode(document, *file, "Size", std::to_string(entry.Size()));
  AddXmlNode(document, *file, "CRC32", Crc32Text(entry.CRC32()));
  if (!entry.ExitCodes().empty()) AddXmlNode(document, *file, "ExitCodes", entry.ExitCodes());
}

}  // namespace

void TInstall::ReadXml(const std::string& xml) {
  try {
    ReadDescription(xml);
  } catch (...) {
    throw Error("[ReadXML] Ошибка: " + CurrentExceptionMessage());
  }
}

void TInstall::ReadDescription(const std::string& xml) {
  std::unique_ptr<XmlDocument> document = NewDocument();
  // The parser's own verdict is not needed: a document that did not load
  // has no document element.
  (void)document->LoadXml(xml);
  std::unique_ptr<XmlNode> element = document->DocumentElement();
  if (!element) {
    std::string reason = document->LoadError();
    throw Error("Не удалось загрузить xml-документ." + (reason.empty() ? std::string() : " " + reason));
  }
  std::unique_ptr<XmlNode> root = element->SelectSingleNode("/Installer");
  if (!root) throw Error("Нет описания установки.");

  ReadHeader(*root);
  ReadList(*root, "Options/Group", FInstallGroups);
  ReadList(*root, "Options/Option", FInstallOptions);
  ReadList(*root, "Install/File", FInstall);
  ReadList(*root, "UnInstall/File", FUnInstall);
}

void TInstall::ReadHeader(XmlNode& root) {
  if (StrToVersion(GetXmlChildText(&root, "Number"), FVersion) == 0) StrToVersion("1.0.0.0", FVersion);
  FCompany = GetXmlChildText(&root, "Company");
  FName = GetXmlChildText(&root, "Name");
  FShortName = GetXmlChildText(&root, "ShortName");
  FURL = GetXmlChildText(&root, "URL");
  FInstallPath = GetXmlChildText(&root, "InstallPath");
  FOptions.SetDelimitedText(GetXmlChildText(&root, "Options/Default"));
  const std::string scope = GetXmlChildText(&root, "Scope");

  RequireText(FCompany, "Нет наименования компании.");
  RequireText(FName, "Нет наименования программы.");
  RequireText(FShortName, "Нет сокращенного наименования программы.");
  RequireText(FInstallPath, "Нет папки установки.");
  // The short name becomes one key under the Uninstall key: a "\\" would
  // write elsewhere, and "." or ".." could make the uninstall delete the
  // registration of every other program.
  if (FShortName.find('\\') != std::string::npos || FShortName == "." || FShortName == "..")
    throw Error("Недопустимое сокращенное наименование программы: " + FShortName + ".");
  if (!ParseInstallScope(scope, FScope))
    throw Error("Недопустимая область установки (Scope): \"" + scope + "\"; допустимы machine, user и either.");
}

std::string TInstall::UnInstallXml() const {
  std::unique_ptr<XmlDocument> document = NewDocument();
  (void)document->LoadXml(kTemplate);
  std::unique_ptr<XmlNode> element = document->DocumentElement();
  if (!element) throw Error("Не удалось создать xml-документ.");
  std::unique_ptr<XmlNode> root = element->SelectSingleNode("/Installer");
  if (!root) throw Error("Нет описания установки.");

  AddXmlNode(*document, *root, "Number", VersionToStr(FVersion));
  AddXmlNode(*document, *root, "Company", FCompany);
  AddXmlNode(*document, *root, "Name", FName);
  AddXmlNode(*document, *root, "ShortName", FShortName);
  AddXmlNode(*document, *root, "URL", FURL);
  AddXmlNode(*document, *root, "InstallPath", FInstallPath);
  AddXmlNode(*document, *root, "Scope", InstallScopeName(FScope));
  std::unique_ptr<XmlNode> list = AddXmlNode(*document, *root, "UnInstall", "");
  // An uninstaller runs every entry it finds, so only the entries of the
  // chosen options are written, and without Options and Arch.
  for (const std::unique_ptr<TInstallFile>& entry : FUnInstall)
    if (entry && entry->Check(FOptions)) WriteEntry(*document, *list, *entry);
  return document->Xml();
}

void TInstall::SaveUnInstallXml(const std::string& path) const {
  try {
    WriteTextFile(EncryptText(UnInstallXml()), path, kUtf8CodePage);
  } catch (...) {
    throw Error("[SaveUnInstallXml] Ошибка: " + CurrentExceptionMessage());
  }
}

}  // namespace volok
