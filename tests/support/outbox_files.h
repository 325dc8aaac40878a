#pragma once
// The outbox's index and records the way the producing programs write them.

#include <cstdint>
#include <string>

#include "support/files.h"
#include "util/backsoob.h"

namespace ab::test {

// One record: FF FF, length, message, FE FF.
inline std::string OutboxRecord(const std::string& message) {
  return "\xFF\xFF" + Le32(static_cast<int32_t>(message.size())) + message + "\xFE\xFF";
}

// backsoob.dat: signature, pending count, read and write file numbers.
inline std::string OutboxIndex(int32_t pending, int32_t read, int32_t write) {
  return Le32(TBackSoobString::kSignature) + Le32(pending) + Le32(read) + Le32(write);
}

}  // namespace ab::test
