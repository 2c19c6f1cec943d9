#include "platform/xml.h"

#include <pugixml.hpp>

#include <sstream>

#include "platform/posix/xml_file.h"
#include "platform/posix/xml_strict.h"

namespace volok::platform {

namespace {

// White-space-only text is kept, as MSXML keeps it with preserveWhiteSpace:
// "a<b> </b>c" must read "a c" on both backends. The declaration is kept so
// that a loaded template serialises with it.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration;

void AppendText(const pugi::xml_node& node, std::string& text) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
    else if (child.type() == pugi::node_element)
      AppendText(child, text);
  }
}

class PugiNode final : public XmlNode {
 public:
  explicit PugiNode(pugi::xml_node node) : FNode(node) {}

  std::unique_ptr<XmlNode> SelectSingleNode(const std::string& path) override {
    try {
      pugi::xml_node found = FNode.select_node(path.c_str()).node();
      return found ? std::make_unique<PugiNode>(found) : nullptr;
    } catch (const pugi::xpath_exception&) {
      return nullptr;
    }
  }

  std::vector<std::unique_ptr<XmlNode>> SelectNodes(const std::string& path) override {
    std::vector<std::unique_ptr<XmlNode>> nodes;
    try {
      pugi::xpath_node_set set = FNode.select_nodes(path.c_str());
      set.sort();
      for (const pugi::xpath_node& item : set)
        if (item.node()) nodes.push_back(std::make_unique<PugiNode>(item.node()));
    } catch (const pugi::xpath_exception&) {
      nodes.clear();
    }
    return nodes;
  }

  std::string Text() override {
    if (FNode.type() == pugi::node_pcdata || FNode.type() == pugi::node_cdata) return FNode.value();
    std::string text;
    AppendText(FNode, text);
    return text;
  }

  Status SetText(const std::string& text) override {
    if (FNode.type() != pugi::node_element) return Status::Failure("Узел XML не может содержать текст");
    while (FNode.first_child()) FNode.remove_child(FNode.first_child());
    if (!text.empty() && !FNode.append_child(pugi::node_pcdata).set_value(text.c_str()))
      return Status::Failure("Недостаточно памяти для XML-документа");
    return Status::Ok();
  }

  Status AppendChild(XmlNode& child) override {
    auto* node = dynamic_cast<PugiNode*>(&child);
    if (!node || !node->FNode) return Status::Failure("Недопустимый узел XML");
    // A new element waits in its document's scratch tree (pugixml has no
    // free-standing nodes); moving it over means copying it and dropping
    // the original, so the caller's handle is pointed at the copy.
    pugi::xml_node moved = node->FNode.root() == FNode.root() ? FNode.append_move(node->FNode)
                                                               : FNode.append_copy(node->FNode);
    if (!moved) return Status::Failure("Узел XML нельзя вставить в это место");
    if (moved != node->FNode) node->FNode.parent().remove_child(node->FNode);
    node->FNode = moved;
    return Status::Ok();
  }

  Status RemoveChild(XmlNode& child) override {
    auto* node = dynamic_cast<PugiNode*>(&child);
    if (!node || !node->FNode || node->FNode.parent() != FNode)
      return Status::Failure("Узел XML не является дочерним для этого узла");
    FNode.remove_child(node->FNode);
    node->FNode = pugi::xml_node();
    return Status::Ok();
  }

 private:
  pugi::xml_node FNode;
};

class PugiDocument final : public XmlDocument {
 public:
  bool LoadXml(const std::string& xml) override {
    FDocument.reset();
    FLoadError.clear();
    // The strict check first: a document it refuses is never built twice.
    posix::XmlProblem problem;
    if (!posix::StrictlyWellFormed(xml, problem)) {
      FLoadError = posix::DescribeXmlProblem(xml, problem);
      return false;
    }
    if (!FDocument.load_buffer(xml.data(), xml.size(), kParseFlags, pugi::encoding_utf8)) {
      FDocument.reset();
      FLoadError = "документ не разобран";
      return false;
    }
    DropTopLevelBlanks();
    return true;
  }

  bool Load(const std::string& path) override {
    std::string xml;
    if (posix::ReadXmlFileAsUtf8(path, xml)) return LoadXml(xml);
    FDocument.reset();
    FLoadError = "файл не прочитан или его кодировка неизвестна: " + path;
    return false;
  }

  std::string LoadError() const override { return FLoadError; }

  std::unique_ptr<XmlNode> DocumentElement() override {
    pugi::xml_node element = FDocument.document_element();
    return element ? std::make_unique<PugiNode>(element) : nullptr;
  }

  Status CreateElement(const std::string& name, std::unique_ptr<XmlNode>& node) override {
    node.reset();
    if (!IsXmlName(name)) return Status::Failure("Недопустимое имя элемента XML: " + name);
    pugi::xml_node element = FScratch.append_child(name.c_str());
    if (!element) return Status::Failure("Недостаточно памяти для XML-документа");
    node = std::make_unique<PugiNode>(element);
    return Status::Ok();
  }

  std::string Xml() override {
    std::ostringstream out;
    FDocument.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    return out.str();
  }

 private:
  // Line breaks around the document element are not content.
  void DropTopLevelBlanks() {
    for (pugi::xml_node child = FDocument.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() == pugi::node_pcdata) FDocument.remove_child(child);
      child = next;
    }
  }

  pugi::xml_document FDocument;
  pugi::xml_document FScratch;
  std::string FLoadError;
};

class PugiParser final : public XmlParser {
 public:
  Status CreateDocument(std::unique_ptr<XmlDocument>& document) override {
    document = std::make_unique<PugiDocument>();
    return Status::Ok();
  }
};

}  // namespace

XmlParser& XmlParser::BuiltIn() {
  static PugiParser instance;
  return instance;
}

}  // namespace volok::platform
