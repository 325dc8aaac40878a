#pragma once
// Drains the back-message outbox into OutQueue one message at a time. A message is removed
// from disk only once OutQueue has emptied after it, i.e. after the server acknowledged it; a
// reset or acceptance in between forgets the wait, so the same message is read and sent again.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "util/backsoob.h"
#include "util/fifo.h"

namespace ab {

class OutboxDrive {
 public:
  static constexpr int64_t kIntervalMs = 100;

  // Loads <base>/dd8. A store that cannot be created leaves the drive without an outbox.
  explicit OutboxDrive(const std::filesystem::path& base_dir);

  // At most once per 100 ms; ready is Registered with TablesReady.
  void Drive(uint64_t now, bool ready, OchFIFOJSON& out_queue);
  void Forget() { in_flight_ = false; }

  bool InFlight() const { return in_flight_; }
  bool Usable() const { return outbox_ != nullptr; }
  TBackSoobString* Outbox() { return outbox_.get(); }
  // Next drive time while there is something to do; 0 otherwise.
  uint64_t NextDue() const;

 private:
  std::unique_ptr<TBackSoobString> outbox_;
  bool in_flight_ = false;
  uint64_t last_drive_ = 0;
};

}  // namespace ab
