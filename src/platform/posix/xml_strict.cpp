#include "platform/posix/xml_strict.h"

#include <pugixml.hpp>

#include <string_view>

namespace volok::platform::posix {

namespace {

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool KnownReference(std::string_view name) {
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") return true;
  if (name.size() < 2 || name[0] != '#') return false;
  bool hex = name[1] == 'x';
  std::string_view digits = name.substr(hex ? 2 : 1);
  std::string_view allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  return !digits.empty() && digits.find_first_not_of(allowed) == std::string_view::npos;
}

bool ReferencesValid(std::string_view text) {
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    size_t end = text.find(';', at);
    if (end == std::string_view::npos || !KnownReference(text.substr(at + 1, end - at - 1))) return false;
  }
  return true;
}

bool ReferencesValidBelow(const pugi::xml_node& node) {
  for (pugi::xml_attribute attribute : node.attributes())
    if (!ReferencesValid(attribute.value())) return false;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata && !ReferencesValid(child.value())) return false;
    if (child.type() == pugi::node_element && !ReferencesValidBelow(child)) return false;
  }
  return true;
}

}  // namespace

bool StrictlyWellFormed(const std::string& xml) {
  // Unescaped, because after expansion "&amp;x;" and a bare "&x;" look
  // alike; as a fragment, because otherwise pugixml silently drops text
  // after the document element.
  constexpr unsigned kFlags = (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_doctype |
                              pugi::parse_fragment;
  pugi::xml_document raw;
  if (!raw.load_buffer(xml.data(), xml.size(), kFlags, pugi::encoding_utf8)) return false;
  int elements = 0;
  for (pugi::xml_node child : raw.children()) {
    // MSXML 6 prohibits DTDs, which also shuts out entity expansion bombs.
    if (child.type() == pugi::node_doctype) return false;
    if (child.type() == pugi::node_pcdata && !Blank(child.value())) return false;
    if (child.type() == pugi::node_element) ++elements;
  }
  return elements == 1 && ReferencesValidBelow(raw);
}

}  // namespace volok::platform::posix
