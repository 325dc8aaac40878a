#include "web/objects_resource.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/codepage.h"
#include "util/json.h"
#include "web/base_client_table.h"
#include "web/request_text.h"

namespace ab {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 in days since 1899-12-30

// What one Windows-1251 byte becomes in a JSON string: UTF-8, then JsonEscape, then
// EscapeJsonControls, taken once from those functions. Eight bytes per entry so that a
// character is written with one fixed-size copy.
struct Encoded {
  char Bytes[7];
  uint8_t Size;
};
constexpr size_t kMaxEncoded = 6;  // "\u001f"

const std::array<Encoded, 256>& EncodingOfByte() {
  static const std::array<Encoded, 256> table = [] {
    std::array<Encoded, 256> t{};
    for (int b = 0; b < 256; ++b) {
      std::string e =
          EscapeJsonControls(JsonEscape(Cp1251ToUtf8(std::string(1, static_cast<char>(b)))));
      if (e.size() > kMaxEncoded) std::abort();
      std::memcpy(t[b].Bytes, e.data(), e.size());
      t[b].Size = static_cast<uint8_t>(e.size());
    }
    return t;
  }();
  return table;
}

// The body under construction. Grows in large steps and is written through a pointer, so a
// character costs a table look-up and a copy rather than a checked append.
class BodyWriter {
 public:
  explicit BodyWriter(size_t initial) { buf_.resize(std::max<size_t>(initial, 256)); }

  // Room for n more bytes at Cursor().
  char* Room(size_t n) {
    if (buf_.size() - len_ < n) [[unlikely]]
      Grow(n);
    return buf_.data() + len_;
  }
  void Advance(size_t n) { len_ += n; }
  size_t Size() const { return len_; }
  void Expect(size_t total) {
    if (total > buf_.size()) buf_.resize(total);
  }

  // Literals: the size is known, so the copy is inlined.
  template <size_t N>
  void Put(const char (&s)[N]) {
    std::memcpy(Room(N - 1), s, N - 1);
    len_ += N - 1;
  }
  void Put(std::string_view s) {
    std::memcpy(Room(s.size()), s.data(), s.size());
    len_ += s.size();
  }
  void Put(char c) {
    *Room(1) = c;
    ++len_;
  }
  template <typename Int>
  void PutInt(Int v) {
    char* p = Room(24);
    len_ += static_cast<size_t>(std::to_chars(p, p + 24, v).ptr - p);
  }
  // A table text converted to UTF-8 and escaped, without the quotes.
  void PutText(std::string_view cp1251) {
    const auto& enc = EncodingOfByte();
    char* p = Room(cp1251.size() * kMaxEncoded + sizeof(Encoded));
    char* start = p;
    for (char c : cp1251) {
      const Encoded& e = enc[static_cast<unsigned char>(c)];
      std::memcpy(p, &e, sizeof(Encoded));
      p += e.Size;
    }
    len_ += static_cast<size_t>(p - start);
  }
  void PutQuoted(std::string_view cp1251) {
    Put('"');
    PutText(cp1251);
    Put('"');
  }
  void PutQuotedOrNull(std::string_view cp1251) {
    if (cp1251.empty()) {
      Put("null");
    } else {
      PutQuoted(cp1251);
    }
  }
  void PutCoordinate(float v) {
    if (v == 0.0f) {
      Put("null");
    } else {
      Put('"');
      char* p = Room(kCoordinateChars);
      len_ += WriteCoordinate(v, p);
      Put('"');
    }
  }

  [[gnu::noinline]] void Grow(size_t n) { buf_.resize(std::max(buf_.size() * 2, len_ + n)); }
  std::string Take() {
    buf_.resize(len_);
    return std::move(buf_);
  }

  // The cursor row of "mesmaps" as each picture is read. A row outside the view leaves the
  // cursor, and so the text read, where an earlier reader put it: that body is not reused.
  void NotePictureRow(int32_t view_row, int32_t view_rows) {
    last_picture_row_ = view_row;
    if (view_row < 1 || view_row > view_rows) position_dependent_ = true;
  }
  int32_t LastPictureRow() const { return last_picture_row_; }
  bool PositionDependent() const { return position_dependent_; }

 private:
  std::string buf_;
  size_t len_ = 0;
  int32_t last_picture_row_ = 0;
  bool position_dependent_ = false;
};

bool InLists(const PerObjectLists* lists, int64_t k) {
  return lists && k >= 0 && k < static_cast<int64_t>(lists->size());
}

// The tables the body is read from, as Table: WebTable in general, or the replicated tables'
// adapter itself, whose reads are then inlined.
template <typename Table>
struct Sources {
  Table* Objects;
  Table* Persons;
  Table* Pictures;
};

template <typename Table>
void PutPictures(BodyWriter& out, const WebTableSet& t, const Sources<Table>& src, int64_t k,
                 std::string_view url_prefix) {
  out.Put("\"pictures\":[");
  if (InLists(t.ObjectPictures, k) && src.Pictures) {
    Table& m = *src.Pictures;
    std::string scratch;
    bool first = true;
    for (int32_t v : (*t.ObjectPictures)[static_cast<size_t>(k)]) {
      if (!first) out.Put(',');
      first = false;
      out.NotePictureRow(v, m.Count());
      m.SetRecordIndex(v);
      int32_t id = m.AsInteger(1);
      out.Put("{\"pic_id\":\"");
      out.PutInt(id);
      out.Put("\",\"url\":\"");
      out.Put(url_prefix);
      out.PutInt(id);
      out.Put("\",\"text\":");
      out.PutQuotedOrNull(m.StringView(9, scratch));
      out.Put('}');
    }
  }
  out.Put(']');
}

template <typename Table>
void PutPersons(BodyWriter& out, const WebTableSet& t, const Sources<Table>& src, int64_t k) {
  out.Put("\"resp_persons\":[");
  if (InLists(t.ObjectPersons, k) && src.Persons) {
    Table& p = *src.Persons;
    std::string scratch;
    bool first = true;
    for (int32_t r : (*t.ObjectPersons)[static_cast<size_t>(k)]) {
      if (!first) out.Put(',');
      first = false;
      p.SelectPhysicalRow(r);
      out.Put("{\"pers_id\":\"");
      out.PutInt(p.AsInteger(1));
      out.Put("\",");
      std::string_view fullname = p.StringView(7, scratch);
      if (!fullname.empty()) {
        out.Put("\"fullname\":");
        out.PutQuoted(fullname);
        out.Put(',');
      }
      out.Put("\"home_phone\":");
      out.PutQuotedOrNull(p.StringView(9, scratch));
      out.Put(",\"work_phone\":");
      out.PutQuotedOrNull(p.StringView(10, scratch));
      out.Put(",\"mobile_phone\":");
      out.PutQuotedOrNull(p.StringView(11, scratch));
      out.Put(",\"position\":");
      out.PutQuotedOrNull(p.StringView(8, scratch));
      out.Put('}');
    }
  }
  out.Put(']');
}

}  // namespace

size_t WriteCoordinate(float value, char* out) {
  // A float carries 24 significant bits and 10^6 = 2^6 * 15625 another 14, so the product is
  // exact in a double and rounding it half to even gives printf's correctly rounded digits.
  double scaled = static_cast<double>(value) * 1e6;
  if (!(std::fabs(scaled) < 9.0e15)) {
    std::string s = FormatCoordinate(value);  // huge, infinite or NaN: rare, leave it to printf
    size_t n = std::min(s.size(), kCoordinateChars);
    std::memcpy(out, s.data(), n);
    return n;
  }
  auto q = static_cast<uint64_t>(std::nearbyint(std::fabs(scaled)));
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
  p = std::to_chars(p, p + 20, q / 1000000).ptr;
  *p++ = '.';
  auto frac = static_cast<uint32_t>(q % 1000000);
  for (int d = 5; d >= 0; --d) {
    p[d] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  return static_cast<size_t>(p + 6 - out);
}

int64_t UpdateDateSeconds(double date_time) {
  double days = date_time - 8.0 / 24.0 - kUnixEpochDays;
  if (!(days > 0.0)) return 0;  // also NaN
  return RoundHalfEven(days * 86400.0);
}

namespace {

// Size of the last unfiltered body. The next one is allocated before the Lock is taken, so
// that the allocation and the first touch of its pages do not hold up the other readers.
std::atomic<size_t> g_last_full_body{0};

template <typename Table>
void WritePassports(BodyWriter& out, const WebTableSet& t, const Sources<Table>& src,
                    std::string_view public_address, std::optional<int32_t> object_filter) {
  out.Put('[');
  if (!src.Objects) {
    out.Put(']');
    return;
  }
  Table& o = *src.Objects;
  int32_t count = o.Count();
  const std::string url_prefix = "http://" + Cp1251ToUtf8(public_address) + "/GetPicture&n=";
  // Selected rows first, so the body can be sized once from its first element.
  auto selected = [&](int32_t view_row) {
    o.SelectViewRow(view_row);
    if ((o.ByteAt(139, 0) & 0x20) == 0) return false;
    return !object_filter || o.AsInteger(1) == *object_filter;
  };
  size_t elements = 0;
  for (int32_t i = 1; i <= count; ++i) elements += selected(i) ? 1 : 0;
  std::string s1, s2;
  bool first = true;
  for (int32_t i = 1; i <= count; ++i) {
    if (!selected(i)) continue;
    int32_t number = o.AsInteger(1);
    if (!first) out.Put(',');
    size_t element_start = out.Size();

    out.Put("{\"passport\":{\"object_id\":\"");
    out.PutText(o.StringView(1, s1));
    out.Put("\",\"update_date\":");
    out.PutInt(UpdateDateSeconds(o.AsDateTime(4)));
    out.Put((o.ByteAt(29, 1) & 0x40) != 0 ? ",\"object_state\":\"NotActive\""
                                          : ",\"object_state\":\"Active\"");
    out.Put(",\"name\":");
    out.PutQuoted(o.StringView(8, s1));
    out.Put(",\"area_code\":null,\"postcode\":null,\"fias\":null,\"kladr\":null,\"addr\":\"");
    out.PutText(o.StringView(9, s1));
    out.Put(' ');
    out.PutText(o.StringView(12, s2));
    out.Put("\",\"longitude\":");
    out.PutCoordinate(o.AsFloat(25));
    out.Put(",\"latitude\":");
    out.PutCoordinate(o.AsFloat(26));
    out.Put(",\"type\":");
    out.PutQuotedOrNull(o.StringView(21, s1));
    out.Put(",\"phone\":");
    out.PutQuotedOrNull(o.StringView(13, s1));
    out.Put(
        ",\"serviceorg\":null,\"serviceorg_phone\":null,\"tech_man\":null,\"operator\":null,"
        "\"manager\":null,\"keys\":null,");
    int64_t k = static_cast<int64_t>(number) - t.MinObjectRecord;
    PutPictures(out, t, src, k, url_prefix);
    out.Put(',');
    PutPersons(out, t, src, k);
    out.Put("}}");
    if (first) out.Expect((out.Size() - element_start + 1) * elements * 9 / 8 + 2);
    first = false;
  }
  out.Put(']');
}

// Replicated tables (or none) take the inlined reads; any other table the virtual ones.
void WriteBody(BodyWriter& out, const WebTableSet& t, std::string_view public_address,
               std::optional<int32_t> object_filter) {
  auto* o = dynamic_cast<BaseClientTable*>(t.Objects);
  auto* p = dynamic_cast<BaseClientTable*>(t.Persons);
  auto* m = dynamic_cast<BaseClientTable*>(t.Pictures);
  if ((o || !t.Objects) && (p || !t.Persons) && (m || !t.Pictures)) {
    WritePassports(out, t, Sources<BaseClientTable>{o, p, m}, public_address, object_filter);
  } else {
    WritePassports(out, t, Sources<WebTable>{t.Objects, t.Persons, t.Pictures}, public_address,
                   object_filter);
  }
}

}  // namespace

std::string BuildObjectPassports(const WebTableSet& t, std::string_view public_address,
                                 std::optional<int32_t> object_filter) {
  BodyWriter out(4096);
  WriteBody(out, t, public_address, object_filter);
  return out.Take();
}

std::shared_ptr<const std::string> PassportCache::Find(const std::optional<SourceKey>& key,
                                                       const WebTableSet& t,
                                                       std::string_view public_address) {
  if (!body_ || !key || *key != key_ || public_address != address_) return nullptr;
  // Building moves the cursor row; leave it where a build would have.
  if (last_picture_row_ > 0 && t.Pictures) t.Pictures->SetRecordIndex(last_picture_row_);
  hits_.fetch_add(1, std::memory_order_relaxed);
  return body_;
}

std::shared_ptr<const std::string> PassportCache::Store(const SourceKey& key,
                                                        std::string_view public_address,
                                                        std::string body,
                                                        int32_t last_picture_row) {
  key_ = key;
  address_ = public_address;
  body_ = std::make_shared<const std::string>(std::move(body));
  last_picture_row_ = last_picture_row;
  return body_;
}

HttpAnswer GetObjects(WebContext& ctx, std::string_view body) {
  std::optional<int32_t> filter;
  std::string id = JsonGetValue(body, "object_id");
  if (!id.empty()) filter = ParseInt32Or0(id);
  HttpAnswer a;
  a.ContentType = "text/json; charset=utf-8";
  a.ContentEncoding = "utf-8";
  PassportCache* cache = filter ? nullptr : ctx.ObjectsCache();
  std::shared_ptr<const std::string> kept;
  if (cache) {
    ContextLock lock(ctx);
    kept = cache->Find(ctx.TablesKey(), ctx.Tables(), ctx.Settings().PublicAddress);
  }
  if (!kept) {
    size_t hint = filter ? 0 : g_last_full_body.load(std::memory_order_relaxed);
    BodyWriter out(hint + hint / 8);
    {
      ContextLock lock(ctx);
      WebTableSet t = ctx.Tables();
      const std::string& address = ctx.Settings().PublicAddress;
      WriteBody(out, t, address, filter);
      if (cache) {
        cache->CountBuild();
        std::optional<SourceKey> key = ctx.TablesKey();
        if (key && !out.PositionDependent()) {
          int32_t last_picture_row = out.LastPictureRow();
          kept = cache->Store(*key, address, out.Take(), last_picture_row);
        }
      }
    }
    if (!kept) a.Body = out.Take();
  }
  // A kept body is shared with the answer, not copied.
  if (kept) a.SharedBody = std::move(kept);
  if (!filter) g_last_full_body.store(a.BodyText().size(), std::memory_order_relaxed);
  return a;
}

}  // namespace ab
