#include "common/xml_helpers.h"

#include "common/error.h"
#include "common/text.h"

namespace volok {

std::string GetXmlNodeText(platform::XmlNode* node) { return node ? node->Text() : std::string(); }

std::string GetXmlChildText(platform::XmlNode* node, const std::string& path) {
  if (!node) return {};
  std::unique_ptr<platform::XmlNode> child = node->SelectSingleNode(path);
  return Trim(GetXmlNodeText(child.get()));
}

std::unique_ptr<platform::XmlNode> AddXmlNode(platform::XmlDocument& document, platform::XmlNode& parent,
                                              const std::string& name, const std::string& text) {
  std::unique_ptr<platform::XmlNode> node;
  ThrowIfFailed(document.CreateElement(name, node));
  if (!text.empty()) ThrowIfFailed(node->SetText(text));
  ThrowIfFailed(parent.AppendChild(*node));
  return node;
}

}  // namespace volok
