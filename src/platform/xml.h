// The XML DOM: exactly the operations the description reader and writer use.
// Windows: MSXML 6 (DOMDocument60) through COM; POSIX: pugixml. Both give the
// same element texts for the same document: the text of every text and CDATA
// node below the element, concatenated exactly as written (entities and
// character references expanded, line ends normalised to LF, comments and
// processing instructions left out). Neither backend collapses white space,
// so a caller that wants trimmed values trims them itself.
//
// Threads: a document and its nodes belong to the thread that created the
// document; each thread creates its own documents (Windows initialises COM
// for the calling thread).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// The deepest nesting of elements a loaded document may have (the document
// element is at depth 1): MSXML 6's own default limit, kept by both backends.
constexpr int kMaxXmlDepth = 256;

// A node of one document; valid while its document lives.
class XmlNode {
 public:
  virtual ~XmlNode() = default;
  // XPath 1.0 location path relative to this node (or absolute, "/Installer").
  // nullptr when nothing is selected or the path is not valid XPath.
  [[nodiscard]] virtual std::unique_ptr<XmlNode> SelectSingleNode(const std::string& path) = 0;
  // Every selected node in document order; empty when nothing is selected.
  [[nodiscard]] virtual std::vector<std::unique_ptr<XmlNode>> SelectNodes(const std::string& path) = 0;
  // The DOM's text property (see the top of this file).
  [[nodiscard]] virtual std::string Text() = 0;
  // Replaces every child by one text node holding `text` (none for "").
  virtual Status SetText(const std::string& text) = 0;
  // Makes `child` (a node of the same document, e.g. a new element) the last
  // child of this node; `child` refers to it in its new place afterwards.
  virtual Status AppendChild(XmlNode& child) = 0;
  // Takes `child`, a child of this node, out of the tree (with everything
  // in it). Fails when it is not a child of this node.
  virtual Status RemoveChild(XmlNode& child) = 0;
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // Parses `xml` (UTF-8; an encoding named in its declaration is ignored),
  // replacing any previous content. False when it is not well-formed,
  // declares a document type, nests elements deeper than kMaxXmlDepth or
  // puts an element in a namespace (this system's documents use none, and
  // a path would find such an element on one backend only); the document
  // then has no document element.
  virtual bool LoadXml(const std::string& xml) = 0;
  // Loads the file `path` (a relative path counts from the current folder),
  // honouring its byte-order mark or the encoding its declaration names, as
  // MSXML's load does. A missing file, an unknown encoding or a document
  // LoadXml would refuse gives false and leaves no document element.
  virtual bool Load(const std::string& path) = 0;
  // Why the last LoadXml or Load gave false, with the line and column where
  // the parser knows them ("строка 3, столбец 14: …"); "" after a success.
  [[nodiscard]] virtual std::string LoadError() const = 0;
  // nullptr when the document is empty.
  [[nodiscard]] virtual std::unique_ptr<XmlNode> DocumentElement() = 0;
  // A new element without namespace, not yet in the tree.
  virtual Status CreateElement(const std::string& name, std::unique_ptr<XmlNode>& node) = 0;
  // The serialised document, UTF-8.
  [[nodiscard]] virtual std::string Xml() = 0;
};

// True when `name` is an XML element name (ASCII checked exactly, other
// characters accepted). Both backends refuse other names, which not every
// MSXML does by itself.
bool IsXmlName(std::string_view name);

class XmlParser {
 public:
  virtual ~XmlParser() = default;

  static XmlParser& Default() { return DefaultSlot<XmlParser>::Get(); }
  static XmlParser& BuiltIn();

  // A new empty document for the calling thread (initialises COM there).
  virtual Status CreateDocument(std::unique_ptr<XmlDocument>& document) = 0;
};

}  // namespace volok::platform
