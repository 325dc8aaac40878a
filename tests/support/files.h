#pragma once
// Files and bytes as tests place and read them.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "util/bytes.h"

namespace ab::test {

inline std::string Le32(int32_t v) {
  uint8_t raw[4];
  PutI32(raw, v);
  return std::string(reinterpret_cast<const char*>(raw), 4);
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
