#pragma once
// Byte buffers and explicit little-endian reads and writes for wire and file layouts.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace ab {

using Bytes = std::vector<uint8_t>;

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
inline int16_t GetI16(const uint8_t* p) { return static_cast<int16_t>(GetU16(p)); }
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline int64_t GetI64(const uint8_t* p) { return static_cast<int64_t>(GetU64(p)); }
inline double GetF64(const uint8_t* p) {
  uint64_t v = GetU64(p);
  double d;
  std::memcpy(&d, &v, sizeof d);
  return d;
}
inline float GetF32(const uint8_t* p) {
  uint32_t v = GetU32(p);
  float f;
  std::memcpy(&f, &v, sizeof f);
  return f;
}

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, static_cast<uint64_t>(v)); }
inline void PutF64(uint8_t* p, double d) {
  uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  PutU64(p, v);
}

// Appending writers for building buffers.
inline void AppendU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendI32(Bytes& b, int32_t v) { AppendU32(b, static_cast<uint32_t>(v)); }
inline void AppendU64(Bytes& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace ab
