#include "platform/code_pages.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/case_mapping.h"

namespace volok::platform {

namespace {

// iconv's name for a Windows code page number.
std::string IconvName(unsigned code_page) {
  switch (code_page) {
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 65000: return "UTF-7";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    default: return "CP" + std::to_string(code_page);
  }
}

class Iconv final {
 public:
  Iconv(const std::string& to, const std::string& from) : FHandle(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(FHandle);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`; an input sequence that cannot be converted is
  // skipped (`skip` gives its length) and `replacement` is written instead.
  std::string Convert(std::string_view in, const std::string& replacement, size_t (*skip)(std::string_view)) {
    std::string out;
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      size_t rc = iconv(FHandle, &src, &left, &dst, &room);
      out.append(buffer, dst);
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
        // EILSEQ or EINVAL (a truncated sequence at the end): replace and go on.
        out += replacement;
        size_t n = skip(std::string_view(src, left));
        src += n;
        left -= n;
      }
    }
    char* dst = buffer;
    size_t room = sizeof buffer;
    iconv(FHandle, nullptr, nullptr, &dst, &room);  // flush shift state (UTF-7)
    out.append(buffer, dst);
    return out;
  }

 private:
  iconv_t FHandle;
};

size_t SkipByte(std::string_view) { return 1; }

size_t SkipUtf8Character(std::string_view text) {
  size_t n = 1;
  while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
  return n;
}

std::string UnknownCodePage(unsigned code_page) {
  return "Неизвестная кодовая страница: " + std::to_string(code_page);
}

class PosixCodePages final : public CodePages {
 public:
  unsigned ActiveAnsiCodePage() override {
    if (const char* forced = std::getenv("VOLOK_ANSI_CODEPAGE")) {
      unsigned value = static_cast<unsigned>(std::strtoul(forced, nullptr, 10));
      if (value != 0) return value;
    }
    return IsCyrillicLanguage(LocaleLanguage()) ? 1251 : 1252;
  }

  Status Decode(unsigned code_page, std::string_view bytes, std::string& text) override {
    Iconv converter("UTF-8", IconvName(code_page));
    if (!converter.ok()) return Status::Failure(UnknownCodePage(code_page));
    text = converter.Convert(bytes, "\xEF\xBF\xBD", SkipByte);
    return Status::Ok();
  }

  Status Encode(unsigned code_page, std::string_view text, std::string& bytes) override {
    Iconv converter(IconvName(code_page), "UTF-8");
    if (!converter.ok()) return Status::Failure(UnknownCodePage(code_page));
    bytes = converter.Convert(text, "?", SkipUtf8Character);
    return Status::Ok();
  }

  std::string Lower(std::string_view text) override {
    return posix::MapCase(text, false, posix::CaseLocale());
  }
  std::string Upper(std::string_view text) override {
    return posix::MapCase(text, true, posix::CaseLocale());
  }

 private:
  // The language of the user's locale, as POSIX programs find it.
  static std::string LocaleLanguage() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(name);
      if (value && *value) return value;
    }
    return "C";
  }

  static bool IsCyrillicLanguage(const std::string& locale) {
    std::string language = locale.substr(0, locale.find_first_of("_.@"));
    for (const char* cyrillic : {"ru", "uk", "be", "bg", "sr", "mk", "kk", "ky", "tg", "mn"})
      if (language == cyrillic) return true;
    return false;
  }
};

}  // namespace

CodePages& CodePages::BuiltIn() {
  static PosixCodePages instance;
  return instance;
}

}  // namespace volok::platform
