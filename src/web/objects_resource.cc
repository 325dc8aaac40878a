#include "web/objects_resource.h"

#include <cmath>

#include "util/codepage.h"
#include "util/json.h"
#include "web/request_text.h"

namespace ab {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 in days since 1899-12-30

void AppendText(std::string& out, std::string_view cp1251) {
  out += EscapeJsonControls(JsonEscape(Cp1251ToUtf8(cp1251)));
}

void AppendQuoted(std::string& out, std::string_view cp1251) {
  out.push_back('"');
  AppendText(out, cp1251);
  out.push_back('"');
}

void AppendQuotedOrNull(std::string& out, std::string_view cp1251) {
  if (cp1251.empty()) {
    out += "null";
  } else {
    AppendQuoted(out, cp1251);
  }
}

void AppendCoordinate(std::string& out, float v) {
  if (v == 0.0f) {
    out += "null";
  } else {
    out.push_back('"');
    out += FormatCoordinate(v);
    out.push_back('"');
  }
}

bool InLists(const PerObjectLists* lists, int64_t k) {
  return lists && k >= 0 && k < static_cast<int64_t>(lists->size());
}

void AppendPictures(std::string& out, const WebTableSet& t, int64_t k,
                    std::string_view public_address) {
  out += "\"pictures\":[";
  if (InLists(t.ObjectPictures, k) && t.Pictures) {
    bool first = true;
    for (int32_t v : (*t.ObjectPictures)[static_cast<size_t>(k)]) {
      if (!first) out.push_back(',');
      first = false;
      t.Pictures->SetRecordIndex(v);
      std::string id = std::to_string(t.Pictures->AsInteger(1));
      out += "{\"pic_id\":\"";
      out += id;
      out += "\",\"url\":\"http://";
      out += Cp1251ToUtf8(public_address);
      out += "/GetPicture&n=";
      out += id;
      out += "\",\"text\":";
      AppendQuotedOrNull(out, t.Pictures->AsString(9));
      out.push_back('}');
    }
  }
  out += "]";
}

void AppendPersons(std::string& out, const WebTableSet& t, int64_t k) {
  out += "\"resp_persons\":[";
  if (InLists(t.ObjectPersons, k) && t.Persons) {
    bool first = true;
    for (int32_t r : (*t.ObjectPersons)[static_cast<size_t>(k)]) {
      if (!first) out.push_back(',');
      first = false;
      WebTable& p = *t.Persons;
      p.SelectPhysicalRow(r);
      out += "{\"pers_id\":\"";
      out += std::to_string(p.AsInteger(1));
      out += "\",";
      std::string fullname = p.AsString(7);
      if (!fullname.empty()) {
        out += "\"fullname\":";
        AppendQuoted(out, fullname);
        out.push_back(',');
      }
      out += "\"home_phone\":";
      AppendQuotedOrNull(out, p.AsString(9));
      out += ",\"work_phone\":";
      AppendQuotedOrNull(out, p.AsString(10));
      out += ",\"mobile_phone\":";
      AppendQuotedOrNull(out, p.AsString(11));
      out += ",\"position\":";
      AppendQuotedOrNull(out, p.AsString(8));
      out.push_back('}');
    }
  }
  out += "]";
}

}  // namespace

int64_t UpdateDateSeconds(double date_time) {
  double days = date_time - 8.0 / 24.0 - kUnixEpochDays;
  if (!(days > 0.0)) return 0;  // also NaN
  return RoundHalfEven(days * 86400.0);
}

std::string BuildObjectPassports(const WebTableSet& t, std::string_view public_address,
                                 std::optional<int32_t> object_filter) {
  std::string out = "[";
  if (!t.Objects) return out + "]";
  WebTable& o = *t.Objects;
  bool first = true;
  int32_t count = o.Count();
  for (int32_t i = 1; i <= count; ++i) {
    o.SelectViewRow(i);
    Bytes flags = o.AsBytes(139);
    if (flags.empty() || (flags[0] & 0x20) == 0) continue;
    int32_t number = o.AsInteger(1);
    if (object_filter && number != *object_filter) continue;
    if (!first) out.push_back(',');
    first = false;

    out += "{\"passport\":{\"object_id\":\"";
    AppendText(out, o.AsString(1));
    out += "\",\"update_date\":";
    out += std::to_string(UpdateDateSeconds(o.AsDateTime(4)));
    Bytes state = o.AsBytes(29);
    out += (state.size() >= 2 && (state[1] & 0x40) != 0) ? ",\"object_state\":\"NotActive\""
                                                          : ",\"object_state\":\"Active\"";
    out += ",\"name\":";
    AppendQuoted(out, o.AsString(8));
    out += ",\"area_code\":null,\"postcode\":null,\"fias\":null,\"kladr\":null,\"addr\":";
    AppendQuoted(out, o.AsString(9) + " " + o.AsString(12));
    out += ",\"longitude\":";
    AppendCoordinate(out, o.AsFloat(25));
    out += ",\"latitude\":";
    AppendCoordinate(out, o.AsFloat(26));
    out += ",\"type\":";
    AppendQuotedOrNull(out, o.AsString(21));
    out += ",\"phone\":";
    AppendQuotedOrNull(out, o.AsString(13));
    out +=
        ",\"serviceorg\":null,\"serviceorg_phone\":null,\"tech_man\":null,\"operator\":null,"
        "\"manager\":null,\"keys\":null,";
    int64_t k = static_cast<int64_t>(number) - t.MinObjectRecord;
    AppendPictures(out, t, k, public_address);
    out.push_back(',');
    AppendPersons(out, t, k);
    out += "}}";
  }
  out += "]";
  return out;
}

HttpAnswer GetObjects(WebContext& ctx, std::string_view body) {
  std::optional<int32_t> filter;
  std::string id = JsonGetValue(body, "object_id");
  if (!id.empty()) filter = ParseInt32Or0(id);
  HttpAnswer a;
  a.ContentType = "text/json; charset=utf-8";
  a.ContentEncoding = "utf-8";
  ControllerLock lock(ctx);
  a.Body = BuildObjectPassports(ctx.Tables(), ctx.Settings().PublicAddress, filter);
  return a;
}

}  // namespace ab
