#include "platform/posix/xml_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "platform/code_pages.h"
#include "platform/file_system.h"

namespace volok::platform::posix {

namespace {

bool ReadAll(const std::string& path, std::string& bytes) {
  std::unique_ptr<File> file;
  if (!FileSystem::Default().OpenFile(path, FileAccess::ReadExisting, FileShare::ReadWrite, file).ok()) return false;
  char buffer[65536];
  for (;;) {
    std::size_t done = 0;
    if (!file->Read(buffer, sizeof buffer, done).ok()) return false;
    if (done == 0) return true;
    bytes.append(buffer, done);
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The declaration is ASCII in every encoding a declaration may name without a
// byte-order mark, so it can be read before the text is decoded.
bool FindDeclaredEncoding(const std::string& bytes, std::size_t& begin, std::size_t& end) {
  if (bytes.compare(0, 5, "<?xml") != 0) return false;
  std::size_t close = bytes.find("?>");
  std::size_t key = bytes.find("encoding", 5);
  if (close == std::string::npos || key == std::string::npos || key > close) return false;
  std::size_t quote = bytes.find_first_of("\"'", key);
  if (quote == std::string::npos || quote > close) return false;
  std::size_t closing = bytes.find(bytes[quote], quote + 1);
  if (closing == std::string::npos || closing > close) return false;
  begin = quote + 1;
  end = closing;
  return true;
}

// The Windows code page of an IANA encoding name; 0 when unknown.
unsigned CodePageOf(const std::string& name) {
  std::string n = Lower(name);
  if (n == "utf-8" || n == "utf8") return 65001;
  if (n == "utf-16" || n == "utf-16le" || n == "unicode") return 1200;
  if (n == "utf-16be") return 1201;
  if (n == "koi8-r") return 20866;
  if (n == "koi8-u") return 21866;
  if (n == "us-ascii" || n == "ascii") return 20127;
  if (n == "iso-8859-1" || n == "latin1") return 28591;
  for (const char* prefix : {"windows-", "cp", "ibm", "iso-8859-"}) {
    std::string p = prefix;
    if (n.compare(0, p.size(), p) != 0 || n.size() == p.size()) continue;
    char* stop = nullptr;
    unsigned long number = std::strtoul(n.c_str() + p.size(), &stop, 10);
    if (*stop != '\0' || number == 0 || number > 65535) return 0;
    return p == "iso-8859-" ? 28590 + static_cast<unsigned>(number) : static_cast<unsigned>(number);
  }
  return 0;
}

bool Decode(unsigned code_page, const std::string& bytes, std::string& text) {
  return CodePages::Default().Decode(code_page, bytes, text).ok();
}

}  // namespace

bool ReadXmlFileAsUtf8(const std::string& path, std::string& xml) {
  std::string bytes;
  if (!ReadAll(path, bytes)) return false;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    xml = bytes.substr(3);
  } else if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    if (!Decode(1200, bytes.substr(2), xml)) return false;
  } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
    if (!Decode(1201, bytes.substr(2), xml)) return false;
  } else {
    std::size_t begin = 0, end = 0;
    unsigned code_page = 65001;
    if (FindDeclaredEncoding(bytes, begin, end)) code_page = CodePageOf(bytes.substr(begin, end - begin));
    if (code_page == 0 || code_page == 1200 || code_page == 1201) return false;
    if (code_page == 65001 || code_page == 20127) {
      xml = std::move(bytes);
    } else if (!Decode(code_page, bytes, xml)) {
      return false;
    }
  }
  // The text is UTF-8 now; a declaration still naming the old encoding
  // would mislead whoever reads the serialised document.
  std::size_t begin = 0, end = 0;
  if (FindDeclaredEncoding(xml, begin, end)) xml.replace(begin, end - begin, "UTF-8");
  return true;
}

}  // namespace volok::platform::posix
