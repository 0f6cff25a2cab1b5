// What the Uninstall key holds after a full installation and after an
// update, value by value with its type, how it is logged, and that the
// uninstaller takes all of it away again; the package's size as the engine
// counts it.
#include <gtest/gtest.h>

#include "actions/completion.h"
#include "app/startup.h"
#include "engine_fixture.h"
#include "formats/little_endian.h"
#include "host_sandbox.h"
#include "tool_script.h"
#include "uninstall/uninstaller.h"

namespace cabsetup::testing {
namespace {

constexpr char kLogKey[] = "HKEY_LOCAL_MACHINE\\SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ToolKey";

class Registration : public HostSandbox {
public:
    using HostSandbox::host_;

    Registration() {
        state_.folders.targetDir = "C:\\Tool";
        ScriptHalf first = ToolScript();
        first.header.companyName = "Example Co";
        state_.script.SetFirst(first);
        state_.packageFileBytes = 5000;
        host_.SetTime({2026, 3, 9, 23, 59, 1});
        MakeFolder("C:\\Tool");
    }
    ScriptHeader& Header() { return const_cast<ScriptHeader&>(state_.script.First().header); }
    bool Complete() {
        host_.SetComInitialised(false);  // each run as a fresh process
        PollingWaiter waiter(os_);
        return CompleteInstallation(os_, state_, log_, waiter);
    }
    // "sz:<text>", "dword:<n>", or what else is there.
    std::string Value(const std::string& name) {
        std::uint32_t type = 0;
        std::vector<unsigned char> data;
        if (!host_.RegistryValue(RegRoot::LocalMachine, UninstallKeyPath("ToolKey"), name, type, data)) return "<absent>";
        if (type == kRegDword && data.size() == 4) return "dword:" + std::to_string(le::U32(data.data()));
        if (type == kRegSz && !data.empty() && data.back() == 0) return "sz:" + std::string(data.begin(), data.end() - 1);
        return "<type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes>";
    }
    // The value names of the package's key, lower-cased and sorted.
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        const std::string prefix = host_.Mbcs().Lowered(UninstallKeyPath("ToolKey")) + "\\";
        for (const auto& [name, value] : host_.RegistryContents()) {
            std::size_t at = name.find(prefix);
            if (at != std::string::npos && at + prefix.size() < name.size() &&
                name.find('\\', at + prefix.size()) == std::string::npos)
                names.push_back(name.substr(at + prefix.size()));
        }
        return names;
    }

    SetupState state_;
    CInstallLog log_;
};

struct Expected {
    const char* name;
    std::string value;
};

TEST_F(Registration, FullInstallationWritesWhatDeploymentToolsRead) {
    ASSERT_TRUE(Complete());
    const std::string quiet = "\"C:\\Tool\\uninstall.exe\" Tool";
    const Expected expected[] = {
        {"DisplayName", "sz:Tool 1.2"},
        {"UninstallString", "sz:" + quiet},
        {"InstalledPath", "sz:C:\\Tool"},
        {"InstalledVersion", "sz:1.2"},
        {"Installed MainModule", "sz:C:\\Tool\\tool.exe"},
        {"DisplayVersion", "sz:1.2"},
        {"Publisher", "sz:Example Co"},
        {"InstallLocation", "sz:C:\\Tool"},
        {"QuietUninstallString", "sz:" + quiet + " /a /s"},
        {"EstimatedSize", "dword:5"},  // 5000 bytes: 4.9 KiB, rounded up
        {"DisplayIcon", "sz:C:\\Tool\\tool.exe"},
        {"NoModify", "dword:1"},
        {"NoRepair", "dword:1"},
        {"InstallDate", "sz:20260309"},
    };
    for (const Expected& e : expected) EXPECT_EQ(Value(e.name), e.value) << e.name;
    // Logged as the first values are: each with the key's own line before it
    // (DisplayName, written first, creates the key), in the order written.
    std::string log;
    for (const Expected& e : expected)
        log += std::string(e.name == std::string("DisplayName") ? "" : "REGE    " + std::string(kLogKey) + "\\\n") +
               "REGE    " + kLogKey + "\\" + e.name + "\n";
    log = "FILE    C:\\Tool\\tool.exe\nREGE    " + std::string(kLogKey) + "\\\n" + log;
    EXPECT_EQ(log_.Text(), log);
}

TEST_F(Registration, VariantsOfAFullInstallation) {
    const struct {
        const char* what;
        std::function<void(Registration&)> arrange;
        std::vector<Expected> expected;
    } cases[] = {
        {"no main module: the uninstaller's icon", [](Registration& t) { t.Header().mainModuleTarget.clear(); },
         {{"DisplayIcon", "sz:C:\\Tool\\uninstall.exe"}}},
        {"version from the linked set's volume",
         [](Registration& t) {
             t.Header().versionFromVolume = "yes";
             t.state_.script.SetVolumeVersion("1.2.7");
         },
         {{"InstalledVersion", "sz:1.2.7"}, {"DisplayVersion", "sz:1.2.7"}}},
        {"no company: an empty publisher", [](Registration& t) { t.Header().companyName.clear(); },
         {{"Publisher", "sz:"}}},
        {"an empty package", [](Registration& t) { t.state_.packageFileBytes = 0; }, {{"EstimatedSize", "dword:0"}}},
        {"one byte is a whole KiB", [](Registration& t) { t.state_.packageFileBytes = 1; }, {{"EstimatedSize", "dword:1"}}},
        {"exactly 1 KiB", [](Registration& t) { t.state_.packageFileBytes = 1024; }, {{"EstimatedSize", "dword:1"}}},
        {"one byte more", [](Registration& t) { t.state_.packageFileBytes = 1025; }, {{"EstimatedSize", "dword:2"}}},
        {"beyond what a DWORD holds", [](Registration& t) { t.state_.packageFileBytes = (1ull << 42) + 1; },
         {{"EstimatedSize", "dword:4294967295"}}},
        {"placeholders in the icon's path",
         [](Registration& t) { t.Header().mainModuleTarget = "<TARGET_DIR>\\bin\\tool.exe"; },
         {{"DisplayIcon", "sz:C:\\Tool\\bin\\tool.exe"}}},
        {"a folder with spaces stays quoted",
         [](Registration& t) { t.state_.folders.targetDir = "C:\\Program Files\\Tool"; },
         {{"QuietUninstallString", "sz:\"C:\\Program Files\\Tool\\uninstall.exe\" Tool /a /s"},
          {"InstallLocation", "sz:C:\\Program Files\\Tool"}}},
        {"first of January", [](Registration& t) { t.host_.SetTime({2031, 1, 1, 0, 0, 0}); },
         {{"InstallDate", "sz:20310101"}}},
        // The silent command is the longest text: one that does not fit
        // refuses the registration whole, as the first values' do.
        {"quiet uninstall string too long", [](Registration& t) { t.Header().modelName = std::string(228, 'm'); },
         {{"QuietUninstallString", "<absent>"}, {"UninstallString", "<absent>"}, {"DisplayName", "<absent>"}}},
    };
    for (const auto& c : cases) {
        // Each variant from nothing: no earlier values, a fresh state and log.
        if (Os::HandlePtr key = host_.RegOpenKey(RegRoot::LocalMachine, UninstallKeyPath("ToolKey"), kKeyAllAccess)) {
            for (const std::string& n : Names()) host_.RegDeleteValue(*key, n);
        }
        ASSERT_TRUE(Names().empty());
        state_ = SetupState();
        state_.folders.targetDir = "C:\\Tool";
        ScriptHalf first = ToolScript();
        first.header.companyName = "Example Co";
        state_.script.SetFirst(first);
        state_.packageFileBytes = 5000;
        host_.SetTime({2026, 3, 9, 23, 59, 1});
        log_ = CInstallLog();
        c.arrange(*this);
        const bool refused = c.expected[0].value == "<absent>";
        EXPECT_EQ(Complete(), !refused) << c.what;
        for (const Expected& e : c.expected) EXPECT_EQ(Value(e.name), e.value) << c.what << ": " << e.name;
    }
}

// An update refreshes what tools show (the version, and the name when its
// script has one) and touches nothing else of the registration.
TEST_F(Registration, UpdateRefreshesVersionAndName) {
    ASSERT_TRUE(Complete());
    const std::vector<std::string> before = Names();
    for (bool named : {true, false}) {
        Header().setupKind = kSetupKindUpdate;
        Header().modelVersion = named ? "1.3" : "1.4";
        Header().displayName = named ? "<MODEL_NAME> <MODEL_VERSION> (updated)" : "";
        Header().companyName = "Someone Else";
        state_.packageFileBytes = 99999;
        host_.SetTime({2027, 1, 2, 3, 4, 5});
        ASSERT_TRUE(Complete()) << named;
        const Expected expected[] = {
            {"DisplayName", "sz:Tool 1.3 (updated)"},  // the second update has none: the first's stays
            {"DisplayVersion", named ? "sz:1.3" : "sz:1.4"},
            {"InstalledVersion", named ? "sz:1.3" : "sz:1.4"},
            {"Publisher", "sz:Example Co"},
            {"EstimatedSize", "dword:5"},
            {"InstallDate", "sz:20260309"},
            {"UninstallString", "sz:\"C:\\Tool\\uninstall.exe\" Tool"},
        };
        for (const Expected& e : expected) EXPECT_EQ(Value(e.name), e.value) << named << ": " << e.name;
        EXPECT_EQ(Names(), before) << "no value added or lost";
    }
}

// A whole installation's registration, logged by the completion step and
// saved with its digest, goes with the package: the uninstaller proves the
// log and removes every value and the key.
TEST_F(Registration, UninstallerRemovesEveryValue) {
    host_.SetModulePath("C:\\Tool\\uninstall.exe");
    WriteFile("C:\\Tool\\uninstall.exe", "MZ");
    WriteFile("C:\\Tool\\tool.exe", "MZ");
    os_.RegCreateKey(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    log_.SetFolder("C:\\Tool");
    log_.AddFile("C:\\Tool\\");
    log_.AddFile("C:\\Tool\\uninstall.exe");
    ASSERT_TRUE(Complete());
    ASSERT_TRUE(SaveInstallLog(os_, state_, log_));
    ASSERT_EQ(Names().size(), 15u);  // the fourteen and the log's digest
    RemovalPlan plan;
    EXPECT_EQ(RemovePackage(os_, ParseUninstallArguments("Tool /a /s"), "C:\\Tool\\uninstall.exe", &plan),
              kUninstallRemoved);
    EXPECT_TRUE(Names().empty());
    EXPECT_FALSE(host_.KeyExists(RegRoot::LocalMachine, UninstallKeyPath("ToolKey")));
    EXPECT_FALSE(Exists("C:\\Tool\\tool.exe"));
}

using EngineCount = EngineTest;

// The engine counts every file record of both sets, written or kept, and
// starts from nothing on each run.
TEST_F(EngineCount, PackageBytesCoverBothSetsAndKeptFiles) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 3000), "<TARGET_DIR>\\a"));
    m.files.push_back(File(Payload("kept", 700), "<TARGET_DIR>\\kept", KeepExisting));
    m.files.push_back(File(Payload("empty", 0), "<TARGET_DIR>\\empty"));
    m.hasLinked = true;
    m.linked.label = "Extras";
    m.linked.files.push_back(File(Payload("l", 1234), "<TARGET_DIR>\\l"));
    Build(m);
    WriteFile("C:\\Program Files\\Tool\\kept", "mine");
    state_.packageFileBytes = 123456789;  // an earlier run's count
    Install();
    ASSERT_EQ(LastCode(), NOTIFY_DONE);
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\kept"), "mine");
    EXPECT_EQ(state_.packageFileBytes, 3000u + 700u + 0u + 1234u);
}

}  // namespace
}  // namespace cabsetup::testing
