#include "common/path_identity.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
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

// One part of a dotted address as the resolver reads it: "0x" hexadecimal,
// a leading 0 octal, else decimal.
bool AddressPart(const std::string& text, std::uint64_t& value) {
  int base = 10;
  std::size_t at = 0;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    at = 1;
  }
  if (text.empty() || (base == 16 && at == text.size())) return false;
  value = 0;
  for (; at < text.size(); ++at) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
    if (digit >= base) return false;
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return false;
  }
  return true;
}

// An IPv4 address in any form the resolver takes: "127.0.0.1", "127.1",
// "2130706433", "0x7f.1", "0177.0.0.1"; the last part fills the bytes left.
bool Ipv4Address(const std::string& host, std::uint32_t& address) {
  std::vector<std::uint64_t> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = host.find('.', start);
    std::uint64_t value = 0;
    if (!AddressPart(host.substr(start, dot == std::string::npos ? std::string::npos : dot - start), value)) return false;
    parts.push_back(value);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() > 4) return false;
  std::uint64_t result = 0;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] > 0xFF) return false;
    result |= parts[i] << (24 - 8 * i);
  }
  if (parts.back() >= (std::uint64_t{1} << (8 * (5 - parts.size())))) return false;
  address = static_cast<std::uint32_t>(result | parts.back());
  return true;
}

// An IPv6 address as text ("::1", "0:0:0:0:0:0:0:1", "::ffff:127.0.0.1"),
// as 16 bytes.
bool Ipv6Address(std::string text, std::array<std::uint8_t, 16>& bytes) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  if (const std::size_t zone = text.find('%'); zone != std::string::npos) text.resize(zone);
  std::vector<std::uint16_t> head, tail;
  std::vector<std::uint16_t>* into = &head;
  bool gap = false;
  std::size_t at = 0;
  if (text.rfind("::", 0) == 0) {
    gap = true;
    into = &tail;
    at = 2;
  }
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(':', at), text.size());
    const std::string group = text.substr(at, end - at);
    std::uint32_t v4 = 0;
    if (end == text.size() && group.find('.') != std::string::npos) {
      if (std::count(group.begin(), group.end(), '.') != 3 || !Ipv4Address(group, v4)) return false;
      into->push_back(static_cast<std::uint16_t>(v4 >> 16));
      into->push_back(static_cast<std::uint16_t>(v4 & 0xFFFF));
    } else {
      if (group.empty() || group.size() > 4 || group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
      into->push_back(static_cast<std::uint16_t>(std::stoul(group, nullptr, 16)));
    }
    if (end == text.size()) break;
    at = end + 1;
    if (at < text.size() && text[at] == ':') {
      if (gap) return false;
      gap = true;
      into = &tail;
      ++at;
    } else if (at == text.size()) {
      return false;
    }
  }
  const std::size_t groups = head.size() + tail.size();
  if (gap ? groups > 7 : groups != 8) return false;
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(head[i] & 0xFF);
  }
  return true;
}

// Every spelling of an address that reaches this machine without naming it:
// 127/8 and 0.0.0.0 in any IPv4 form, ::1, ::, the IPv4-mapped and
// -compatible forms of those, and the names of "ipv6-literal.net" that UNC
// paths spell IPv6 addresses with ("--1.ipv6-literal.net").
bool IsLoopbackAddress(const std::string& host) {
  std::uint32_t v4 = 0;
  if (host.find_first_not_of("0123456789abcdefABCDEFxX.") == std::string::npos && Ipv4Address(host, v4))
    return v4 >> 24 == 127 || v4 == 0;
  std::string text = host;
  const std::string literal = ".ipv6-literal.net";
  if (text.size() > literal.size() && text.compare(text.size() - literal.size(), literal.size(), literal) == 0) {
    text.resize(text.size() - literal.size());
    for (char& c : text) c = c == '-' ? ':' : c == 's' ? '%' : c;
  }
  std::array<std::uint8_t, 16> bytes{};
  if (!Ipv6Address(text, bytes)) return false;
  const bool zeros = std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; });
  if (!zeros) return false;
  const bool mapped = bytes[10] == 0xFF && bytes[11] == 0xFF, compatible = bytes[10] == 0 && bytes[11] == 0;
  v4 = static_cast<std::uint32_t>(bytes[12]) << 24 | bytes[13] << 16 | bytes[14] << 8 | bytes[15];
  if (mapped) return v4 >> 24 == 127 || v4 == 0;
  return compatible && (v4 >> 24 == 127 || v4 <= 1);  // "::", "::1", "::127.0.0.1"
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
  const std::size_t server_end = text.find('\\', 2);
  if (!IsThisMachine(text.substr(2, server_end == std::string::npos ? std::string::npos : server_end - 2)))
    return true;
  return AdministrativeShareAsDrive(text, text);
}

}  // namespace

bool AdministrativeShareAsDrive(const std::string& path, std::string& drive) {
  if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') return false;
  const std::size_t server_end = path.find('\\', 2);
  if (server_end == std::string::npos || server_end + 3 > path.size()) return false;
  const std::size_t share_end = std::min(path.find('\\', server_end + 1), path.size());
  const std::string share = path.substr(server_end + 1, share_end - server_end - 1);
  if (share.size() != 2 || !IsDriveLetter(share[0]) || share[1] != '$') return false;
  drive = std::string(1, share[0]) + ":\\" + (share_end < path.size() ? path.substr(share_end + 1) : std::string());
  return true;
}

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
