// Row changes and deletions from the server, and the load request.
//
// A change record is checked whole before anything is stored: it must hold its 17-byte head,
// a row of 0 or more, a row count of 0..kMaxRowCount that adds at most kMaxRowGrowth rows, and
// entries that each name a field and fit
// inside the record (an unknown name leaves the size of its value unknown, so nothing after it
// can be trusted). A record failing any check is dropped and the table stays as it was.

#include <algorithm>
#include <bit>
#include <cstring>

#include "tables/base_client.h"
#include "util/func.h"
#include "util/json.h"

namespace ab {

namespace {

struct Entry {
  FieldGFB* Field;
  size_t Value;  // offset of the value bytes in the record
};

// Value size of one entry, or 0 with ok=false when it does not fit.
bool ValueSize(const FieldGFB& f, std::span<const uint8_t> rec, size_t at, size_t& size) {
  size_t left = rec.size() - at;
  if (f.Width < 0 || f.TextWidth < 0) return false;
  auto w = static_cast<size_t>(f.Width);
  switch (f.FieldType) {
    case kTypeCoded32:
    case kTypeCoded16:
      size = w + static_cast<size_t>(f.TextWidth);
      break;
    case kTypePoolText: {
      if (left < 8) return false;
      int32_t pool = GetI32(rec.data() + at);
      int32_t offset = GetI32(rec.data() + at + 4);
      if (pool < 0 || pool > kMaxPoolBytes) return false;
      size = 8;
      if (offset != -1 && pool >= 1) {
        if (left < 9) return false;
        size += 1 + rec[at + 8];
      }
      break;
    }
    default:
      size = TypeHasColumn(f.FieldType) ? w : 0;
      break;
  }
  return size <= left;
}

template <typename T>
void StoreElement(std::vector<T>& v, size_t row, const uint8_t* p, size_t width) {
  // A value whose size is not the element's is consumed but not stored.
  if (width != sizeof(T) || row >= v.size()) return;
  uint8_t b[sizeof(T)];
  std::memcpy(b, p, sizeof(T));
  if constexpr (std::endian::native != std::endian::little) std::reverse(b, b + sizeof(T));
  std::memcpy(&v[row], b, sizeof(T));
}

void GrowColumn(FieldGFB& f, size_t rows) {
  auto grow = [](auto& v, size_t n) {
    if (v.size() < n) v.resize(n);
  };
  Stru_Data& d = f.Data;
  switch (f.FieldType) {
    case kTypeInt:
    case kTypeHexInt:
      grow(d.Ints, rows);
      break;
    case kTypePoolText:
      // A zero offset would show the pool's first text in every new row: new rows have none.
      if (d.Ints.size() < rows) d.Ints.resize(rows, -1);
      break;
    case kTypeShortText:
    case kTypeRawBytes:
      grow(d.Bytes, rows * f.RowBytes());
      break;
    case kTypeByte:
    case kTypeCoded16:
      grow(d.Bytes, rows);
      break;
    case kTypeBool:
      grow(d.Bools, rows);
      break;
    case kTypeWord:
    case kTypeCoded32:
      grow(d.Words, rows);
      break;
    case kTypeSingle:
      grow(d.Singles, rows);
      break;
    case kTypeDouble:
      grow(d.Doubles, rows);
      break;
    case kTypeCardinal:
    case kTypeSeconds:
      grow(d.Cardinals, rows);
      break;
    case kTypeDate:
      grow(d.Dates, rows);
      break;
    case kTypeInt64:
      grow(d.Int64s, rows);
      break;
    default:
      break;
  }
}

void StoreValue(FieldGFB& f, size_t row, const uint8_t* p) {
  Stru_Data& d = f.Data;
  auto w = static_cast<size_t>(f.Width);
  switch (f.FieldType) {
    case kTypeInt:
    case kTypeHexInt:
      StoreElement(d.Ints, row, p, w);
      break;
    case kTypeShortText:
    case kTypeRawBytes:
      if (w > 0 && (row + 1) * w <= d.Bytes.size()) std::memcpy(&d.Bytes[row * w], p, w);
      break;
    case kTypeByte:
      StoreElement(d.Bytes, row, p, w);
      break;
    case kTypeBool:
      StoreElement(d.Bools, row, p, w);
      break;
    case kTypeWord:
      StoreElement(d.Words, row, p, w);
      break;
    case kTypeSingle:
      StoreElement(d.Singles, row, p, w);
      break;
    case kTypeDouble:
      StoreElement(d.Doubles, row, p, w);
      break;
    case kTypeCardinal:
    case kTypeSeconds:
      StoreElement(d.Cardinals, row, p, w);
      break;
    case kTypeDate:
      StoreElement(d.Dates, row, p, w);
      break;
    case kTypeInt64:
      StoreElement(d.Int64s, row, p, w);
      break;
    case kTypeCoded32:
    case kTypeCoded16: {
      uint32_t code;
      if (f.FieldType == kTypeCoded32) {
        StoreElement(d.Words, row, p, w);
        code = w == 2 ? GetU16(p) : 0;
      } else {
        StoreElement(d.Bytes, row, p, w);
        code = w == 1 ? p[0] : 0;
      }
      std::string text = ReadSlotText({p + w, static_cast<size_t>(f.TextWidth)});
      bool wide = f.FieldType == kTypeCoded32;
      size_t n = wide ? d.Cardinals.size() : d.Words.size();
      size_t k = 0;
      while (k < n && (wide ? d.Cardinals[k] : d.Words[k]) != code) ++k;
      if (k < n) {
        if (d.Strings.size() < n) d.Strings.resize(n);
        d.Strings[k] = std::move(text);
      } else if (code != 0) {
        if (wide) {
          d.Cardinals.push_back(code);
        } else {
          d.Words.push_back(static_cast<uint16_t>(code));
        }
        d.Strings.resize(n);
        d.Strings.push_back(std::move(text));
      }
      break;
    }
    case kTypePoolText: {
      int32_t pool = GetI32(p);
      int32_t offset = GetI32(p + 4);
      d.Bytes.resize(static_cast<size_t>(pool));
      StoreElement(d.Ints, row, p + 4, 4);
      if (offset != -1 && pool >= 1) {
        size_t len = p[8];
        if (offset >= 0 && static_cast<int64_t>(offset) + static_cast<int64_t>(len) + 1 <= pool)
          std::memcpy(&d.Bytes[static_cast<size_t>(offset)], p + 8, len + 1);
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace

bool TBaseClient::ApplyRowChange(int32_t row, std::span<const uint8_t> record) {
  ++ChangeCount_;
  if (record.size() < kChangeEntries || row < 0) return false;
  int32_t rows = GetI32(record.data() + kChangeRowCount);
  if (rows < 0 || rows > kMaxRowCount) return false;

  std::vector<Entry> entries;
  size_t at = kChangeEntries;
  while (record.size() - at >= 2) {
    if (record.size() - at < kFieldNameSlot) return false;
    std::string name = ReadSlotText(record.subspan(at, kFieldNameSlot));
    at += kFieldNameSlot;
    FieldGFB* f = FindField(name);
    size_t size = 0;
    if (!f || !ValueSize(*f, record, at, size)) return false;
    entries.push_back({f, at});
    at += size;
  }

  auto r = static_cast<size_t>(row);
  size_t held = Fields.empty() ? 0 : Fields[0]->Data.Ints.size();
  if (held <= r && static_cast<size_t>(rows) > held + kMaxRowGrowth) return false;
  RowCount_ = rows;
  // Columns grow to the announced row count when the row is new; they never shrink, and a row
  // count that does not cover the row grows nothing (the row could not be stored anyway).
  if (!Fields.empty() && Fields[0]->Data.Ints.size() <= r && r < static_cast<size_t>(rows))
    for (auto& f : Fields) GrowColumn(*f, static_cast<size_t>(rows));
  for (const Entry& e : entries)
    if (e.Field->Present) StoreValue(*e.Field, r, record.data() + e.Value);
  return true;
}

bool TBaseClient::MarkDeleted(int32_t number) {
  ++ChangeCount_;
  FieldGFB* numbers = FindField("n_abs");
  if (!numbers) return false;
  size_t rows = std::min(static_cast<size_t>(std::max(RowCount_, 0)), numbers->Data.Ints.size());
  size_t r = 0;
  while (r < rows && numbers->Data.Ints[r] != number) ++r;
  if (r == rows) return false;
  FieldGFB* flags = FindField("p_d");
  if (!flags) return false;
  if (r < flags->Data.Bytes.size()) SetBit(flags->Data.Bytes[r], 1, 1);
  return true;
}

std::string TBaseClient::BuildLoadRequest() {
  if (Loaded || RequestBuilt) return {};
  try {
    Clear();
    LoadCache();
    std::string digests;
    auto add = [&digests](const FieldGFB& f) {
      if (!digests.empty()) digests += ',';
      digests += "\"" + JsonEscape(f.FieldName) + "\":\"" + f.Md5 + "\"";
    };
    if (!FieldsRequest.empty()) {
      std::string members = FieldsRequest;
      if (members.size() >= 2 && members.front() == '{' && members.back() == '}')
        members = members.substr(1, members.size() - 2);
      std::string key, value;
      while (JsonNextPair(members, key, value)) {
        if (value != "1") continue;
        for (const auto& f : Fields)
          if (f->FieldName == key) add(*f);
      }
    } else {
      for (const auto& f : Fields)
        if (!f->Md5.empty()) add(*f);
    }
    std::string out =
        "{\"$c$\":\"database\",\"command\":\"gettableraw\",\"refresh\":1,\"name\":\"" +
        JsonEscape(NameTable) + "\"";
    if (!FieldsRequest.empty()) out += ",\"fields\":" + FieldsRequest;
    out += ",\"md5\":{" + digests + "}";
    if (!FilterRequest.empty()) out += ",\"filter\":" + FilterRequest;
    out += "}";
    RequestBuilt = true;
    return out;
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace ab
