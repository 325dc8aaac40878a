// Local copies of a table: the scrambled structure and column caches under temp/<table>/ and the
// plain column archive under arh/<table>/. Only this program reads them back.

#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <fstream>
#include <system_error>
#include <thread>

#include "tables/base_client.h"
#include "util/func.h"

namespace ab {

namespace {

constexpr uint8_t kCacheKeyTable = 1;
constexpr size_t kCacheHead = 19;  // seeds, type code, MD5 digest

// Field names come from the server: one that could leave the table's directory gets no file.
bool SafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

template <typename T>
void AppendArray(Bytes& out, const std::vector<T>& v, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    T e = i < v.size() ? v[i] : T{};
    uint8_t b[sizeof(T)];
    std::memcpy(b, &e, sizeof(T));
    if constexpr (std::endian::native != std::endian::little) std::reverse(b, b + sizeof(T));
    out.insert(out.end(), b, b + sizeof(T));
  }
}

// Up to count elements from the bytes. A cache file shorter than its counts gives a shorter
// column (read as empty beyond its end), so a damaged count cannot make us allocate.
template <typename T>
void FillArray(std::vector<T>& v, size_t count, std::span<const uint8_t> bytes) {
  size_t n = std::min(count, bytes.size() / sizeof(T));
  v.assign(n, T{});
  for (size_t i = 0; i < n; ++i) {
    uint8_t b[sizeof(T)];
    std::memcpy(b, bytes.data() + i * sizeof(T), sizeof(T));
    if constexpr (std::endian::native != std::endian::little) std::reverse(b, b + sizeof(T));
    std::memcpy(&v[i], b, sizeof(T));
  }
}

// The per-row column bytes as they came in the table file (codes for 15/16, offsets for 24).
Bytes ColumnBytes(const FieldGFB& f, size_t rows) {
  Bytes out;
  const Stru_Data& d = f.Data;
  switch (f.FieldType) {
    case kTypeInt:
    case kTypeHexInt:
    case kTypePoolText:
      AppendArray(out, d.Ints, rows);
      break;
    case kTypeShortText:
    case kTypeRawBytes:
      AppendArray(out, d.Bytes, rows * f.RowBytes());
      break;
    case kTypeByte:
    case kTypeCoded16:
      AppendArray(out, d.Bytes, rows);
      break;
    case kTypeBool:
      AppendArray(out, d.Bools, rows);
      break;
    case kTypeWord:
    case kTypeCoded32:
      AppendArray(out, d.Words, rows);
      break;
    case kTypeSingle:
      AppendArray(out, d.Singles, rows);
      break;
    case kTypeDouble:
      AppendArray(out, d.Doubles, rows);
      break;
    case kTypeCardinal:
    case kTypeSeconds:
      AppendArray(out, d.Cardinals, rows);
      break;
    case kTypeDate:
      AppendArray(out, d.Dates, rows);
      break;
    case kTypeInt64:
      AppendArray(out, d.Int64s, rows);
      break;
    default:
      break;
  }
  return out;
}

size_t DictionarySize(const FieldGFB& f) {
  return f.FieldType == kTypeCoded32 ? f.Data.Cardinals.size() : f.Data.Words.size();
}

uint32_t DictionaryKey(const FieldGFB& f, size_t k) {
  return f.FieldType == kTypeCoded32 ? f.Data.Cardinals[k] : f.Data.Words[k];
}

std::string DictionaryText(const FieldGFB& f, size_t k) {
  return k < f.Data.Strings.size() ? f.Data.Strings[k].substr(0, 255) : std::string();
}

bool WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ReadWhole(std::FILE* f, Bytes& out) {
  out.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  return !std::ferror(f);
}

void Md5(std::span<const uint8_t> data, uint8_t digest[16]) {
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr);
}

}  // namespace

void TBaseClient::WriteStructureCache(std::vector<uint8_t>& image) {
  if (!SafeFileName(NameTable)) return;
  SeedBytes(image);
  Scramble(image, kCacheKeyTable);
  std::error_code ec;
  std::filesystem::create_directories(CacheDir(), ec);
  WriteFile(CacheDir() / (NameTable + ".cacheb"), image);
}

void TBaseClient::WriteColumnFiles(const FieldGFB& f) {
  if (!SafeFileName(f.FieldName) || !SafeFileName(NameTable)) return;
  if (!CacheEnabled && !ArchiveEnabled) return;
  size_t rows = static_cast<size_t>(std::max(RowCount_, 0));
  bool coded = f.FieldType == kTypeCoded32 || f.FieldType == kTypeCoded16;
  std::error_code ec;

  if (ArchiveEnabled) {
    std::filesystem::create_directories(ArchiveDir(), ec);
    std::filesystem::path base = ArchiveDir() / f.FieldName;
    if (coded) {
      // Keys shortened to 2 bytes (type 15) or 1 byte (type 16); a text longer than its slot
      // is cut to fit.
      Bytes ffs;
      size_t slot = static_cast<size_t>(std::max(f.TextWidth, 0));
      for (size_t k = 0; k < DictionarySize(f); ++k) {
        uint32_t key = DictionaryKey(f, k);
        if (f.FieldType == kTypeCoded32) {
          AppendU16(ffs, static_cast<uint16_t>(key));
        } else {
          ffs.push_back(static_cast<uint8_t>(key));
        }
        AppendSlotText(ffs, DictionaryText(f, k), slot);
      }
      WriteFile(base.string() + ".ffs", ffs);
    }
    if (rows > 0) {
      WriteFile(base.string() + ".ffb", ColumnBytes(f, rows));
      if (f.FieldType == kTypePoolText) WriteFile(base.string() + ".ffv", f.Data.Bytes);
    }
  }

  if (CacheEnabled && rows > 0) {
    Bytes payload;
    if (coded) {
      payload.push_back(f.FieldType);
      size_t count = std::min<size_t>(DictionarySize(f), 0xFFFF);
      AppendU16(payload, static_cast<uint16_t>(count));
      for (size_t k = 0; k < count; ++k) {
        uint32_t key = DictionaryKey(f, k);
        if (f.FieldType == kTypeCoded32) {
          AppendU32(payload, key);
        } else {
          AppendU16(payload, static_cast<uint16_t>(key));
        }
        std::string text = DictionaryText(f, k);
        payload.push_back(static_cast<uint8_t>(text.size()));
        payload.insert(payload.end(), text.begin(), text.end());
      }
    }
    Bytes column = ColumnBytes(f, rows);
    payload.insert(payload.end(), column.begin(), column.end());
    if (f.FieldType == kTypePoolText)
      payload.insert(payload.end(), f.Data.Bytes.begin(), f.Data.Bytes.end());

    Bytes file(kCacheHead);
    file[2] = f.FieldType;
    Md5(payload, file.data() + 3);
    file.insert(file.end(), payload.begin(), payload.end());
    SeedBytes(file);
    Scramble(file, kCacheKeyTable);
    std::filesystem::create_directories(CacheDir(), ec);
    WriteFile(CacheDir() / (f.FieldName + ".cache"), file);
  }
}

FilePtr TBaseClient::OpenShared(const std::filesystem::path& path, int attempts) {
  for (int i = 0; i < attempts; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    FilePtr f(std::fopen(path.c_str(), "r+b"));
    if (f) return f;
  }
  return nullptr;
}

void TBaseClient::LoadCache() {
  ++ChangeCount_;
  if (!CacheEnabled || !SafeFileName(NameTable)) return;
  std::error_code ec;
  std::filesystem::path structure_path = CacheDir() / (NameTable + ".cacheb");
  if (!std::filesystem::is_regular_file(structure_path, ec)) return;
  Bytes image;
  {
    FilePtr f = OpenShared(structure_path, OpenSharedAttempts);
    if (!f || !ReadWhole(f.get(), image)) return;
  }
  Scramble(image, kCacheKeyTable);
  if (image.size() < 2 + kTableHeaderSize) return;
  const uint8_t* header = image.data() + 2;
  int32_t rows = GetI32(header + kHeaderRowCount);
  if (rows < 0 || rows > kMaxRowCount) rows = 0;
  auto n = static_cast<size_t>(GetI32(header + kHeaderFieldCount) & 0xFFFF);
  size_t row_count = static_cast<size_t>(rows);

  for (size_t k = 0; k < n; ++k) {
    size_t at = 2 + kTableHeaderSize + k * kDescriptorSize;
    if (at + kDescriptorSize > image.size()) break;
    FieldDescriptor d = FieldDescriptor::Read(image.data() + at);
    if (d.Width < 0 || d.Width > kMaxFieldWidth || d.TextWidth < 0 || d.TextWidth > kMaxFieldWidth)
      break;  // not a structure this program wrote
    FieldGFB& f = *Fields[static_cast<size_t>(AddField(d))];
    if (!SafeFileName(f.FieldName)) continue;
    std::filesystem::path column_path = CacheDir() / (f.FieldName + ".cache");
    if (!std::filesystem::exists(column_path, ec)) continue;
    Bytes file;
    {
      FilePtr cf = OpenShared(column_path, OpenSharedAttempts);
      if (!cf) return;  // stops the whole load: later fields get no digest
      if (!ReadWhole(cf.get(), file)) return;
    }
    Scramble(file, kCacheKeyTable);
    if (file.size() < kCacheHead) continue;  // too short to be ours
    f.Md5 = BytesToHex({file.data() + 3, 16});
    f.FieldType = file[2];
    f.Present = true;
    if (row_count == 0) continue;

    std::span<const uint8_t> payload(file.data() + kCacheHead, file.size() - kCacheHead);
    Stru_Data& data = f.Data;
    switch (f.FieldType) {
      case kTypeCoded32:
      case kTypeCoded16: {
        bool wide = f.FieldType == kTypeCoded32;
        size_t count = payload.size() >= 3 ? GetU16(payload.data() + 1) : 0;
        size_t pos = 3;
        std::vector<uint32_t> keys;
        std::vector<std::string> texts;
        size_t key_size = wide ? 4 : 2;
        for (size_t e = 0; e < count && pos + key_size + 1 <= payload.size(); ++e) {
          uint32_t key = wide ? GetU32(payload.data() + pos) : GetU16(payload.data() + pos);
          size_t len = payload[pos + key_size];
          pos += key_size + 1;
          len = std::min(len, payload.size() - pos);
          keys.push_back(key);
          texts.emplace_back(reinterpret_cast<const char*>(payload.data() + pos), len);
          pos += len;
        }
        if (wide) {
          data.Cardinals = std::move(keys);
          FillArray(data.Words, row_count, payload.subspan(std::min(pos, payload.size())));
        } else {
          data.Words.assign(keys.begin(), keys.end());
          FillArray(data.Bytes, row_count, payload.subspan(std::min(pos, payload.size())));
        }
        data.Strings = std::move(texts);
        break;
      }
      case kTypePoolText: {
        FillArray(data.Ints, row_count, payload);
        size_t offsets = row_count * 4;
        size_t pool = static_cast<size_t>(std::clamp(d.Count, 0, kMaxPoolBytes));
        FillArray(data.Bytes, pool, payload.subspan(std::min(offsets, payload.size())));
        break;
      }
      case kTypeInt:
      case kTypeHexInt:
        FillArray(data.Ints, row_count, payload);
        break;
      case kTypeShortText:
      case kTypeRawBytes:
        FillArray(data.Bytes, row_count * f.RowBytes(), payload);
        break;
      case kTypeByte:
        FillArray(data.Bytes, row_count, payload);
        break;
      case kTypeBool:
        FillArray(data.Bools, row_count, payload);
        break;
      case kTypeWord:
        FillArray(data.Words, row_count, payload);
        break;
      case kTypeSingle:
        FillArray(data.Singles, row_count, payload);
        break;
      case kTypeDouble:
        FillArray(data.Doubles, row_count, payload);
        break;
      case kTypeCardinal:
      case kTypeSeconds:
        FillArray(data.Cardinals, row_count, payload);
        break;
      case kTypeDate:
        FillArray(data.Dates, row_count, payload);
        break;
      case kTypeInt64:
        FillArray(data.Int64s, row_count, payload);
        break;
      default:
        break;
    }
  }
}

}  // namespace ab
