// Code-page conversion and case mapping. All text is UTF-8 on this side.
#pragma once

#include <string>
#include <string_view>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

class CodePages {
 public:
  virtual ~CodePages() = default;

  static CodePages& Default() { return DefaultSlot<CodePages>::Get(); }
  static CodePages& BuiltIn();

  // The system's active ANSI code page (Windows: GetACP; POSIX: 1251 for
  // Cyrillic locales, 1252 otherwise, or VOLOK_ANSI_CODEPAGE).
  virtual unsigned ActiveAnsiCodePage() = 0;
  // Bytes in `code_page` to UTF-8. Bytes the code page does not define
  // become U+FFFD. Fails only for a code page the system does not know.
  virtual Status Decode(unsigned code_page, std::string_view bytes, std::string& text) = 0;
  // UTF-8 to bytes in `code_page`; characters the code page lacks become
  // the system's replacement ('?'). Fails for an unknown code page.
  virtual Status Encode(unsigned code_page, std::string_view text, std::string& bytes) = 0;
  // Locale-aware case mapping of every character, Cyrillic included.
  virtual std::string Lower(std::string_view text) = 0;
  virtual std::string Upper(std::string_view text) = 0;
};

}  // namespace volok::platform
