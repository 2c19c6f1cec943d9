// Synchronous calls from the worker thread into the main thread. The worker
// posts a call and blocks until the main thread has run it; an exception of
// the call is rethrown in the worker. The main thread serves calls from the
// window's message loop (woken through the wake-up hook), from the silent
// run's wait, and from the headless toolkit in tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace volok {

class MainThreadQueue final {
 public:
  // The queue of the process; its main thread is the one that first asks.
  static MainThreadQueue& Instance();

  // Runs `call` on the main thread and waits for it. Called on the main
  // thread itself, it runs at once.
  void Call(const std::function<void()>& call);
  // Main thread: runs every pending call; returns how many ran.
  int Drain();
  // Main thread: serves calls until `done` answers true.
  void ServeUntil(const std::function<bool()>& done);
  // Called (on the worker) after each post, so a window can wake its loop.
  void SetWakeUp(std::function<void()> wake_up);
  // Declares the calling thread the main thread (the entry point does so).
  void BindToCurrentThread();
  bool OnMainThread() const;
  // Wakes ServeUntil so it tests its condition again.
  void Notify();

 private:
  struct Pending {
    const std::function<void()>* Call;
    std::exception_ptr Error;
    bool Done = false;
  };

  mutable std::mutex FMutex;
  std::condition_variable FPosted;
  std::condition_variable FFinished;
  std::deque<Pending*> FQueue;
  std::function<void()> FWakeUp;
  std::thread::id FMainThread = std::this_thread::get_id();
};

}  // namespace volok
