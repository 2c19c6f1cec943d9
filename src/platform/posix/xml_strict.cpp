#include "platform/posix/xml_strict.h"

#include <pugixml.hpp>

#include <cstdint>
#include <string_view>

#include "platform/xml.h"

namespace volok::platform::posix {

namespace {

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The characters XML 1.0 allows in a document, literally or by reference.
bool XmlChar(std::uint32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// Control characters and U+FFFE/U+FFFF written as they are; MSXML stops at
// them, pugixml takes them and writes them back as references.
bool LiteralCharactersValid(std::string_view xml) {
  for (std::size_t i = 0; i < xml.size(); ++i) {
    auto c = static_cast<unsigned char>(xml[i]);
    if (c < 0x20 && !XmlChar(c)) return false;
    if (c == 0xEF && xml.substr(i + 1, 1) == "\xBF" && i + 2 < xml.size() &&
        (static_cast<unsigned char>(xml[i + 2]) & 0xFE) == 0xBE)
      return false;
  }
  return true;
}

// "#65" or "#x41": the character it names must be one XML allows. Digits
// are read only while the value can still be a character, so no length of
// digits overflows.
bool CharacterReferenceValid(std::string_view name) {
  bool hex = name.size() > 1 && name[1] == 'x';
  std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return false;
  std::uint32_t code = 0;
  for (char c : digits) {
    int digit = c >= '0' && c <= '9' ? c - '0' : -1;
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    if (code > 0x10FFFF) return false;
  }
  return XmlChar(code);
}

bool KnownReference(std::string_view name) {
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") return true;
  return name.size() >= 2 && name[0] == '#' && CharacterReferenceValid(name);
}

bool ReferencesValid(std::string_view text) {
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    size_t end = text.find(';', at);
    if (end == std::string_view::npos || !KnownReference(text.substr(at + 1, end - at - 1))) return false;
  }
  return true;
}

// An element in a namespace: a prefixed name, or a default namespace that it
// declares itself (an element below one inherits it, but then the one
// declaring it is already refused). MSXML's XPath would not find such an
// element by its plain name, pugixml's would.
bool InNamespace(const pugi::xml_node& element) {
  if (std::string_view(element.name()).find(':') != std::string_view::npos) return true;
  pugi::xml_attribute declaration = element.attribute("xmlns");
  return declaration && *declaration.value() != '\0';
}

bool ElementValid(const pugi::xml_node& element) {
  if (InNamespace(element)) return false;
  for (pugi::xml_attribute attribute : element.attributes())
    if (!ReferencesValid(attribute.value())) return false;
  return true;
}

// The next node in document order, and the change in depth on the way to it;
// a loop, not a recursion, so that no nesting can exhaust the stack.
pugi::xml_node Next(const pugi::xml_node& node, int& depth) {
  if (node.first_child()) {
    ++depth;
    return node.first_child();
  }
  for (pugi::xml_node at = node; at; at = at.parent(), --depth)
    if (at.next_sibling()) return at.next_sibling();
  return pugi::xml_node();
}

bool TreeValid(const pugi::xml_node& fragment) {
  int depth = 0;
  for (pugi::xml_node node = Next(fragment, depth); node && depth > 0; node = Next(node, depth)) {
    if (node.type() == pugi::node_pcdata && !ReferencesValid(node.value())) return false;
    if (node.type() != pugi::node_element) continue;
    if (depth > kMaxXmlDepth || !ElementValid(node)) return false;
  }
  return true;
}

}  // namespace

bool StrictlyWellFormed(const std::string& xml) {
  if (!LiteralCharactersValid(xml)) return false;
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
  return elements == 1 && TreeValid(raw);
}

}  // namespace volok::platform::posix
