#pragma once
// The main controller: start-up, shutdown, the two status timers and what the HTTP resources
// read. GUI-free; the Qt window and the headless loop drive it and render its StatusDisplay.
//
// Threads: FormCreate, FormClose and the timers run on one thread (the GUI thread or the
// headless loop). The link thread calls TableRefreshed; HTTP connection threads use the
// WebContext side. Lock order: the picture-request lock, then Lock, then any queue lock.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/controller_tables.h"
#include "core/daily_log.h"
#include "core/link_port.h"
#include "core/settings.h"
#include "core/status_display.h"
#include "core/status_ticker.h"
#include "link/client_udp.h"
#include "link/datagram_socket.h"
#include "link/link_sync.h"
#include "util/clock.h"
#include "util/queue.h"
#include "web/objects_resource.h"
#include "web/web_api.h"
#include "web/web_context.h"

namespace ab {

// The program's client type sent at registration, and its name (title, registration user).
inline constexpr const char* kClientTypeId = "{5B7E2C94-3A1D-4F08-9C62-E1D0A4B7F315}";
inline constexpr const char* kProgramName = "alarm-bridge";

struct Form22Options {
  std::filesystem::path WorkDir;                // setup.ini and every file of the program
  const Clock* clock = &SystemClock::Instance();  // must outlive the controller
  // Makes the link's socket; the default opens UDP on 0.0.0.0 port 0. Null result: the link is
  // created but not usable.
  std::function<std::unique_ptr<DatagramSocket>()> OpenSocket;
  bool StartThreads = true;  // false: tests step the link themselves
  std::string Version = "0.0.0.0";
};

class TForm22 final : public WebContext {
 public:
  explicit TForm22(Form22Options options);
  ~TForm22() override;
  TForm22(const TForm22&) = delete;
  TForm22& operator=(const TForm22&) = delete;

  void FormCreate();
  // Idempotent; also run by the destructor.
  void FormClose();
  void Timer2Timer();
  void Timer3Timer();

  StatusDisplay& Display() { return display_; }
  const ab::Settings& Config() const { return settings_; }
  client_udp* ServerLink() { return link_.get(); }
  ControllerTables& Controller() { return tables_; }
  TAQueue& Queues() { return queues_; }
  WebApi* Http() { return web_.get(); }
  const std::string& PublicAddress() const { return web_settings_.PublicAddress; }

  // WebContext
  const WebSettings& Settings() const override { return web_settings_; }
  WebCounters& Counters() override { return counters_; }
  const Clock& GetClock() const override { return clock_; }
  void LockController() override;
  void UnlockController() override;
  TFQueueC& BgQueue() override;
  WebTableSet Tables() override;
  void WriteDailyLog(std::string_view text) override;
  PassportCache* ObjectsCache() override { return &passport_cache_; }
  std::optional<SourceKey> TablesKey() override;
  bool PushOutQueue(std::string_view command) override;
  void PollNow() override;
  void SetAwaitedFile(const std::string& name) override;
  bool FileArrived() override;
  void AddStatusLine(std::string_view text) override;

 private:
  class HttpPort;
  class TableViews;

  Form22Options options_;
  const Clock& clock_;
  ab::Settings settings_;
  WebSettings web_settings_;
  ControllerTables tables_;
  TAQueue queues_;
  WebCounters counters_;
  StatusDisplay display_;
  DailyLog daily_log_;
  std::unique_ptr<client_udp> link_;
  std::unique_ptr<LinkSync> sync_;
  std::unique_ptr<LinkPort> link_port_;
  std::unique_ptr<WebApi> web_;
  std::unique_ptr<HttpPort> http_port_;
  std::unique_ptr<TableViews> views_;
  PassportCache passport_cache_;
  std::unique_ptr<StatusTicker> ticker_;
  bool created_ = false;
  bool closed_ = false;
};

}  // namespace ab
