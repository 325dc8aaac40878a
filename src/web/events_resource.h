#pragma once
// GET /GetEvents: acknowledges what the consumer holds, lets the link fetch the next package and
// answers with the package waiting in the "bg" cursor, passed through byte for byte.

#include <chrono>
#include <string_view>

#include "web/http_message.h"
#include "web/link_signal.h"
#include "web/web_context.h"

namespace ab {

inline constexpr std::chrono::seconds kEventsWait{5};

// Throws std::invalid_argument when "events_date" is not a valid 32-bit integer (the server
// answers 500). Waits for the next package without holding the controller's Lock.
HttpAnswer GetEvents(WebContext& ctx, LinkSignal& signal, std::string_view body);

}  // namespace ab
