// The first lines of every run's log: which program, on which system, in
// which language, started how.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"

namespace cabsetup {

// "0x0409": a number as the system's documentation writes it.
std::string Hex(std::uint32_t value, int digits);

// The program and its version, the command line, the system's version, the
// interface language and the ANSI code page.
void LogProgramStart(Os& os, std::string_view program, std::string_view commandLine);

}  // namespace cabsetup
