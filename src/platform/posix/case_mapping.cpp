#include "platform/posix/case_mapping.h"

#include <wchar.h>
#include <wctype.h>

#include <climits>

namespace volok::platform::posix {

namespace {

std::string MapAscii(std::string_view text, bool upper) {
  std::string out(text);
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Switches the calling thread to a locale for as long as it lives.
class ThreadLocale final {
 public:
  explicit ThreadLocale(locale_t locale) : FOld(uselocale(locale)) {}
  ~ThreadLocale() { uselocale(FOld); }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;

 private:
  locale_t FOld;
};

}  // namespace

locale_t CaseLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return locale;
}

std::string MapCase(std::string_view text, bool upper, locale_t locale) {
  // towlower_l and towupper_l take no null locale: a system without C.UTF-8
  // still compares and shows ASCII names as Windows would.
  if (locale == nullptr) return MapAscii(text, upper);
  std::string out;
  out.reserve(text.size());
  mbstate_t state{};
  const char* p = text.data();
  size_t left = text.size();
  ThreadLocale scope(locale);
  while (left > 0) {
    wchar_t wc;
    size_t n = mbrtowc(&wc, p, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      // Not UTF-8 (or an embedded NUL): pass the byte through unchanged.
      out += *p;
      state = mbstate_t{};
      ++p;
      --left;
      continue;
    }
    char buffer[MB_LEN_MAX];
    mbstate_t out_state{};
    wint_t mapped = upper ? towupper_l(static_cast<wint_t>(wc), locale) : towlower_l(static_cast<wint_t>(wc), locale);
    size_t m = wcrtomb(buffer, static_cast<wchar_t>(mapped), &out_state);
    if (m == static_cast<size_t>(-1))
      out.append(p, n);
    else
      out.append(buffer, m);
    p += n;
    left -= n;
  }
  return out;
}

}  // namespace volok::platform::posix
