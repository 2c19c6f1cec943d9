// The process-wide default of one platform service, as LevelDB's Env::Default:
// each build links exactly one built-in implementation (T::BuiltIn(), defined
// in posix/ or win32/), and a test may install a replacement that injects
// faults and forwards the rest, then restore the built-in.
#pragma once

#include <atomic>

namespace volok::platform {

template <class T>
class DefaultSlot final {
 public:
  static T& Get() {
    T* replacement = FReplacement.load(std::memory_order_acquire);
    return replacement ? *replacement : T::BuiltIn();
  }
  // Installs `replacement` (nullptr restores the built-in); returns the one
  // it replaces. The caller keeps ownership and must outlive its use.
  static T* Set(T* replacement) { return FReplacement.exchange(replacement, std::memory_order_acq_rel); }

 private:
  static inline std::atomic<T*> FReplacement{nullptr};
};

// Installs a replacement for the lifetime of a scope (tests).
template <class T>
class [[nodiscard]] ScopedDefault final {
 public:
  explicit ScopedDefault(T& replacement) : FPrevious(DefaultSlot<T>::Set(&replacement)) {}
  ~ScopedDefault() { DefaultSlot<T>::Set(FPrevious); }
  ScopedDefault(const ScopedDefault&) = delete;
  ScopedDefault& operator=(const ScopedDefault&) = delete;

 private:
  T* FPrevious;
};

}  // namespace volok::platform
