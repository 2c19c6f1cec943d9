#include "archive/zip_extraction.h"

#include <string_view>

#include "archive/zip_file_extractor.h"
#include "archive/zip_time.h"
#include "common/file_utils.h"
#include "common/text.h"

namespace volok::archive {

namespace {

using platform::FileSystem;

// Bounds the memory of the name keys: a drain costs only the wait for the
// last items in flight.
constexpr std::size_t MaxPendingKeys = 4096;
constexpr std::size_t MaxCachedTimes = 4096;

// The attribute bits a folder item may carry onto disk.
constexpr std::uint32_t RestoredFolderAttributes = platform::FileAttribute::ReadOnly |
                                                   platform::FileAttribute::Hidden | platform::FileAttribute::System |
                                                   platform::FileAttribute::Archive;

std::string ParentOf(const std::string& path) {
  std::size_t delimiter = path.find_last_of('\\');
  return delimiter == std::string::npos ? std::string() : path.substr(0, delimiter);
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string_view CanonicalPart(std::string_view part) {
  for (;;) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    if (!EndsWith(part, PartialSuffix)) return part;
    part.remove_suffix(PartialSuffix.size());
  }
}

}  // namespace

std::string TargetKey(const std::string& path) {
  std::string lower = LowerCase(path);
  std::string_view rest = lower;
  std::string key;
  key.reserve(lower.size());
  for (;;) {
    std::size_t end = rest.find('\\');
    key += CanonicalPart(rest.substr(0, end));
    if (end == std::string_view::npos) return key;
    key += '\\';
    rest.remove_prefix(end + 1);
  }
}

ZipExtraction::ZipExtraction(const ZipItemSource& source, unsigned threads)
    : FSource(source), FPool(threads), FScratch(FPool.Workers()) {}

ZipExtraction::~ZipExtraction() { FPool.Drain(); }

bool ZipExtraction::Extract(const ZipItemInfo& item, const std::string& target) {
  std::string parent = ParentOf(target);
  if (!parent.empty() && !EnsureFolder(parent)) {
    FFailedFolder = parent;
    return false;
  }
  if (item.IsFolder()) {
    ExtractFolder(item, target);
  } else {
    DispatchFile(item, target);
  }
  return true;
}

std::size_t ZipExtraction::Finish() {
  Drain();
  for (const auto& [folder, time] : FFolderTimes) (void)FileSystem::Default().SetLastWriteTime(folder, time);
  FFolderTimes.clear();
  return FFoldersExtracted + FFilesExtracted.load();
}

bool ZipExtraction::EnsureFolder(const std::string& folder) {
  // Every file would otherwise ask the disk about the same folders again.
  if (FFolders.count(folder)) return true;
  if (MayMeetPending(folder)) Drain();
  if (!ForceFolders(folder)) return false;
  RememberFolder(folder);
  return true;
}

void ZipExtraction::RememberFolder(std::string folder) {
  // The folders above an existing one exist too.
  while (!folder.empty() && FFolders.insert(folder).second) folder = ParentOf(folder);
}

void ZipExtraction::ExtractFolder(const ZipItemInfo& item, const std::string& target) {
  std::uint32_t attributes = item.FExternalAttributes & RestoredFolderAttributes;
  // A read-only folder refuses new files on POSIX: items before it must
  // land first, as they would one by one.
  if (attributes & platform::FileAttribute::ReadOnly) Drain();
  if (!EnsureFolder(target)) return;
  FFolderTimes.emplace_back(target, FileTimeOf(item.FDosDateTime));
  if (attributes == 0 || FileSystem::Default().SetAttributes(target, attributes).ok()) ++FFoldersExtracted;
}

void ZipExtraction::DispatchFile(const ZipItemInfo& item, const std::string& target) {
  if (FPool.Parallel()) {
    std::string key = TargetKey(target);
    if (FPendingKeys.count(key) || FPendingKeys.size() >= MaxPendingKeys) Drain();
    FPendingKeys.insert(std::move(key));
  }
  platform::FileTime time = FileTimeOf(item.FDosDateTime);
  FPool.Submit([this, &item, target, time](unsigned worker) {
    if (ExtractFileItem(FSource, item, target, time, FScratch[worker])) FFilesExtracted.fetch_add(1);
  });
}

bool ZipExtraction::MayMeetPending(const std::string& path) const {
  if (FPendingKeys.empty()) return false;
  // The folder and any missing folder above it may be where an earlier
  // file (or its partial file) lands.
  std::string key = TargetKey(path);
  for (;;) {
    if (FPendingKeys.count(key)) return true;
    std::size_t delimiter = key.find_last_of('\\');
    if (delimiter == std::string::npos) return false;
    key.resize(delimiter);
  }
}

platform::FileTime ZipExtraction::FileTimeOf(std::uint32_t dos_time) {
  auto known = FFileTimes.find(dos_time);
  if (known != FFileTimes.end()) return known->second;
  if (FFileTimes.size() >= MaxCachedTimes) FFileTimes.clear();
  return FFileTimes[dos_time] = DosToFileTime(dos_time);
}

void ZipExtraction::Drain() {
  FPool.Drain();
  FPendingKeys.clear();
}

}  // namespace volok::archive
