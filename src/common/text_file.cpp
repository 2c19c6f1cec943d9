#include "common/text_file.h"

#include <memory>

#include "common/error.h"
#include "common/text.h"
#include "platform/code_pages.h"
#include "platform/file_system.h"

namespace volok {

namespace {

using platform::FileAccess;
using platform::FileShare;
using platform::FileSystem;

constexpr unsigned kUtf16Le = 1200;
constexpr unsigned kUtf16Be = 1201;
constexpr unsigned kUtf8 = 65001;

std::string DecodeUtf16(std::string_view bytes, bool little_endian) {
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    wide += little_endian ? static_cast<char16_t>(a | (b << 8)) : static_cast<char16_t>((a << 8) | b);
  }
  // An odd last byte cannot be a character: it becomes U+FFFD, as the
  // system's converter does.
  std::string text = Utf16ToUtf8(wide);
  if (bytes.size() % 2) text += "\xEF\xBF\xBD";
  return text;
}

std::string EncodeUtf16(std::string_view text, bool little_endian) {
  std::string bytes;
  for (char16_t c : Utf8ToUtf16(text)) {
    char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
    bytes += little_endian ? low : high;
    bytes += little_endian ? high : low;
  }
  return bytes;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  std::unique_ptr<platform::File> file;
  ThrowIfFailed(FileSystem::Default().OpenFile(path, FileAccess::ReadExisting, FileShare::ReadWrite, file));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    size_t done = 0;
    ThrowIfFailed(file->Read(buffer, sizeof buffer, done));
    if (done == 0) break;
    bytes.append(buffer, done);
  }
  return bytes;
}

void WriteFileBytes(std::string_view bytes, const std::string& path) {
  std::unique_ptr<platform::File> file;
  ThrowIfFailed(FileSystem::Default().OpenFile(path, FileAccess::CreateAlways, FileShare::Read, file));
  ThrowIfFailed(file->Write(bytes.data(), bytes.size()));
}

std::string DecodeText(std::string_view bytes) {
  std::string text;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    text = SanitizeUtf8(bytes.substr(3));
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    text = DecodeUtf16(bytes.substr(2), true);
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    text = DecodeUtf16(bytes.substr(2), false);
  } else {
    auto& code_pages = platform::CodePages::Default();
    ThrowIfFailed(code_pages.Decode(code_pages.ActiveAnsiCodePage(), bytes, text));
  }
  if (StartsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);
  return text;
}

std::string EncodeText(std::string_view text, unsigned code_page) {
  switch (code_page) {
    case kUtf16Le: return EncodeUtf16(text, true);
    case kUtf16Be: return EncodeUtf16(text, false);
    case kUtf8: return SanitizeUtf8(text);
    default: {
      std::string bytes;
      ThrowIfFailed(platform::CodePages::Default().Encode(code_page, text, bytes));
      return bytes;
    }
  }
}

std::string ReadTextFile(const std::string& path) { return DecodeText(ReadFileBytes(path)); }

void WriteTextFile(std::string_view text, const std::string& path, unsigned code_page) {
  WriteFileBytes(EncodeText(text, code_page), path);
}

}  // namespace volok
