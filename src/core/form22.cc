#include "core/form22.h"

#include "core/link_adapter.h"
#include "core/web_table_adapter.h"
#include "link/udp_socket.h"
#include "util/codepage.h"

namespace ab {

// The HTTP server as the status tick drives it.
class TForm22::HttpPort final : public HttpServerPort {
 public:
  HttpPort(WebApi& api, uint16_t port) : api_(api), port_(port) {}
  bool Start() override { return api_.Start(port_); }
  void Stop() override { api_.Stop(); }
  bool IsRunning() const override { return api_.Running(); }

 private:
  WebApi& api_;
  uint16_t port_;
};

// Table readers for the HTTP resources; positions are shared, so only used under Lock.
class TForm22::TableViews {
 public:
  explicit TableViews(ControllerTables& t)
      : objects_(Pick(t, t.ObjectTableIndex)),
        persons_(Pick(t, t.PersonTableIndex)),
        pictures_(Pick(t, t.MapTableIndex)) {}

  WebTableSet Set(ControllerTables& t) AB_REQUIRES(t.Lock) {
    return WebTableSet{&objects_, &persons_, &pictures_, t.MinObjectRecord, &t.ObjectPersons,
                       &t.ObjectPictures};
  }

 private:
  static TBaseClient* Pick(ControllerTables& t, int32_t index) AB_NO_THREAD_SAFETY_ANALYSIS {
    // Called at start-up, before any other thread exists.
    if (index < 0 || index >= static_cast<int32_t>(t.Tables.size())) return nullptr;
    return t.Tables[static_cast<size_t>(index)].get();
  }

  WebTableAdapter objects_;
  WebTableAdapter persons_;
  WebTableAdapter pictures_;
};

TForm22::TForm22(Form22Options options)
    : options_(std::move(options)),
      clock_(*options_.clock),
      tables_(options_.WorkDir),
      display_(clock_),
      daily_log_(options_.WorkDir, clock_) {}

TForm22::~TForm22() { FormClose(); }

void TForm22::FormCreate() {
  if (created_) return;
  created_ = true;
  // The tick counter runs at a known rate (nanoseconds); no calibration sleep is needed.
  std::vector<std::string> messages;
  settings_ = LoadSettings(options_.WorkDir / "setup.ini", messages);
  for (const auto& m : messages) display_.AddStatusLine(m);

  web_settings_.PublicAddress = settings_.PublicAddress();
  web_settings_.CompanyName = settings_.CompanyName;
  web_settings_.CompanyPhone = settings_.CompanyPhone;
  web_settings_.CompanyAddress = settings_.CompanyAddress;
  web_settings_.HttpUserName = settings_.HttpUserName;
  web_settings_.HttpPassword = settings_.HttpPassword;
  web_settings_.WorkDir = options_.WorkDir;

  tables_.RegisterTables();
  views_ = std::make_unique<TableViews>(tables_);
  AddQueue(queues_, "bg");
  counters_.BgRequests = 0;
  counters_.MesRequests = 0;

  std::unique_ptr<DatagramSocket> socket =
      options_.OpenSocket ? options_.OpenSocket() : OpenUdpSocket();
  link_ = std::make_unique<client_udp>(kClientTypeId,
                                       static_cast<uint16_t>(settings_.ServerPort & 0xFFFF),
                                       settings_.ServerAddress, std::move(socket), clock_,
                                       tables_.Lock.Native(), options_.WorkDir,
                                       options_.StartThreads);
  link_->UserName = kProgramName;
  link_->Password = Cp1251ToUtf8(settings_.Pud);
  link_->Version = options_.Version;
  link_->Queues = &queues_;
  link_port_ = std::make_unique<ClientLinkPort>(*link_);

  web_ = std::make_unique<WebApi>(*this);
  http_port_ = std::make_unique<HttpPort>(*web_, static_cast<uint16_t>(settings_.HttpPort));
  ticker_ = std::make_unique<StatusTicker>(*link_port_, *http_port_, display_, counters_,
                                           tables_.Lock.Native(), *queues_[0], clock_,
                                           settings_.BGOn, settings_.MESOn);

  link_->SetEnabled(true);
  if (options_.StartThreads) link_->Start();
}

void TForm22::FormClose() {
  if (!created_ || closed_) return;
  closed_ = true;
  // The front end has stopped its timers already; from here no tick runs.
  ticker_.reset();
  if (web_) web_->Stop();
  if (link_) {
    link_->SetEnabled(false);
    link_->Stop();
  }
  http_port_.reset();
  web_.reset();
  link_port_.reset();
  link_.reset();
  views_.reset();
  {
    ControllerLockGuard guard(tables_.Lock);
    tables_.Tables.clear();
  }
  queues_.clear();
}

void TForm22::Timer2Timer() {
  if (ticker_) ticker_->Timer2Timer();
}

void TForm22::Timer3Timer() {
  if (ticker_) ticker_->Timer3Timer();
}

void TForm22::LockController() AB_NO_THREAD_SAFETY_ANALYSIS { tables_.Lock.lock(); }
void TForm22::UnlockController() AB_NO_THREAD_SAFETY_ANALYSIS { tables_.Lock.unlock(); }

TFQueueC& TForm22::BgQueue() { return *queues_[0]; }

WebTableSet TForm22::Tables() AB_NO_THREAD_SAFETY_ANALYSIS {
  // The web side holds Lock through LockController, which the analysis cannot follow.
  return views_->Set(tables_);
}

void TForm22::WriteDailyLog(std::string_view text) { daily_log_.WriteDailyLog(text); }

bool TForm22::PushOutQueue(std::string_view command) {
  return link_ && link_->OutQueue.Push(command);
}

void TForm22::PollNow() {
  if (link_) link_->RequestKeepalive();
}

void TForm22::SetAwaitedFile(const std::string& /*name*/) {}

bool TForm22::FileArrived() { return false; }

void TForm22::AddStatusLine(std::string_view text) {
  display_.PostStatusLine(std::string(text));
}

}  // namespace ab
