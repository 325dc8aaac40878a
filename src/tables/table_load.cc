// Loading a table from the raw form (optionally zlib-compressed) and from the text form.
//
// Bad input, one rule everywhere: a negative or absurd count, a block whose field number is out
// of range, a fixed-type block whose Width is not its type's width, a slot block whose Width
// differs from its field's, or data that ends before its counts say ends the reading at that
// point. Blocks read before it stay loaded, the faulty block changes nothing, and the end-of-load
// steps run as after any load. A short file is not padded with zeros: zeros would be served as
// record numbers and texts, and a forged count could not make us allocate gigabytes.

#include <algorithm>
#include <bit>
#include <cstring>
#include <system_error>

#include "tables/base_client.h"
#include "tables/byte_source.h"
#include "tables/conversion_error.h"
#include "tables/table_texts.h"
#include "util/json.h"

namespace ab {

namespace {

// The largest zlib expansion ratio is about 1032:1.
constexpr uint64_t kZlibMaxRatio = 1032;

bool ReadExact(ByteSource& src, uint8_t* dst, size_t n) { return src.Read(dst, n) == n; }

// Reads count little-endian elements into a fresh array; out is untouched on a short read.
template <typename T>
bool ReadArray(ByteSource& src, std::vector<T>& out, size_t count) {
  std::vector<T> v(count);
  if (!ReadExact(src, reinterpret_cast<uint8_t*>(v.data()), count * sizeof(T))) return false;
  if constexpr (std::endian::native != std::endian::little && sizeof(T) > 1) {
    for (T& e : v) {
      uint8_t b[sizeof(T)];
      std::memcpy(b, &e, sizeof(T));
      std::reverse(b, b + sizeof(T));
      std::memcpy(&e, b, sizeof(T));
    }
  }
  out = std::move(v);
  return true;
}

// Can the source still hold n bytes? Checked before every allocation sized from the file.
bool Fits(const ByteSource& src, uint64_t n) { return n <= src.Remaining(); }

bool Skip(ByteSource& src, uint64_t n) {
  uint8_t scratch[4096];
  while (n) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(n, sizeof scratch));
    if (!ReadExact(src, scratch, k)) return false;
    n -= k;
  }
  return true;
}

struct Dictionary {
  std::vector<uint32_t> Keys;
  std::vector<std::string> Texts;
};

bool ReadDictionary(ByteSource& src, uint8_t type, int32_t count, Dictionary& out) {
  size_t key_size = type == kTypeCoded32 ? 4 : 2;
  // Every entry takes at least its key and a length byte.
  if (count < 0 || !Fits(src, static_cast<uint64_t>(count) * (key_size + 1))) return false;
  out.Keys.reserve(static_cast<size_t>(count));
  out.Texts.reserve(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    uint8_t head[5];
    if (!ReadExact(src, head, key_size + 1)) return false;
    uint32_t key = key_size == 4 ? GetU32(head) : GetU16(head);
    std::string text(head[key_size], '\0');
    if (!ReadExact(src, reinterpret_cast<uint8_t*>(text.data()), text.size())) return false;
    out.Keys.push_back(key);
    out.Texts.push_back(std::move(text));
  }
  return true;
}

// Reads the column of one block into f (rows > 0). False, with f unchanged, on a short read.
bool ReadColumn(ByteSource& src, FieldGFB& f, uint8_t type, int32_t width, size_t rows,
                int32_t pool_size) {
  Stru_Data& d = f.Data;
  switch (type) {
    case kTypeInt:
    case kTypeHexInt:
      return ReadArray(src, d.Ints, rows);
    case kTypeShortText:
    case kTypeRawBytes:
      return ReadArray(src, d.Bytes, rows * static_cast<size_t>(width));
    case kTypeByte:
    case kTypeCoded16:
      return ReadArray(src, d.Bytes, rows);
    case kTypeBool:
      return ReadArray(src, d.Bools, rows);
    case kTypeWord:
    case kTypeCoded32:
      return ReadArray(src, d.Words, rows);
    case kTypeSingle:
      return ReadArray(src, d.Singles, rows);
    case kTypeDouble:
      return ReadArray(src, d.Doubles, rows);
    case kTypeCardinal:
    case kTypeSeconds:
      return ReadArray(src, d.Cardinals, rows);
    case kTypeDate:
      return ReadArray(src, d.Dates, rows);
    case kTypeInt64:
      return ReadArray(src, d.Int64s, rows);
    case kTypePoolText: {
      std::vector<int32_t> offsets;
      std::vector<uint8_t> pool;
      if (!ReadArray(src, offsets, rows) || !ReadArray(src, pool, static_cast<size_t>(pool_size)))
        return false;
      d.Ints = std::move(offsets);
      d.Bytes = std::move(pool);
      return true;
    }
    default:
      // A code without a column: its bytes are passed over.
      return Skip(src, static_cast<uint64_t>(width) * rows);
  }
}

}  // namespace

void TBaseClient::FinishLoad() {
  ExpectedFile.clear();
  Loaded = true;
  DataChanged = true;
  Refresh();
}

TableLoadResult TBaseClient::LoadRawImage(std::span<const uint8_t> image) {
  ++ChangeCount_;
  MemorySource src(image);
  return LoadRaw(src, nullptr);
}

TableLoadResult TBaseClient::LoadRaw(ByteSource& src, Bytes* structure_cache) {
  auto malformed = [this] {
    FinishLoad();
    return TableLoadResult::kMalformed;
  };
  uint8_t header[kTableHeaderSize];
  if (!ReadExact(src, header, kTableHeaderSize) || src.Failed()) return malformed();
  std::string name = ReadSlotText({header, kTableNameSlot});
  bool accepted = StructureOnly ? !name.empty() && NameTable.find(name) != std::string::npos
                                : name == NameTable;
  if (!accepted) {
    FinishLoad();
    return TableLoadResult::kLoaded;
  }
  int32_t rows = GetI32(header + kHeaderRowCount);
  int32_t blocks = GetI32(header + kHeaderBlockCount);
  int32_t descriptors = GetI32(header + kHeaderFieldCount);
  if (rows < 0 || rows > kMaxRowCount || blocks < 0 || descriptors < 0 ||
      !Fits(src, static_cast<uint64_t>(descriptors) * kDescriptorSize))
    return malformed();
  SetCount(rows);
  if (structure_cache) {
    // Only a file for this table replaces the structure cache.
    std::error_code ec;
    std::filesystem::remove(CacheDir() / (NameTable + ".cacheb"), ec);
  }
  if (structure_cache)
    structure_cache->insert(structure_cache->end(), header, header + kTableHeaderSize);

  uint8_t raw[kDescriptorSize];
  for (int32_t k = 0; k < descriptors; ++k) {
    if (!ReadExact(src, raw, kDescriptorSize)) return malformed();
    FieldDescriptor d = FieldDescriptor::Read(raw);
    if (d.Width < 0 || d.Width > kMaxFieldWidth || d.TextWidth < 0 || d.TextWidth > kMaxFieldWidth)
      return malformed();
    if (structure_cache)
      structure_cache->insert(structure_cache->end(), raw, raw + kDescriptorSize);
    AddField(d);
  }
  if (structure_cache) WriteStructureCache(*structure_cache);
  if (StructureOnly) {
    FinishLoad();
    return TableLoadResult::kLoaded;
  }

  for (int32_t b = 0; b < blocks; ++b) {
    if (!ReadExact(src, raw, kDescriptorSize)) return malformed();
    FieldDescriptor d = FieldDescriptor::Read(raw);
    if (d.Number < 1 || static_cast<size_t>(d.Number) > Fields.size()) return malformed();
    FieldGFB& f = *Fields[static_cast<size_t>(d.Number - 1)];
    int32_t fixed = FixedTypeWidth(d.Type);
    if (d.Width < 0 || (fixed > 0 && d.Width != fixed) || (fixed == 0 && d.Width != f.Width))
      return malformed();
    Dictionary dict;
    bool coded = d.Type == kTypeCoded32 || d.Type == kTypeCoded16;
    if (coded && !ReadDictionary(src, d.Type, d.Count, dict)) return malformed();
    if (d.Type == kTypePoolText && (d.Count < 0 || d.Count > kMaxPoolBytes)) return malformed();
    uint64_t column = static_cast<uint64_t>(d.Width) * static_cast<uint64_t>(rows) +
                      (d.Type == kTypePoolText ? static_cast<uint64_t>(d.Count) : 0);
    if (rows > 0 && !Fits(src, column)) return malformed();

    f.FieldType = d.Type;
    if (coded) {
      if (d.Type == kTypeCoded32) {
        f.Data.Cardinals = std::move(dict.Keys);
      } else {
        f.Data.Words.assign(dict.Keys.begin(), dict.Keys.end());
      }
      f.Data.Strings = std::move(dict.Texts);
    }
    f.Present = true;
    if (rows > 0) {
      if (!ReadColumn(src, f, d.Type, d.Width, static_cast<size_t>(rows), d.Count))
        return malformed();
      WriteColumnFiles(f);
    } else if (coded) {
      WriteColumnFiles(f);  // the dictionary archive is written for an empty table too
    }
  }
  if (src.Failed()) return malformed();
  FinishLoad();
  return TableLoadResult::kLoaded;
}

TableLoadResult TBaseClient::LoadFromFile(const std::filesystem::path& path) {
  ++ChangeCount_;
  std::filesystem::path full = BaseDir_ / path;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(full, ec)) return TableLoadResult::kNoFile;
  uint64_t size = std::filesystem::file_size(full, ec);
  if (ec) return TableLoadResult::kNoFile;
  FilePtr f(std::fopen(full.c_str(), "rb"));
  if (!f) return TableLoadResult::kNoFile;

  TableLoadResult result = TableLoadResult::kLoaded;
  if (RawFile) {
    Bytes structure;
    Bytes* cache = nullptr;
    if (CacheEnabled) {
      structure.assign(2, 0);
      cache = &structure;
    }
    if (Compressed) {
      InflateSource src(f.get(), std::min<uint64_t>(kMaxInflatedBytes, size * kZlibMaxRatio + 64));
      result = LoadRaw(src, cache);
      // The whole stream must be sound (its checksum included) before the load counts.
      if (src.Failed() || !src.Finish()) {
        Loaded = false;
        return TableLoadResult::kInflateFailed;
      }
    } else {
      FileSource src(f.get(), size);
      result = LoadRaw(src, cache);
    }
  } else {
    std::string text(static_cast<size_t>(size), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f.get()));
    f.reset();
    LoadTableData(text);
  }
  f.reset();
  std::filesystem::remove(full, ec);
  return result;
}

namespace {

// Splits at every comma.
std::vector<std::string_view> SplitCommas(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = s.find(',', start);
    if (comma == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, comma - start));
    start = comma + 1;
  }
}

int32_t StrictInt(std::string_view s) {
  auto v = ParseInt32(s);
  if (!v) throw ConversionError(std::string(s));
  return *v;
}

}  // namespace

void TBaseClient::LoadTableData(std::string_view text) {
  ++ChangeCount_;
  if (JsonGetValue(text, "$c$") == "tabledata") {
    int32_t rows = ParseInt32(JsonGetValue(text, "count")).value_or(0);
    // A negative or absurd count is taken as no rows: columns are sized from it.
    if (rows < 0 || rows > kMaxRowCount) rows = 0;
    SetCount(rows);
    std::string list = JsonGetValue(text, "tablefields");
    std::string key, value;
    while (JsonNextPair(list, key, value)) {
      auto parts = SplitCommas(value);
      // Fewer than four numbers is as bad as a non-numeric one.
      if (parts.size() < 4) throw ConversionError(value);
      FieldDescriptor d;
      d.Number = StrictInt(parts[0]);
      d.Type = static_cast<uint8_t>(StrictInt(parts[1]));
      d.Width = StrictInt(parts[2]);
      d.TextWidth = StrictInt(parts[3]);
      // Widths no field can have are taken as 0, as for a field without a column.
      if (d.Width < 0 || d.Width > kMaxFieldWidth) d.Width = 0;
      if (d.TextWidth < 0 || d.TextWidth > kMaxFieldWidth) d.TextWidth = 0;
      d.Name = key;
      AddField(d);
    }
    std::string columns = JsonGetValue(text, "fields");
    size_t n = static_cast<size_t>(rows);
    while (JsonNextPair(columns, key, value)) {
      FieldGFB* f = FindField(key);
      if (!f) continue;
      auto parts = SplitCommas(value);
      // A column is as long as the values sent for it, at most the row count: a count alone
      // cannot make us allocate.
      size_t len = std::min(n, parts.size());
      if (f->FieldType == kTypeInt) {
        f->Data.Ints.assign(len, 0);
        for (size_t i = 0; i < len; ++i) f->Data.Ints[i] = ParseInt32(parts[i]).value_or(0);
      } else if (f->FieldType == kTypePoolText) {
        f->Data.Strings.assign(len, std::string());
        for (size_t i = 0; i < len; ++i) {
          std::string_view p = parts[i];
          if (!p.empty() && p.front() == '"') p.remove_prefix(1);
          if (!p.empty() && p.back() == '"') p.remove_suffix(1);
          f->Data.Strings[i] = std::string(p);
        }
      }
    }
  }
  FinishLoad();
}

}  // namespace ab
