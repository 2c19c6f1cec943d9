#include "builder/build_report.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/error.h"
#include "common/file_digest.h"
#include "common/file_utils.h"
#include "platform/file_system.h"
#include "platform/sha256.h"

namespace volok {

namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  return length;
}

std::uint32_t CodePoint(const std::string& text, std::size_t at, std::size_t length) {
  static const unsigned char lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::uint32_t code = static_cast<unsigned char>(text[at]) & lead_mask[length];
  for (std::size_t i = 1; i < length; ++i) code = code << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  return code;
}

// Characters JSON takes raw but YAML readers refuse or read as line breaks
// (C1 controls, the line and paragraph separators, byte-order marks and
// non-characters), so the same escaped text serves both.
bool NeedsEscape(const std::string& text, std::size_t at, std::size_t length) {
  if (length < 2 || length > 3) return false;
  std::uint32_t code = CodePoint(text, at, length);
  return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 || code == 0xFEFF || code == 0xFFFE ||
         code == 0xFFFF || (code >= 0xD800 && code <= 0xDFFF);
}

void ListInto(const std::string& folder, const std::string& prefix, std::vector<TPackageFile>& files) {
  std::vector<platform::FileEntry> entries;
  platform::Status listed = platform::FileSystem::Default().ListFolder(folder, entries);
  if (!listed.ok()) throw Error("Не удалось прочитать папку пакета: " + folder + ": " + listed.message());
  for (const platform::FileEntry& entry : entries) {
    if (entry.IsLink) continue;
    const std::string path = IncludeTrailingDelimiter(folder) + entry.Name;
    if (entry.IsFolder) {
      ListInto(path, prefix + entry.Name + "\\", files);
    } else if (!entry.IsSpecial) {
      files.push_back({prefix + entry.Name, entry.Size, FileSha256(path)});
    }
  }
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string FileSha256(const std::string& path) {
  std::unique_ptr<platform::File> file;
  platform::Status opened =
      platform::FileSystem::Default().OpenFile(path, platform::FileAccess::ReadExisting, platform::FileShare::Read, file);
  if (!opened.ok()) throw Error("Не удалось прочитать файл: " + path + ": " + opened.message());
  TFileDigest digest;
  if (!StreamDigest(*file, digest)) throw Error("Не удалось прочитать файл: " + path + ".");
  return HexDigest(digest.Sha256);
}

std::vector<TPackageFile> ListPackageFiles(const std::string& folder) {
  std::vector<TPackageFile> files;
  ListInto(ExcludeTrailingDelimiter(folder), "", files);
  std::sort(files.begin(), files.end(), [](const TPackageFile& a, const TPackageFile& b) { return a.Name < b.Name; });
  return files;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F || NeedsEscape(text, i, length)) {
      char escaped[8];
      std::uint32_t code = CodePoint(text, i, length);
      // A UTF-16 surrogate has no place in UTF-8: it is an invalid byte run.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code >= 0xD800 && code <= 0xDFFF ? 0xFFFDu : code);
      out += escaped;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string BuildReportJson(const TBuildReport& report) {
  std::string json = "{\n";
  json += "  \"status\": " + JsonString(report.Status) + ",\n";
  json += "  \"exitCode\": " + std::to_string(report.ExitCode) + ",\n";
  json += "  \"version\": " + (report.Version.empty() ? std::string("null") : JsonString(report.Version)) + ",\n";
  json += "  \"packageFolder\": " +
          (report.PackageFolder.empty() ? std::string("null") : JsonString(report.PackageFolder)) + ",\n";
  json += "  \"error\": " + (report.Error.empty() ? std::string("null") : JsonString(report.Error)) + ",\n";
  json += "  \"warningCount\": " + std::to_string(report.Warnings) + ",\n";
  json += "  \"droppedEntries\": " + std::to_string(report.DroppedEntries) + ",\n";
  json += "  \"warnings\": [";
  for (std::size_t i = 0; i < report.WarningList.size(); ++i) {
    const TBuildWarning& w = report.WarningList[i];
    json += std::string(i ? "," : "") + "\n    {";
    if (w.List.empty()) {
      json += "\"entry\": null";
    } else {
      json += "\"entry\": {\"list\": " + JsonString(w.List) + ", \"position\": " + Number(w.Position) +
              ", \"name\": " + JsonString(w.Name) + ", \"action\": " + JsonString(w.Action) +
              ", \"line\": " + (w.Line > 0 ? std::to_string(w.Line) : std::string("null")) + "}";
    }
    json += ", \"text\": " + JsonString(w.Text) + ", \"dropped\": " + (w.Dropped ? "true" : "false") + "}";
  }
  json += report.WarningList.empty() ? "],\n" : "\n  ],\n";
  const TPackageFile& single = report.Installer;
  json += "  \"installer\": " +
          (single.Name.empty() ? std::string("null")
                               : "{\"name\": " + JsonString(single.Name) + ", \"size\": " + Number(single.Size) +
                                     ", \"sha256\": " + JsonString(single.Sha256) + "}") +
          ",\n";
  json += "  \"files\": [";
  for (std::size_t i = 0; i < report.Files.size(); ++i) {
    const TPackageFile& f = report.Files[i];
    json += std::string(i ? "," : "") + "\n    {\"name\": " + JsonString(f.Name) + ", \"size\": " + Number(f.Size) +
            ", \"sha256\": " + JsonString(f.Sha256) + "}";
  }
  json += report.Files.empty() ? "]\n" : "\n  ]\n";
  return json + "}\n";
}

}  // namespace volok
