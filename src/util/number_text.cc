#include "util/number_text.h"

#include <charconv>

namespace ab {

std::optional<int32_t> ParseInt32(std::string_view text) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  int32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

}  // namespace ab
