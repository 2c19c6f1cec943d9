#include "archive/zip_extract_pool.h"

#include <system_error>

namespace volok::archive {

namespace {

// Enough queued work that no worker waits for the dispatcher, few enough
// that a stop leaves little to finish.
constexpr std::size_t QueuedJobsPerWorker = 64;

}  // namespace

ZipExtractPool::ZipExtractPool(unsigned threads) {
  if (threads < 2) return;
  FThreads.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) {
    try {
      FThreads.emplace_back([this, i] { Work(i); });
    } catch (const std::system_error&) {
      break;  // the workers that did start serve; none at all means inline
    }
  }
  if (FThreads.size() == 1) {
    // One worker beside an idle dispatcher gains nothing over running inline.
    {
      std::lock_guard<std::mutex> guard(FLock);
      FStopping = true;
    }
    FWorkReady.notify_all();
    FThreads.front().join();
    FThreads.clear();
    FStopping = false;
  }
}

ZipExtractPool::~ZipExtractPool() {
  Drain();
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FWorkReady.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

unsigned ZipExtractPool::Workers() const {
  return FThreads.empty() ? 1 : static_cast<unsigned>(FThreads.size());
}

void ZipExtractPool::RunGuarded(const Job& job, unsigned worker) {
  try {
    job(worker);
  } catch (...) {
    // A job reports its own outcome; nothing may cross into the pool.
  }
}

void ZipExtractPool::Submit(Job job) {
  if (FThreads.empty()) {
    RunGuarded(job, 0);
    return;
  }
  std::unique_lock<std::mutex> guard(FLock);
  FRoomOrIdle.wait(guard, [&] { return FQueue.size() < QueuedJobsPerWorker * FThreads.size(); });
  FQueue.push_back(std::move(job));
  guard.unlock();
  FWorkReady.notify_one();
}

void ZipExtractPool::Drain() {
  std::unique_lock<std::mutex> guard(FLock);
  FRoomOrIdle.wait(guard, [&] { return FQueue.empty() && FBusy == 0; });
}

void ZipExtractPool::Work(unsigned worker) {
  std::unique_lock<std::mutex> guard(FLock);
  for (;;) {
    FWorkReady.wait(guard, [&] { return FStopping || !FQueue.empty(); });
    if (FQueue.empty()) return;  // stopping, and nothing left
    Job job = std::move(FQueue.front());
    FQueue.pop_front();
    ++FBusy;
    guard.unlock();
    FRoomOrIdle.notify_all();
    RunGuarded(job, worker);
    guard.lock();
    --FBusy;
    if (FQueue.empty() && FBusy == 0) FRoomOrIdle.notify_all();
  }
}

}  // namespace volok::archive
