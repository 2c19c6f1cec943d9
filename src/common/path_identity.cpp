#include "common/path_identity.h"

#include <vector>

#include "common/app_paths.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"
#include "platform/runtime.h"

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

bool IsLoopbackAddress(const std::string& host) {
  if (host == "::1" || host == "[::1]" || host == "0--1.ipv6-literal.net" || host == "0:0:0:0:0:0:0:1") return true;
  if (host.rfind("127.", 0) != 0) return false;
  return host.find_first_not_of("0123456789.") == std::string::npos;
}

// Whether a share path's server is this machine.
bool IsThisMachine(std::string host) {
  host = LowerCase(host);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host == "localhost" || IsLoopbackAddress(host)) return true;
  static const std::vector<std::string> names = platform::ThisMachineNames();
  for (const std::string& name : names)
    if (!name.empty() && LowerCase(name) == host) return true;
  return false;
}

// "\\<this machine>\C$\x" is "C:\x": the administrative share of a drive
// reaches the same folders as the drive itself, and a guard must judge it so.
// Any other share of this machine names a folder no text tells: refused.
bool LocalShareAsDrive(std::string& text) {
  if (text.rfind("\\\\", 0) != 0) return true;
  auto segment = [&text](std::size_t start) {
    std::size_t end = text.find('\\', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  };
  const std::string server = segment(2);
  if (!IsThisMachine(server)) return true;
  if (text.size() <= server.size() + 3) return false;  // the machine itself, no share
  const std::string share = segment(server.size() + 3);
  if (share.size() != 2 || !IsDriveLetter(share[0]) || share[1] != '$') return false;
  const std::size_t rest = server.size() + 3 + share.size() + 1;
  text = std::string(1, share[0]) + ":\\" + (rest < text.size() ? text.substr(rest) : std::string());
  return true;
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
  if (!LocalShareAsDrive(text)) return false;
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
