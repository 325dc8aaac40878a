#pragma once
// The real link as the status display sees it.

#include "core/link_port.h"
#include "link/client_udp.h"

namespace ab {

class ClientLinkPort final : public LinkPort {
 public:
  explicit ClientLinkPort(client_udp& link) : link_(link) {}

  bool Registered() const override { return link_.Registered.load(); }
  bool AccessDenied() const override { return link_.AccessDenied.load(); }
  bool TablesReady() const override { return link_.TablesReady.load(); }
  int32_t LoadPercent() const override { return link_.LoadPercent.load(); }
  int32_t ActivityCounter() const override { return link_.ActivityCounter.load(); }
  double InBytesPerSecond() const override {
    return static_cast<double>(link_.InBytesPerSecond.load());
  }
  double OutBytesPerSecond() const override {
    return static_cast<double>(link_.OutBytesPerSecond.load());
  }
  int64_t DuplicateChunks() const override { return link_.DuplicateChunks.load(); }
  int64_t DataDatagrams() const override { return link_.DataDatagrams(); }
  OchFIFOJSON& EventQueue() override { return link_.EventQueue; }
  OchFIFOJSON& OutQueue() override { return link_.OutQueue; }

 private:
  client_udp& link_;
};

}  // namespace ab
