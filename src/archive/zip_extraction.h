// One extraction run: items are handed over in archive order, folders are
// made here in that order, and file data is written by worker threads, so
// independent items are unpacked at once while the result on disk and the
// count stay those of extracting one item after the other.
//
// What keeps it equal to the serial order: only file items run in
// parallel; every folder is created (or found) by the dispatching thread in
// archive order, before the items that need it are handed over. Where a
// later item could see an earlier one that is still in flight (the same
// target, a target name that is the other's partial file, a folder to be
// made where an earlier file lands, a read-only folder item), everything in
// flight is finished first and the later item then proceeds exactly as it
// would serially. Names are compared ignoring case and trailing dots and
// blanks, as Windows resolves them; Windows short (8.3) aliases are not
// recognised, so two items that name one file only through such an alias
// may land in either order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/zip_extract_pool.h"
#include "archive/zip_format.h"
#include "archive/zip_item_reader.h"

namespace volok::archive {

class ZipExtraction final {
 public:
  // `threads` workers write file data (fewer than 2: all on the calling
  // thread). `source` and every item handed over must outlive Finish.
  ZipExtraction(const ZipItemSource& source, unsigned threads);
  ~ZipExtraction();
  ZipExtraction(const ZipExtraction&) = delete;
  ZipExtraction& operator=(const ZipExtraction&) = delete;

  // Extracts `item` to `target` (a path below the base folder), possibly
  // finishing later on a worker. Answers false, extracting nothing, when
  // the target's parent folder cannot be created: the run must stop there.
  [[nodiscard]] bool Extract(const ZipItemInfo& item, const std::string& target);
  // The parent folder that made Extract answer false.
  const std::string& FailedFolder() const { return FFailedFolder; }
  // Waits for every item in flight, then gives the folders their times
  // (writing into a folder would move its time again). Answers the number
  // of items extracted.
  std::size_t Finish();

 private:
  bool EnsureFolder(const std::string& folder);
  void RememberFolder(std::string folder);
  void ExtractFolder(const ZipItemInfo& item, const std::string& target);
  void DispatchFile(const ZipItemInfo& item, const std::string& target);
  bool MayMeetPending(const std::string& path) const;
  void Drain();
  platform::FileTime FileTimeOf(std::uint32_t dos_time);

  const ZipItemSource& FSource;
  ZipExtractPool FPool;
  std::vector<ZipReadScratch> FScratch;  // one per worker
  std::atomic<std::size_t> FFilesExtracted{0};
  std::size_t FFoldersExtracted = 0;
  // Folders known to exist: found or made by this run, never removed by it.
  std::unordered_set<std::string> FFolders;
  // Name keys of the file items handed over since the last drain.
  std::unordered_set<std::string> FPendingKeys;
  std::vector<std::pair<std::string, platform::FileTime>> FFolderTimes;
  // Converting a local DOS time goes through mktime, which re-reads the
  // time zone file on every call (glibc); payload files share few times.
  std::unordered_map<std::uint32_t, platform::FileTime> FFileTimes;
  std::string FFailedFolder;
};

// The key under which Windows would find `path`: case folded, trailing dots
// and blanks of every part dropped, and a partial file's suffix dropped so
// that a partial file and its target share a key.
std::string TargetKey(const std::string& path);

}  // namespace volok::archive
