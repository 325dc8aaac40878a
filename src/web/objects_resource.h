#pragma once
// GET /GetObjects: passports of the selected objects as one JSON array (UTF-8).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "web/http_message.h"
#include "web/web_context.h"
#include "web/web_table.h"

namespace ab {

// Unix seconds of a table date-time (days since 1899-12-30) shifted back by a fixed 8 hours,
// never below 0, rounded half to even.
int64_t UpdateDateSeconds(double date_time);

// A coordinate as printf "%3.6f" writes it with a full stop for the decimal separator, into
// out (room for kCoordinateChars); returns the number of bytes written.
inline constexpr size_t kCoordinateChars = 64;
size_t WriteCoordinate(float value, char* out);

// The whole answer body. The caller holds the controller's Lock; moves the cursor row of
// "mesmaps".
std::string BuildObjectPassports(const WebTableSet& tables, std::string_view public_address,
                                 std::optional<int32_t> object_filter);

// The last unfiltered body and what it was built from, so that an unchanged one is not built
// again. Everything but the counters is guarded by the controller's Lock.
class PassportCache {
 public:
  // The stored body when the key is known and the same as the stored one, and the address the
  // same; moves the cursor row of "mesmaps" where building the body would have left it.
  std::shared_ptr<const std::string> Find(const std::optional<SourceKey>& key,
                                          const WebTableSet& tables,
                                          std::string_view public_address);
  // Keeps the body built from the key's state; returns it.
  std::shared_ptr<const std::string> Store(const SourceKey& key, std::string_view public_address,
                                           std::string body, int32_t last_picture_row);

  // Unfiltered bodies built and served from here; any thread.
  uint64_t Builds() const { return builds_.load(std::memory_order_relaxed); }
  uint64_t Hits() const { return hits_.load(std::memory_order_relaxed); }
  void CountBuild() { builds_.fetch_add(1, std::memory_order_relaxed); }

 private:
  SourceKey key_{};
  std::string address_;
  std::shared_ptr<const std::string> body_;
  int32_t last_picture_row_ = 0;
  std::atomic<uint64_t> builds_{0};
  std::atomic<uint64_t> hits_{0};
};

// The resource: filter from the body's "object_id", build under Lock (or reuse the last
// unfiltered body when the context keeps a cache and nothing changed), content type.
HttpAnswer GetObjects(WebContext& ctx, std::string_view body);

}  // namespace ab
