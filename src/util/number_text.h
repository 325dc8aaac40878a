#pragma once
// Strict decimal number texts from outside (files, requests): the whole text or nothing.

#include <cstdint>
#include <optional>
#include <string_view>

namespace ab {

// Optional sign and decimal digits only, within int32; nullopt for anything else.
std::optional<int32_t> ParseInt32(std::string_view text);

}  // namespace ab
