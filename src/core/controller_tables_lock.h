#pragma once
// The controller's Lock: a std::mutex the compiler's thread-safety analysis knows about (clang
// -Wthread-safety; the annotations vanish elsewhere). Usable with std::lock_guard.

#include <mutex>

#include "util/thread_annotations.h"

namespace ab {

class AB_CAPABILITY("mutex") ControllerMutex {
 public:
  void lock() AB_ACQUIRE() { mutex_.lock(); }
  void unlock() AB_RELEASE() { mutex_.unlock(); }
  // The same mutex for code that takes it as a plain std::mutex (the link).
  std::mutex& Native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Holds a ControllerMutex for a scope.
class AB_SCOPED_CAPABILITY ControllerLockGuard {
 public:
  explicit ControllerLockGuard(ControllerMutex& m) AB_TSA(acquire_capability(m)) : m_(m) {
    m_.lock();
  }
  ~ControllerLockGuard() AB_RELEASE() { m_.unlock(); }
  ControllerLockGuard(const ControllerLockGuard&) = delete;
  ControllerLockGuard& operator=(const ControllerLockGuard&) = delete;

 private:
  ControllerMutex& m_;
};

}  // namespace ab
