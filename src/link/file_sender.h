#pragma once
// Sending the head of FileQueue to the server: the offer repeated every Rto until the server
// accepts ("startrecivefile"), then the file cut into chunks through the link's send window,
// one chunk per iteration. Only files inside the working directory are sent.

#include <cstdint>
#include <fstream>
#include <string>

namespace ab {

class client_udp;

class FileSender {
 public:
  explicit FileSender(client_udp& link);

  // Registered, no transfer under way: starts on the head of FileQueue; false when the queue is
  // empty or its head was dropped (missing or refused local file).
  bool Start(uint64_t now);
  // The transfer's per-iteration step: the offer while not accepted, else one chunk.
  void Fill(uint64_t now);
  // "startrecivefile" from the server.
  void Accepted();
  void OnSent();
  void OnReset();

  bool Offering() const { return active_ && !file_.is_open(); }
  // When the next offer is due (0 when not offering).
  uint64_t NextOffer() const { return Offering() ? offer_due_ : 0; }

 private:
  uint64_t OfferInterval() const;
  void Offer(uint64_t now);

  client_udp& link_;
  bool active_ = false;
  std::string name_;
  std::string name_in_server_;
  std::string local_;
  std::ifstream file_;
  int64_t size_ = 0;
  uint64_t offer_due_ = 0;
  std::string chunk_;
};

}  // namespace ab
