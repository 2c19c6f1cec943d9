// Worker threads that run extraction jobs, each job on whichever worker is
// free, so independent items are unpacked on all cores at once. Owned and
// fed by one thread (the dispatcher).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace volok::archive {

class ZipExtractPool final {
 public:
  // A job gets the number of the worker that runs it (0 .. Workers()-1),
  // so it can use that worker's own memory. Jobs must not throw; one that
  // does is ended there and counts as done.
  using Job = std::function<void(unsigned worker)>;

  // Starts `threads` workers; with fewer than 2 (or when the system gives
  // no thread) every job runs at once inside Submit, on worker 0.
  explicit ZipExtractPool(unsigned threads);
  // Finishes the queued jobs, then joins the workers.
  ~ZipExtractPool();
  ZipExtractPool(const ZipExtractPool&) = delete;
  ZipExtractPool& operator=(const ZipExtractPool&) = delete;

  unsigned Workers() const;
  // Whether jobs run on worker threads rather than inside Submit.
  bool Parallel() const { return !FThreads.empty(); }
  // Queues a job; waits while the queue is full.
  void Submit(Job job);
  // Returns once every job submitted so far has finished; what they wrote
  // is then visible to the caller.
  void Drain();

 private:
  void Work(unsigned worker);
  static void RunGuarded(const Job& job, unsigned worker);

  std::vector<std::thread> FThreads;
  std::mutex FLock;
  std::condition_variable FWorkReady;  // a job was queued, or stopping
  std::condition_variable FRoomOrIdle;  // a job was taken or finished
  std::deque<Job> FQueue;
  std::size_t FBusy = 0;  // jobs taken and not yet finished
  bool FStopping = false;
};

}  // namespace volok::archive
