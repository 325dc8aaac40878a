#pragma once
// What the HTTP resources need from the controller and the link. The controller implements it;
// web never sees the controller or the link themselves.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "util/clock.h"
#include "util/queue.h"
#include "web/web_table.h"

namespace ab {

class PassportCache;

// Configuration texts, fixed before the server starts (Windows-1251 like every inner text).
struct WebSettings {
  std::string PublicAddress;  // host:port of picture URLs
  std::string CompanyName;
  std::string CompanyPhone;
  std::string CompanyAddress;
  std::string HttpUserName;
  std::string HttpPassword;
  std::filesystem::path WorkDir;  // received files live in WorkDir/temp
};

// Figures the status display reads without a lock. Wall times are nanoseconds since the Unix
// epoch of Clock::WallNow(), 0 until the first request; the display formats them.
struct WebCounters {
  std::atomic<int32_t> BgRequests{0};
  std::atomic<int32_t> MesRequests{0};
  std::atomic<uint64_t> MesLastRequestTicks{0};
  std::atomic<uint64_t> BgLastRequestTicks{0};
  std::atomic<int64_t> BgLastRequestWall{0};
  std::atomic<int64_t> MesLastRequestWall{0};
};

class WebContext {
 public:
  virtual ~WebContext() = default;

  virtual const WebSettings& Settings() const = 0;
  virtual WebCounters& Counters() = 0;
  virtual const Clock& GetClock() const = 0;

  // The controller's Lock. Never held by web while it waits for the link.
  virtual void LockController() = 0;
  virtual void UnlockController() = 0;
  // The same Lock as a BasicLockable, for std::unique_lock.
  void lock() { LockController(); }
  void unlock() { UnlockController(); }

  // Under the controller's Lock only.
  virtual TFQueueC& BgQueue() = 0;
  virtual WebTableSet Tables() = 0;
  virtual void WriteDailyLog(std::string_view text) = 0;
  // Where /GetObjects keeps its last unfiltered body; none: every request builds its own.
  virtual PassportCache* ObjectsCache() { return nullptr; }
  // The change counters of what Tables() shows. None where the tables keep no counters, or
  // where a read could land outside a view and so depend on where earlier readers left a
  // table: nothing built from them is reused then.
  virtual std::optional<SourceKey> TablesKey() { return std::nullopt; }

  // Any thread, no lock needed.
  // Queues a complete command text for the server; false when the queue rejects it.
  virtual bool PushOutQueue(std::string_view command) = 0;
  // Makes the link send its next keep-alive at once (last keep-alive time := 0).
  virtual void PollNow() = 0;
  // Sets the link's awaited file name and clears its file-arrived flag.
  virtual void SetAwaitedFile(const std::string& name) = 0;
  virtual bool FileArrived() = 0;
  // Hands a status line (Windows-1251) to the GUI thread.
  virtual void AddStatusLine(std::string_view text) = 0;
};

// Scoped hold of the controller's Lock.
class ContextLock {
 public:
  explicit ContextLock(WebContext& ctx) : ctx_(ctx) { ctx_.LockController(); }
  ~ContextLock() { ctx_.UnlockController(); }
  ContextLock(const ContextLock&) = delete;
  ContextLock& operator=(const ContextLock&) = delete;

 private:
  WebContext& ctx_;
};

}  // namespace ab
