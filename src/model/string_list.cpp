#include "model/string_list.h"

#include "common/text.h"

namespace volok {

namespace {

constexpr char kDelimiter = ',';
constexpr char kQuote = '"';

bool Separator(char c) { return c >= 1 && c <= ' '; }

// Reads a quoted item starting at the quote at `pos`; leaves `pos` after the
// closing quote, or at the end when the quote is never closed.
std::string QuotedItem(std::string_view text, size_t& pos) {
  std::string item;
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c != kQuote) {
      item += c;
    } else if (pos < text.size() && text[pos] == kQuote) {
      item += kQuote;
      ++pos;
    } else {
      break;
    }
  }
  return item;
}

// The run up to the next separator or comma. Bytes of multi-byte UTF-8
// characters are all above 32, so they never end an item.
std::string PlainItem(std::string_view text, size_t& pos) {
  size_t start = pos;
  while (pos < text.size() && static_cast<unsigned char>(text[pos]) > ' ' && text[pos] != kDelimiter) ++pos;
  return std::string(text.substr(start, pos - start));
}

void SkipSeparators(std::string_view text, size_t& pos) {
  while (pos < text.size() && Separator(text[pos])) ++pos;
}

}  // namespace

void TStringList::SetDelimitedText(std::string_view text) {
  FItems.clear();
  text = text.substr(0, text.find('\0'));
  size_t pos = 0;
  SkipSeparators(text, pos);
  while (pos < text.size()) {
    FItems.push_back(text[pos] == kQuote ? QuotedItem(text, pos) : PlainItem(text, pos));
    SkipSeparators(text, pos);
    if (pos < text.size() && text[pos] == kDelimiter) {
      if (pos + 1 == text.size()) FItems.emplace_back();
      ++pos;
      SkipSeparators(text, pos);
    }
  }
}

int TStringList::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FCaseSensitive ? FItems[i] == name : SameText(FItems[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace volok
