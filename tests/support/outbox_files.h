#pragma once
// Files as tests place them: whole-file reads and writes, and the outbox's index and records
// the way the producing programs write them.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "util/backsoob.h"
#include "util/bytes.h"

namespace ab::test {

inline std::string Le32(int32_t v) {
  uint8_t raw[4];
  PutI32(raw, v);
  return std::string(reinterpret_cast<const char*>(raw), 4);
}

// One record: FF FF, length, message, FE FF.
inline std::string OutboxRecord(const std::string& message) {
  return "\xFF\xFF" + Le32(static_cast<int32_t>(message.size())) + message + "\xFE\xFF";
}

// backsoob.dat: signature, pending count, read and write file numbers.
inline std::string OutboxIndex(int32_t pending, int32_t read, int32_t write) {
  return Le32(TBackSoobString::kSignature) + Le32(pending) + Le32(read) + Le32(write);
}

inline std::string ReadFileText(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Creates the folders on the way.
inline void WriteFileText(const std::filesystem::path& p, const std::string& content) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace ab::test
