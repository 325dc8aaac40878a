#include "link/recieve.h"

#include <algorithm>
#include <array>

#include "link/datagram.h"
#include "link/handover.h"

namespace ab {

recieve::recieve(ServerChannel& channel, const Clock& clock, OchFIFO& receive_queue,
                 ReceiveFigures& figures)
    : channel_(channel), clock_(clock), queue_(receive_queue), figures_(figures), buffer_(65536) {
  record_.reserve(1 + buffer_.size());
}

recieve::~recieve() { Stop(); }

bool recieve::Pass() {
  DatagramSocket* socket = channel_.Socket();
  if (socket == nullptr) return false;
  Endpoint from;
  const int32_t n = socket->ReceiveFrom(buffer_, from);
  if (n < 0) return false;
  // Anyone else on the network could forge commands; their datagrams are not even looked at.
  if (!channel_.FromServer(from)) return true;
  const uint64_t now = TickCount(clock_);
  if (n == 0) {
    figures_.LastReceiveTime = now;
    return true;
  }
  const std::span<const uint8_t> datagram(buffer_.data(), static_cast<size_t>(n));
  const auto header = DecodePrefix(datagram);
  if (!header) return true;

  auto hand_over = [&](uint8_t type) {
    record_.assign(1, type);
    record_.insert(record_.end(), datagram.begin(), datagram.end());
    return queue_.Push(record_);
  };
  auto acknowledge = [&] {
    std::array<uint8_t, kPrefixSize> ack;
    BuildAck(*header, ack);
    channel_.Send(ack);
  };

  switch (header->Kind) {
    case kKindKeepalive:
      figures_.LastReceiveTime = now;
      ++figures_.KeepalivesReceived;
      break;
    case kKindAck: {
      std::array<uint8_t, kAckRecordSize> rec{};
      rec[0] = kRecordAck;
      PutI64(rec.data() + kAckRecordNumber, header->MessageNumber);
      PutI32(rec.data() + kAckRecordChunk, header->ChunkNumber);
      queue_.Push(rec);  // a full queue loses it; the chunk is resent
      break;
    }
    case kKindText:
    case kKindFile:
    case kKindRecord:
    case kKindRecord2:
      ++figures_.DataDatagrams;
      if (header->MessageNumber >= ExpectedNumber.load()) {
        // Withholding the acknowledgement of what could not be queued makes the server resend.
        if (hand_over(kRecordData)) acknowledge();
      } else {
        acknowledge();
      }
      figures_.LastReceiveTime = now;
      break;
    case kKindNoPayload:
      ++figures_.DataDatagrams;
      if (hand_over(kRecordKind20)) acknowledge();
      figures_.LastReceiveTime = now;
      break;
    default:
      break;
  }
  return true;
}

void recieve::Start() {
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void recieve::Run() {
  DatagramSocket* socket = channel_.Socket();
  while (!stop_.load()) {
    if (Pass()) continue;
    if (Polling) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      socket->WaitReadable(std::chrono::milliseconds(500));
    }
  }
}

void recieve::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  channel_.Socket()->Wake();
  thread_.join();
}

}  // namespace ab
