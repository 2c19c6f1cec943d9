// Packs an archive on several threads: encoding threads take the items in
// list order, each encodes its item into a PackedItem, and the calling
// thread appends the finished items in list order, then writes the
// central directory. Encoders run at most a window of items ahead of the
// writer, so memory stays bounded by the window times the item bound.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/zip_item_writer.h"
#include "archive/zip_packed_item.h"

namespace volok::archive {

class PackPipeline final {
 public:
  PackPipeline(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password,
               const ZipPackOptions& options);
  PackPipeline(const PackPipeline&) = delete;
  PackPipeline& operator=(const PackPipeline&) = delete;

  // Writes the whole archive; see WriteZipArchive.
  void Run();

 private:
  struct Slot {
    bool FDone = false;
    ZipItemInfo FInfo;
    std::unique_ptr<PackedItem> FItem;
  };

  void Work();
  std::optional<std::size_t> Claim();
  void Complete(std::size_t index, ZipItemInfo info, std::unique_ptr<PackedItem> item);
  void Fail(const std::string& message);
  void Stop() noexcept;  // Fail without a message, when even that cannot be had
  std::unique_ptr<PackedItem> Await(std::size_t index);
  void Advance(std::size_t next);
  void WriteItems();
  void WriteDirectory();

  const std::vector<ZipSource>& FSources;
  std::string_view FPassword;
  unsigned FThreads;
  std::size_t FWindow;  // how far encoders may run ahead of the writer
  ArchiveOutput FOut;
  PackShared FShared;

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<Slot> FSlots;
  std::size_t FNextClaim = 0;
  std::string FError;  // the first failure; FShared.FStopped is set with it
};

}  // namespace volok::archive
