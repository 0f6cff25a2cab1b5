// Dates and times as digits only, for names and values a tool sorts by text.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// "yyyymmdd", as the list of programs reads an installation date.
std::string DateDigits(const LocalTime& t);
// "hhmmss".
std::string TimeDigits(const LocalTime& t);

}  // namespace cabsetup
