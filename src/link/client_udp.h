#pragma once
// The link to the message server. Its protocol iteration (Iterate) registers, keeps alive,
// detects loss, drives the outgoing transfer and handles what the receive thread hands over;
// one call does one iteration, so tests step it with a manual clock and no threads. Start()
// runs it on a thread of its own that sleeps until the next datagram, queue push or timer.
//
// Threads: the protocol thread owns everything but the atomics and the queues. The owner reads
// the atomics without a lock and uses EventQueue, OutQueue and FileQueue from any thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "link/datagram.h"
#include "link/datagram_socket.h"
#include "link/link_texts.h"
#include "link/reassembly.h"
#include "link/recieve.h"
#include "link/send_window.h"
#include "link/server_channel.h"
#include "link/table_sync.h"
#include "util/clock.h"
#include "util/fifo.h"
#include "util/log.h"
#include "util/queue.h"

namespace ab {

class client_udp {
 public:
  static constexpr int32_t kRegisterIntervalMs = 4000;
  static constexpr int32_t kRefusedIntervalMs = 30000;
  static constexpr int32_t kKeepaliveSeconds = 1;
  static constexpr int32_t kTablesLoadTimeoutMs = 30000;

  // socket: null makes the link not usable (it then never sends and never registers). clock
  // and lock must outlive the link. base_dir holds "temp" and "logs". start_log_thread false
  // lets tests run the log writer's passes themselves.
  client_udp(std::string client_type_id, uint16_t port, std::string_view address_list,
             std::unique_ptr<DatagramSocket> socket, const Clock& clock, std::mutex& lock,
             std::filesystem::path base_dir, bool start_log_thread = true);
  ~client_udp();
  client_udp(const client_udp&) = delete;
  client_udp& operator=(const client_udp&) = delete;

  // Set by the owner before Enabled.
  std::string UserName;
  std::string Password;
  std::string Version = "0.0.0.0";
  TAQueue* Queues = nullptr;  // read and updated under Lock
  TableSync* Sync = nullptr;
  // Benchmark baseline only: the threads poll every 1 ms instead of waiting for work.
  bool PlainPolling = false;

  // Status for the owner.
  std::atomic<bool> Enabled{false};
  std::atomic<bool> Registered{false};
  std::atomic<bool> AccessDenied{false};
  std::atomic<bool> TablesReady{false};
  std::atomic<int32_t> LoadPercent{100};
  std::atomic<int32_t> ActivityCounter{0};
  std::atomic<int64_t> InBytesPerSecond{0};
  std::atomic<int64_t> OutBytesPerSecond{0};
  std::atomic<int64_t> DuplicateChunks{0};
  // Ticks of the last keep-alive sent; any thread may store 0 to have the next one go out at
  // the next iteration (RequestKeepalive also wakes the protocol thread).
  std::atomic<uint64_t> LastKeepaliveTime{0};

  OchFIFOJSON CommandQueue;
  OchFIFO RecordQueue;
  OchFIFOJSON EventQueue;
  OchFIFOJSON OutQueue;
  OchFIFOJSON FileQueue;
  OchFIFO ReceiveQueue;
  TLog Log;

  bool Usable() const { return socket_ != nullptr; }
  int64_t DataDatagrams() const { return figures_.DataDatagrams.load(); }
  uint64_t LastReceiveTime() const { return figures_.LastReceiveTime.load(); }

  void SetEnabled(bool on);
  void RequestKeepalive();

  // Starts the receive and protocol threads (nothing when not usable).
  void Start();
  // Ends the protocol thread; on the way out "closeclient" is sent, the receive thread and the
  // log writer are stopped and the socket is closed. Also for a link that was only stepped.
  // Idempotent.
  void Stop();

  // One protocol iteration; true when it found work (then the next should follow at once).
  bool Iterate();
  // One pass of the receive thread (tests step it instead of starting threads).
  bool ReceivePass() { return receiver_ ? receiver_->Pass() : false; }
  // Tick time at which the next iteration has something to do (at most a second ahead).
  uint64_t NextWake();

  // One unacknowledged datagram of kind 0.
  void SendCommand(std::string_view text);
  // Resets the link; a code above 0 is reported to the owner as a disconnection.
  void Reset(int code);
  // A file chunk arrived (the file cycle keeps the loading deadline alive with it).
  void NoteFileData(uint64_t now) { LastFileDataTime = now; }
  // The number below which received data datagrams are ignored.
  void SetExpected(int64_t n);
  // A data message already taken (its repeats are dropped), and the taking of one.
  bool AlreadyDone(int64_t number) const;
  void Completed(int64_t number);

  // Protocol state, owned by the protocol thread (read by tests).
  int64_t MessageCounter = 0;
  std::string Tid;
  ConnectionIdBytes ConnectionId{};
  int32_t RegisterInterval = kRegisterIntervalMs;
  uint64_t LastCommandTime = 0;
  uint64_t LastFileDataTime = 0;
  SendWindow Window;
  Reassembly TextReassembly;
  Reassembly RecordReassembly;

  int32_t AddressIndex() const { return channel_.AddressIndex(); }
  int64_t ExpectedNumber() const { return receiver_ ? receiver_->ExpectedNumber.load() : 0; }
  std::mutex& Lock() { return lock_; }
  const std::filesystem::path& BaseDir() const { return base_dir_; }
  const ServerChannel& Channel() const { return channel_; }
  const Clock& GetClock() const { return clock_; }

 private:
  void ReportDisconnection(int code);
  void Run();
  void Exit();
  void Registration(uint64_t now);
  void Keepalive(uint64_t now);
  void LossChecks(uint64_t now);
  bool Transfers(uint64_t now);
  bool TakeReceived(uint64_t now);
  void HandleData(Bytes& record, uint64_t now);
  void HandleText(const DatagramHeader& h, std::span<const uint8_t> data);
  void HandleRecordChunk(const DatagramHeader& h, std::span<const uint8_t> data);
  bool Dispatch();
  void Accept(const std::string& reply, uint64_t now);
  void Refuse(const std::string& reply);
  void Figures(uint64_t now);
  void LogLine(std::string line);
  void DropAll(OchFIFOJSON& q);

  std::string client_type_id_;
  const Clock& clock_;
  std::mutex& lock_;
  std::filesystem::path base_dir_;
  std::unique_ptr<DatagramSocket> socket_;
  ServerChannel channel_;
  ReceiveFigures figures_;
  std::unique_ptr<recieve> receiver_;
  Wakeup wakeup_;

  // Messages completed above ExpectedNumber while a lower one is still being reassembled.
  static constexpr size_t kMaxDoneAbove = 4096;
  std::set<int64_t> done_above_;
  bool first_attempt_done_ = false;
  uint64_t last_tick_ = 0;
  int64_t in_bytes_sum_ = 0;
  int64_t records_taken_ = 0;
  int64_t last_activity_count_ = 0;
  Bytes send_buffer_;
  Bytes record_;
  std::string command_;

  std::atomic<bool> stop_{false};
  bool exited_ = false;
  std::thread thread_;
};

}  // namespace ab
