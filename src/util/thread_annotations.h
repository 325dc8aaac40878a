#pragma once
// Lock annotations for clang's -Wthread-safety, and a mutex the analysis understands (the
// standard one carries no annotations in libstdc++). Other compilers see plain code.

#include <mutex>

#if defined(__clang__)
#define AB_TSA(x) __attribute__((x))
#else
#define AB_TSA(x)
#endif

#define AB_CAPABILITY(x) AB_TSA(capability(x))
#define AB_SCOPED_CAPABILITY AB_TSA(scoped_lockable)
#define AB_GUARDED_BY(x) AB_TSA(guarded_by(x))
#define AB_REQUIRES(...) AB_TSA(requires_capability(__VA_ARGS__))
#define AB_EXCLUDES(...) AB_TSA(locks_excluded(__VA_ARGS__))
#define AB_ACQUIRE(...) AB_TSA(acquire_capability(__VA_ARGS__))
#define AB_RELEASE(...) AB_TSA(release_capability(__VA_ARGS__))
#define AB_NO_THREAD_SAFETY_ANALYSIS AB_TSA(no_thread_safety_analysis)

namespace ab {

// std::mutex with annotations; BasicLockable, so std::condition_variable_any can wait on it.
class AB_CAPABILITY("mutex") Mutex {
 public:
  void lock() AB_ACQUIRE() { m_.lock(); }
  void unlock() AB_RELEASE() { m_.unlock(); }

 private:
  std::mutex m_;
};

// Holds a Mutex for the scope.
class AB_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) AB_ACQUIRE(m) : m_(m) { m_.lock(); }
  ~MutexLock() AB_RELEASE() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

}  // namespace ab
