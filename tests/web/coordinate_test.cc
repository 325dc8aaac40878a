#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "web/objects_resource.h"
#include "web/request_text.h"

namespace ab {
namespace {

std::string Written(float v) {
  char buf[kCoordinateChars];
  return {buf, WriteCoordinate(v, buf)};
}

TEST(CoordinateTest, EdgesMatchPrintf) {
  const float cases[] = {37.5f,
                         -37.5f,
                         0.0078125f,  // exactly halfway at the sixth decimal: to even
                         -0.0078125f,
                         0.0234375f,  // halfway, rounds up to even
                         1e-9f,
                         -1e-9f,  // "-0.000000"
                         0.0000005f,
                         0.9999995f,  // carries into the whole part
                         -0.9999996f,
                         std::numeric_limits<float>::denorm_min(),
                         8.9e9f,  // last values of the fast path
                         9.1e9f,
                         1e12f,
                         std::numeric_limits<float>::max(),
                         -std::numeric_limits<float>::max(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         123456.789f};
  for (float v : cases) EXPECT_EQ(Written(v), FormatCoordinate(v)) << v;
}

TEST(CoordinateTest, SpreadOfAllFloatsMatchesPrintf) {
  // A prime stride walks every exponent and sign with varied mantissas.
  int mismatches = 0;
  for (uint64_t bits = 1; bits < (1ULL << 32) && mismatches < 5; bits += 20011) {
    float v = std::bit_cast<float>(static_cast<uint32_t>(bits));
    if (v == 0.0f) continue;
    std::string fast = Written(v);
    std::string slow = FormatCoordinate(v);
    if (fast != slow) {
      ++mismatches;
      ADD_FAILURE() << std::hexfloat << v << ": " << fast << " != " << slow;
    }
  }
}

}  // namespace
}  // namespace ab
