#pragma once
// In-memory stand-ins for the controller and the tables, for the HTTP API tests.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "util/clock.h"
#include "util/queue.h"
#include "web/web_context.h"
#include "web/web_table.h"

namespace ab::test {

// Windows-1251 bytes of a UTF-8 literal made of ASCII and Russian letters (the fixtures' texts),
// independent of the program's own conversion.
inline std::string Cp(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    unsigned cp = ((c & 0x1f) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3f);
    if (cp == 0x401) {
      out.push_back('\xa8');
    } else if (cp == 0x451) {
      out.push_back('\xb8');
    } else {
      out.push_back(static_cast<char>(cp - 0x410 + 0xc0));
    }
  }
  return out;
}

// One cell holds whatever the accessors return for it.
struct FakeCell {
  int32_t Integer = 0;
  std::string Text;
  float Float = 0;
  double DateTime = 0;
  uint32_t Cardinal = 0;
  Bytes Raw;
};

// Physical rows 1..n; the view lists physical rows (all of them unless set).
class FakeTable : public WebTable {
 public:
  std::vector<std::map<int32_t, FakeCell>> Rows;
  std::map<std::string, int32_t> FieldNames;
  std::vector<int32_t> View;
  int32_t Current = 0;
  int32_t RecordIndexValue = 0;

  // Adds a physical row with its record number in field 1 and shows it in the view.
  int32_t AddRow(int32_t number) {
    Rows.emplace_back();
    int32_t row = static_cast<int32_t>(Rows.size());
    Cell(row, 1).Integer = number;
    Cell(row, 1).Text = std::to_string(number);
    View.push_back(row);
    return row;
  }
  FakeCell& Cell(int32_t row, int32_t field) { return Rows.at(row - 1)[field]; }
  void SetText(int32_t row, int32_t field, std::string text) { Cell(row, field).Text = text; }

  int32_t Count() override { return static_cast<int32_t>(View.size()); }
  void SelectViewRow(int32_t v) override {
    if (v >= 1 && v <= Count()) Current = View[v - 1];
  }
  void SelectPhysicalRow(int32_t row) override { Current = row; }
  void SetRecordIndex(int32_t v) override {
    if (View.empty()) return;
    RecordIndexValue = v < 1 ? 1 : v;
    Current = View[RecordIndexValue - 1];
  }
  int32_t AsInteger(int32_t f) override { return At(f) ? At(f)->Integer : 0; }
  std::string AsString(int32_t f) override { return At(f) ? At(f)->Text : std::string(); }
  float AsFloat(int32_t f) override { return At(f) ? At(f)->Float : 0; }
  double AsDateTime(int32_t f) override { return At(f) ? At(f)->DateTime : 0; }
  uint32_t AsCardinal(int32_t f) override { return At(f) ? At(f)->Cardinal : 0; }
  Bytes AsBytes(int32_t f) override { return At(f) ? At(f)->Raw : Bytes(); }
  std::string AsStringByName(std::string_view name) override {
    auto it = FieldNames.find(std::string(name));
    return it == FieldNames.end() ? std::string() : AsString(it->second);
  }

 private:
  FakeCell* At(int32_t f) {
    if (Current < 1 || Current > static_cast<int32_t>(Rows.size())) return nullptr;
    auto& row = Rows[Current - 1];
    auto it = row.find(f);
    return it == row.end() ? nullptr : &it->second;
  }
};

class FakeContext : public WebContext {
 public:
  WebSettings Config;
  WebCounters Figures;
  ManualClock Time;
  TFQueueC Bg;
  FakeTable Objects, Persons, Pictures;
  int32_t MinObjectRecord = 0;
  PerObjectLists ObjectPersons, ObjectPictures;

  // Recorded calls; guarded by record_mutex.
  std::mutex RecordMutex;
  std::vector<std::string> DailyLog;
  std::vector<std::string> StatusLines;
  std::vector<std::string> OutQueue;
  int32_t Polls = 0;
  std::string AwaitedFile;
  std::atomic<bool> Arrived{false};
  std::atomic<bool> LockHeld{false};
  bool DailyLogWithoutLock = false;
  // Called after a command was queued (outside any lock).
  std::function<void(const std::string&)> OnPush;

  FakeContext() { Bg.Name = "bg"; }

  const WebSettings& Settings() const override { return Config; }
  WebCounters& Counters() override { return Figures; }
  const Clock& GetClock() const override { return Time; }
  void LockController() override {
    mutex_.lock();
    LockHeld = true;
  }
  void UnlockController() override {
    LockHeld = false;
    mutex_.unlock();
  }
  TFQueueC& BgQueue() override { return Bg; }
  WebTableSet Tables() override {
    return {&Objects, &Persons, &Pictures, MinObjectRecord, &ObjectPersons, &ObjectPictures};
  }
  void WriteDailyLog(std::string_view text) override {
    std::lock_guard lk(RecordMutex);
    if (!LockHeld) DailyLogWithoutLock = true;
    DailyLog.emplace_back(text);
  }
  bool PushOutQueue(std::string_view command) override {
    {
      std::lock_guard lk(RecordMutex);
      OutQueue.emplace_back(command);
    }
    if (OnPush) OnPush(std::string(command));
    return true;
  }
  void PollNow() override {
    std::lock_guard lk(RecordMutex);
    ++Polls;
  }
  void SetAwaitedFile(const std::string& name) override {
    std::lock_guard lk(RecordMutex);
    AwaitedFile = name;
    Arrived = false;
  }
  bool FileArrived() override { return Arrived; }
  void AddStatusLine(std::string_view text) override {
    std::lock_guard lk(RecordMutex);
    StatusLines.emplace_back(text);
  }

  std::vector<std::string> Commands() {
    std::lock_guard lk(RecordMutex);
    return OutQueue;
  }
  std::vector<std::string> Log() {
    std::lock_guard lk(RecordMutex);
    return DailyLog;
  }

 private:
  std::mutex mutex_;
};

}  // namespace ab::test
