#pragma once
// Small text conversions of the HTTP layer and its resources.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/number_text.h"

namespace ab {

// Request target to path: cut at the first '?', then %XX decoded; a '%' not followed by two hex
// digits stays as it is.
std::string PathOfTarget(std::string_view target);

enum class AuthKind { kNone, kBasic, kOther };

struct Credentials {
  AuthKind Kind = AuthKind::kNone;
  std::string UserName;
  std::string Password;
};

// Reads an Authorization header value. An empty value counts as none. Basic (any letter case)
// is Base64-decoded and split at the first colon; undecodable Base64 gives empty credentials.
Credentials ParseAuthorization(std::string_view header_value);

// Standard Base64 (with padding); nullopt for malformed input.
std::optional<std::string> DecodeBase64(std::string_view text);

// Equal texts, in time that depends on the lengths only.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// ParseInt32 with 0 for anything else.
int32_t ParseInt32Or0(std::string_view text);

// Nearest integer, halves to the even neighbour; saturates at the int64 range, NaN gives 0.
int64_t RoundHalfEven(double value);

// printf "%3.6f" of the widened float with every ',' made '.'.
std::string FormatCoordinate(float value);

// After JsonEscape: control characters become \uXXXX so the text stays valid JSON.
std::string EscapeJsonControls(std::string_view text);

}  // namespace ab
