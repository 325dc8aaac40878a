#pragma once
// Client-side cursor of a named queue that the message server keeps for one consumer. No lock
// of its own: every user holds the controller's Lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

struct TFQueueC {
  std::string Name;
  int32_t Count = 0;
  int32_t Position = 0;
  int32_t DateTime = 0;
  bool InfoReceived = false;
  bool RequestSent = false;
  bool PackReady = false;
  int32_t InPack = 0;
  std::string Pack;

  // First call per registration: sets RequestSent and returns {"$c$":"getqueue","name":Name};
  // afterwards (or once the server's reply arrived) an empty text.
  std::string GetQueueRequest();
  // Marks entries up to counter (or one more for -1) as consumed and releases the package.
  void Acknowledge(int32_t counter);
};

using TAQueue = std::vector<std::unique_ptr<TFQueueC>>;

// Appends a new cursor with the given name.
void AddQueue(TAQueue& queues, std::string_view name);

}  // namespace ab
