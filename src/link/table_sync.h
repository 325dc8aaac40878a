#pragma once
// What the link's protocol thread leaves to the table and file cycle: clearing and loading the
// owner's tables, the commands, record messages and file chunks it does not handle itself, and
// its periodic duties. Every call is made on the protocol thread. The defaults do nothing, so
// a link without tables registers and keeps alive on its own.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/datagram.h"
#include "util/bytes.h"

namespace ab {

class TableSync {
 public:
  virtual ~TableSync() = default;

  // An acceptance arrived: mark the tables unloaded and clear them; forget the outbox wait.
  // Called with the owner's Lock held.
  virtual void OnAcceptance() {}
  // After the "connected" notice: true when there are tables to fetch, which keeps TablesReady
  // false until they are loaded.
  virtual bool StartTableLoad() { return false; }
  // A command the link does not handle itself; true when consumed. Otherwise "testex" answers
  // are consumed and anything else goes to EventQueue.
  virtual bool HandleCommand(std::string_view /*name*/, const std::string& /*text*/) {
    return false;
  }
  virtual void HandleRecord(const Bytes& /*record*/) {}
  // One chunk of a file for the link (already acknowledged); data is after the payload key.
  virtual void HandleFileChunk(const DatagramHeader& /*header*/,
                               std::span<const uint8_t> /*data*/) {}
  // Registered, no transfer under way: start sending the head of FileQueue (Window.StartFile);
  // true when a transfer started.
  virtual bool StartFileTransfer(uint64_t /*now*/) { return false; }
  // A file transfer is under way: place at most one chunk into the window.
  virtual void FillFile(uint64_t /*now*/) {}
  // Every chunk of the file was acknowledged.
  virtual void OnFileSent(uint64_t /*now*/) {}
  // Table requests, notifications and the outbox drive, once per iteration.
  virtual void Periodic(uint64_t /*now*/) {}
  // Tick time at which Periodic next has something to do; 0 for none.
  virtual uint64_t NextDue() const { return 0; }
  // A link reset: forget the table request under way and the outbox wait, close files.
  virtual void OnReset() {}
};

}  // namespace ab
