#include <cstdint>

#include "platform/shell.h"

namespace volok::platform {

namespace {

constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kIsUnicode = 0x80;

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Set32(std::string& out, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// UTF-8 to UTF-16 LE code units (platform code keeps its own small copy:
// it depends on nothing above it).
std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6 && i + 1 < text.size()) { cp = ((c & 0x1F) << 6) | (text[i + 1] & 0x3F); n = 2; }
    else if ((c >> 4) == 14 && i + 2 < text.size()) {
      cp = ((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F); n = 3;
    } else if ((c >> 3) == 30 && i + 3 < text.size()) {
      cp = ((c & 0x07) << 18) | ((text[i + 1] & 0x3F) << 12) | ((text[i + 2] & 0x3F) << 6) | (text[i + 3] & 0x3F);
      n = 4;
    } else { cp = 0xFFFD; n = 1; }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// A StringData entry: a count of UTF-16 units, then the units, no NUL.
void PutCountedString(std::string& out, const std::string& text) {
  std::u16string units = Utf16(text);
  Put16(out, static_cast<std::uint32_t>(units.size()));
  for (char16_t u : units) Put16(out, u);
}

// LinkInfo with a VolumeID of a fixed drive and the local base path; a path
// outside ASCII also gets the Unicode form, which readers then prefer.
std::string LinkInfo(const std::string& path) {
  bool unicode = !IsAscii(path);
  std::uint32_t header_size = unicode ? 0x24 : 0x1C;
  std::string volume;
  Put32(volume, 0x11);  // VolumeIDSize
  Put32(volume, 3);     // DRIVE_FIXED
  Put32(volume, 0);     // serial number
  Put32(volume, 0x10);  // label offset
  volume += '\0';       // empty label
  std::string ansi;
  for (unsigned char c : path) ansi += c < 0x80 ? static_cast<char>(c) : '?';
  std::string info(header_size, '\0');
  std::uint32_t volume_offset = header_size;
  std::uint32_t base_offset = volume_offset + static_cast<std::uint32_t>(volume.size());
  std::uint32_t suffix_offset = base_offset + static_cast<std::uint32_t>(ansi.size()) + 1;
  info += volume;
  info += ansi + '\0';
  info += '\0';  // empty common path suffix
  if (unicode) {
    Set32(info, 0x1C, static_cast<std::uint32_t>(info.size()));
    for (char16_t u : Utf16(path)) Put16(info, u);
    Put16(info, 0);
    Set32(info, 0x20, static_cast<std::uint32_t>(info.size()));
    Put16(info, 0);
  }
  Set32(info, 0, static_cast<std::uint32_t>(info.size()));
  Set32(info, 4, header_size);
  Set32(info, 8, 1);  // VolumeIDAndLocalBasePath
  Set32(info, 12, volume_offset);
  Set32(info, 16, base_offset);
  Set32(info, 20, 0);  // no network link
  Set32(info, 24, suffix_offset);
  return info;
}

}  // namespace

std::string ShellLinkBytes(const std::string& program, const std::string& arguments,
                           const std::string& working_folder) {
  std::uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!working_folder.empty()) flags |= kHasWorkingDir;
  if (!arguments.empty()) flags |= kHasArguments;
  std::string out;
  Put32(out, 0x4C);
  static const unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  out.append(reinterpret_cast<const char*>(kShellLinkClsid), 16);
  Put32(out, flags);
  Put32(out, 0);                 // file attributes: not recorded
  out.append(3 * 8, '\0');       // creation, access and write times
  Put32(out, 0);                 // file size
  Put32(out, 0);                 // icon index
  Put32(out, 1);                 // SW_SHOWNORMAL
  Put16(out, 0);                 // no hot key
  out.append(2 + 4 + 4, '\0');   // reserved
  out += LinkInfo(program);
  if (!working_folder.empty()) PutCountedString(out, working_folder);
  if (!arguments.empty()) PutCountedString(out, arguments);
  Put32(out, 0);  // terminal block
  return out;
}

}  // namespace volok::platform
