#include "util/queue.h"

#include <algorithm>

namespace ab {

std::string TFQueueC::GetQueueRequest() {
  if (InfoReceived || RequestSent) return {};
  RequestSent = true;
  return "{\"$c$\":\"getqueue\",\"name\":\"" + Name + "\"}";
}

void TFQueueC::Acknowledge(int32_t counter) {
  if (counter != -1) {
    // Widened so that the largest counter cannot overflow; never below 0, which the server
    // would read as a position before the first entry.
    const int64_t next = static_cast<int64_t>(counter) + 1;
    Position = static_cast<int32_t>(std::clamp<int64_t>(next, 0, std::max<int32_t>(Count, 0)));
  } else if (Position < Count) {
    ++Position;
  }
  Pack.clear();
  PackReady = false;
}

void AddQueue(TAQueue& queues, std::string_view name) {
  auto cursor = std::make_unique<TFQueueC>();
  cursor->Name = std::string(name);
  queues.push_back(std::move(cursor));
}

}  // namespace ab
