// An ordered list of strings, filled from comma-delimited text with
// double-quote quoting, as option lists are written in descriptions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace volok {

class TStringList final {
 public:
  // `case_sensitive` decides how IndexOf compares.
  explicit TStringList(bool case_sensitive = true) : FCaseSensitive(case_sensitive) {}

  // Clears the list and refills it from `text`: items are separated by commas
  // and by characters of codes 1 to 32; an item that holds a blank or a comma
  // is quoted ("a b", with "" for one quote). "a,b", "a, b" and "a b" give a
  // and b; "a,,b" gives a, "" and b; a final comma adds one empty item; ""
  // gives an empty list. The text ends at its first NUL character.
  void SetDelimitedText(std::string_view text);
  // Position of the first item equal to `name` (ignoring case, Cyrillic
  // too, when the list is not case-sensitive), or -1.
  [[nodiscard]] int IndexOf(std::string_view name) const;

  void Add(std::string item) { FItems.push_back(std::move(item)); }
  void Clear() { FItems.clear(); }
  [[nodiscard]] int Count() const { return static_cast<int>(FItems.size()); }
  [[nodiscard]] const std::string& operator[](int index) const { return FItems.at(static_cast<size_t>(index)); }
  [[nodiscard]] const std::vector<std::string>& Items() const { return FItems; }
  [[nodiscard]] bool CaseSensitive() const { return FCaseSensitive; }

 private:
  std::vector<std::string> FItems;
  bool FCaseSensitive;
};

}  // namespace volok
