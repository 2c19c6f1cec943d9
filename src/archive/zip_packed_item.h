// One item's encoded bytes on their way into the archive while items are
// encoded in parallel. The bytes stay in memory up to a bound; beyond it
// they go straight into the archive when every earlier item is already
// there (the item is at the head), else into a spill file until it is.
// So no item is ever held whole in memory, and a big item at the head
// costs no extra copy.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/zip_item_writer.h"

namespace volok::archive {

// What the encoding threads and the thread writing the archive share.
struct PackShared {
  explicit PackShared(ArchiveOutput& out) : FOut(out) {}

  ArchiveOutput& FOut;
  // Items before this index are in the archive. Whoever holds the item of
  // this index (its encoder, or the writer once it is complete) owns FOut.
  std::atomic<std::size_t> FNextToWrite{0};
  std::atomic<bool> FStopped{false};  // a failure elsewhere: give up
  std::size_t FItemMemory = 0;
  std::string FSpillPrefix;
};

class PackedItem final : public ZipItemSink {
 public:
  PackedItem(PackShared& shared, std::size_t index);
  ~PackedItem() override;  // removes the spill file
  PackedItem(const PackedItem&) = delete;
  PackedItem& operator=(const PackedItem&) = delete;

  // Throws Error when another thread has failed, so the encoder stops.
  void Write(const std::uint8_t* data, std::size_t size) override;
  void Restart() override;
  // Ends writing; the item is complete.
  void Close();
  // Called by the owner of the archive output once this item is the head:
  // appends what is not already there and answers where the item starts.
  std::uint64_t CommitTo(ArchiveOutput& out);

 private:
  enum class Where { Memory, Spill, Direct };

  void Overflow();
  void StartSpill();
  void GoDirect();
  void CopySpillTo(ArchiveOutput& out);
  void DropSpill();

  PackShared& FShared;
  std::size_t FIndex;
  Where FWhere = Where::Memory;
  std::vector<std::uint8_t> FMemory;
  std::unique_ptr<platform::File> FSpill;
  std::string FSpillPath;  // set while a spill file exists
  std::uint64_t FDirectStart = 0;
};

}  // namespace volok::archive
