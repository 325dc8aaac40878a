#pragma once
// GET /GetObjects: passports of the selected objects as one JSON array (UTF-8).

#include <cstddef>
#include <cstdint>
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

// The resource: filter from the body's "object_id", build under Lock, content type.
HttpAnswer GetObjects(WebContext& ctx, std::string_view body);

}  // namespace ab
