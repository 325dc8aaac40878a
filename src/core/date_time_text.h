#pragma once
// The fixed date and time texts of the operator's screen and logs (dd.MM.yyyy HH:mm:ss, local).

#include <string>

#include "util/clock.h"

namespace ab {

// "05.03.2024 14:07:09"; at exactly midnight only the date, as the operator's screen always had.
std::string FormatDateTime(Clock::WallTime t);
// "20240305": the day part of daily file names.
std::string FormatDay(Clock::WallTime t);

}  // namespace ab
