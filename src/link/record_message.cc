#include "link/record_message.h"

#include <algorithm>

#include "util/bytes.h"

namespace ab {

std::optional<RecordMessage> ReadRecordMessage(std::span<const uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  return RecordMessage{GetI32(bytes.data()), bytes.subspan(4)};
}

std::optional<TableRecord> ReadTableRecord(std::span<const uint8_t> body) {
  if (body.size() < kNameSlot + 4) return std::nullopt;
  const size_t n = std::min<size_t>(body[0], kNameSlot - 1);
  TableRecord r;
  r.Table.assign(reinterpret_cast<const char*>(body.data() + 1), n);
  r.Value = GetI32(body.data() + kNameSlot);
  return r;
}

int32_t ForEachBundleEntry(std::span<const uint8_t> body,
                           const std::function<void(std::span<const uint8_t>)>& each,
                           bool& complete) {
  complete = true;
  if (body.empty()) {
    complete = false;
    return 0;
  }
  const int32_t n = body[0];
  size_t at = 1;
  for (int32_t i = 0; i < n; ++i) {
    if (body.size() - at < 4) {
      complete = false;
      break;
    }
    const int32_t len = GetI32(body.data() + at);
    at += 4;
    if (len < 0 || static_cast<size_t>(len) > body.size() - at) {
      complete = false;
      break;
    }
    each(body.subspan(at, static_cast<size_t>(len)));
    at += static_cast<size_t>(len);
  }
  return n;
}

}  // namespace ab
