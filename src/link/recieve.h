#pragma once
// The link's receive thread: reads datagrams, keeps those of the server that pass the prefix
// tests, acknowledges data it could hand over, and passes everything else on to the protocol
// thread through ReceiveQueue. It parses nothing beyond the 57-byte prefix.

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/server_channel.h"
#include "util/bytes.h"
#include "util/clock.h"
#include "util/fifo.h"

namespace ab {

// Figures the receive thread writes and the protocol thread and owner read.
struct ReceiveFigures {
  std::atomic<uint64_t> LastReceiveTime{0};  // ticks
  std::atomic<int64_t> DataDatagrams{1};
  std::atomic<int64_t> KeepalivesReceived{0};
};

class recieve {
 public:
  // Everything passed must outlive the object.
  recieve(ServerChannel& channel, const Clock& clock, OchFIFO& receive_queue,
          ReceiveFigures& figures);
  ~recieve();
  recieve(const recieve&) = delete;
  recieve& operator=(const recieve&) = delete;

  // Lowest message number still new; written by the protocol thread only.
  std::atomic<int64_t> ExpectedNumber{0};
  // Benchmark baseline only: sleep 1 ms when nothing is waiting instead of waiting on the socket.
  bool Polling = false;

  // Reads and handles at most one datagram; false when none was waiting.
  bool Pass();
  void Start();
  // Ends the thread and joins it. Idempotent.
  void Stop();

 private:
  void Run();

  ServerChannel& channel_;
  const Clock& clock_;
  OchFIFO& queue_;
  ReceiveFigures& figures_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> record_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ab
