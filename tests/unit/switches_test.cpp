#include <gtest/gtest.h>

#include "app/switches.h"

namespace cabsetup {
namespace {

TEST(Switches, FoundAnywhereInTheLowerCasedArguments) {
    TableCodePage cp(1252);
    struct Case {
        const char* arguments;
        std::uint32_t flags;
    } cases[] = {
        {"", 0},
        {"/a", kSwitchUnattended},
        {"/A /S", kSwitchUnattended | kSwitchStatusFile},
        {"/as", kSwitchUnattended},
        {"/a/s", kSwitchUnattended | kSwitchStatusFile},
        {"/p", kSwitchNoChanges},
        {"x:/src/setup", kSwitchStatusFile},
        {"-a -s", 0},
        {"\"/a\" /P /s", kSwitchUnattended | kSwitchNoChanges | kSwitchStatusFile},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseSwitches(cp, c.arguments), c.flags) << c.arguments;
}

TEST(Switches, SlashThatIsATrailByteIsNoSwitch) {
    // 0x2F can't be a trail byte of code page 949 on its own, but the system
    // pairs any byte with a lead byte; so must we.
    EXPECT_EQ(ParseSwitches(TableCodePage(949), "\xB0/s"), 0u);
    EXPECT_EQ(ParseSwitches(TableCodePage(1252), "\xB0/s"), kSwitchStatusFile);
}

}  // namespace
}  // namespace cabsetup
