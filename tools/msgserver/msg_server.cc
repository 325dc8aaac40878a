#include "msgserver/msg_server.h"

#include <algorithm>

#include "util/func.h"
#include "util/json.h"

namespace ab {

namespace {
constexpr uint32_t kServerRto = 100;  // ms; the double resends briskly so loss tests stay short
// Message numbers remembered against duplicates; the link gives up on a message long before
// this many newer ones have passed.
constexpr size_t kCompletedKept = 10000;
}  // namespace

MsgServer::MsgServer(std::unique_ptr<DatagramSocket> socket, const Clock& clock, uint64_t seed)
    : socket_(std::move(socket)),
      clock_(clock),
      random_(seed),
      buffer_(65536),
      window_(kTicksPerMs),
      send_buffer_(kMaxSentDatagram) {
  window_.Rto = kServerRto;
}

MsgServer::~MsgServer() { Stop(); }

bool MsgServer::Chance(double fraction) {
  if (fraction <= 0.0) return false;
  const bool hit = std::uniform_real_distribution<double>(0.0, 1.0)(random_) < fraction;
  if (hit) ++dropped_;
  return hit;
}

void MsgServer::Send(std::span<const uint8_t> datagram) {
  if (!link_known_ || Chance(DropOutgoing.load())) return;
  socket_->SendTo(link_, datagram);
}

void MsgServer::SendMessage(std::string text) {
  std::lock_guard lock(mutex_);
  outbox_.push_back({kKindText, std::move(text)});
}

void MsgServer::SendFile(std::string bytes) {
  std::lock_guard lock(mutex_);
  outbox_.push_back({kKindFile, std::move(bytes)});
}

void MsgServer::SendKeepaliveDatagram() {
  std::lock_guard lock(mutex_);
  DatagramHeader h;
  h.Kind = kKindKeepalive;
  h.PayloadLength = 0;
  std::array<uint8_t, kPrefixSize> d;
  EncodePrefix(h, d);
  Send(d);
}

bool MsgServer::Step() {
  bool read = false;
  std::vector<Received> received;
  std::vector<Outgoing> sending;
  {
    std::lock_guard lock(mutex_);
    for (;;) {
      Endpoint from;
      const int32_t n = socket_->ReceiveFrom(buffer_, from);
      if (n < 0) break;
      read = true;
      if (Silent.load() || Chance(DropIncoming.load())) continue;
      link_ = from;
      link_known_ = true;
      Handle(std::span<uint8_t>(buffer_.data(), static_cast<size_t>(n)));
    }
    if (!Silent.load()) Drive(TickCount(clock_));
    received.swap(to_report_);
    sending.swap(to_announce_);
  }
  // The hooks may call back into the double, so they run without its lock.
  if (OnReceived) {
    for (const auto& r : received) OnReceived(r);
  }
  if (OnSending) {
    for (const auto& o : sending) OnSending(o.Kind, o.Bytes);
  }
  return read;
}

void MsgServer::Handle(std::span<uint8_t> datagram) {
  const auto header = DecodePrefix(datagram);
  if (!header) return;
  const DatagramHeader& h = *header;
  if (h.Kind == kKindAck) {
    ++acks_received_;
    window_.OnAck(h.MessageNumber, h.ChunkNumber, TickCount(clock_));
    return;
  }
  if (h.Kind != kKindText && h.Kind != kKindFile) return;
  if (!Chance(DropAcks.load())) {
    std::array<uint8_t, kPrefixSize> ack;
    BuildAck(h, ack);
    Send(ack);
  }
  std::span<uint8_t> payload = datagram.subspan(kPrefixSize);
  UnscramblePayload(payload);
  const std::span<const uint8_t> data = payload.size() >= 2
                                            ? std::span<const uint8_t>(payload.subspan(2))
                                            : std::span<const uint8_t>();
  if (h.Kind == kKindFile) {
    OnFileChunk(h, data);
    return;
  }
  if (h.ChunkCount == 1) {
    // A registration starts the numbering afresh.
    if (h.MessageNumber == 1) completed_.clear();
    if (!completed_.insert(h.MessageNumber).second) return;
    OnMessage(h.MessageNumber, std::string(data.begin(), data.end()));
    return;
  }
  if (completed_.count(h.MessageNumber) != 0) return;
  auto [it, fresh] = incoming_.try_emplace(h.MessageNumber);
  if (fresh) first_chunk_time_ = TickCount(clock_);
  Reassembly& r = it->second;
  if (r.Add(h, data) != Reassembly::Result::kComplete) return;
  std::string whole(r.Data().begin(), r.Data().end());
  incoming_.erase(h.MessageNumber);
  completed_.insert(h.MessageNumber);
  OnMessage(h.MessageNumber, std::move(whole));
}

void MsgServer::OnMessage(int64_t number, std::string text) {
  const std::string name = JsonGetValue(text, "$c$");
  if (name == "reg") {
    outbox_.clear();
    window_.Reset();
    counter_ = 0;
    if (DenyRegistration.load()) {
      outbox_.push_back({kKindText, "{\"$c$\":\"accessdenied\"}"});
    } else {
      outbox_.push_back({kKindText, "{\"$c$\":\"regok\",\"tid\":\"" + Tid + "\",\"version\":\"" +
                                        Version + "\"}"});
    }
  } else if (name == "testex") {
    // The position is taken even from keep-alives left unanswered.
    const std::string answer = TestexAnswer(text);
    if (AnswerKeepalives.load()) outbox_.push_back({kKindText, answer});
  } else if (name == "getqueue") {
    outbox_.push_back({kKindText, QueueZag(text)});
  }
  OnDataMessage(name, text);
  received_.push_back({TickCount(clock_), number, std::move(text)});
  if (OnReceived) to_report_.push_back(received_.back());
  // A simulator left running for days keeps only the newest records.
  const size_t keep = MaxRecorded.load();
  if (keep > 0 && received_.size() >= 2 * keep) {
    received_.erase(received_.begin(), received_.end() - static_cast<std::ptrdiff_t>(keep));
  }
  while (completed_.size() > kCompletedKept) completed_.erase(completed_.begin());
}

void MsgServer::Drive(uint64_t now) {
  AnnounceDue(now);
  if (!window_.TransferActive && !outbox_.empty()) {
    Outgoing next = std::move(outbox_.front());
    outbox_.pop_front();
    if (OnSending) to_announce_.push_back(next);
    window_kind_ = next.Kind;
    if (next.Kind == kKindFile) {
      window_.StartFile(++counter_, static_cast<int64_t>(next.Bytes.size()));
      window_.MessageBytes = std::move(next.Bytes);
    } else {
      window_.StartMessage(std::move(next.Bytes), ++counter_);
    }
  }
  if (!window_.TransferActive) return;
  // Files are filled from memory like messages; only the kind on the wire differs.
  window_.FillMessage();
  const bool ok = window_.Resend(now, [&](const SendSlot& s) {
    DatagramHeader h;
    h.Kind = window_kind_;
    h.PayloadLength = static_cast<int32_t>(s.Data.size());
    h.ChunkOffset = static_cast<int32_t>(s.Offset);
    h.TotalSize = static_cast<int32_t>(window_.TransferSize);
    h.MessageNumber = window_.TransferNumber;
    h.ChunkCount = window_.TransferChunks;
    h.ChunkNumber = static_cast<int32_t>(s.Number);
    EncodePrefix(h, send_buffer_);
    std::copy(s.Data.begin(), s.Data.end(), send_buffer_.begin() + kPrefixSize);
    Send(std::span<const uint8_t>(send_buffer_.data(), kPrefixSize + s.Data.size()));
    ++chunks_sent_;
  });
  if (!ok) {
    window_.Reset();  // the link is gone; its next registration starts over
    return;
  }
  if (window_.Complete()) {
    window_.TransferActive = false;
    window_.MessageBytes.clear();
    ++transfers_done_;
  }
}

bool MsgServer::Idle() {
  std::lock_guard lock(mutex_);
  return outbox_.empty() && !window_.TransferActive;
}

void MsgServer::Start() {
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      if (!Step()) socket_->WaitReadable(std::chrono::milliseconds(5));
    }
  });
}

void MsgServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  socket_->Wake();
  thread_.join();
}

std::vector<MsgServer::Received> MsgServer::Messages() {
  std::lock_guard lock(mutex_);
  return received_;
}

int MsgServer::CountOf(const std::string& name) {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(received_.begin(), received_.end(), [&](const Received& r) {
    return JsonGetValue(r.Text, "$c$") == name;
  }));
}

}  // namespace ab
