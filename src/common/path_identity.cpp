#include "common/path_identity.h"

#include <vector>

#include "common/app_paths.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && LowerCase(text.substr(0, prefix.size())) == prefix;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string RootOf(const std::string& full) {
  if (full.size() >= 2 && full[1] == ':') return full.substr(0, 2) + "\\";
  return full;
}

}  // namespace

bool PlainPathSyntax(const std::string& path, std::string& plain) {
  std::string text = path;
  for (char& c : text)
    if (c == '/') c = '\\';
  if (StartsWith(text, "\\\\?\\unc\\")) {
    text = "\\\\" + text.substr(8);
  } else if (StartsWith(text, "\\\\?\\") || StartsWith(text, "\\??\\")) {
    std::string rest = text.substr(4);
    // Only a drive path may follow; "GLOBALROOT\Device\…" and
    // "Volume{…}\" reach the disk past every name a guard knows.
    if (rest.size() < 2 || !IsDriveLetter(rest[0]) || rest[1] != ':') return false;
    text = rest;
  } else if (StartsWith(text, "\\\\.\\")) {
    return false;
  }
  // Past the drive, a colon names a stream: "C:\Program Files::$INDEX_ALLOCATION"
  // is the folder itself on NTFS, yet its text lies beside the folder.
  const bool drive = text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == ':';
  if (text.find(':', drive ? 2 : 0) != std::string::npos) return false;
  if (drive && text.size() == 2) text += "\\";
  plain = text;
  return true;
}

std::string PathIdentity(const std::string& path, bool resolve_last) {
  std::string plain, full;
  auto& fs = platform::FileSystem::Default();
  if (Trim(path).empty() || !PlainPathSyntax(Trim(path), plain) || !fs.FullPath(plain, full).ok()) return {};
  if (!IsDriveRoot(full)) full = ExcludeTrailingDelimiter(full);
  std::vector<std::string> missing;  // segments below the deepest existing folder, innermost first
  std::string existing = full;
  if (!resolve_last && !IsDriveRoot(existing)) {
    missing.push_back(ExtractFileName(existing));
    existing = ExcludeTrailingDelimiter(ExtractFilePath(existing));
  }
  while (!IsDriveRoot(existing) && fs.KindOf(existing) == platform::FileKind::Missing) {
    missing.push_back(ExtractFileName(existing));
    existing = ExcludeTrailingDelimiter(ExtractFilePath(existing));
  }
  std::string identity;
  if (!fs.CanonicalPath(IsDriveRoot(existing) ? RootOf(existing) : existing, identity).ok())
    identity = IsDriveRoot(existing) ? RootOf(existing) : existing;
  for (auto segment = missing.rbegin(); segment != missing.rend(); ++segment)
    identity = IncludeTrailingDelimiter(identity) + *segment;
  return identity;
}

bool IsSameOrBelow(const std::string& path, const std::string& folder) {
  if (path.empty() || folder.empty()) return false;
  std::string a = LowerCase(ExcludeTrailingDelimiter(path)), b = LowerCase(ExcludeTrailingDelimiter(folder));
  return a == b || a.rfind(b + "\\", 0) == 0;
}

bool IsSameFolder(const std::string& a, const std::string& b) {
  const std::string left = PathIdentity(a), right = PathIdentity(b);
  return !left.empty() && !right.empty() && IsSameOrBelow(left, right) && IsSameOrBelow(right, left);
}

}  // namespace volok
