// The XML DOM: exactly the operations the description reader and writer use.
// Windows: MSXML 6 (DOMDocument60) through COM; POSIX: pugixml. Both give the
// same element texts for the same document.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// A node of one document; valid while its document lives.
class XmlNode {
 public:
  virtual ~XmlNode() = default;
  // XPath 1.0 location path relative to this node (or absolute, "/Installer").
  // nullptr when nothing is selected.
  virtual std::unique_ptr<XmlNode> SelectSingleNode(const std::string& path) = 0;
  virtual std::vector<std::unique_ptr<XmlNode>> SelectNodes(const std::string& path) = 0;
  // The DOM's text property: the text of the node and all its descendants.
  virtual std::string Text() = 0;
  virtual Status SetText(const std::string& text) = 0;
  virtual Status AppendChild(XmlNode& child) = 0;
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // Parses `xml`; false when it is not well-formed (the document then has no
  // document element).
  virtual bool LoadXml(const std::string& xml) = 0;
  // nullptr when the document is empty.
  virtual std::unique_ptr<XmlNode> DocumentElement() = 0;
  // A new element without namespace, not yet in the tree.
  virtual Status CreateElement(const std::string& name, std::unique_ptr<XmlNode>& node) = 0;
  // The serialised document.
  virtual std::string Xml() = 0;
};

class XmlParser {
 public:
  virtual ~XmlParser() = default;

  static XmlParser& Default() { return DefaultSlot<XmlParser>::Get(); }
  static XmlParser& BuiltIn();

  // A new empty document for the calling thread (initialises COM there).
  virtual Status CreateDocument(std::unique_ptr<XmlDocument>& document) = 0;
};

}  // namespace volok::platform
