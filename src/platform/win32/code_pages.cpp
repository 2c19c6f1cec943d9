#include <windows.h>

#include "platform/code_pages.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::Narrow;
using win32::Widen;

std::string UnknownCodePage(unsigned code_page) {
  return "Неизвестная кодовая страница: " + std::to_string(code_page);
}


std::wstring MapCase(std::string_view text, DWORD flags) {
  std::wstring wide = Widen(text);
  if (wide.empty()) return wide;
  int n = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                        nullptr, nullptr, 0);
  if (n <= 0) return wide;
  std::wstring result(static_cast<size_t>(n), L'\0');
  LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, wide.data(), static_cast<int>(wide.size()), result.data(), n,
                nullptr, nullptr, 0);
  return result;
}

class Win32CodePages final : public CodePages {
 public:
  unsigned ActiveAnsiCodePage() override { return GetACP(); }

  Status Decode(unsigned code_page, std::string_view bytes, std::string& text) override {
    text.clear();
    if (!IsValidCodePage(code_page) && code_page != 1200 && code_page != 1201)
      return Status::Failure(UnknownCodePage(code_page));
    if (bytes.empty()) return Status::Ok();
    if (code_page == 1200 || code_page == 1201) {
      // MultiByteToWideChar does not do UTF-16; it is a plain byte swap.
      std::wstring wide;
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        wide += static_cast<wchar_t>(code_page == 1200 ? (a | (b << 8)) : ((a << 8) | b));
      }
      text = Narrow(wide);
      return Status::Ok();
    }
    int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return Status::Failure(win32::WindowsErrorMessage(GetLastError()));
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    text = Narrow(wide);
    return Status::Ok();
  }

  Status Encode(unsigned code_page, std::string_view text, std::string& bytes) override {
    bytes.clear();
    if (!IsValidCodePage(code_page) && code_page != 1200 && code_page != 1201)
      return Status::Failure(UnknownCodePage(code_page));
    std::wstring wide = Widen(text);
    if (wide.empty()) return Status::Ok();
    if (code_page == 1200 || code_page == 1201) {
      for (wchar_t c : wide) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
        bytes += code_page == 1200 ? lo : hi;
        bytes += code_page == 1200 ? hi : lo;
      }
      return Status::Ok();
    }
    int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return Status::Failure(win32::WindowsErrorMessage(GetLastError()));
    bytes.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr,
                        nullptr);
    return Status::Ok();
  }

  std::string Lower(std::string_view text) override { return Narrow(MapCase(text, LCMAP_LOWERCASE)); }
  std::string Upper(std::string_view text) override { return Narrow(MapCase(text, LCMAP_UPPERCASE)); }
};

}  // namespace

CodePages& CodePages::BuiltIn() {
  static Win32CodePages instance;
  return instance;
}

}  // namespace volok::platform
