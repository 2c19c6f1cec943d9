#include "common/main_thread.h"

namespace volok {

MainThreadQueue& MainThreadQueue::Instance() {
  static MainThreadQueue queue;
  return queue;
}

void MainThreadQueue::BindToCurrentThread() {
  std::lock_guard<std::mutex> lock(FMutex);
  FMainThread = std::this_thread::get_id();
}

bool MainThreadQueue::OnMainThread() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FMainThread == std::this_thread::get_id();
}

void MainThreadQueue::SetWakeUp(std::function<void()> wake_up) {
  std::lock_guard<std::mutex> lock(FMutex);
  FWakeUp = std::move(wake_up);
}

void MainThreadQueue::Call(const std::function<void()>& call) {
  if (OnMainThread()) {
    call();
    return;
  }
  Pending pending{&call, nullptr, false};
  std::function<void()> wake_up;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FQueue.push_back(&pending);
    wake_up = FWakeUp;
  }
  FPosted.notify_all();
  if (wake_up) wake_up();
  std::unique_lock<std::mutex> lock(FMutex);
  FFinished.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

int MainThreadQueue::Drain() {
  int ran = 0;
  for (;;) {
    Pending* pending;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (FQueue.empty()) return ran;
      pending = FQueue.front();
      FQueue.pop_front();
    }
    try {
      (*pending->Call)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(FMutex);
      pending->Done = true;
    }
    FFinished.notify_all();
    ++ran;
  }
}

void MainThreadQueue::Notify() {
  { std::lock_guard<std::mutex> lock(FMutex); }
  FPosted.notify_all();
}

void MainThreadQueue::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    Drain();
    if (done()) return;
    std::unique_lock<std::mutex> lock(FMutex);
    // The timeout only guards against a `done` that changes without Notify.
    FPosted.wait_for(lock, std::chrono::milliseconds(50), [&] { return !FQueue.empty(); });
  }
}

}  // namespace volok
