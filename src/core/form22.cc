#include "core/form22.h"

#include "core/link_adapter.h"
#include "web/base_client_table.h"
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

// Table readers for the HTTP resources; positions are shared, so only used under Lock. The
// tables are registered before this is made and live until shutdown.
class TForm22::TableViews {
 public:
  explicit TableViews(ControllerTables& t) AB_NO_THREAD_SAFETY_ANALYSIS
      : objects_table_(*t.Tables[static_cast<size_t>(t.ObjectTableIndex)]),
        persons_table_(*t.Tables[static_cast<size_t>(t.PersonTableIndex)]),
        links_table_(*t.Tables[static_cast<size_t>(t.PersonLinkTableIndex)]),
        pictures_table_(*t.Tables[static_cast<size_t>(t.MapTableIndex)]),
        objects_(objects_table_),
        persons_(persons_table_),
        pictures_(pictures_table_) {}

  WebTableSet Set(ControllerTables& t) AB_REQUIRES(t.Lock) {
    return WebTableSet{&objects_, &persons_, &pictures_, t.MinObjectRecord, &t.ObjectPersons,
                       &t.ObjectPictures};
  }

  std::optional<SourceKey> Key(ControllerTables& t) AB_REQUIRES(t.Lock) {
    // Views read by view row must hold exactly Count rows, or a read may fall outside them.
    if (!Settled(objects_table_) || !Settled(pictures_table_)) return std::nullopt;
    return SourceKey{objects_table_.ChangeCount(), persons_table_.ChangeCount(),
                     links_table_.ChangeCount(), pictures_table_.ChangeCount(), t.ListsVersion};
  }

 private:
  static bool Settled(const TBaseClient& table) {
    return table.Count() >= 0 && static_cast<size_t>(table.Count()) == table.View().size();
  }

  TBaseClient& objects_table_;
  TBaseClient& persons_table_;
  TBaseClient& links_table_;
  TBaseClient& pictures_table_;
  BaseClientTable objects_;
  BaseClientTable persons_;
  BaseClientTable pictures_;
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
  sync_ = std::make_unique<LinkSync>(
      *link_, &tables_.Tables, tables_.Lock.Native(),
      [this](const std::string& table) { tables_.TableRefreshed(table); });
  sync_->OnLinkChanged = [this] { web_->NotifyLinkChanged(); };
  link_->Sync = sync_.get();
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
  sync_.reset();
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

std::optional<SourceKey> TForm22::TablesKey() AB_NO_THREAD_SAFETY_ANALYSIS {
  return views_->Key(tables_);
}

void TForm22::WriteDailyLog(std::string_view text) { daily_log_.WriteDailyLog(text); }

bool TForm22::PushOutQueue(std::string_view command) {
  return link_ && link_->OutQueue.Push(command);
}

void TForm22::PollNow() {
  if (link_) link_->RequestKeepalive();
}

void TForm22::SetAwaitedFile(const std::string& name) {
  if (!sync_) return;
  sync_->SetAwaitedFile(name);
  sync_->FileArrived = false;
}

bool TForm22::FileArrived() { return sync_ && sync_->FileArrived.load(); }

void TForm22::AddStatusLine(std::string_view text) {
  display_.PostStatusLine(std::string(text));
}

}  // namespace ab
