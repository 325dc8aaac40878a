#pragma once
// What the link does with the server's commands and record messages, and the cycles that keep
// the owner's tables and queue cursors in step with the server: tables requested one at a
// time and loaded as their files arrive, row changes and deletions applied, files received and
// sent, the back-message outbox drained. Handed to client_udp::Sync; every call comes on the
// protocol thread.
//
// Locking: every table operation and cursor update holds the owner's Lock; TableRefreshed is
// called without it (it takes the lock itself). AwaitedFile has a lock of its own and
// FileArrived is atomic, since the owner's HTTP threads use them.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "link/file_receiver.h"
#include "link/file_sender.h"
#include "link/outbox_drive.h"
#include "link/table_sync.h"
#include "tables/base_client.h"

namespace ab {

class client_udp;

class LinkSync final : public TableSync {
 public:
  using TableRefreshedFn = std::function<void(const std::string& table)>;

  // tables may be null (a link without tables); they, the lock and the link must outlive this.
  LinkSync(client_udp& link, TBaseC* tables, std::mutex& lock, TableRefreshedFn table_refreshed);

  void OnAcceptance() override;
  bool StartTableLoad() override;
  bool HandleCommand(std::string_view name, const std::string& text) override;
  void HandleRecord(const Bytes& record) override;
  void HandleFileChunk(const DatagramHeader& header, std::span<const uint8_t> data) override;
  bool StartFileTransfer(uint64_t now) override;
  void FillFile(uint64_t now) override;
  void OnFileSent(uint64_t now) override;
  bool FileOffering() const override { return sender_.Offering(); }
  int64_t FileInProgress() const override { return receiver_.Number(); }
  void Periodic(uint64_t now) override;
  uint64_t NextDue() const override;
  void OnReset() override;

  // The owner's awaited file (a picture): set by the owner, FileArrived set on arrival.
  void SetAwaitedFile(std::string name);
  std::string AwaitedFile() const;
  std::atomic<bool> FileArrived{false};
  // Called without Lock after a queue report was stored or the awaited file arrived, so the
  // owner can wake whoever waits for either. Set before the link starts.
  std::function<void()> OnLinkChanged;

  bool TableRequestUnderWay() const { return request_under_way_; }
  const std::string& AwaitedArchive() const { return awaited_archive_; }
  const std::string& AwaitedMessages() const { return awaited_messages_; }
  FileReceiver& Receiver() { return receiver_; }
  OutboxDrive& Outbox() { return outbox_; }

 private:
  struct Command {
    std::string_view Name;
    void (LinkSync::*Handle)(const std::string& text);
  };
  static const Command kCommands[];

  void Testex(const std::string& text);
  void Consume(const std::string& text);
  void PassOn(const std::string& text);
  void QueueInfo(const std::string& text);
  void ArchiveReady(const std::string& text);
  void HistoryReady(const std::string& text);
  void TableFileReady(const std::string& text);
  void RowChangeText(const std::string& text);
  void Announce(const std::string& text);
  void ReceiveError(const std::string& text);
  void ReceiveError2(const std::string& text);
  void SendAccepted(const std::string& text);
  void FileToServer(const std::string& text);
  void MobilTech(const std::string& text);

  void ApplyRecord(std::span<const uint8_t> bytes, bool in_bundle);
  TBaseClient* FindTable(std::string_view name) const;
  void Deliver(const std::string& name, int32_t total_size);
  void LoadTable(TBaseClient& table, const std::string& name, int32_t total_size);
  void TableCycle();
  void Notify();
  void Log(std::string line);

  client_udp& link_;
  TBaseC* tables_;
  std::mutex& lock_;
  TableRefreshedFn table_refreshed_;
  FileReceiver receiver_;
  FileSender sender_;
  OutboxDrive outbox_;
  bool request_under_way_ = false;
  std::string awaited_archive_;
  std::string awaited_messages_;
  mutable std::mutex awaited_mutex_;
  std::string awaited_file_;
};

}  // namespace ab
