#include "e2e_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "link/udp_socket.h"
#include "util/json.h"

namespace ab::e2e {

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

uint16_t FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    throw std::runtime_error("bind");
  }
  close(fd);
  return ntohs(a.sin_port);
}

// ---- texts ----------------------------------------------------------------------------------

std::string Utf8ToCp1251(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) {
      n = 4;
    } else if (c >= 0xE0) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      n = 3;
    } else if (c >= 0xC0) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      n = 2;
    }
    i += n;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp >= 0x410 && cp <= 0x44F) {
      out += static_cast<char>(0xC0 + (cp - 0x410));
    } else if (cp == 0x401) {
      out += '\xA8';
    } else if (cp == 0x451) {
      out += '\xB8';
    } else if (cp == 0x2116) {
      out += '\xB9';
    } else {
      throw std::runtime_error("letter outside the test code page");
    }
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view s) {
  std::string out;
  auto put = [&](uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      put(c);
    } else if (c >= 0xC0) {
      put(0x410 + (c - 0xC0));
    } else if (c == 0xA8) {
      put(0x401);
    } else if (c == 0xB8) {
      put(0x451);
    } else if (c == 0xB9) {
      put(0x2116);
    } else {
      throw std::runtime_error("byte outside the test code page");
    }
  }
  return out;
}

std::string Base64(std::string_view in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(in[i]) << 16) | (static_cast<uint8_t>(in[i + 1]) << 8) |
                       static_cast<uint8_t>(in[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += k[(v >> s) & 63];
  }
  if (i + 1 == in.size()) {
    const uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    out += k[(v >> 18) & 63];
    out += k[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const uint32_t v = (static_cast<uint8_t>(in[i]) << 16) | (static_cast<uint8_t>(in[i + 1]) << 8);
    out += k[(v >> 18) & 63];
    out += k[(v >> 12) & 63];
    out += k[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string JsonEsc(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\' || c == '/') out += '\\';
    out += c;
  }
  return out;
}

std::string XmlEsc(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      default: out += c;
    }
  }
  return out;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// ---- the process ----------------------------------------------------------------------------

Process::Process(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  // Everything the child needs is prepared before the fork: between fork and exec only
  // async-signal-safe calls, since the test's other threads may hold the allocator's locks.
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string where = dir.string();
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    if (chdir(where.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

bool Process::ReadSome(std::chrono::milliseconds limit) {
  if (eof_) {
    std::this_thread::sleep_for(std::min(limit, std::chrono::milliseconds(20)));
    return false;
  }
  pollfd p{out_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return true;
  char buf[4096];
  const ssize_t n = read(out_, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) {
    eof_ = true;
    // Say in the text how it ended, for the failure messages that print it.
    for (int i = 0; i < 200 && !reaped_; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        text_ += "\n[process ended with status " + std::to_string(exit_status_) + "]\n";
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    return false;
  }
  text_.append(buf, static_cast<size_t>(n));
  return true;
}

void Process::Drain() {
  while (!eof_) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return;
    ReadSome(0ms);
  }
}

int Process::Stop(int sig, std::chrono::seconds limit) {
  if (reaped_) return exit_status_;
  kill(pid_, sig);
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      Drain();
      return exit_status_;
    }
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

// ---- HTTP -----------------------------------------------------------------------------------

std::string HttpReply::Header(const std::string& name) const {
  for (const auto& [k, v] : Headers)
    if (boost::beast::iequals(k, name)) return v;
  return "";
}

HttpReply Http(uint16_t port, const std::string& method, const std::string& target,
               const std::string& body, const std::map<std::string, std::string>& headers,
               std::chrono::milliseconds limit) {
  namespace asio = boost::asio;
  namespace http = boost::beast::http;
  HttpReply reply;
  asio::io_context ioc;
  asio::ip::tcp::socket socket(ioc);
  boost::system::error_code ec;
  socket.connect({asio::ip::make_address_v4("127.0.0.1"), port}, ec);
  if (ec) return reply;
  reply.Connected = true;
  http::request<http::string_body> req;
  req.method_string(method);
  req.target(target);
  req.version(11);
  req.set(http::field::host, "bridge:" + std::to_string(port));
  for (const auto& [k, v] : headers) req.set(k, v);
  req.body() = body;
  if (!body.empty() || method == "POST") req.prepare_payload();
  http::write(socket, req, ec);
  if (ec) return reply;

  boost::beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  if (method == "HEAD") parser.skip(true);
  bool done = false;
  http::async_read(socket, buffer, parser, [&](boost::system::error_code e, size_t) {
    done = true;
    ec = e;
  });
  ioc.run_for(limit);
  if (!done) {
    socket.close(ec);
    ioc.run();
    return reply;
  }
  if (ec) return reply;
  reply.Answered = true;
  auto& res = parser.get();
  reply.Status = static_cast<int>(res.result_int());
  for (const auto& f : res) reply.Headers[std::string(f.name_string())] = std::string(f.value());
  reply.Body = res.body();
  return reply;
}

// ---- the data set ---------------------------------------------------------------------------

DataSet SampleData() {
  auto cp = Utf8ToCp1251;
  DataSet d;
  d.Pictures = {{401, 101, "plan1.bmp", cp("Этаж 1")},
                {402, 101, "plan2.bmp", ""},
                {403, 104, "p3.bmp", "yard"},
                {404, 999, "far.bmp", "no such object"}};
  d.Persons = {{201, cp("Иванов Иван"), cp("директор"), "111-11-11", "", "+79001112233"},
               {202, "", "", "", "222-22-22", ""},
               {203, cp("Пётр \"Охрана\""), "", "", "", "+79004445566"}};
  d.Links = {{301, 101, 201}, {302, 101, 203}, {303, 104, 202},
             {304, 104, 202}, {305, 999, 201}, {306, 101, 250}};
  ObjectRow a;
  a.Number = 101;
  a.Changed = 789012345;
  a.Name = cp("Школа №5 \"Север\"/A");
  a.Street = cp("ул. Ленина");
  a.Building = cp("корп. 2");
  a.House = cp("д. 7");
  a.Phone = "+7 495 000-11-22";
  a.Type = cp("школа");
  a.Lon = 37.617298f;
  a.Lat = 55.755825f;
  a.State = 3;
  a.StateTime = 86400;
  a.Updated = 123456;
  a.SensorId = "S-1";
  a.SensorPlace = cp("вход <главный>");
  a.NumberText = "0101";
  a.TypeO = "12";
  ObjectRow b;
  b.Number = 102;
  b.Inactive = true;
  b.Changed = 100;
  b.Name = "Store & Co";
  b.Lat = 48.5f;
  b.State = -1;
  b.NumberText = "0102";
  b.TypeO = "3";
  ObjectRow c;
  c.Number = 103;
  c.Selected = false;
  c.Name = "hidden";
  c.NumberText = "0103";
  ObjectRow e;
  e.Number = 104;
  e.Changed = 4000000000u;
  e.Name = cp("Ёлка");
  e.Street = "Park";
  e.Lon = -0.5f;
  e.Lat = 1e-7f;
  e.State = 0;
  e.StateTime = 4000000000u;
  e.Updated = 7;
  e.NumberText = "0104";
  e.TypeO = "7";
  d.Objects = {a, b, c, e};
  return d;
}

namespace {

FieldData Field(const std::string& name, uint8_t type, int32_t width = 0) {
  FieldData f;
  f.Name = name;
  f.Type = type;
  f.Width = width;
  return f;
}

FieldData Filler(int k) {
  FieldData f = Field("f" + std::to_string(k), 3);
  f.Block = false;
  return f;
}

FieldData TextField(const std::string& name) { return Field(name, 2, kTextSlot); }

// n_abs and p_d, then fillers up to field 6.
std::vector<FieldData> Head(const std::vector<int64_t>& numbers) {
  FieldData n = Field("n_abs", 1);
  n.Numbers = numbers;
  FieldData pd = Field("p_d", 3);
  pd.Numbers.assign(numbers.size(), 0);
  std::vector<FieldData> out = {n, pd};
  for (int k = 3; k <= 6; ++k) out.push_back(Filler(k));
  return out;
}

template <typename Row>
std::vector<int64_t> Numbers(const std::vector<Row>& rows) {
  std::vector<int64_t> out;
  for (const auto& r : rows) out.push_back(r.Number);
  return out;
}

}  // namespace

std::vector<TableData> BuildTables(const DataSet& d) {
  std::vector<TableData> out;
  {
    TableData t{"mesmaps", static_cast<int32_t>(d.Pictures.size()), Head(Numbers(d.Pictures))};
    FieldData obj = Field("obj", 1), file = TextField("file"), text = TextField("text");
    for (const auto& p : d.Pictures) {
      obj.Numbers.push_back(p.Object);
      file.Texts.emplace_back(p.File);
      text.Texts.emplace_back(p.Caption);
    }
    t.Fields.insert(t.Fields.end(), {obj, file, text});
    out.push_back(std::move(t));
  }
  {
    TableData t{"otvl", static_cast<int32_t>(d.Persons.size()), Head(Numbers(d.Persons))};
    FieldData fio = TextField("fio"), pos = TextField("pos"), home = TextField("home"),
              work = TextField("work"), mob = TextField("mob");
    for (const auto& p : d.Persons) {
      fio.Texts.emplace_back(p.FullName);
      pos.Texts.emplace_back(p.Position);
      home.Texts.emplace_back(p.Home);
      work.Texts.emplace_back(p.Work);
      mob.Texts.emplace_back(p.Mobile);
    }
    t.Fields.insert(t.Fields.end(), {fio, pos, home, work, mob});
    out.push_back(std::move(t));
  }
  {
    TableData t{"otvls", static_cast<int32_t>(d.Links.size()), Head(Numbers(d.Links))};
    FieldData obj = Field("obj", 1), pers = Field("pers", 1);
    for (const auto& l : d.Links) {
      obj.Numbers.push_back(l.Object);
      pers.Numbers.push_back(l.Person);
    }
    t.Fields.insert(t.Fields.end(), {obj, pers});
    out.push_back(std::move(t));
  }
  {
    TableData t{"object", static_cast<int32_t>(d.Objects.size()), Head(Numbers(d.Objects))};
    t.Fields[4] = TextField("number");
    t.Fields[5] = TextField("typeo");
    for (int k = 7; k <= 210; ++k) t.Fields.push_back(Filler(k));
    auto at = [&](int k) -> FieldData& { return t.Fields[static_cast<size_t>(k - 1)]; };
    at(4) = Field("changed", 8);
    for (int k : {9, 10, 12, 13, 21, 209, 210}) at(k) = TextField("t" + std::to_string(k));
    at(8) = TextField("name");
    at(25) = Field("lon", 6);
    at(26) = Field("lat", 6);
    at(29) = Field("state", 11, 2);
    at(139) = Field("flags", 11, 1);
    at(206) = Field("cur", 1);
    at(207) = Field("curtime", 8);
    at(208) = Field("upd", 8);
    for (const auto& o : d.Objects) {
      at(5).Texts.emplace_back(o.NumberText);
      at(6).Texts.emplace_back(o.TypeO);
      at(4).Numbers.push_back(o.Changed);
      at(8).Texts.emplace_back(o.Name);
      at(9).Texts.emplace_back(o.Street);
      at(10).Texts.emplace_back(o.Building);
      at(12).Texts.emplace_back(o.House);
      at(13).Texts.emplace_back(o.Phone);
      at(21).Texts.emplace_back(o.Type);
      at(209).Texts.emplace_back(o.SensorId);
      at(210).Texts.emplace_back(o.SensorPlace);
      at(25).Reals.push_back(o.Lon);
      at(26).Reals.push_back(o.Lat);
      at(29).Texts.emplace_back(std::string(1, '\x01') + (o.Inactive ? '\x41' : '\x01'));
      at(139).Texts.emplace_back(std::string(1, o.Selected ? '\x25' : '\x05'));
      at(206).Numbers.push_back(o.State);
      at(207).Numbers.push_back(o.StateTime);
      at(208).Numbers.push_back(o.Updated);
    }
    out.push_back(std::move(t));
  }
  return out;
}

std::string ObjectTextChange(const DataSet& d, size_t row, const std::string& field,
                             const std::string& text) {
  const Bytes b = BuildRowChange("object", static_cast<int32_t>(row),
                                 static_cast<int32_t>(d.Objects.size()),
                                 {{field, SlotValue(text, kTextSlot)}});
  return Le32(2) + std::string(b.begin(), b.end());
}

std::string Deletion(const std::string& table, int32_t number) {
  std::string slot(9, '\0');
  slot[0] = static_cast<char>(table.size());
  slot.replace(1, table.size(), table);
  return Le32(3) + slot + Le32(number);
}

// ---- expected answers -----------------------------------------------------------------------

namespace {

std::string Coordinate(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%3.6f", static_cast<double>(v));
  std::string s = buf;
  for (char& c : s)
    if (c == ',') c = '.';
  return s;
}

// A JSON string of a table text, or null when it is empty.
std::string TextOrNull(const std::string& cp) {
  return cp.empty() ? "null" : "\"" + JsonEsc(Cp1251ToUtf8(cp)) + "\"";
}
std::string Text(const std::string& cp) { return "\"" + JsonEsc(Cp1251ToUtf8(cp)) + "\""; }

const PersonRow* FindPerson(const DataSet& d, int32_t number) {
  for (const auto& p : d.Persons)
    if (p.Number == number) return &p;
  return nullptr;
}

// Persons of an object: its links in table order whose person exists.
std::vector<const PersonRow*> PersonsOf(const DataSet& d, int32_t object) {
  std::vector<const PersonRow*> out;
  for (const auto& l : d.Links) {
    if (l.Object != object || l.Person < 1) continue;
    if (const PersonRow* p = FindPerson(d, l.Person)) out.push_back(p);
  }
  return out;
}

const ObjectRow* FindSelected(const DataSet& d, int32_t id) {
  for (const auto& o : d.Objects)
    if (o.Number == id && o.Selected) return &o;
  return nullptr;
}

std::string Status(const ObjectRow& o) { return std::to_string(static_cast<int64_t>(o.State) + 1); }
std::string Ms(uint32_t seconds) { return std::to_string(static_cast<uint64_t>(seconds) * 1000); }

}  // namespace

std::string ExpectedObjects(const DataSet& d, const std::string& public_address) {
  std::string out = "[";
  bool first = true;
  for (const auto& o : d.Objects) {
    if (!o.Selected) continue;
    if (!first) out += ',';
    first = false;
    const int64_t unix_seconds =
        std::max<int64_t>(0, static_cast<int64_t>(o.Changed) + 946684800 - 8 * 3600);
    out += "{\"passport\":{\"object_id\":\"" + std::to_string(o.Number) + "\"";
    out += ",\"update_date\":" + std::to_string(unix_seconds);
    out += std::string(",\"object_state\":\"") + (o.Inactive ? "NotActive" : "Active") + "\"";
    out += ",\"name\":" + Text(o.Name);
    out += ",\"area_code\":null,\"postcode\":null,\"fias\":null,\"kladr\":null";
    out += ",\"addr\":" + Text(o.Street + " " + o.House);
    out += ",\"longitude\":" + (o.Lon == 0 ? std::string("null") : "\"" + Coordinate(o.Lon) + "\"");
    out += ",\"latitude\":" + (o.Lat == 0 ? std::string("null") : "\"" + Coordinate(o.Lat) + "\"");
    out += ",\"type\":" + TextOrNull(o.Type);
    out += ",\"phone\":" + TextOrNull(o.Phone);
    out += ",\"serviceorg\":null,\"serviceorg_phone\":null,\"tech_man\":null,\"operator\":null,"
           "\"manager\":null,\"keys\":null";
    out += ",\"pictures\":[";
    bool first_pic = true;
    for (const auto& p : d.Pictures) {
      if (p.Object != o.Number) continue;
      if (!first_pic) out += ',';
      first_pic = false;
      const std::string id = std::to_string(p.Number);
      out += "{\"pic_id\":\"" + id + "\",\"url\":\"http://" + public_address +
             "/GetPicture&n=" + id + "\",\"text\":" + TextOrNull(p.Caption) + "}";
    }
    out += "],\"resp_persons\":[";
    bool first_person = true;
    for (const PersonRow* p : PersonsOf(d, o.Number)) {
      if (!first_person) out += ',';
      first_person = false;
      out += "{\"pers_id\":\"" + std::to_string(p->Number) + "\"";
      if (!p->FullName.empty()) out += ",\"fullname\":" + Text(p->FullName);
      out += ",\"home_phone\":" + TextOrNull(p->Home);
      out += ",\"work_phone\":" + TextOrNull(p->Work);
      out += ",\"mobile_phone\":" + TextOrNull(p->Mobile);
      out += ",\"position\":" + TextOrNull(p->Position) + "}";
    }
    out += "]}}";
  }
  return out + "]";
}

std::string SoapEnvelope(const std::string& answer) {
  return std::string(
             "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
             "xmlns:ns=\"") +
         kSpiNamespace + "\"><soapenv:Header/><soapenv:Body>" + answer +
         "</soapenv:Body></soapenv:Envelope>";
}

std::string ExpectedSpiList(const DataSet& d) {
  std::string out = "<ns:GetObjectsRes>";
  for (const auto& o : d.Objects)
    if (o.Selected)
      out += "<Obj id=\"" + std::to_string(o.Number) + "\" tsLastUpdate=\"" + Ms(o.Updated) +
             "\"/>";
  return Cp1251ToUtf8(SoapEnvelope(out + "</ns:GetObjectsRes>"));
}

std::string ExpectedSpiDescriptions(const DataSet& d, const std::vector<int32_t>& ids,
                                    const Company& company) {
  std::string out = "<ns:GetObjectsRes>";
  for (int32_t id : ids) {
    const ObjectRow* o = FindSelected(d, id);
    if (o == nullptr) continue;
    out += "<ObjDesc id=\"" + std::to_string(id) + "\" name=\"" + XmlEsc(o->Name) +
           "\" type=\"" + XmlEsc(o->Type) + "\" address=\"" +
           XmlEsc(o->Street + " " + o->Building + " " + o->House) + "\" lat=\"" +
           Coordinate(o->Lat) + "\" lon=\"" + Coordinate(o->Lon) + "\">";
    for (const PersonRow* p : PersonsOf(d, id))
      out += "<Contacts fio=\"" + XmlEsc(p->FullName) + "\" phone=\"" + XmlEsc(p->Mobile) +
             "\" addInfo=\"" + XmlEsc(p->Position) + "\"/>";
    out += "<Maintainer name=\"" + XmlEsc(company.Name) + "\" phone=\"" + XmlEsc(company.Phone) +
           "\" address=\"" + XmlEsc(company.Address) + "\"/></ObjDesc>";
  }
  return Cp1251ToUtf8(SoapEnvelope(out + "</ns:GetObjectsRes>"));
}

std::string ExpectedSpiStates(const DataSet& d, const std::vector<int32_t>& ids) {
  std::string out = std::string("<ns:GetCurrentStateRes xmlns:ns=\"") + kSpiNamespace + "\">";
  for (int32_t id : ids) {
    const ObjectRow* o = FindSelected(d, id);
    if (o == nullptr) continue;
    const std::string s = Status(*o), ts = Ms(o->StateTime);
    out += "<ObjState id=\"" + std::to_string(id) + "\"><Status code=\"" + s + "\" ts=\"" + ts +
           "\"/><Sensor id=\"" + XmlEsc(o->SensorId) + "\" location=\"" + XmlEsc(o->SensorPlace) +
           "\"><Code id=\"" + s + "\" ts=\"" + ts + "\"/></Sensor></ObjState>";
  }
  return Cp1251ToUtf8(SoapEnvelope(out + "</ns:GetCurrentStateRes>"));
}

std::string ExpectedSpiAck(const DataSet& d, int32_t id) {
  for (const auto& o : d.Objects) {
    if (o.Number != id) continue;
    return Cp1251ToUtf8(SoapEnvelope(std::string("<ns:SendAckRes xmlns:ns=\"") + kSpiNamespace +
                                     "\"><ObjState id=\"" + std::to_string(id) +
                                     "\"><Status code=\"" + Status(o) + "\" ts=\"" +
                                     Ms(o.StateTime) + "\"/></ObjState></ns:SendAckRes>"));
  }
  return "";
}

std::string ExpectedAckCommand(const DataSet& d, int32_t id, const std::string& user) {
  for (const auto& o : d.Objects) {
    if (o.Number != id) continue;
    const std::string message = "{\"ty\":\"7F01\",\"so\":{\"sy:by\":\"" + o.TypeO +
                                "\",\"nu:in\":\"" + o.NumberText +
                                "\",\"co:st,4\":\"0077\",\"cl:wo\":\"32\",\"na:st\":\"" +
                                JsonEsc(o.Name) + "\",\"de:st\":\"" +
                                Utf8ToCp1251("Отправлен наряд в МЧС") + "\",\"us:st\":\"" +
                                JsonEsc(user) + "\"}}";
    return "{\"$c$\":\"netwritesoobe\",\"command\":\"netwritesoobe\",\"data\":[" + message + "]}";
  }
  return "";
}

// ---- the bridge -----------------------------------------------------------------------------

Bridge::Bridge(DataSet data, BridgeConfig config)
    : data_(std::move(data)), config_(std::move(config)) {
  auto socket = OpenUdpSocket("127.0.0.1", 0);
  if (socket == nullptr) throw std::runtime_error("no UDP socket for the double");
  server_ = std::make_unique<MsgServer>(std::move(socket), SystemClock::Instance());
  server_->SetTables(BuildTables(data_), /*compressed=*/true);
  server_->Start();
  http_port_ = FreeTcpPort();
  std::ofstream ini(dir_.path() / "setup.ini");
  ini << "[ServerHost]\nAddress=127.0.0.1\nPort=" << server_->LocalEndpoint().Port << "\n"
      << "[main]\nIP=" << config_.PublicIp << "\nPort=" << http_port_
      << "\nUserName=" << config_.UserName << "\nPassword=" << config_.Password
      << "\ncompanyName=" << config_.Maintainer.Name
      << "\ncompanyPhone=" << config_.Maintainer.Phone
      << "\ncompanyAddress=" << config_.Maintainer.Address << "\nBGOn=" << config_.BgOn
      << "\nMESOn=" << config_.MesOn << "\n";
}

Bridge::~Bridge() {
  process_.reset();
  server_->Stop();
}

void Bridge::Launch() {
  process_.reset();
  process_ = std::make_unique<Process>(dir_.path(), std::vector<std::string>{AB_BINARY,
                                                                            "--headless"});
}

bool Bridge::WaitReady(std::chrono::milliseconds limit, size_t from) {
  const auto end = Clock::now() + limit;
  const bool lines = process_->ReadUntil(
      [&](const std::string& t) {
        if (t.size() < from) return false;
        const std::string fresh = t.substr(from);
        const size_t connected = fresh.find("Соединение установлено");
        return connected != std::string::npos &&
               Occurrences(fresh.substr(connected), "Загружена таблица") >= 4;
      },
      limit);
  if (!lines) return false;
  return WaitFor([&] { return HttpAnswers(); },
                 std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()), 50ms);
}

bool Bridge::HttpAnswers() { return Http(http_port_, "GET", "/ready", "", {}, 5s).Answered; }
bool Bridge::HttpRefused() { return !Http(http_port_, "GET", "/ready", "", {}, 5s).Connected; }

HttpReply Bridge::Get(const std::string& target, const std::string& body,
                      std::chrono::milliseconds limit) {
  return Http(http_port_, "GET", target, body, {}, limit);
}

HttpReply Bridge::Spi(const std::string& body, const std::string& user,
                      const std::string& password) {
  return Http(http_port_, "POST", "/spi", body,
              {{"Authorization", "Basic " + Base64(user + ":" + password)},
               {"Content-Type", "text/xml; charset=utf-8"}});
}

std::string Bridge::PublicAddress() const {
  return config_.PublicIp + ":" + std::to_string(http_port_);
}

std::string Bridge::DiagnosticLog() const {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path() / "logs", ec))
    if (e.path().filename().string().rfind("udpc_", 0) == 0) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::string out;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    out.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

std::vector<int> Bridge::DisconnectionCodes() const {
  const std::string log = DiagnosticLog();
  const std::string mark = "disconnected, code ";
  std::vector<int> out;
  for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1))
    out.push_back(std::atoi(log.c_str() + at + mark.size()));
  return out;
}

std::vector<std::string> Bridge::Received(const std::string& name) {
  std::vector<std::string> out;
  for (const auto& m : server_->Messages())
    if (JsonGetValue(m.Text, "$c$") == name) out.push_back(m.Text);
  return out;
}

std::vector<std::string> Bridge::MapRequests() {
  std::vector<std::string> out;
  for (const auto& m : Received("getfile"))
    if (JsonGetValue(m, "nameinserv").rfind("maps\\", 0) == 0) out.push_back(m);
  return out;
}

int EventConsumer::Poll(Bridge& bridge, std::chrono::milliseconds limit) {
  ++Polls;
  const std::string body = ByDate ? "{\"events_date\":" + std::to_string(LastDate) + "}"
                                  : "{\"inc_counter\":" + std::to_string(Last) + "}";
  const HttpReply r = bridge.Get("/GetEvents", body, limit);
  if (!r.Answered || r.Status != 200 || r.Body.size() < 2 || r.Body.front() != '[' ||
      r.Body.back() != ']') {
    ++Unanswered;
    return -1;
  }
  std::string rest = r.Body.substr(1, r.Body.size() - 2);
  std::string answer = body + " ->";
  int n = 0;
  for (std::string e = JsonNextElement(rest); !e.empty(); e = JsonNextElement(rest)) {
    const int64_t counter = std::stoll(JsonGetValue(e, "inc_counter"));
    Counters.push_back(counter);
    Entries.push_back(e);
    Last = counter;
    LastDate = std::stoll(JsonGetValue(e, "event_date"));
    answer += " " + std::to_string(counter);
    ++n;
  }
  if (n > 0) Answers.push_back(answer);
  return n;
}

}  // namespace ab::e2e
