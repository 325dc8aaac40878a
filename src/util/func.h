#pragma once
// Bit, scrambling, hex and tick functions shared by the link, the tables and the controller.
// They keep no state except the two key tables, which are set once at start-up before any
// thread uses them.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "util/bytes.h"
#include "util/clock.h"

namespace ab {

using KeyTable = std::array<uint8_t, 256>;

// On = 1 sets the bit of value 2^(bit - 1), any other value clears it; bit outside 1..8: no-op.
void SetBit(uint8_t& flags, int bit, uint8_t on);
// The bit of value 2^(bit - 1); false for a bit outside 1..8.
bool TestBit(int32_t value, int bit);

// Fresh seeds into bytes 0 and 1 (nothing for a buffer of fewer than 2 bytes).
void SeedBytes(std::span<uint8_t> buffer);
// XORs bytes 2.. with the key table of the selector (1 or 2), driven by seeds in bytes 0 and 1.
// Its own inverse. Fewer than 3 bytes or another selector: no-op.
void Scramble(std::span<uint8_t> buffer, uint8_t selector);
// Scramble of the n bytes from index 2 only; no-op for n < 1; n is clamped to size - 2.
void ScramblePrefix(std::span<uint8_t> buffer, int32_t n, uint8_t selector);
// Non-empty text: buffer := 2 seed bytes + the text, scrambled. Empty text: buffer unchanged.
void TextToScrambled(std::string_view text, Bytes& buffer, uint8_t selector);
// Non-empty text: buffer := its bytes. Empty text: buffer unchanged.
void TextToBytes(std::string_view text, Bytes& buffer);
// length / 2 bytes; a pair that is not hexadecimal gives 0; an odd last digit is ignored.
void HexToBytes(std::string_view text, Bytes& buffer);
// Two upper-case hexadecimal digits per byte.
std::string BytesToHex(std::span<const uint8_t> buffer);

// The key table of a selector (1 or 2); table 1 for any other value.
const KeyTable& GetKeyTable(uint8_t selector);
// Replaces key table 1 from 512 hexadecimal digits. Returns false, and keeps the table, for any
// other text. Call before the link starts.
bool SetKeyTable1FromHex(std::string_view hex);
// Restores the built-in key table 1 (tests).
void ResetKeyTable1();

}  // namespace ab
