#include "platform/xml_locate.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace volok::platform {

namespace {

std::string Position(std::string_view xml, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < xml.size(); ++i) {
    if (xml[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(xml[i]) & 0xC0) != 0x80) {
      ++column;  // a character, not a UTF-8 continuation byte
    }
  }
  return "строка " + std::to_string(line) + ", столбец " + std::to_string(column) + ": ";
}

bool StartsReference(std::string_view rest) {
  std::size_t end = rest.find(';');
  if (end == std::string_view::npos || end < 2 || end > 12) return false;
  std::string_view name = rest.substr(1, end - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") return true;
  if (name[0] != '#') return false;
  for (std::size_t i = name.size() > 1 && name[1] == 'x' ? 2 : 1; i < name.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

std::string TagName(std::string_view xml, std::size_t at) {
  std::size_t end = at;
  while (end < xml.size() && xml[end] != '>' && xml[end] != '/' && static_cast<unsigned char>(xml[end]) > 32) ++end;
  return std::string(xml.substr(at, end - at));
}

// Skips a construct that holds neither tags nor references; the position
// after it, or `at` when none starts there.
std::size_t SkipOpaque(std::string_view xml, std::size_t at) {
  struct Pair {
    std::string_view open, close;
  };
  for (Pair pair : {Pair{"<!--", "-->"}, Pair{"<![CDATA[", "]]>"}, Pair{"<?", "?>"}, Pair{"<!", ">"}}) {
    if (xml.substr(at, pair.open.size()) != pair.open) continue;
    std::size_t end = xml.find(pair.close, at + pair.open.size());
    return end == std::string_view::npos ? xml.size() : end + pair.close.size();
  }
  return at;
}

}  // namespace

std::string LocateXmlProblem(const std::string& text) {
  std::string_view xml = text;
  std::vector<std::string> open;
  for (std::size_t i = 0; i < xml.size();) {
    if (xml[i] == '&') {
      if (!StartsReference(xml.substr(i)))
        return Position(xml, i) + "символ \"&\" не начинает ссылку (запишите его как &amp;)";
      ++i;
      continue;
    }
    if (xml[i] != '<') {
      ++i;
      continue;
    }
    std::size_t skipped = SkipOpaque(xml, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    std::size_t end = xml.find('>', i);
    if (end == std::string_view::npos) return Position(xml, i) + "тег не закрыт";
    if (xml[i + 1] == '/') {
      std::string name = TagName(xml, i + 2);
      if (open.empty() || open.back() != name)
        return Position(xml, i) + "закрывающий тег </" + name + "> не совпадает с открывающим" +
               (open.empty() ? std::string() : " <" + open.back() + ">");
      open.pop_back();
    } else if (xml[end - 1] != '/') {
      open.push_back(TagName(xml, i + 1));
    }
    // Attribute values may hold references too.
    for (std::size_t a = xml.find('&', i); a != std::string_view::npos && a < end; a = xml.find('&', a + 1))
      if (!StartsReference(xml.substr(a)))
        return Position(xml, a) + "символ \"&\" не начинает ссылку (запишите его как &amp;)";
    i = end + 1;
  }
  return {};
}

}  // namespace volok::platform
