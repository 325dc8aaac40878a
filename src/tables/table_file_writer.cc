#include "tables/table_file_writer.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "tables/table_format.h"
#include "util/json.h"

namespace ab {

namespace {

void AppendInt(Bytes& out, int64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i)
    out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

int32_t WidthOf(const FieldData& f) {
  if (f.Width > 0) return f.Width;
  int32_t w = FixedTypeWidth(f.Type);
  return w > 0 ? w : 0;
}

}  // namespace

Bytes BuildRawTable(const TableData& t) {
  Bytes out;
  AppendSlotText(out, t.Name, kTableNameSlot);
  AppendI32(out, t.RowCount);
  int32_t blocks = 0;
  for (const auto& f : t.Fields) blocks += f.Block ? 1 : 0;
  AppendI32(out, blocks);
  AppendI32(out, static_cast<int32_t>(t.Fields.size()));

  std::vector<Bytes> pools(t.Fields.size());
  std::vector<FieldDescriptor> descriptors;
  for (size_t k = 0; k < t.Fields.size(); ++k) {
    const FieldData& f = t.Fields[k];
    FieldDescriptor d;
    d.Number = static_cast<int32_t>(k + 1);
    d.Name = f.Name;
    d.Type = f.Type;
    d.Width = WidthOf(f);
    d.TextWidth = f.TextWidth;
    if (f.Type == kTypeCoded32 || f.Type == kTypeCoded16) {
      d.Count = static_cast<int32_t>(f.Dictionary.size());
    } else if (f.Type == kTypePoolText) {
      for (const auto& text : f.Texts) {
        if (!text) continue;
        pools[k].push_back(static_cast<uint8_t>(text->size()));
        pools[k].insert(pools[k].end(), text->begin(), text->end());
      }
      d.Count = static_cast<int32_t>(pools[k].size());
    }
    d.Append(out);
    descriptors.push_back(d);
  }

  auto rows = static_cast<size_t>(t.RowCount);
  for (size_t k = 0; k < t.Fields.size(); ++k) {
    const FieldData& f = t.Fields[k];
    if (!f.Block) continue;
    const FieldDescriptor& d = descriptors[k];
    d.Append(out);
    auto w = static_cast<size_t>(d.Width);
    if (f.Type == kTypeCoded32 || f.Type == kTypeCoded16) {
      for (const auto& [key, text] : f.Dictionary) {
        AppendInt(out, key, f.Type == kTypeCoded32 ? 4 : 2);
        out.push_back(static_cast<uint8_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
      }
    }
    if (rows == 0) continue;
    for (size_t r = 0; r < rows; ++r) {
      switch (f.Type) {
        case kTypeSingle: {
          float v = r < f.Reals.size() ? static_cast<float>(f.Reals[r]) : 0.0f;
          uint32_t bits;
          std::memcpy(&bits, &v, 4);
          AppendU32(out, bits);
          break;
        }
        case kTypeDouble:
        case kTypeDate: {
          uint8_t b[8];
          PutF64(b, r < f.Reals.size() ? f.Reals[r] : 0.0);
          out.insert(out.end(), b, b + 8);
          break;
        }
        case kTypeShortText: {
          AppendSlotText(out, r < f.Texts.size() && f.Texts[r] ? *f.Texts[r] : "", w);
          break;
        }
        case kTypeRawBytes: {
          std::string s = r < f.Texts.size() && f.Texts[r] ? *f.Texts[r] : "";
          s.resize(w, '\0');
          out.insert(out.end(), s.begin(), s.end());
          break;
        }
        case kTypePoolText:
          break;  // offsets below
        default:
          AppendInt(out, r < f.Numbers.size() ? f.Numbers[r] : 0, w);
          break;
      }
    }
    if (f.Type == kTypePoolText) {
      int32_t offset = 0;
      for (size_t r = 0; r < rows; ++r) {
        if (r < f.Texts.size() && f.Texts[r]) {
          AppendI32(out, offset);
          offset += 1 + static_cast<int32_t>(f.Texts[r]->size());
        } else {
          AppendI32(out, -1);
        }
      }
      out.insert(out.end(), pools[k].begin(), pools[k].end());
    }
  }
  return out;
}

Bytes Compress(const Bytes& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 6) != Z_OK)
    throw std::runtime_error("compress failed");
  out.resize(size);
  return out;
}

std::string BuildTextTable(const TableData& t) {
  std::string out = "{\"$c$\":\"tabledata\",\"tablefields\":{";
  for (size_t k = 0; k < t.Fields.size(); ++k) {
    const FieldData& f = t.Fields[k];
    if (k) out += ',';
    out += "\"" + f.Name + "\":\"" + std::to_string(k + 1) + "," + std::to_string(f.Type) + "," +
           std::to_string(WidthOf(f)) + "," + std::to_string(f.TextWidth) + "\"";
  }
  out += "},\"count\":\"" + std::to_string(t.RowCount) + "\",\"fields\":{";
  bool first = true;
  for (const FieldData& f : t.Fields) {
    if (!f.Block || (f.Type != kTypeInt && f.Type != kTypePoolText)) continue;
    if (!first) out += ',';
    first = false;
    out += "\"" + f.Name + "\":\"";
    std::string values;
    for (int32_t r = 0; r < t.RowCount; ++r) {
      if (r) values += ',';
      auto i = static_cast<size_t>(r);
      if (f.Type == kTypeInt) {
        values += std::to_string(i < f.Numbers.size() ? f.Numbers[i] : 0);
      } else if (i < f.Texts.size() && f.Texts[i]) {
        values += *f.Texts[i];
      }
    }
    out += JsonEscape(values) + "\"";
  }
  out += "}}";
  return out;
}

Bytes BuildRowChange(const std::string& table, int32_t row, int32_t row_count,
                     const std::vector<ChangeEntry>& entries) {
  Bytes out;
  AppendSlotText(out, table, kTableNameSlot);
  AppendI32(out, row);
  AppendI32(out, row_count);
  for (const auto& e : entries) {
    AppendSlotText(out, e.Name, kFieldNameSlot);
    out.insert(out.end(), e.Value.begin(), e.Value.end());
  }
  return out;
}

Bytes IntValue(int64_t v, int width) {
  Bytes out;
  AppendInt(out, v, static_cast<size_t>(width));
  return out;
}

Bytes SlotValue(const std::string& text, int32_t width) {
  Bytes out;
  AppendSlotText(out, text, static_cast<size_t>(width));
  return out;
}

Bytes CodedValue(uint32_t code, int width, const std::string& text, int32_t text_width) {
  Bytes out;
  AppendInt(out, code, static_cast<size_t>(width));
  AppendSlotText(out, text, static_cast<size_t>(text_width));
  return out;
}

Bytes PoolValue(int32_t pool_size, int32_t offset, const std::string& text) {
  Bytes out;
  AppendI32(out, pool_size);
  AppendI32(out, offset);
  if (offset != -1 && pool_size >= 1) {
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  }
  return out;
}

}  // namespace ab
