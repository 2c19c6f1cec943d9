#include "platform/posix/xml_strict.h"

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/xml.h"

namespace volok::platform::posix {

namespace {

std::string ParserReason(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_end_element_mismatch:
      return "закрывающий тег не совпадает с открывающим";
    case pugi::status_unrecognized_tag:
      return "неверный тег";
    case pugi::status_bad_attribute:
      return "неверный атрибут";
    case pugi::status_bad_start_element:
      return "неверный открывающий тег";
    case pugi::status_bad_end_element:
      return "неверный закрывающий тег";
    case pugi::status_bad_pcdata:
    case pugi::status_bad_cdata:
      return "неверный текст";
    case pugi::status_bad_comment:
      return "неверный комментарий";
    case pugi::status_bad_pi:
      return "неверная инструкция обработки";
    case pugi::status_no_document_element:
      return "нет корневого элемента";
    default:
      return "документ не разобран";
  }
}

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
bool LiteralCharactersValid(std::string_view xml, XmlProblem& problem) {
  for (std::size_t i = 0; i < xml.size(); ++i) {
    auto c = static_cast<unsigned char>(xml[i]);
    bool invalid = c < 0x20 && !XmlChar(c);
    invalid = invalid || (c == 0xEF && xml.substr(i + 1, 1) == "\xBF" && i + 2 < xml.size() &&
                          (static_cast<unsigned char>(xml[i + 2]) & 0xFE) == 0xBE);
    if (invalid) return problem.Set(i, "недопустимый в XML символ");
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

// `base` is where `text` starts in the document, for the report.
bool ReferencesValid(std::string_view text, std::size_t base, XmlProblem& problem) {
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    size_t end = text.find(';', at);
    if (end == std::string_view::npos || !KnownReference(text.substr(at + 1, end - at - 1)))
      return problem.Set(base + at, "символ \"&\" не начинает ссылку (запишите его как &amp;)");
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

std::size_t NodeOffset(const pugi::xml_node& node) {
  std::ptrdiff_t offset = node.offset_debug();
  return offset < 0 ? 0 : static_cast<std::size_t>(offset);
}

bool ElementValid(const pugi::xml_node& element, XmlProblem& problem) {
  if (InNamespace(element))
    return problem.Set(NodeOffset(element), std::string("элемент в пространстве имён: ") + element.name());
  for (pugi::xml_attribute attribute : element.attributes())
    if (!ReferencesValid(attribute.value(), NodeOffset(element), problem)) {
      problem.Offset = NodeOffset(element);
      return false;
    }
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

bool TreeValid(const pugi::xml_node& fragment, XmlProblem& problem) {
  int depth = 0;
  for (pugi::xml_node node = Next(fragment, depth); node && depth > 0; node = Next(node, depth)) {
    if (node.type() == pugi::node_pcdata && !ReferencesValid(node.value(), NodeOffset(node), problem)) return false;
    if (node.type() != pugi::node_element) continue;
    if (depth > kMaxXmlDepth) return problem.Set(NodeOffset(node), "слишком глубокая вложенность элементов");
    if (!ElementValid(node, problem)) return false;
  }
  return true;
}

}  // namespace

bool XmlProblem::Set(std::size_t offset, std::string reason) {
  Offset = offset;
  Reason = std::move(reason);
  return false;
}

bool StrictlyWellFormed(const std::string& xml, XmlProblem& problem) {
  if (!LiteralCharactersValid(xml, problem)) return false;
  // Unescaped, because after expansion "&amp;x;" and a bare "&x;" look
  // alike; as a fragment, because otherwise pugixml silently drops text
  // after the document element.
  constexpr unsigned kFlags = (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_doctype |
                              pugi::parse_fragment;
  pugi::xml_document raw;
  pugi::xml_parse_result parsed = raw.load_buffer(xml.data(), xml.size(), kFlags, pugi::encoding_utf8);
  if (!parsed) return problem.Set(static_cast<std::size_t>(parsed.offset), ParserReason(parsed.status));
  int elements = 0;
  for (pugi::xml_node child : raw.children()) {
    // MSXML 6 prohibits DTDs, which also shuts out entity expansion bombs.
    if (child.type() == pugi::node_doctype) return problem.Set(NodeOffset(child), "объявление типа документа");
    if (child.type() == pugi::node_pcdata && !Blank(child.value()))
      return problem.Set(NodeOffset(child), "текст вне корневого элемента");
    if (child.type() == pugi::node_element && ++elements > 1)
      return problem.Set(NodeOffset(child), "второй корневой элемент");
  }
  if (elements == 0) return problem.Set(0, "нет корневого элемента");
  return TreeValid(raw, problem);
}

bool StrictlyWellFormed(const std::string& xml) {
  XmlProblem problem;
  return StrictlyWellFormed(xml, problem);
}

std::string DescribeXmlProblem(const std::string& xml, const XmlProblem& problem) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < problem.Offset && i < xml.size(); ++i) {
    if (xml[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(xml[i]) & 0xC0) != 0x80) {
      ++column;  // a character, not a continuation byte
    }
  }
  return "строка " + std::to_string(line) + ", столбец " + std::to_string(column) + ": " + problem.Reason;
}

}  // namespace volok::platform::posix
