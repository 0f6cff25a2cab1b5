// The command-line switches: found anywhere in the lower-cased arguments.
#pragma once

#include <cstdint>
#include <string>

#include "platform/codepage.h"

namespace cabsetup {

constexpr std::uint32_t kSwitchUnattended = 0x01;  // "/a"
constexpr std::uint32_t kSwitchNoChanges = 0x02;   // "/p"
constexpr std::uint32_t kSwitchStatusFile = 0x08;  // "/s"

std::uint32_t ParseSwitches(const CodePage& cp, const std::string& arguments);

}  // namespace cabsetup
