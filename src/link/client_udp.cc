#include "link/client_udp.h"

#include <algorithm>
#include <system_error>

#include "link/handover.h"
#include "util/func.h"
#include "util/json.h"

namespace ab {

namespace {
constexpr uint64_t Ms(int64_t ms) { return static_cast<uint64_t>(ms) * kTicksPerMs; }
// Timers compare "more than N ms", so a wait ends just after the due time.
constexpr uint64_t kWakeSlack = Ms(1);
}  // namespace

client_udp::client_udp(std::string client_type_id, uint16_t port, std::string_view address_list,
                       std::unique_ptr<DatagramSocket> socket, const Clock& clock, std::mutex& lock,
                       std::filesystem::path base_dir, bool start_log_thread)
    : Log(base_dir, clock, start_log_thread),
      Window(kTicksPerMs),
      client_type_id_(std::move(client_type_id)),
      clock_(clock),
      lock_(lock),
      base_dir_(std::move(base_dir)),
      socket_(std::move(socket)),
      channel_(socket_.get(), port, address_list),
      send_buffer_(kMaxSentDatagram) {
  std::error_code ec;
  std::filesystem::create_directories(base_dir_ / "temp", ec);
  CommandQueue.SetCapacity(1000);
  RecordQueue.SetCapacity(10000);
  EventQueue.SetCapacity(1000);
  OutQueue.SetCapacity(1000);
  FileQueue.SetCapacity(1000);
  ReceiveQueue.SetCapacity(1000);
  ReceiveQueue.SetWakeup(&wakeup_);
  OutQueue.SetWakeup(&wakeup_);
  FileQueue.SetWakeup(&wakeup_);
  Log.Prefix = "udpc";
  Log.Enabled = true;
  const uint64_t now = TickCount(clock_);
  last_tick_ = now;
  Window.LastAdaptTime = now;
  if (socket_) {
    receiver_ = std::make_unique<recieve>(channel_, clock_, ReceiveQueue, figures_);
  }
}

client_udp::~client_udp() { Stop(); }

void client_udp::SetEnabled(bool on) {
  Enabled = on;
  wakeup_.Notify();
}

void client_udp::RequestKeepalive() {
  LastKeepaliveTime = 0;
  wakeup_.Notify();
}

void client_udp::Start() {
  if (!Usable() || thread_.joinable()) return;
  receiver_->Polling = PlainPolling;
  receiver_->Start();
  thread_ = std::thread([this] { Run(); });
}

void client_udp::Run() {
  while (!stop_.load()) {
    if (Iterate()) continue;
    if (PlainPolling) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    const uint64_t due = NextWake();
    const uint64_t now = TickCount(clock_);
    if (due > now) wakeup_.WaitFor(std::chrono::nanoseconds(due - now + kWakeSlack));
  }
}

void client_udp::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    wakeup_.Notify();
    thread_.join();
  }
  Exit();
}

void client_udp::Exit() {
  if (exited_) return;
  exited_ = true;
  if (Usable()) {
    SendCommand("{\"$c$\":\"closeclient\"}");
    receiver_->Stop();
  }
  Log.Stop();
}

void client_udp::LogLine(std::string line) { Log.Queue.Push(line); }

void client_udp::DropAll(OchFIFOJSON& q) {
  while (q.NotEmpty()) q.Drop();
}

void client_udp::SetExpected(int64_t n) {
  if (receiver_) receiver_->ExpectedNumber = n;
}

bool client_udp::AlreadyDone(int64_t number) const {
  return number < ExpectedNumber() || done_above_.count(number) != 0;
}

// A message that completes while a longer one with a lower number is still being reassembled
// must not lift ExpectedNumber past that one: its remaining chunks would be acknowledged and
// dropped, and the message lost. Such numbers are remembered instead, to drop their repeats.
void client_udp::Completed(int64_t number) {
  int64_t floor = INT64_MAX;
  if (TextReassembly.Active()) floor = std::min(floor, TextReassembly.MessageNumber());
  if (RecordReassembly.Active()) floor = std::min(floor, RecordReassembly.MessageNumber());
  if (Sync != nullptr && Sync->FileInProgress() > 0)
    floor = std::min(floor, Sync->FileInProgress());
  done_above_.insert(number);
  int64_t next = *done_above_.rbegin() + 1;
  // A reassembly already below ExpectedNumber is stale and holds nothing back.
  if (floor >= ExpectedNumber() && floor < next && done_above_.size() <= kMaxDoneAbove) {
    next = floor;
  }
  SetExpected(next);
  done_above_.erase(done_above_.begin(), done_above_.lower_bound(next));
}

void client_udp::SendCommand(std::string_view text) {
  Bytes payload;
  TextToScrambled(text, payload, kKeyTableLink);
  if (payload.size() < 2) payload.assign(2, 0);
  ++MessageCounter;
  DatagramHeader h;
  h.Kind = kKindText;
  h.PayloadLength = static_cast<int32_t>(payload.size());
  h.ChunkOffset = 0;
  h.TotalSize = h.PayloadLength;
  h.MessageNumber = MessageCounter;
  h.ChunkCount = 1;
  h.ChunkNumber = 1;
  h.ConnectionId = ConnectionId;
  const Bytes datagram = BuildDatagram(h, payload);
  channel_.Send(datagram);
  LastCommandTime = TickCount(clock_);
}

void client_udp::Reset(int code) {
  Registered = false;
  TablesReady = false;
  LastCommandTime = 0;
  if (Sync != nullptr) Sync->OnReset();
  Window.Reset();
  DropAll(OutQueue);
  DropAll(FileQueue);
  channel_.NextAddress();
  if (code > 0) ReportDisconnection(code);
}

void client_udp::ReportDisconnection(int code) {
  // The operator's status line carries no code; the diagnostic log keeps it for support.
  LogLine("disconnected, code " + std::to_string(code));
  EventQueue.Push(BuildDisconnectedNotice(code));
}

bool client_udp::Iterate() {
  const uint64_t now = TickCount(clock_);
  bool work = false;
  if (Usable() && Enabled.load()) {
    if (!Registered.load()) {
      Registration(now);
    } else {
      Keepalive(now);
      LossChecks(now);
    }
    if (Registered.load()) work |= Transfers(now);
  }
  work |= TakeReceived(now);
  work |= Dispatch();
  if (Sync != nullptr) Sync->Periodic(now);
  Figures(now);
  return work;
}

void client_udp::Registration(uint64_t now) {
  if (TicksToMs(LastCommandTime, now) <= RegisterInterval) return;
  if (first_attempt_done_) channel_.NextAddress();
  first_attempt_done_ = true;
  ConnectionId = {};
  MessageCounter = 0;
  RegistrationFields f;
  f.ClientTypeId = client_type_id_;
  f.UserName = UserName;
  f.Password = Password;
  f.KeepaliveSeconds = kKeepaliveSeconds;
  f.Version = Version;
  SendCommand(BuildRegistrationText(f));
  SetExpected(0);
  // Numbering restarts with the connection: nothing of the old one may complete or be skipped.
  done_above_.clear();
  TextReassembly.Clear();
  RecordReassembly.Clear();
}

void client_udp::Keepalive(uint64_t now) {
  if (!TablesReady.load()) return;
  if (TicksToMs(LastKeepaliveTime.load(), now) <= kKeepaliveSeconds * 1000.0) return;
  LastKeepaliveTime = now;
  std::string text;
  {
    std::lock_guard guard(lock_);
    text = BuildKeepaliveText(Queues);
  }
  SendCommand(text);
  LogLine(text + " 0 0");
}

void client_udp::LossChecks(uint64_t now) {
  if (TablesReady.load()) {
    if (TicksToMs(figures_.LastReceiveTime.load(), now) > kKeepaliveSeconds * 10000.0) Reset(1);
  } else if (TicksToMs(LastFileDataTime, now) > kTablesLoadTimeoutMs) {
    Reset(0);
    LastFileDataTime = now;
    ReportDisconnection(7);
  }
}

bool client_udp::Transfers(uint64_t now) {
  bool started = false;
  // A file waiting in FileQueue goes before any message.
  if (!Window.TransferActive && Sync != nullptr) started = Sync->StartFileTransfer(now);
  if (!Window.TransferActive && OutQueue.Peek(command_)) {
    std::string line;
    line.reserve(5 + command_.size());
    line.append(">>>> ").append(command_);
    LogLine(std::move(line));
    ++MessageCounter;
    // The head stays queued until acknowledged; the window keeps its own copy, so this one
    // can move (large messages are copied as rarely as possible).
    Window.StartMessage(std::move(command_), MessageCounter);
    command_.clear();
    started = true;
  }
  if (!Window.TransferActive) return started;
  if (!Window.TransferIsFile) {
    Window.FillMessage();
  } else if (Sync != nullptr) {
    Sync->FillFile(now);
  }
  const bool ok = Window.Resend(now, [&](const SendSlot& s) {
    DatagramHeader h;
    h.Kind = Window.TransferIsFile ? kKindFile : kKindText;
    h.PayloadLength = static_cast<int32_t>(s.Data.size());
    h.ChunkOffset = static_cast<int32_t>(s.Offset);
    h.TotalSize = static_cast<int32_t>(Window.TransferSize);
    h.MessageNumber = Window.TransferNumber;
    h.ChunkCount = Window.TransferChunks;
    h.ChunkNumber = static_cast<int32_t>(s.Number);
    h.ConnectionId = ConnectionId;
    const size_t n = kPrefixSize + s.Data.size();
    EncodePrefix(h, send_buffer_);
    std::copy(s.Data.begin(), s.Data.end(), send_buffer_.begin() + kPrefixSize);
    channel_.Send(std::span<const uint8_t>(send_buffer_.data(), n));
  });
  if (!ok) {
    Window.Reset();
    Reset(2);
    return true;
  }
  Window.Adapt(now);
  if (Window.Complete() && !(Window.TransferIsFile && Sync != nullptr && Sync->FileOffering())) {
    if (Window.TransferIsFile) {
      Window.TransferActive = false;
      Window.AdaptAfterFile(now);
      if (Sync != nullptr) Sync->OnFileSent(now);
    } else {
      OutQueue.Drop();
      Window.TransferActive = false;
      Window.MessageBytes.clear();
    }
    return true;
  }
  return started || Window.ChunksToPlace();
}

bool client_udp::TakeReceived(uint64_t now) {
  if (!ReceiveQueue.Pop(record_)) return false;
  in_bytes_sum_ += static_cast<int64_t>(record_.size());
  ++records_taken_;
  if (record_[0] == kRecordAck && record_.size() == static_cast<size_t>(kAckRecordSize)) {
    Window.OnAck(GetI64(record_.data() + kAckRecordNumber),
                 GetI32(record_.data() + kAckRecordChunk), now);
    figures_.LastReceiveTime = now;
  } else if (record_[0] == kRecordData) {
    HandleData(record_, now);
  }
  return true;
}

void client_udp::HandleData(Bytes& record, uint64_t now) {
  const std::span<uint8_t> datagram(record.data() + 1, record.size() - 1);
  const auto header = DecodePrefix(datagram);
  if (!header) return;
  const std::span<uint8_t> payload = datagram.subspan(kPrefixSize);
  UnscramblePayload(payload);
  figures_.LastReceiveTime = now;
  const std::span<const uint8_t> data = payload.size() >= 2
                                            ? std::span<const uint8_t>(payload.subspan(2))
                                            : std::span<const uint8_t>();
  switch (header->Kind) {
    case kKindText:
      HandleText(*header, data);
      break;
    case kKindFile:
      if (Sync != nullptr) Sync->HandleFileChunk(*header, data);
      break;
    case kKindRecord:
    case kKindRecord2:
      HandleRecordChunk(*header, data);
      break;
    default:
      break;
  }
}

void client_udp::HandleText(const DatagramHeader& h, std::span<const uint8_t> data) {
  // A single chunk queued twice (its acknowledgement was lost) must not run twice.
  if (AlreadyDone(h.MessageNumber)) return;
  if (h.ChunkCount == 1) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (text.find("newlk") == std::string_view::npos) CommandQueue.Push(text);
    Completed(h.MessageNumber);
    return;
  }
  if (h.ChunkCount < 1) return;
  switch (TextReassembly.Add(h, data)) {
    case Reassembly::Result::kRejected:
      LogLine("bad text chunk " + std::to_string(h.ChunkNumber) + "/" +
              std::to_string(h.ChunkCount) + " offset " + std::to_string(h.ChunkOffset) + " size " +
              std::to_string(h.TotalSize));
      return;
    case Reassembly::Result::kPartial:
      return;
    case Reassembly::Result::kComplete:
      break;
  }
  const auto whole = TextReassembly.Data();
  const std::string_view text(reinterpret_cast<const char*>(whole.data()), whole.size());
  if (text.find("testex") != std::string_view::npos) {
    CommandQueue.Push(text);
  } else if (text.find("newlk") == std::string_view::npos) {
    EventQueue.Push(text);
  }
  TextReassembly.Clear();
  Completed(h.MessageNumber);
}

void client_udp::HandleRecordChunk(const DatagramHeader& h, std::span<const uint8_t> data) {
  if (AlreadyDone(h.MessageNumber)) return;
  if (h.ChunkCount == 1) {
    RecordQueue.Push(data);
    Completed(h.MessageNumber);
    return;
  }
  const int32_t buffer_size = RecordReassembly.BufferSize();
  const int64_t started_by = RecordReassembly.MessageNumber();
  const auto result = RecordReassembly.Add(h, data);
  if (result == Reassembly::Result::kRejected) {
    LogLine("-------> " + std::to_string(buffer_size) + " " + std::to_string(h.PayloadLength) +
            " " + std::to_string(h.ChunkOffset) + " " + std::to_string(h.TotalSize) + " " +
            std::to_string(data.size()) + " " + std::to_string(h.ChunkCount) + " " +
            std::to_string(h.MessageNumber) + " " +
            std::to_string(static_cast<uint32_t>(started_by)));
    RecordReassembly.Clear();
    Reset(5);
    return;
  }
  if (result == Reassembly::Result::kComplete) {
    RecordQueue.Push(RecordReassembly.Data());
    RecordReassembly.Clear();
    Completed(h.MessageNumber);
  }
}

bool client_udp::Dispatch() {
  bool work = false;
  // Record messages wait in their queue until every table is loaded.
  const bool ready = TablesReady.load();
  if (ready && RecordQueue.Peek(record_)) {
    if (Sync != nullptr) Sync->HandleRecord(record_);
    RecordQueue.Drop();
    work = true;
  } else if (ready && RecordQueue.NotEmpty()) {
    RecordQueue.Drop();  // an empty record carries nothing
    work = true;
  }
  std::string text;
  if (!CommandQueue.Peek(text)) return work;
  CommandQueue.Drop();
  const std::string name = JsonGetValue(text, "$c$");
  if (Sync != nullptr && Sync->HandleCommand(name, text)) return true;
  const uint64_t now = TickCount(clock_);
  if (name == "regok") {
    Accept(text, now);
  } else if (name == "accessdenied") {
    Refuse(text);
  } else if (name != "testex") {
    EventQueue.Push(text);
  }
  return true;
}

void client_udp::Accept(const std::string& reply, uint64_t now) {
  {
    std::lock_guard guard(lock_);
    if (Sync != nullptr) Sync->OnAcceptance();
    if (Queues != nullptr) {
      for (auto& q : *Queues) {
        if (!q) continue;
        q->InfoReceived = false;
        q->RequestSent = false;
      }
    }
  }
  AccessDenied = false;
  Tid = JsonGetValue(reply, "tid");
  DropAll(OutQueue);
  DropAll(FileQueue);
  // Numbering restarted with the registration: a transfer still under way would complete
  // against an entry it never carried.
  Window.Reset();
  ConnectionId = TidToConnectionId(Tid);
  TablesReady = true;
  Registered = true;
  LastFileDataTime = now;
  RegisterInterval = kRegisterIntervalMs;
  EventQueue.Push(BuildConnectedNotice(reply));
  if (Sync != nullptr && Sync->StartTableLoad()) TablesReady = false;
  {
    std::lock_guard guard(lock_);
    if (Queues != nullptr) {
      for (auto& q : *Queues) {
        if (!q) continue;
        const std::string request = q->GetQueueRequest();
        if (!request.empty()) OutQueue.Push(request);
      }
    }
  }
  const auto since = static_cast<uint32_t>(std::max(0.0, TicksToMs(LastCommandTime, now)));
  Window.OnRegistered(3 * since);
}

void client_udp::Refuse(const std::string& reply) {
  AccessDenied = true;
  Registered = false;
  RegisterInterval = kRefusedIntervalMs;
  EventQueue.Push(reply);
}

void client_udp::Figures(uint64_t now) {
  if (TicksToMs(last_tick_, now) <= 1000.0) return;
  last_tick_ = now;
  InBytesPerSecond = in_bytes_sum_;
  in_bytes_sum_ = 0;
  OutBytesPerSecond = channel_.TakeOutBytes();
  const int64_t count = records_taken_ + figures_.KeepalivesReceived.load();
  if (count != last_activity_count_) {
    last_activity_count_ = count;
    int32_t a = ActivityCounter.load() + 1;
    if (a > 15) a = 0;
    ActivityCounter = a;
  }
}

uint64_t client_udp::NextWake() {
  const uint64_t now = TickCount(clock_);
  if (ReceiveQueue.NotEmpty() || CommandQueue.NotEmpty() ||
      (TablesReady.load() && RecordQueue.NotEmpty())) {
    return now;
  }
  uint64_t due = last_tick_ + Ms(1000);
  auto at = [&](uint64_t t) { due = std::min(due, t); };
  if (Usable() && Enabled.load()) {
    if (!Registered.load()) {
      at(LastCommandTime + Ms(RegisterInterval));
    } else {
      if (TablesReady.load()) {
        at(LastKeepaliveTime.load() + Ms(kKeepaliveSeconds * 1000));
        at(figures_.LastReceiveTime.load() + Ms(kKeepaliveSeconds * 10000));
      } else {
        at(LastFileDataTime + Ms(kTablesLoadTimeoutMs));
      }
      if (Window.TransferActive) {
        if (Window.ChunksToPlace() && Window.FreeSlot() >= 0) return now;
        const uint64_t d = Window.NextDeadline();
        if (d != 0) at(d);
        if (Window.ChunksToPlace() && !Window.TransferIsFile) at(Window.LastAdaptTime + Ms(1000));
      } else if (OutQueue.NotEmpty() || FileQueue.NotEmpty()) {
        return now;
      }
    }
  }
  if (Sync != nullptr && Sync->NextDue() != 0) at(Sync->NextDue());
  return std::max(due, now);
}

}  // namespace ab
