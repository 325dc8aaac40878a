#include "link/link_sync.h"

#include <exception>
#include <system_error>

#include "link/archive_store.h"
#include "link/client_udp.h"
#include "link/record_message.h"
#include "link/safe_names.h"
#include "link/sync_texts.h"
#include "util/func.h"
#include "util/json.h"

namespace ab {

// Compared in this order, exactly; the acceptance, the refusal and anything not listed are
// left to the link (the latter go to EventQueue).
const LinkSync::Command LinkSync::kCommands[] = {
    {"testex", &LinkSync::Testex},
    {"refreshtid", &LinkSync::Consume},
    {"newlk", &LinkSync::PassOn},
    {"netyesadddatadatabase", &LinkSync::PassOn},
    {"queuezag", &LinkSync::QueueInfo},
    {"getarchiveok", &LinkSync::ArchiveReady},
    {"historyfromfile", &LinkSync::HistoryReady},
    {"tablerawfromfile", &LinkSync::TableFileReady},
    {"filetoserverok", &LinkSync::Consume},
    {"refreshdatadatabase", &LinkSync::RowChangeText},
    {"sendfilenotfind", &LinkSync::PassOn},
    {"sendfile", &LinkSync::Announce},
    {"startrecivefileerror", &LinkSync::ReceiveError},
    {"startrecivefileerror2", &LinkSync::ReceiveError2},
    {"startrecivefile", &LinkSync::SendAccepted},
    {"filetoserver", &LinkSync::FileToServer},
    {"mobiltech", &LinkSync::MobilTech},
};

LinkSync::LinkSync(client_udp& link, TBaseC* tables, std::mutex& lock,
                   TableRefreshedFn table_refreshed)
    : link_(link),
      tables_(tables),
      lock_(lock),
      table_refreshed_(std::move(table_refreshed)),
      receiver_(link, [this](const std::string& name, int32_t size) { Deliver(name, size); }),
      sender_(link),
      outbox_(link.BaseDir()) {
  if (!outbox_.Usable()) Log("outbox dd8 cannot be opened");
}

void LinkSync::Log(std::string line) { link_.Log.Queue.Push(line); }

void LinkSync::SetAwaitedFile(std::string name) {
  std::lock_guard guard(awaited_mutex_);
  awaited_file_ = std::move(name);
}

std::string LinkSync::AwaitedFile() const {
  std::lock_guard guard(awaited_mutex_);
  return awaited_file_;
}

void LinkSync::OnAcceptance() {
  if (tables_ != nullptr) {
    for (auto& t : *tables_) {
      t->Loaded = false;
      t->RequestBuilt = false;
      t->Clear();
    }
  }
  // A repeated acceptance fetches every table anew; an old request must not block that.
  request_under_way_ = false;
  outbox_.Forget();
}

bool LinkSync::StartTableLoad() {
  if (tables_ == nullptr) return false;
  std::lock_guard guard(lock_);
  for (auto& t : *tables_) {
    t->OnNetDataSend9 = [this](TBaseClient&, const std::string& data) {
      link_.OutQueue.Push(data);
    };
    t->LoadRequested = false;
  }
  return true;
}

bool LinkSync::HandleCommand(std::string_view name, const std::string& text) {
  for (const Command& c : kCommands) {
    if (c.Name == name) {
      (this->*c.Handle)(text);
      return true;
    }
  }
  return false;
}

void LinkSync::Consume(const std::string&) {}

void LinkSync::PassOn(const std::string& text) { link_.EventQueue.Push(text); }

void LinkSync::Testex(const std::string& text) {
  std::string queue = JsonGetValue(text, "queue");
  // The walk below consumes the text, so whether a report came is decided before it.
  const bool reported = !queue.empty();
  if (reported && link_.Queues != nullptr) {
    std::lock_guard guard(lock_);
    for (std::string e = JsonNextElement(queue); !e.empty(); e = JsonNextElement(queue)) {
      const std::string name = JsonGetValue(e, "name");
      for (auto& q : *link_.Queues) {
        if (!q || q->Name != name) continue;
        const int32_t count = DecimalOrZero(JsonGetValue(e, "count"));
        if (count > q->Count) q->Count = count;
        q->DateTime = DecimalOrZero(JsonGetValue(e, "datetime"));
        if (!JsonGetValue(e, "zap").empty()) {
          q->Pack = e;
          q->InPack = DecimalOrZero(JsonGetValue(e, "inpack"));
          q->PackReady = true;
        }
        break;
      }
    }
  }
  // Wakes the handlers waiting for a package.
  if (reported && OnLinkChanged) OnLinkChanged();
  const std::string messages = JsonGetValue(text, "messages");
  if (messages.empty()) return;
  const std::string file = JsonGetValue(messages, "filename");
  if (file.empty()) return;
  awaited_messages_ = file;
  link_.SendCommand(BuildMessagesGetFile(file, link_.Tid));
  link_.EventQueue.Push(kToSoobNotice);
}

void LinkSync::QueueInfo(const std::string& text) {
  if (link_.Queues == nullptr) return;
  const std::string name = JsonGetValue(text, "name");
  std::lock_guard guard(lock_);
  for (auto& q : *link_.Queues) {
    if (!q || q->Name != name) continue;
    q->InfoReceived = true;
    q->RequestSent = true;
    q->Count = DecimalOrZero(JsonGetValue(text, "count"));
    q->Position = DecimalOrZero(JsonGetValue(text, "position"));
    q->PackReady = false;
    return;
  }
}

void LinkSync::ArchiveReady(const std::string& text) {
  const std::string file = JsonGetValue(text, "filename");
  awaited_archive_ = FileNamePart(file);
  link_.OutQueue.Push(BuildArchiveGetFile(file));
}

void LinkSync::HistoryReady(const std::string& text) {
  link_.OutQueue.Push(BuildHistoryGetFile(JsonGetValue(text, "filename"), link_.Tid));
}

void LinkSync::TableFileReady(const std::string& text) {
  const std::string name = JsonGetValue(text, "name");
  const std::string file = JsonGetValue(text, "filename");
  {
    std::lock_guard guard(lock_);
    if (TBaseClient* t = FindTable(name)) {
      t->ExpectedFile = FileNamePart(file);
      t->RawFile = true;
      t->Compressed = JsonGetValue(text, "zip") == "1";
      t->StructureOnly = JsonGetValue(text, "x") == "1";
    }
  }
  std::string logged;
  link_.OutQueue.Push(BuildTableGetFile(file, link_.Tid, &logged));
  Log("table " + name + " file " + logged);
}

void LinkSync::RowChangeText(const std::string& text) {
  const std::string name = JsonGetValue(text, "nametable");
  const auto pos = DecimalInt32(JsonGetValue(text, "pos"));
  std::lock_guard guard(lock_);
  TBaseClient* t = FindTable(name);
  if (t == nullptr) return;
  if (!pos) {
    Log("refreshdatadatabase " + name + ": pos is not a number");
    return;
  }
  Bytes body;
  HexToBytes(JsonGetValue(text, "fields"), body);
  try {
    if (!t->ApplyRowChange(*pos, body)) Log("refreshdatadatabase " + name + ": change refused");
    t->DataChanged = true;
    t->Refresh();
  } catch (const std::exception& e) {
    Log("refreshdatadatabase " + name + ": " + e.what());
  }
}

void LinkSync::Announce(const std::string& text) { receiver_.Announce(text); }

void LinkSync::ReceiveError(const std::string&) { link_.Reset(12); }

void LinkSync::ReceiveError2(const std::string&) { link_.Reset(9); }

void LinkSync::SendAccepted(const std::string&) { sender_.Accepted(); }

void LinkSync::FileToServer(const std::string& text) { link_.FileQueue.Push(text); }

void LinkSync::MobilTech(const std::string& text) {
  link_.EventQueue.Push(JsonGetValue(text, "data"));
}

TBaseClient* LinkSync::FindTable(std::string_view name) const {
  if (tables_ == nullptr) return nullptr;
  for (auto& t : *tables_) {
    if (t->NameTable == name) return t.get();
  }
  return nullptr;
}

void LinkSync::HandleRecord(const Bytes& record) { ApplyRecord(record, false); }

void LinkSync::ApplyRecord(std::span<const uint8_t> bytes, bool in_bundle) {
  const auto rec = ReadRecordMessage(bytes);
  if (!rec) {
    Log("record of " + std::to_string(bytes.size()) + " bytes ignored");
    return;
  }
  switch (rec->Type) {
    case kRecordRowChange:
    case kRecordDeletion: {
      const auto tr = ReadTableRecord(rec->Body);
      if (!tr) {
        Log("record of type " + std::to_string(rec->Type) + " too short");
        return;
      }
      std::lock_guard guard(lock_);
      TBaseClient* t = FindTable(tr->Table);
      if (t == nullptr) return;
      try {
        const bool ok = rec->Type == kRecordRowChange ? t->ApplyRowChange(tr->Value, rec->Body)
                                                      : t->MarkDeleted(tr->Value);
        if (!ok)
          Log("record of type " + std::to_string(rec->Type) + " for " + tr->Table + " not applied");
        t->DataChanged = true;
        t->Refresh();
      } catch (const std::exception& e) {
        Log("record for " + tr->Table + ": " + e.what());
      }
      return;
    }
    case kRecordBundle: {
      if (in_bundle) return;
      bool complete = true;
      const int32_t n = ForEachBundleEntry(
          rec->Body, [&](std::span<const uint8_t> e) { ApplyRecord(e, true); }, complete);
      if (!complete) Log("bundle entry runs past the end of its message");
      Log("raw10 " + std::to_string(n));
      return;
    }
    default:
      return;  // history parts: this system keeps no history
  }
}

void LinkSync::HandleFileChunk(const DatagramHeader& header, std::span<const uint8_t> data) {
  receiver_.Chunk(header, data);
}

void LinkSync::Deliver(const std::string& name, int32_t total_size) {
  const std::filesystem::path file = receiver_.TempPath(name);
  std::error_code ec;
  if (!awaited_archive_.empty() && name == awaited_archive_) {
    const ServerChannel& ch = link_.Channel();
    const std::string server = (ch.AddressCount() > 0 ? ch.AddressText(0) : std::string()) + "-" +
                               std::to_string(ch.Port());
    std::string why;
    std::optional<std::string> stored;
    if (IsSafeFileName(server)) {
      stored = StoreArchive(file, link_.BaseDir() / "temp" / server, &why);
    } else {
      why = "server folder refused: " + server;
    }
    std::filesystem::remove(file, ec);
    if (!why.empty()) Log("archive " + name + ": " + why);
    // Announced only when something was stored.
    if (stored) link_.EventQueue.Push(BuildArchiveLoadNotice(*stored));
    awaited_archive_.clear();
    return;
  }
  TBaseClient* table = nullptr;
  {
    std::lock_guard guard(lock_);
    if (tables_ != nullptr) {
      for (auto& t : *tables_) {
        if (t->ExpectedFile == name) {
          table = t.get();
          break;
        }
      }
    }
  }
  if (table != nullptr) {
    LoadTable(*table, name, total_size);
    return;
  }
  if (!awaited_messages_.empty() && name == awaited_messages_) {
    std::filesystem::remove(file, ec);
    link_.EventQueue.Push(BuildGetFileOkNotice(name));
    return;
  }
  link_.EventQueue.Push(BuildGetFileOkNotice(name));
  if (name == AwaitedFile()) {
    FileArrived = true;
    if (OnLinkChanged) OnLinkChanged();
  }
}

void LinkSync::LoadTable(TBaseClient& table, const std::string& name, int32_t total_size) {
  request_under_way_ = false;
  const std::filesystem::path file = receiver_.TempPath(name);
  std::string table_name;
  int32_t count = 0;
  {
    std::lock_guard guard(lock_);
    table_name = table.NameTable;
    try {
      const TableLoadResult r = table.LoadFromFile(file);
      if (r != TableLoadResult::kLoaded) {
        Log("table " + table_name + " file " + name + " load result " +
            std::to_string(static_cast<int>(r)));
      }
    } catch (const std::exception& e) {
      Log("table " + table_name + " file " + name + ": " + e.what());
    }
    count = table.Count();
  }
  link_.EventQueue.Push(BuildTableLoadNotice(table_name, total_size, count));
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

void LinkSync::TableCycle() {
  if (tables_ == nullptr) return;
  std::string request;
  {
    std::lock_guard guard(lock_);
    if (!link_.TablesReady.load()) {
      bool all = true;
      for (auto& t : *tables_) all = all && t->Loaded;
      if (all) link_.TablesReady = true;
    }
    if (!link_.Registered.load() || link_.TablesReady.load() || request_under_way_) return;
    for (auto& t : *tables_) {
      if (t->Loaded || t->LoadRequested) continue;
      request_under_way_ = true;
      t->LoadRequested = true;
      try {
        request = t->BuildLoadRequest();
      } catch (const std::exception& e) {
        Log("table " + t->NameTable + " load request: " + e.what());
      }
      if (request.empty()) Log("table " + t->NameTable + " has no load request");
      break;
    }
  }
  if (!request.empty()) link_.OutQueue.Push(request);
}

void LinkSync::Notify() {
  if (tables_ == nullptr || !table_refreshed_ || !link_.TablesReady.load()) return;
  for (size_t i = 0;; ++i) {
    std::string name;
    TBaseClient* t = nullptr;
    {
      std::lock_guard guard(lock_);
      if (i >= tables_->size()) return;
      t = (*tables_)[i].get();
      if (!t->DataChanged || !t->Loaded) continue;
      name = t->NameTable;
    }
    table_refreshed_(name);
    std::lock_guard guard(lock_);
    t->DataChanged = false;
  }
}

void LinkSync::Periodic(uint64_t now) {
  TableCycle();
  Notify();
  outbox_.Drive(now, link_.Registered.load() && link_.TablesReady.load(), link_.OutQueue);
}

uint64_t LinkSync::NextDue() const {
  uint64_t due = sender_.NextOffer();
  const uint64_t box = outbox_.NextDue();
  if (box != 0 && (due == 0 || box < due)) due = box;
  return due;
}

void LinkSync::FillFile(uint64_t now) { sender_.Fill(now); }

bool LinkSync::StartFileTransfer(uint64_t now) { return sender_.Start(now); }

void LinkSync::OnFileSent(uint64_t) { sender_.OnSent(); }

void LinkSync::OnReset() {
  request_under_way_ = false;
  outbox_.Forget();
  receiver_.OnReset();
  sender_.OnReset();
}

}  // namespace ab
