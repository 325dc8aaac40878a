#pragma once
// Text renderings of table values and the text order of the filter and the sort.
// Fixed formats: date dd.MM.yyyy, time HH:mm:ss, decimal separator ".".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/number_text.h"

namespace ab {

// Day number of 2000-01-01 counted from 1899-12-30.
inline constexpr double kDays2000 = 36526.0;

// Shortest text with up to 15 significant digits: fixed notation for magnitudes from 0.00001
// with at most 15 integer digits, otherwise d.dddE-7 style; "0" for zero.
std::string FloatText(double v);
// "dd.MM.yyyy HH:mm:ss", or the date alone at exactly midnight. Days since 1899-12-30.
std::string DateTimeText(double days);
// 2000-01-01 00:00:00 plus the seconds, as days since 1899-12-30.
double SecondsToDateTime(uint32_t seconds);
// DateTimeText of 2000-01-01 00:00:00 plus the seconds, computed without rounding.
std::string SecondsText(uint32_t seconds);

// A whole text as a decimal number with "." (blanks around it allowed); none otherwise.
std::optional<double> ParseDecimal(std::string_view text);

// Windows-1251 lower case (ASCII and Cyrillic letters).
uint8_t LowerCp1251(uint8_t c);
std::string LowerText(std::string_view text);
// Case-insensitive order of the sort: lower case, Cyrillic letters in alphabet order (ё after е),
// then by length.
bool CollateLess(std::string_view a, std::string_view b);

}  // namespace ab
