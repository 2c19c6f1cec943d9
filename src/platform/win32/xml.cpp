#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>

#include <string>

#include "platform/win32/com.h"
#include "platform/win32/wide.h"
#include "platform/file_system.h"
#include "platform/xml.h"
#include "platform/xml_locate.h"

namespace volok::platform {

namespace {

using win32::Bstr;
using win32::ComErrorMessage;
using win32::ComPtr;
using win32::Narrow;
using win32::Widen;

// MinGW's headers declare neither DOMDocument60 nor IXMLDOMDocument2's IID.
constexpr CLSID kDomDocument60 = {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
constexpr IID kIXMLDOMDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIXMLDOMNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

Status Failed(HRESULT result) { return Status::Failure(ComErrorMessage(result)); }

Bstr ToBstr(const std::string& text) { return Bstr(Widen(text)); }

class MsxmlNode final : public XmlNode {
 public:
  explicit MsxmlNode(ComPtr<IXMLDOMNode> node) : FNode(std::move(node)) {}

  IXMLDOMNode* Get() const { return FNode.Get(); }

  std::unique_ptr<XmlNode> SelectSingleNode(const std::string& path) override {
    ComPtr<IXMLDOMNode> found;
    // S_FALSE (nothing selected) leaves the node empty; an invalid path fails.
    if (FAILED(FNode->selectSingleNode(ToBstr(path).Get(), found.Receive())) || !found) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(found));
  }

  std::vector<std::unique_ptr<XmlNode>> SelectNodes(const std::string& path) override {
    std::vector<std::unique_ptr<XmlNode>> nodes;
    ComPtr<IXMLDOMNodeList> list;
    long length = 0;
    if (FAILED(FNode->selectNodes(ToBstr(path).Get(), list.Receive())) || !list ||
        FAILED(list->get_length(&length)))
      return nodes;
    for (long i = 0; i < length; ++i) {
      ComPtr<IXMLDOMNode> item;
      if (SUCCEEDED(list->get_item(i, item.Receive())) && item)
        nodes.push_back(std::make_unique<MsxmlNode>(std::move(item)));
    }
    return nodes;
  }

  std::string Text() override {
    Bstr text;
    if (FAILED(FNode->get_text(text.Receive()))) return {};
    return Narrow(text.View());
  }

  Status SetText(const std::string& text) override {
    HRESULT result = FNode->put_text(ToBstr(text).Get());
    return FAILED(result) ? Failed(result) : Status::Ok();
  }

  Status AppendChild(XmlNode& child) override {
    auto* node = dynamic_cast<MsxmlNode*>(&child);
    if (!node) return Status::Failure("Недопустимый узел XML");
    ComPtr<IXMLDOMNode> appended;
    HRESULT result = FNode->appendChild(node->FNode.Get(), appended.Receive());
    if (FAILED(result)) return Failed(result);
    if (appended) node->FNode = std::move(appended);
    return Status::Ok();
  }

  Status RemoveChild(XmlNode& child) override {
    auto* node = dynamic_cast<MsxmlNode*>(&child);
    if (!node) return Status::Failure("Недопустимый узел XML");
    ComPtr<IXMLDOMNode> removed;
    HRESULT result = FNode->removeChild(node->FNode.Get(), removed.Receive());
    return FAILED(result) ? Failed(result) : Status::Ok();
  }

 private:
  ComPtr<IXMLDOMNode> FNode;
};

class MsxmlDocument final : public XmlDocument {
 public:
  explicit MsxmlDocument(ComPtr<IXMLDOMDocument2> document) : FDocument(std::move(document)) {}

  bool LoadXml(const std::string& xml) override {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = FDocument->loadXML(ToBstr(xml).Get(), &loaded);
    bool ok = SUCCEEDED(result) && loaded == VARIANT_TRUE;
    FText = ok ? std::string() : xml;
    return Finish(ok);
  }

  bool Load(const std::string& path) override {
    // load takes a URL; a full path keeps a relative one from being read
    // against anything but the current folder.
    std::wstring wide = Widen(path);
    std::wstring full(32768, L'\0');
    DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length > 0 && length < full.size()) wide = full.substr(0, length);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(wide.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = source.bstrVal ? FDocument->load(source, &loaded) : E_OUTOFMEMORY;
    VariantClear(&source);
    bool ok = SUCCEEDED(result) && loaded == VARIANT_TRUE;
    FText = ok ? std::string() : ReadForReport(path);
    return Finish(ok);
  }

  std::string LoadError() const override { return FLoadError; }

  std::unique_ptr<XmlNode> DocumentElement() override {
    ComPtr<IXMLDOMElement> element;
    if (FAILED(FDocument->get_documentElement(element.Receive())) || !element) return nullptr;
    ComPtr<IXMLDOMNode> node = element.As<IXMLDOMNode>(kIXMLDOMNode);
    return node ? std::make_unique<MsxmlNode>(std::move(node)) : nullptr;
  }

  Status CreateElement(const std::string& name, std::unique_ptr<XmlNode>& node) override {
    node.reset();
    if (!IsXmlName(name)) return Status::Failure("Недопустимое имя элемента XML: " + name);
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = NODE_ELEMENT;
    Bstr no_namespace(L"");
    ComPtr<IXMLDOMNode> created;
    HRESULT result = FDocument->createNode(type, ToBstr(name).Get(), no_namespace.Get(), created.Receive());
    if (FAILED(result)) return Failed(result);
    if (!created) return Status::Failure("Не удалось создать элемент XML: " + name);
    node = std::make_unique<MsxmlNode>(std::move(created));
    return Status::Ok();
  }

  std::string Xml() override {
    Bstr xml;
    if (FAILED(FDocument->get_xml(xml.Receive()))) return {};
    return Narrow(xml.View());
  }

 private:
  bool Acceptable() { return !HasDocumentType() && !HasElementBeyondPaths(); }

  // Keeps the outcome of a load; a document refused leaves none behind.
  bool Finish(bool loaded) {
    FLoadError.clear();
    if (loaded && Acceptable()) return true;
    FLoadError = loaded ? std::string("объявление типа документа, пространство имён или слишком глубокая вложенность")
                        : ParserError();
    Clear();
    return false;
  }

  // MSXML's own account of a failed parse: line, column and reason.
  std::string ParserError() {
    ComPtr<IXMLDOMParseError> error;
    long line = 0, column = 0;
    Bstr reason;
    if (FAILED(FDocument->get_parseError(error.Receive())) || !error) return "документ не разобран";
    (void)error->get_line(&line);
    (void)error->get_linepos(&column);
    (void)error->get_reason(reason.Receive());
    std::string text = Narrow(reason.View());
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.pop_back();
    if (text.empty()) text = "документ не разобран";
    if (line <= 0) {
      // Wine's MSXML says neither where nor why.
      std::string located = LocateXmlProblem(FText);
      return located.empty() ? text : located;
    }
    return "строка " + std::to_string(line) + ", столбец " + std::to_string(column) + ": " + text;
  }

  // An element in a namespace (MSXML reads it, but a path without prefixes
  // never finds it, while pugixml's does) or nested deeper than the limit
  // (MSXML 6's default limit, which Wine's does not keep). A prefix that
  // names no namespace is MSXML 6's own load error; Wine's drops the prefix
  // and leaves nothing to see here.
  bool HasElementBeyondPaths() {
    static const std::wstring kQuery =
        L"//*[namespace-uri() != '' or count(ancestor::*) >= " + std::to_wstring(kMaxXmlDepth) + L"]";
    ComPtr<IXMLDOMNode> found;
    HRESULT result = FDocument->selectSingleNode(Bstr(kQuery).Get(), found.Receive());
    return FAILED(result) || found;
  }

  // MSXML 6 refuses DTDs by default (ProhibitDTD), shutting out entity
  // expansion bombs; Wine's MSXML accepts the property and ignores it.
  bool HasDocumentType() {
    ComPtr<IXMLDOMDocumentType> type;
    return SUCCEEDED(FDocument->get_doctype(type.Receive())) && type;
  }

  // An empty document, as MSXML leaves it after a failed load.
  void Clear() {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    (void)FDocument->loadXML(Bstr(L"").Get(), &loaded);
  }

  // The bytes of a file that did not load, only to say where it failed.
  static std::string ReadForReport(const std::string& path) {
    std::unique_ptr<File> file;
    std::string bytes(1 << 20, '\0');
    std::size_t done = 0;
    if (!FileSystem::Default().OpenFile(path, FileAccess::ReadExisting, FileShare::ReadWrite, file).ok() ||
        !file->Read(bytes.data(), bytes.size(), done).ok())
      return {};
    bytes.resize(done);
    return bytes;
  }

  ComPtr<IXMLDOMDocument2> FDocument;
  std::string FLoadError;
  std::string FText;
};

Status SetProperty(IXMLDOMDocument2& document, const wchar_t* name, VARIANT value) {
  HRESULT result = document.setProperty(Bstr(name).Get(), value);
  VariantClear(&value);
  return FAILED(result) ? Failed(result) : Status::Ok();
}

VARIANT TextValue(const wchar_t* text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(text);
  return value;
}

VARIANT BoolValue(bool flag) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

// Synchronous loading; XPath for selections; DTDs refused (MSXML 6's own
// default, stated so that the POSIX backend's refusal has a twin); white space
// preserved, because MSXML otherwise normalises it inside the text property
// and the two backends would read different texts.
Status Configure(IXMLDOMDocument2& document) {
  HRESULT result = document.put_async(VARIANT_FALSE);
  if (SUCCEEDED(result)) result = document.put_preserveWhiteSpace(VARIANT_TRUE);
  if (FAILED(result)) return Failed(result);
  Status status = SetProperty(document, L"SelectionLanguage", TextValue(L"XPath"));
  if (status.ok()) status = SetProperty(document, L"ProhibitDTD", BoolValue(true));
  return status;
}

class MsxmlParser final : public XmlParser {
 public:
  Status CreateDocument(std::unique_ptr<XmlDocument>& document) override {
    document.reset();
    // Every thread that touches the DOM initialises COM itself; the answer
    // (S_FALSE when already done, RPC_E_CHANGED_MODE in an MTA) is of no
    // consequence for an in-process server of both threading models.
    (void)CoInitialize(nullptr);
    ComPtr<IXMLDOMDocument2> created;
    HRESULT result = CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                      reinterpret_cast<void**>(created.Receive()));
    if (FAILED(result)) return Failed(result);
    Status status = Configure(*created.Get());
    if (!status.ok()) return status;
    document = std::make_unique<MsxmlDocument>(std::move(created));
    return Status::Ok();
  }
};

}  // namespace

XmlParser& XmlParser::BuiltIn() {
  static MsxmlParser instance;
  return instance;
}

}  // namespace volok::platform
