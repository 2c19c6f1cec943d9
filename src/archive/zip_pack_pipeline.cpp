#include "archive/zip_pack_pipeline.h"

#include <algorithm>
#include <functional>
#include <random>
#include <thread>

#include "common/error.h"
#include "common/file_utils.h"

namespace volok::archive {

namespace {

// The whole of what items waiting for the writer may hold in memory.
constexpr std::size_t MemoryBudget = 32 * 1024 * 1024;
constexpr std::size_t MinItemMemory = 256 * 1024;
constexpr std::size_t MaxItemMemory = 4 * 1024 * 1024;
constexpr std::size_t WindowPerThread = 4;

unsigned ThreadCount(unsigned requested) {
  if (requested > 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

std::string DefaultSpillPrefix() {
  std::random_device random;
  return IncludeTrailingDelimiter(GetTempFolder()) + "volok-zip-" + std::to_string(random()) +
         std::to_string(random());
}

// Joins the threads however the writer leaves; they stop at once when
// told that the run failed.
class ThreadGroup final {
 public:
  explicit ThreadGroup(std::function<void()> stop) : FStop(std::move(stop)) {}
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  ~ThreadGroup() {
    if (!FFinished) FStop();
    for (std::thread& thread : FThreads) thread.join();
  }
  void Start(const std::function<void()>& body) { FThreads.emplace_back(body); }
  void Finish() { FFinished = true; }

 private:
  std::function<void()> FStop;
  std::vector<std::thread> FThreads;
  bool FFinished = false;
};

}  // namespace

PackPipeline::PackPipeline(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password,
                           const ZipPackOptions& options)
    : FSources(sources),
      FPassword(password),
      FThreads(ThreadCount(options.FThreads)),
      FWindow(static_cast<std::size_t>(FThreads) * WindowPerThread),
      FOut(file),
      FShared(FOut),
      FSlots(sources.size()) {
  FShared.FItemMemory = options.FItemMemory > 0 ? options.FItemMemory
                                                : std::clamp(MemoryBudget / FWindow, MinItemMemory, MaxItemMemory);
  FShared.FSpillPrefix = options.FSpillPrefix.empty() ? DefaultSpillPrefix() : options.FSpillPrefix;
}

void PackPipeline::Run() {
  {
    ThreadGroup threads([this] { Stop(); });  // the writer's own error is reported
    for (unsigned i = 0; i < FThreads; ++i) threads.Start([this] { Work(); });
    WriteItems();
    threads.Finish();
  }
  WriteDirectory();
}

void PackPipeline::WriteItems() {
  for (std::size_t index = 0; index < FSlots.size(); ++index) {
    std::unique_ptr<PackedItem> item = Await(index);
    FSlots[index].FInfo.FLocalHeaderOffset = item->CommitTo(FOut);
    item.reset();  // its spill file goes at once
    Advance(index + 1);
  }
}

void PackPipeline::WriteDirectory() {
  std::uint64_t directory_offset = FOut.Position();
  for (const Slot& slot : FSlots) FOut.Write(EncodeCentralHeader(slot.FInfo));
  std::uint64_t directory_size = FOut.Position() - directory_offset;
  FOut.Write(EncodeArchiveEnd(FSlots.size(), directory_size, directory_offset));
  FOut.Finish();
}

void PackPipeline::Work() {
  try {
    while (std::optional<std::size_t> index = Claim()) {
      auto item = std::make_unique<PackedItem>(FShared, *index);
      ZipItemInfo info = EncodeZipItem(FSources[*index], FPassword, *item);
      item->Close();
      Complete(*index, std::move(info), std::move(item));
    }
  } catch (...) {
    // Nothing may leave the thread; even recording the message may fail.
    try {
      Fail(CurrentExceptionMessage());
    } catch (...) {
      Stop();
    }
  }
}

std::optional<std::size_t> PackPipeline::Claim() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [this] {
    return FShared.FStopped || FNextClaim >= FSlots.size() || FNextClaim < FShared.FNextToWrite + FWindow;
  });
  if (FShared.FStopped || FNextClaim >= FSlots.size()) return std::nullopt;
  return FNextClaim++;
}

void PackPipeline::Complete(std::size_t index, ZipItemInfo info, std::unique_ptr<PackedItem> item) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    Slot& slot = FSlots[index];
    slot.FInfo = std::move(info);
    slot.FItem = std::move(item);
    slot.FDone = true;
  }
  FChanged.notify_all();
}

void PackPipeline::Fail(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FShared.FStopped) return;  // the first failure is the one to report
    FError = message;
    FShared.FStopped = true;
  }
  FChanged.notify_all();
}

void PackPipeline::Stop() noexcept {
  {
    std::lock_guard<std::mutex> lock(FMutex);  // no waiter may miss it between its check and its sleep
    FShared.FStopped = true;
  }
  FChanged.notify_all();
}

std::unique_ptr<PackedItem> PackPipeline::Await(std::size_t index) {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [&] { return FShared.FStopped || FSlots[index].FDone; });
  if (FShared.FStopped) throw Error(FError);
  return std::move(FSlots[index].FItem);
}

void PackPipeline::Advance(std::size_t next) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FShared.FNextToWrite.store(next, std::memory_order_release);
  }
  FChanged.notify_all();
}

void WriteZipArchive(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password,
                     const ZipPackOptions& options) {
  PackPipeline(file, sources, password, options).Run();
}

}  // namespace volok::archive
