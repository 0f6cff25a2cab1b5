#include "app/switches.h"

namespace cabsetup {

std::uint32_t ParseSwitches(const CodePage& cp, const std::string& arguments) {
    std::string lower = arguments;
    cp.ToLower(lower);
    static constexpr struct {
        const char* text;
        std::uint32_t bit;
    } kSwitches[] = {{"/a", kSwitchUnattended}, {"/p", kSwitchNoChanges}, {"/s", kSwitchStatusFile}};
    std::uint32_t flags = 0;
    for (const auto& s : kSwitches)
        if (cp.Find(lower, s.text) != std::string::npos) flags |= s.bit;
    return flags;
}

}  // namespace cabsetup
