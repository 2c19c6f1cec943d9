#include "platform/xml.h"

namespace volok::platform {

namespace {

bool NameStart(unsigned char c) {
  // Every byte of a multi-byte UTF-8 sequence counts: letters of other
  // scripts ("Файл") are names too.
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool NameChar(unsigned char c) { return NameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

}  // namespace

bool IsXmlName(std::string_view name) {
  if (name.empty() || !NameStart(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!NameChar(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace volok::platform
