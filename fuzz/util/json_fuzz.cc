// Feeds arbitrary text to the JSON cutters and escapers. The first byte picks the key length,
// so keys present in the text are found often. Besides memory errors it checks the properties
// callers' loops rely on: every cut shortens the text or ends the walk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "util/json.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

size_t CountOf(std::string_view s, std::string_view chars) {
  size_t n = 0;
  for (char c : s) n += chars.find(c) != std::string_view::npos;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t key_len = std::min<size_t>(data[0] % 16, size - 1);
  const std::string_view key(reinterpret_cast<const char*>(data + 1), key_len);
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + key_len),
                              size - 1 - key_len);

  Check(ab::JsonEscape(text).size() == text.size() + CountOf(text, "\"\\/"));
  ab::XmlEscape(text);

  const std::string value = ab::JsonGetValue(text, key);
  Check(value.size() <= text.size());

  std::string rest(text);
  for (;;) {
    const size_t before = rest.size();
    const std::string element = ab::JsonNextElement(rest);
    if (element.empty()) break;
    Check(rest.size() < before);
    Check(element.front() == '{' || element.front() == '[');
  }

  rest.assign(text);
  std::string k, v;
  for (;;) {
    const size_t before = rest.size();
    if (!ab::JsonNextPair(rest, k, v)) break;
    Check(rest.size() < before);
  }
  return 0;
}
