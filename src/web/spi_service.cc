#include "web/spi_service.h"

#include <cstdint>

#include "util/codepage.h"
#include "util/json.h"
#include "web/request_text.h"

namespace ab {
namespace {

// "Отправлен наряд в МЧС" in Windows-1251.
constexpr char kAckText[] =
    "\xce\xf2\xef\xf0\xe0\xe2\xeb\xe5\xed \xed\xe0\xf0\xff\xe4 \xe2 \xcc\xd7\xd1";

std::string EnvelopeStart() {
  return std::string("<soapenv:Envelope xmlns:soapenv=\"") + kSoapEnvelopeNamespace +
         "\" xmlns:ns=\"" + kSpiTypesNamespace + "\"><soapenv:Header/><soapenv:Body>";
}

constexpr char kEnvelopeEnd[] = "</soapenv:Body></soapenv:Envelope>";

void Attr(std::string& out, std::string_view name, std::string_view raw_value) {
  out.push_back(' ');
  out += name;
  out += "=\"";
  out += raw_value;
  out.push_back('"');
}

void AttrText(std::string& out, std::string_view name, std::string_view text) {
  Attr(out, name, XmlEscape(text));
}

bool Selected(WebTable& o) {
  Bytes flags = o.AsBytes(139);
  return !flags.empty() && (flags[0] & 0x20) != 0;
}

// First view row of "object" with the number (and selected, when asked); 0 when none.
int32_t FindObject(WebTable& o, int32_t id, bool selected_only) {
  int32_t count = o.Count();
  for (int32_t i = 1; i <= count; ++i) {
    o.SelectViewRow(i);
    if (o.AsInteger(1) == id && (!selected_only || Selected(o))) return i;
  }
  return 0;
}

std::string StateCode(WebTable& o) {
  return std::to_string(static_cast<int64_t>(o.AsInteger(206)) + 1);
}

std::string Millis(WebTable& o, int32_t field) {
  return std::to_string(static_cast<uint64_t>(o.AsCardinal(field)) * 1000);
}

std::string ObjectsList(WebTable& o) {
  std::string out = "<ns:GetObjectsRes>";
  int32_t count = o.Count();
  for (int32_t i = 1; i <= count; ++i) {
    o.SelectViewRow(i);
    if (!Selected(o)) continue;
    out += "<Obj";
    Attr(out, "id", o.AsString(1));
    Attr(out, "tsLastUpdate", Millis(o, 208));
    out += "/>";
  }
  return out + "</ns:GetObjectsRes>";
}

std::string ObjectsDescription(const WebTableSet& t, const WebSettings& s,
                               const std::vector<int32_t>& ids) {
  std::string out = "<ns:GetObjectsRes>";
  WebTable& o = *t.Objects;
  for (int32_t id : ids) {
    int32_t row = FindObject(o, id, true);
    if (row == 0) continue;
    o.SelectViewRow(row);
    out += "<ObjDesc";
    Attr(out, "id", o.AsString(1));
    AttrText(out, "name", o.AsString(8));
    AttrText(out, "type", o.AsString(21));
    AttrText(out, "address", o.AsString(9) + " " + o.AsString(10) + " " + o.AsString(12));
    Attr(out, "lat", FormatCoordinate(o.AsFloat(26)));
    Attr(out, "lon", FormatCoordinate(o.AsFloat(25)));
    out.push_back('>');
    int64_t k = static_cast<int64_t>(o.AsInteger(1)) - t.MinObjectRecord;
    if (t.ObjectPersons && t.Persons && k >= 0 &&
        k < static_cast<int64_t>(t.ObjectPersons->size())) {
      for (int32_t r : (*t.ObjectPersons)[static_cast<size_t>(k)]) {
        t.Persons->SelectPhysicalRow(r);
        out += "<Contacts";
        AttrText(out, "fio", t.Persons->AsString(7));
        AttrText(out, "phone", t.Persons->AsString(11));
        AttrText(out, "addInfo", t.Persons->AsString(8));
        out += "/>";
      }
    }
    out += "<Maintainer";
    AttrText(out, "name", s.CompanyName);
    AttrText(out, "phone", s.CompanyPhone);
    AttrText(out, "address", s.CompanyAddress);
    out += "/></ObjDesc>";
  }
  return out + "</ns:GetObjectsRes>";
}

std::string CurrentStates(WebTable& o, const std::vector<int32_t>& ids) {
  std::string out = std::string("<ns:GetCurrentStateRes xmlns:ns=\"") + kSpiTypesNamespace + "\">";
  for (int32_t id : ids) {
    int32_t row = FindObject(o, id, true);
    if (row == 0) continue;
    o.SelectViewRow(row);
    std::string code = StateCode(o);
    std::string ts = Millis(o, 207);
    out += "<ObjState";
    Attr(out, "id", o.AsString(1));
    out += "><Status";
    Attr(out, "code", code);
    Attr(out, "ts", ts);
    out += "/><Sensor";
    AttrText(out, "id", o.AsString(209));
    AttrText(out, "location", o.AsString(210));
    out += "><Code";
    Attr(out, "id", code);
    Attr(out, "ts", ts);
    out += "/></Sensor></ObjState>";
  }
  return out + "</ns:GetCurrentStateRes>";
}

}  // namespace

std::vector<int32_t> ReadRequestIds(std::string_view body, std::string_view element) {
  std::vector<int32_t> ids;
  std::string open = "<ns:" + std::string(element) + ">";
  std::string close = "</ns:" + std::string(element) + ">";
  size_t start = body.find(open);
  if (start == std::string_view::npos) return ids;
  start += open.size();
  size_t end = body.find(close, start);
  if (end == std::string_view::npos) return ids;
  std::string_view text = body.substr(start, end - start);
  for (;;) {
    size_t q1 = text.find('"');
    if (q1 == std::string_view::npos) break;
    text.remove_prefix(q1 + 1);
    size_t q2 = text.find('"');
    ids.push_back(ParseInt32Or0(text.substr(0, q2)));
    if (q2 == std::string_view::npos) break;
    text.remove_prefix(q2 + 1);
  }
  return ids;
}

int32_t ReadAckId(std::string_view body) {
  size_t p = body.find("<ns:SendAckReq");
  if (p == std::string_view::npos) return 0;
  std::string_view text = body.substr(p);
  size_t q1 = text.find('"');
  if (q1 == std::string_view::npos) return 0;
  text.remove_prefix(q1 + 1);
  return ParseInt32Or0(text.substr(0, text.find('"')));
}

std::string AckMessage(WebTable& o, std::string_view user_name) {
  std::string m = "{\"ty\":\"7F01\",\"so\":{\"sy:by\":\"";
  m += o.AsStringByName("typeo");
  m += "\",\"nu:in\":\"";
  m += o.AsStringByName("number");
  m += "\",\"co:st,4\":\"0077\",\"cl:wo\":\"32\",\"na:st\":\"";
  m += JsonEscape(o.AsStringByName("name"));
  m += "\",\"de:st\":\"";
  m += kAckText;
  m += "\",\"us:st\":\"";
  m += JsonEscape(user_name);
  m += "\"}}";
  return m;
}

SpiResult AnswerSpi(const WebTableSet& t, const WebSettings& s, std::string_view body) {
  SpiResult r;
  if (!t.Objects) return r;
  WebTable& o = *t.Objects;
  std::string element;
  if (body.find("ns:SendAckReq") != std::string_view::npos) {
    int32_t id = ReadAckId(body);
    int32_t row = FindObject(o, id, false);
    if (row != 0) {
      o.SelectViewRow(row);
      r.Command = "{\"$c$\":\"netwritesoobe\",\"command\":\"netwritesoobe\",\"data\":[" +
                  AckMessage(o, s.HttpUserName) + "]}";
      o.SelectViewRow(row);
      element = std::string("<ns:SendAckRes xmlns:ns=\"") + kSpiTypesNamespace + "\"><ObjState";
      Attr(element, "id", std::to_string(id));
      element += "><Status";
      Attr(element, "code", StateCode(o));
      Attr(element, "ts", Millis(o, 207));
      element += "/></ObjState></ns:SendAckRes>";
    }
  } else if (body.find("ns:GetObjectsReq") != std::string_view::npos) {
    element = body.find("<Obj") == std::string_view::npos
                  ? ObjectsList(o)
                  : ObjectsDescription(t, s, ReadRequestIds(body, "GetObjectsReq"));
  }
  // Only a body left unanswered above is looked at again.
  if (element.empty() && body.find("GetCurrentStateReq") != std::string_view::npos) {
    element = CurrentStates(o, ReadRequestIds(body, "GetCurrentStateReq"));
  }
  if (!element.empty()) r.Answer = EnvelopeStart() + element + kEnvelopeEnd;
  return r;
}

std::string ServeSpi(WebContext& ctx, std::string_view body) {
  ControllerLock hold(ctx);
  SpiResult r = AnswerSpi(ctx.Tables(), ctx.Settings(), body);
  if (!r.Command.empty()) ctx.PushOutQueue(r.Command);
  if (r.Answer.empty()) return {};
  ctx.WriteDailyLog(">" + r.Answer);
  return Cp1251ToUtf8(r.Answer);
}

}  // namespace ab
