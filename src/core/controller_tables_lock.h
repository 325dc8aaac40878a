#pragma once
// The controller's Lock: a std::mutex the compiler's thread-safety analysis knows about (clang
// -Wthread-safety; the annotations vanish elsewhere). Usable with std::lock_guard.

#include <mutex>

#if defined(__clang__)
#define AB_TSA(x) __attribute__((x))
#else
#define AB_TSA(x)
#endif

#define AB_CAPABILITY(name) AB_TSA(capability(name))
#define AB_GUARDED_BY(m) AB_TSA(guarded_by(m))
#define AB_REQUIRES(m) AB_TSA(requires_capability(m))
#define AB_EXCLUDES(m) AB_TSA(locks_excluded(m))
#define AB_ACQUIRE() AB_TSA(acquire_capability())
#define AB_RELEASE() AB_TSA(release_capability())
#define AB_SCOPED_CAPABILITY AB_TSA(scoped_lockable)

namespace ab {

class AB_CAPABILITY("mutex") ControllerLock {
 public:
  void lock() AB_ACQUIRE() { mutex_.lock(); }
  void unlock() AB_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a ControllerLock for a scope.
class AB_SCOPED_CAPABILITY ControllerLockGuard {
 public:
  explicit ControllerLockGuard(ControllerLock& m) AB_TSA(acquire_capability(m)) : m_(m) {
    m_.lock();
  }
  ~ControllerLockGuard() AB_RELEASE() { m_.unlock(); }
  ControllerLockGuard(const ControllerLockGuard&) = delete;
  ControllerLockGuard& operator=(const ControllerLockGuard&) = delete;

 private:
  ControllerLock& m_;
};

}  // namespace ab
