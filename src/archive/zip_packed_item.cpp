#include "archive/zip_packed_item.h"

#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t CopyChunk = 256 * 1024;

using platform::FileSystem;

}  // namespace

PackedItem::PackedItem(PackShared& shared, std::size_t index) : FShared(shared), FIndex(index) {}

PackedItem::~PackedItem() { DropSpill(); }

void PackedItem::Write(const std::uint8_t* data, std::size_t size) {
  if (FShared.FStopped.load(std::memory_order_relaxed)) throw Error("Архивация прервана");
  if (FWhere == Where::Memory && FMemory.size() + size > FShared.FItemMemory) Overflow();
  if (FWhere == Where::Spill && FShared.FNextToWrite.load(std::memory_order_acquire) == FIndex) GoDirect();
  switch (FWhere) {
    case Where::Memory:
      FMemory.insert(FMemory.end(), data, data + size);
      break;
    case Where::Spill:
      ThrowIfFailed(FSpill->Write(data, size));
      break;
    case Where::Direct:
      FShared.FOut.Write(data, size);
      break;
  }
}

void PackedItem::Restart() {
  if (FWhere == Where::Direct) {
    FShared.FOut.Rewind(FDirectStart);
    return;
  }
  DropSpill();
  FMemory.clear();
  FWhere = Where::Memory;
}

void PackedItem::Close() {
  FSpill.reset();  // complete on disk; read back by CommitTo
}

std::uint64_t PackedItem::CommitTo(ArchiveOutput& out) {
  if (FWhere == Where::Direct) return FDirectStart;
  std::uint64_t start = out.Position();
  if (FWhere == Where::Spill) {
    CopySpillTo(out);
  } else {
    out.Write(FMemory.data(), FMemory.size());
  }
  return start;
}

void PackedItem::Overflow() {
  if (FShared.FNextToWrite.load(std::memory_order_acquire) == FIndex) {
    GoDirect();
  } else {
    StartSpill();
  }
}

void PackedItem::StartSpill() {
  FSpillPath = FShared.FSpillPrefix + "." + std::to_string(FIndex) + ".tmp";
  platform::Status status =
      FileSystem::Default().OpenFile(FSpillPath, platform::FileAccess::CreateAlways, platform::FileShare::None, FSpill);
  if (!status.ok()) throw Error("Не удалось создать временный файл " + FSpillPath + ": " + status.message());
  ThrowIfFailed(FSpill->Write(FMemory.data(), FMemory.size()));
  std::vector<std::uint8_t>().swap(FMemory);
  FWhere = Where::Spill;
}

void PackedItem::GoDirect() {
  FDirectStart = FShared.FOut.Position();
  if (FWhere == Where::Spill) {
    FSpill.reset();
    CopySpillTo(FShared.FOut);
    DropSpill();
  } else {
    FShared.FOut.Write(FMemory.data(), FMemory.size());
  }
  std::vector<std::uint8_t>().swap(FMemory);
  FWhere = Where::Direct;
}

void PackedItem::CopySpillTo(ArchiveOutput& out) {
  std::unique_ptr<platform::File> spill;
  ThrowIfFailed(FileSystem::Default().OpenFile(FSpillPath, platform::FileAccess::ReadExisting,
                                               platform::FileShare::None, spill));
  std::vector<std::uint8_t> buffer(CopyChunk);
  while (std::size_t got = ReadSome(*spill, buffer.data(), buffer.size())) out.Write(buffer.data(), got);
}

void PackedItem::DropSpill() {
  FSpill.reset();  // Windows removes no open file
  if (FSpillPath.empty()) return;
  (void)FileSystem::Default().RemoveFile(FSpillPath);
  FSpillPath.clear();
}

}  // namespace volok::archive
