#include "link/outbox_drive.h"

#include <string>

#include "util/clock.h"

namespace ab {

OutboxDrive::OutboxDrive(const std::filesystem::path& base_dir) {
  auto box = std::make_unique<TBackSoobString>(base_dir);
  box->SubDir = "dd8";
  try {
    box->Load();
    outbox_ = std::move(box);
  } catch (const std::exception&) {
    // No store: nothing to drain; the owner sees the missing folder in its own checks.
  }
}

void OutboxDrive::Drive(uint64_t now, bool ready, OchFIFOJSON& out_queue) {
  if (!outbox_) return;
  if (now - last_drive_ <= static_cast<uint64_t>(kIntervalMs) * kTicksPerMs) return;
  last_drive_ = now;
  if (in_flight_ && !out_queue.NotEmpty()) {
    in_flight_ = false;
    if (outbox_->Pending() > 0) outbox_->RemoveCurrent();
  }
  if (ready && !in_flight_ && outbox_->Pending() > 0 && !out_queue.NotEmpty()) {
    in_flight_ = true;
    std::string text;
    outbox_->ReadCurrent(text);
    // An empty text (a damaged record) is refused here and removed on the next pass.
    out_queue.Push(text);
  }
}

uint64_t OutboxDrive::NextDue() const {
  if (!outbox_ || (!in_flight_ && outbox_->Pending() == 0)) return 0;
  return last_drive_ + static_cast<uint64_t>(kIntervalMs + 1) * kTicksPerMs;
}

}  // namespace ab
