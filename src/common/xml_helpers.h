// Small routines over the platform's XML DOM, shared by the description
// reader and writer. Values read from descriptions are element texts
// trimmed of characters with codes up to 32.
#pragma once

#include <memory>
#include <string>

#include "platform/xml.h"

namespace volok {

// The node's text (not trimmed); empty when there is no node.
std::string GetXmlNodeText(platform::XmlNode* node);
// The trimmed text of the first node that `path` selects below `node`;
// empty when there is no node or nothing is selected.
std::string GetXmlChildText(platform::XmlNode* node, const std::string& path);
// Appends a new element `name` to `parent`, holding `text` unless it is
// empty, and gives it back. Throws Error with the DOM's message.
std::unique_ptr<platform::XmlNode> AddXmlNode(platform::XmlDocument& document, platform::XmlNode& parent,
                                              const std::string& name, const std::string& text);

}  // namespace volok
