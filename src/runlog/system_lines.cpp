#include "runlog/system_lines.h"

#include "cabsetup_version.h"
#include "runlog/run_log.h"

namespace cabsetup {

std::string Hex(std::uint32_t value, int digits) {
    std::string out = "0x";
    for (int i = digits - 1; i >= 0; --i) out += "0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
    return out;
}

void LogProgramStart(Os& os, std::string_view program, std::string_view commandLine) {
    if (!RunLogOn()) return;
    RunLog& log = *TheRunLog();
    log.Line(std::string(program) + " " CABSETUP_VERSION " (cabsetup)");
    log.Line("command line: " + std::string(commandLine));
    log.Line("program: " + os.ModulePath());
    OsVersion v = os.Version();
    if (v.ok)
        log.Line("system: Windows " + std::to_string(v.major) + "." + std::to_string(v.minor) + ", platform " +
                 std::to_string(v.platformId));
    else
        log.Line("system: version unknown");
    SystemLocale locale = os.Locale();
    log.Line("language: interface " + Hex(locale.uiLanguage, 4) + ", ANSI code page " + std::to_string(locale.codePage));
}

}  // namespace cabsetup
