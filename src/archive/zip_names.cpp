#include "archive/zip_names.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "archive/zip_format.h"
#include "common/file_names.h"
#include "common/text.h"
#include "platform/code_pages.h"

namespace volok::archive {

namespace {

constexpr std::uint16_t UnicodePathExtraId = 0x7075;
constexpr unsigned CyrillicDosCodePage = 866;

bool IsDelimiter(char c) { return c == '\\' || c == '/'; }

bool HasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsDelimiter(path[i])) {
      segments.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return segments;
}

std::optional<std::string> UnicodePathFor(std::string_view raw, std::string_view extra) {
  std::optional<std::string_view> field = FindExtraField(extra, UnicodePathExtraId);
  // Version 1, then the CRC-32 of the header name it stands for: a tool
  // that renamed the item without updating the field is caught here.
  if (!field || field->size() < 5 || field->front() != 1) return std::nullopt;
  std::uint32_t crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size())));
  if (LoadU32(reinterpret_cast<const std::uint8_t*>(field->data() + 1)) != crc) return std::nullopt;
  return SanitizeUtf8(field->substr(5));
}

}  // namespace

std::string StoredName(std::string_view relative_path, bool folder) {
  std::string_view rest = relative_path;
  if (HasDrive(rest)) rest.remove_prefix(2);
  for (;;) {
    if (!rest.empty() && IsDelimiter(rest.front())) {
      rest.remove_prefix(1);
    } else if (rest.substr(0, 2) == ".." && (rest.size() == 2 || IsDelimiter(rest[2]))) {
      rest.remove_prefix(2);
    } else {
      break;
    }
  }
  std::string name(rest);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (folder && !name.empty() && name.back() != '/') name += '/';
  return name;
}

std::optional<std::string> TargetPath(std::string_view base, std::string_view stored_name) {
  if (stored_name.empty() || IsDelimiter(stored_name.front())) return std::nullopt;
  // Every check runs on the whole name before anything is resolved: a name
  // is extracted as it stands or not at all.
  std::vector<std::string_view> kept;
  for (std::string_view segment : Segments(stored_name)) {
    if (segment.empty() || segment == ".") continue;
    if (!IsSafeNameSegment(segment)) return std::nullopt;
    kept.push_back(segment);
  }
  if (kept.empty()) return std::nullopt;
  std::string target(base);
  for (std::string_view segment : kept) {
    if (!target.empty() && target.back() != '\\') target += '\\';
    target += segment;
  }
  return target;
}

std::optional<std::string> LinkTargetName(std::string_view link_name, std::string_view text) {
  if (text.empty() || text.front() == '/' || text.find_first_of("\\:") != std::string_view::npos) return std::nullopt;
  std::vector<std::string_view> own = Segments(link_name);
  own.pop_back();  // the link itself
  std::vector<std::string_view> target = own;
  for (std::string_view segment : Segments(text)) {
    if (segment.empty() || segment == ".") continue;
    if (segment != "..") {
      target.push_back(segment);
    } else if (target.empty()) {
      return std::nullopt;
    } else {
      target.pop_back();
    }
  }
  bool holds_link = target.size() <= own.size() &&
                    std::equal(target.begin(), target.end(), own.begin(),
                               [](std::string_view a, std::string_view b) { return SameText(a, b); });
  if (holds_link) return std::nullopt;
  std::string name;
  for (std::string_view segment : target) name += (name.empty() ? "" : "/") + std::string(segment);
  return name;
}

std::string DecodeStoredName(std::string_view raw, std::uint16_t flags, std::string_view extra) {
  if (flags & FlagUtf8Name) return SanitizeUtf8(raw);
  if (auto unicode = UnicodePathFor(raw, extra)) return *unicode;
  std::string text = SanitizeUtf8(raw);
  if (text == raw) return text;
  std::string decoded;
  if (platform::CodePages::Default().Decode(CyrillicDosCodePage, raw, decoded).ok()) return decoded;
  return text;
}

}  // namespace volok::archive
