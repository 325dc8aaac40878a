#pragma once
// A message server for tests, speaking the link's protocol over the same datagram code: it
// acknowledges the link's chunks, reassembles its messages and records them with time stamps,
// answers registrations, keep-alives and queue requests, and sends its own messages and files
// one transfer at a time with resends. It can drop a fraction of what it receives or sends,
// or fall silent.
//
// It keeps the event queue "bg": entries are numbered from 0 in the order appended, and an
// entry's "inc_counter" is its position in the queue, so a consumer that confirms counter c
// moves the position to c + 1. Keep-alives report the consumer's position; the answer carries
// the next package from there, unless the link still holds one ("full"), so a package never
// changes while it waits for its confirmation.
//
// Step() runs one iteration; Start() runs it on a thread of its own. Configuration fields are
// atomics or guarded, so a test may change them while the thread runs.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/datagram.h"
#include "link/datagram_socket.h"
#include "link/reassembly.h"
#include "link/send_window.h"
#include "tables/table_file_writer.h"
#include "util/clock.h"

namespace ab {

class MsgServer {
 public:
  struct Received {
    uint64_t Time = 0;  // ticks of the server's clock
    int64_t Number = 0;
    std::string Text;
  };

  // The socket must be bound where the link sends (its configured address and port).
  MsgServer(std::unique_ptr<DatagramSocket> socket, const Clock& clock, uint64_t seed = 1);
  ~MsgServer();
  MsgServer(const MsgServer&) = delete;
  MsgServer& operator=(const MsgServer&) = delete;

  std::atomic<bool> Silent{false};  // neither answers nor acknowledges anything
  std::atomic<bool> DenyRegistration{false};
  std::atomic<bool> AnswerKeepalives{true};
  std::atomic<double> DropIncoming{0.0};  // fraction of received datagrams ignored
  std::atomic<double> DropOutgoing{0.0};  // fraction of sent datagrams (acks too) lost
  std::atomic<double> DropAcks{0.0};      // fraction of acknowledgements not sent
  std::string Tid = "0123abcd-4567-89ef-0123-456789abcdef";  // set before Start
  std::string Version = "3.1.0";
  // Messages() keeps at least this many of the newest records and at most twice as many;
  // 0 keeps all (tests).
  std::atomic<size_t> MaxRecorded{0};

  // Queues a text (kind 0) or file (kind 1) for reliable delivery to the link.
  void SendMessage(std::string text);
  void SendFile(std::string bytes);
  // A record message (kind 2): row changes, deletions, bundles.
  void SendRecord(std::string bytes);
  // A row change record (type 2) for row `row` of a table of `row_count` rows, and a deletion
  // (type 3) of a record number.
  void SendRowChange(const std::string& table, int32_t row, int32_t row_count,
                     const std::vector<ChangeEntry>& entries);
  void SendDeletion(const std::string& table, int32_t record_number);

  // The event queue "bg". entry is a JSON object in Windows-1251 without "inc_counter"; the
  // double puts "inc_counter" (the entry's position, from 0) first, and "event_date" (Unix
  // seconds of the clock's calendar time) second when the entry has none.
  void AppendEvent(std::string entry);
  int64_t QueueCount();        // entries appended so far
  int64_t ReportedPosition();  // last "current" of "bg" in a keep-alive; -1 before any
  void SetPackSize(int n);     // entries per package, at least 1 (default 10)

  // Set before Start. Called on the thread that steps the double, outside its lock: every
  // message received from the link, and every transfer the double starts (kind 0 text, 1 file,
  // 2 record; the bytes sent).
  std::function<void(const Received&)> OnReceived;
  std::function<void(uint8_t kind, const std::string& bytes)> OnSending;

  // Data the double serves (msg_server_data.cc); set before Start or under the double's use.
  // Table load requests are answered from Tables (raw files, zlib-compressed when
  // CompressTables); "getfile" serves Files or the table files by file name, announcing with
  // "sendfile" until the link accepts; offers from the link are accepted and the files kept.
  void SetTables(std::vector<TableData> tables, bool compressed);
  void SetFile(const std::string& name, std::string bytes);
  // Inserted as the "queue" array of every keep-alive answer when not empty; it then replaces
  // the event queue's reports, and "getqueue" is answered with count and position 0.
  void SetQueueAnswer(std::string entries);
  // Files received from the link, by their "nameinserv".
  std::map<std::string, std::string> ReceivedFiles();
  int Announcements();  // "sendfile" texts sent

  // A kind-254 keep-alive datagram.
  void SendKeepaliveDatagram();

  // One iteration: every waiting datagram, then resends. True when a datagram was read.
  bool Step();
  void Start();
  void Stop();

  std::vector<Received> Messages();
  // Messages whose "$c$" is name.
  int CountOf(const std::string& name);
  int64_t AcksReceived() const { return acks_received_.load(); }
  // Datagrams the loss simulation threw away, both ways.
  int64_t Dropped() const { return dropped_.load(); }
  int64_t ChunksSent() const { return chunks_sent_.load(); }
  // Outgoing transfers fully acknowledged by the link.
  int64_t TransfersDone() const { return transfers_done_.load(); }
  bool Idle();  // nothing queued or in flight
  // Ticks at which the first chunk of the latest multi-chunk message from the link arrived.
  uint64_t FirstChunkTime() const { return first_chunk_time_.load(); }
  Endpoint LocalEndpoint() const { return socket_->LocalEndpoint(); }

 private:
  struct Outgoing {
    uint8_t Kind = 0;
    std::string Bytes;
  };
  bool Chance(double fraction);
  void Send(std::span<const uint8_t> datagram);
  void Handle(std::span<uint8_t> datagram);
  void OnMessage(int64_t number, std::string text);
  void Drive(uint64_t now);
  // msg_server_data.cc
  std::string TestexAnswer(const std::string& keepalive);
  std::string QueueReport(const std::string& element);
  std::string QueueZag(const std::string& request) const;
  int64_t EventDate(size_t position) const;
  void OnDataMessage(const std::string& name, const std::string& text);
  void OnFileChunk(const DatagramHeader& h, std::span<const uint8_t> data);
  void AnnounceDue(uint64_t now);
  void NextServing();

  struct Serving {
    std::string Name;
    std::string Bytes;
    int Announced = 0;
    uint64_t NextAnnounce = 0;
  };
  struct FileIn {
    std::string Bytes;
    std::set<int32_t> Chunks;
    int32_t Count = 0;
  };
  std::vector<TableData> tables_;
  bool compress_tables_ = false;
  std::map<std::string, std::string> files_;
  std::string queue_answer_;
  struct Event {
    std::string Text;
    int64_t Date = 0;
  };
  std::vector<Event> events_;
  int64_t reported_position_ = -1;
  size_t pack_size_ = 10;
  std::deque<Serving> serving_;
  std::string offered_name_;
  std::map<int64_t, FileIn> files_in_;
  std::map<std::string, std::string> received_files_;
  int announcements_ = 0;

  std::unique_ptr<DatagramSocket> socket_;
  const Clock& clock_;
  std::mutex mutex_;  // guards everything below against the test thread
  std::mt19937_64 random_;
  Endpoint link_{};
  bool link_known_ = false;
  std::vector<uint8_t> buffer_;
  std::map<int64_t, Reassembly> incoming_;
  std::set<int64_t> completed_;
  std::vector<Received> received_;
  // Hook calls waiting for the lock to be released.
  std::vector<Received> to_report_;
  std::vector<Outgoing> to_announce_;
  std::deque<Outgoing> outbox_;
  SendWindow window_;
  uint8_t window_kind_ = 0;
  int64_t counter_ = 0;
  Bytes send_buffer_;
  std::atomic<int64_t> acks_received_{0};
  std::atomic<int64_t> dropped_{0};
  std::atomic<uint64_t> first_chunk_time_{0};
  std::atomic<int64_t> chunks_sent_{0};
  std::atomic<int64_t> transfers_done_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ab
