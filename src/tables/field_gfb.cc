#include "tables/field_gfb.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tables/base_client.h"
#include "tables/conversion_error.h"
#include "tables/table_texts.h"

namespace ab {

namespace {

template <typename T>
T At(const std::vector<T>& v, size_t i) {
  return i < v.size() ? v[i] : T{};
}

// Float to int32 toward zero; NaN gives 0 and out-of-range values saturate instead of being
// undefined.
int32_t Truncate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace

FieldGFB::FieldGFB(TBaseClient* owner, const FieldDescriptor& d)
    : Owner(owner),
      FieldNumber(d.Number),
      FieldName(d.Name.substr(0, 15)),
      FieldType(d.Type),
      Width(d.Width),
      TextWidth(d.TextWidth) {}

void FieldGFB::SetFilterText(std::string_view text) {
  FilterText = std::string(text);
  FilterActive = !FilterText.empty();
}

int32_t FieldGFB::Row() const { return Owner ? Owner->CurrentRow_ : 0; }

size_t FieldGFB::RowBytes() const {
  int32_t w = FixedTypeWidth(FieldType);
  if (w == 0) return Width > 0 ? static_cast<size_t>(Width) : 0;
  return w > 0 ? static_cast<size_t>(w) : 0;
}

std::string FieldGFB::SlotText(size_t row0) const {
  size_t w = Width > 0 ? static_cast<size_t>(Width) : 0;
  if (w == 0 || row0 >= Data.Bytes.size() / w) return {};
  return ReadSlotText({Data.Bytes.data() + row0 * w, w});
}

std::string FieldGFB::PoolText(size_t row0) const {
  if (!Data.Strings.empty()) return At(Data.Strings, row0);
  if (row0 >= Data.Ints.size()) return {};
  int32_t off = Data.Ints[row0];
  if (off < 0 || static_cast<size_t>(off) >= Data.Bytes.size()) return {};
  return ReadSlotText({Data.Bytes.data() + off, Data.Bytes.size() - static_cast<size_t>(off)});
}

std::string FieldGFB::CodedText(uint32_t code) const {
  if (code == 0) return {};
  if (FieldType == kTypeCoded32) {
    for (size_t i = 0; i < Data.Cardinals.size(); ++i)
      if (Data.Cardinals[i] == code) return At(Data.Strings, i);
  } else {
    for (size_t i = 0; i < Data.Words.size(); ++i)
      if (Data.Words[i] == code) return At(Data.Strings, i);
  }
  return {};
}

int32_t FieldGFB::AsInteger() const {
  int32_t r = Row();
  if (!Present || r < 1) return 0;
  size_t i = static_cast<size_t>(r - 1);
  const Stru_Data& d = Data;
  switch (FieldType) {
    case kTypeInt:
      return At(d.Ints, i);
    case kTypeShortText:
      return ParseInt32(SlotText(i)).value_or(0);
    case kTypeByte:
      return At(d.Bytes, i);
    case kTypeBool:
      return At(d.Bools, i) ? 1 : 0;
    case kTypeWord:
      return At(d.Words, i);
    case kTypeSingle:
      return Truncate(At(d.Singles, i));
    case kTypeDouble:
      return Truncate(At(d.Doubles, i));
    case kTypeCardinal:
      return static_cast<int32_t>(At(d.Cardinals, i));
    case kTypeDate:
      return Truncate(At(d.Dates, i));
    case kTypeCoded32:
      return At(d.Words, i);
    case kTypeCoded16:
      return At(d.Bytes, i);
    case kTypePoolText: {
      std::string text = PoolText(i);
      if (text.empty()) return 0;
      auto v = ParseInt32(text);
      if (!v) throw ConversionError(text);
      return *v;
    }
    default:
      return 0;
  }
}

std::string FieldGFB::AsString() const {
  int32_t r = Row();
  if (r < 1 || !Owner || Owner->RowCount() <= 0) return std::string(kRecordNotFound);
  size_t i = static_cast<size_t>(r - 1);
  const Stru_Data& d = Data;
  switch (FieldType) {
    case kTypeInt:
      return i < d.Ints.size() ? std::to_string(d.Ints[i]) : std::string();
    case kTypeShortText:
      return SlotText(i);
    case kTypeByte:
      return i < d.Bytes.size() ? std::to_string(d.Bytes[i]) : std::string();
    case kTypeBool:
      return i < d.Bools.size() ? (d.Bools[i] ? "T" : "F") : std::string();
    case kTypeWord:
      return i < d.Words.size() ? std::to_string(d.Words[i]) : std::string();
    case kTypeSingle:
      return i < d.Singles.size() ? FloatText(d.Singles[i]) : std::string();
    case kTypeDouble:
      return i < d.Doubles.size() ? FloatText(d.Doubles[i]) : std::string();
    case kTypeCardinal:
      if (i >= d.Cardinals.size()) return {};
      return FieldName == "r_dt" ? SecondsText(d.Cardinals[i]) : std::to_string(d.Cardinals[i]);
    case kTypeDate:
      return i < d.Dates.size() && d.Dates[i] > 0 ? DateTimeText(d.Dates[i]) : std::string();
    case kTypeRawBytes: {
      size_t w = Width > 0 ? static_cast<size_t>(Width) : 0;
      if (w == 0 || i >= d.Bytes.size() / w) return {};
      std::string out;
      for (size_t k = 0; k < w; ++k) {
        out += std::to_string(d.Bytes[i * w + k]);
        out += ' ';
      }
      return out;
    }
    case kTypeInt64:
      return i < d.Int64s.size() ? std::to_string(d.Int64s[i]) : std::string();
    case kTypeCoded32:
      return i < d.Words.size() ? CodedText(d.Words[i]) : std::string();
    case kTypeCoded16:
      return i < d.Bytes.size() ? CodedText(d.Bytes[i]) : std::string();
    case kTypeHexInt: {
      if (i >= d.Ints.size()) return {};
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(d.Ints[i]));
      return buf;
    }
    case kTypePoolText:
      return PoolText(i);
    case kTypeSeconds:
      return i < d.Cardinals.size() ? SecondsText(d.Cardinals[i]) : std::string();
    default:
      return {};
  }
}

float FieldGFB::AsFloat() const {
  int32_t r = Row();
  if (!Present || r < 1) return 0;
  size_t i = static_cast<size_t>(r - 1);
  const Stru_Data& d = Data;
  switch (FieldType) {
    case kTypeInt:
      return static_cast<float>(At(d.Ints, i));
    case kTypeShortText: {
      if (Width <= 0 || i >= d.Bytes.size() / static_cast<size_t>(Width)) return 0;
      std::string text = SlotText(i);
      auto v = ParseDecimal(text);
      if (!v) throw ConversionError(text);
      return static_cast<float>(*v);
    }
    case kTypeByte:
      return At(d.Bytes, i);
    case kTypeBool:
      return At(d.Bools, i) ? 1.0f : 0.0f;
    case kTypeWord:
      return At(d.Words, i);
    case kTypeSingle:
      return At(d.Singles, i);
    case kTypeDouble:
      return static_cast<float>(At(d.Doubles, i));
    case kTypeCardinal:
      return static_cast<float>(At(d.Cardinals, i));
    default:
      return 0;
  }
}

double FieldGFB::AsDateTime() const {
  int32_t r = Row();
  if (!Present || r < 1) return 0;
  size_t i = static_cast<size_t>(r - 1);
  switch (FieldType) {
    case kTypeCardinal:
    case kTypeSeconds:
      return i < Data.Cardinals.size() ? SecondsToDateTime(Data.Cardinals[i]) : 0;
    case kTypeDate:
      return At(Data.Dates, i);
    default:
      return 0;
  }
}

uint32_t FieldGFB::AsCardinal() const {
  int32_t r = Row();
  if (!Present || r < 1 || FieldType != kTypeCardinal) return 0;
  return At(Data.Cardinals, static_cast<size_t>(r - 1));
}

std::vector<uint8_t> FieldGFB::AsBytes() const {
  size_t w = Width > 0 ? static_cast<size_t>(Width) : 0;
  std::vector<uint8_t> out(w, 0);
  int32_t r = Row();
  if (FieldType != kTypeRawBytes || r < 1 || !Owner || Owner->RowCount() < 1) return out;
  size_t start = static_cast<size_t>(r - 1) * w;
  for (size_t k = 0; k < w && start + k < Data.Bytes.size(); ++k) out[k] = Data.Bytes[start + k];
  return out;
}

int32_t AsInteger(const FieldGFB* f) { return f ? f->AsInteger() : 0; }
std::string AsString(const FieldGFB* f) { return f ? f->AsString() : std::string(); }
float AsFloat(const FieldGFB* f) { return f ? f->AsFloat() : 0.0f; }
double AsDateTime(const FieldGFB* f) { return f ? f->AsDateTime() : 0.0; }
uint32_t AsCardinal(const FieldGFB* f) { return f ? f->AsCardinal() : 0; }
std::vector<uint8_t> AsBytes(const FieldGFB* f) {
  return f ? f->AsBytes() : std::vector<uint8_t>();
}

}  // namespace ab
