#include <gtest/gtest.h>

#include "formats/little_endian.h"
#include "formats/setup_script.h"
#include "host_sandbox.h"

namespace cabsetup {
namespace {

ScriptHalf SampleScript() {
    ScriptHalf s;
    ScriptHeader& h = s.header;
    h.setupKind = kSetupKindFull;
    h.companyName = "Vendor";
    h.modelName = "Tool";
    h.modelVersion = "2.0";
    h.defaultTargetDir = "<PROGRAMFILES_DIR>\\Vendor\\Tool";
    h.mainModuleSource = "<TARGET_DIR>\\tool.ex_";
    h.mainModuleTarget = "<TARGET_DIR>\\tool.exe";
    h.windowTitle = "Tool Setup";
    h.displayName = "Vendor Tool";
    h.uninstallKey = "VendorTool";
    h.versionFromVolume = "yes";
    h.requiredVersion = "1.0";
    h.finishOptions = "REBOOT";
    RegistryRecord number;
    number.keyPath = "HKEY_LOCAL_MACHINE\\Software\\Vendor";
    number.valueName = "Count";
    number.valueType = 1;
    number.SetNumber(0xDEADBEEF);
    RegistryRecord text;
    text.keyPath = "HKEY_CURRENT_USER\\Software\\Vendor";
    text.valueType = 2;
    EXPECT_TRUE(text.SetText("<TARGET_DIR>"));
    text.generatedFlag = 1;
    s.registry = {number, text};
    s.shortcuts = {{"Tool", "<TARGET_DIR>\\tool.exe", "<STARTMENUPROGRAM_DIR>\\Tool", "<TARGET_DIR>\\tool.exe", 3}};
    s.programs = {{2, "<TARGET_DIR>\\post.exe", "/quiet", 5, 1}, {7, "x", "", 0, 0}};
    return s;
}

std::vector<unsigned char> Bytes(const ScriptHalf& s) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(WriteScript(s, bytes));
    return bytes;
}

TEST(SetupScriptFormat, RoundTripKeepsEveryField) {
    ScriptHalf in = SampleScript();
    std::vector<unsigned char> bytes = Bytes(in);
    ASSERT_EQ(bytes.size(), 5164u + 2 * 784 + 912 + 2 * 532);
    ScriptHalf out;
    ASSERT_TRUE(ParseScript(bytes.data(), bytes.size(), out));
    const ScriptHeader &a = in.header, &b = out.header;
    EXPECT_EQ(b.setupKind, a.setupKind);
    EXPECT_EQ(b.registryCount, 2u);
    EXPECT_EQ(b.shortcutCount, 1u);
    EXPECT_EQ(b.programCount, 2u);
    for (auto field : {&ScriptHeader::companyName, &ScriptHeader::modelName, &ScriptHeader::modelVersion,
                       &ScriptHeader::defaultTargetDir, &ScriptHeader::mainModuleSource,
                       &ScriptHeader::mainModuleTarget, &ScriptHeader::windowTitle, &ScriptHeader::displayName,
                       &ScriptHeader::uninstallKey, &ScriptHeader::versionFromVolume, &ScriptHeader::requiredVersion,
                       &ScriptHeader::finishOptions})
        EXPECT_EQ(b.*field, a.*field);
    ASSERT_EQ(out.registry.size(), 2u);
    EXPECT_EQ(out.registry[0].keyPath, "HKEY_LOCAL_MACHINE\\Software\\Vendor");
    EXPECT_EQ(out.registry[0].valueName, "Count");
    EXPECT_EQ(out.registry[0].Number(), 0xDEADBEEFu);
    EXPECT_EQ(out.registry[1].Text(), "<TARGET_DIR>");
    EXPECT_EQ(out.registry[1].generatedFlag, 1);
    ASSERT_EQ(out.shortcuts.size(), 1u);
    EXPECT_EQ(out.shortcuts[0].linkFolder, "<STARTMENUPROGRAM_DIR>\\Tool");
    EXPECT_EQ(out.shortcuts[0].iconIndex, 3);
    ASSERT_EQ(out.programs.size(), 2u);
    EXPECT_EQ(out.programs[0].arguments, "/quiet");
    EXPECT_EQ(out.programs[0].showCommand, 5);
    EXPECT_EQ(out.programs[0].waitForExit, 1);
    EXPECT_EQ(out.programs[1].action, 7);
}

TEST(SetupScriptFormat, FieldsSitAtTheirOffsets) {
    std::vector<unsigned char> b = Bytes(SampleScript());
    const unsigned char magic[] = {0xF0, 0xEE, 0xDD, 0xCC, 0x00, 0x11, 0x00, 0x00};
    EXPECT_TRUE(std::equal(std::begin(magic), std::end(magic), b.begin()));
    struct Case {
        std::size_t offset;
        const char* text;
    } texts[] = {
        {44, "Vendor"},           {300, "Tool"},        {556, "2.0"},   {1580, "Tool Setup"},
        {2092, "VendorTool"},     {2860, "yes"},        {3116, "1.0"},  {3372, "REBOOT"},
        {5164 + 132, "HKEY_LOCAL_MACHINE\\Software\\Vendor"}, {5164 + 388, "Count"},
        {5164 + 2 * 784 + 4, "Tool"},  // shortcut name
        {5164 + 2 * 784 + 912 + 136, "<TARGET_DIR>\\post.exe"},
    };
    for (const Case& c : texts) EXPECT_EQ(le::Text(&b[c.offset], 256), c.text) << c.offset;
    EXPECT_EQ(le::U32(&b[16]), 2u);  // registryCount
    EXPECT_EQ(le::U32(&b[20]), 2u);  // programCount
    EXPECT_EQ(le::U32(&b[24]), 1u);  // shortcutCount
    EXPECT_EQ(le::I32(&b[5164 + 516]), 1);
    EXPECT_EQ(le::U32(&b[5164 + 520]), 0xDEADBEEFu);
    EXPECT_EQ(le::I32(&b[5164 + 2 * 784 + 900]), 3);
    EXPECT_EQ(le::U16(&b[5164 + 2 * 784 + 912 + 520]), 5);
    EXPECT_EQ(b[5164 + 2 * 784 + 912 + 524], 1);
    // Fields that carry nothing are written as zero.
    for (std::size_t gap : {12, 28, 2348, 2604, 3628, 5163}) EXPECT_EQ(b[gap], 0) << gap;
}

TEST(SetupScriptFormat, RejectsBadFiles) {
    std::vector<unsigned char> good = Bytes(SampleScript());
    auto with = [&](auto change) {
        std::vector<unsigned char> b = good;
        change(b);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"empty", {}},
        {"header cut", std::vector<unsigned char>(good.begin(), good.begin() + 5163)},
        {"wrong magic", with([](auto& b) { b[0] = 0xF1; })},
        {"format 0x1000", with([](auto& b) { le::PutU32(&b[4], 0x1000); })},
        {"last record cut", std::vector<unsigned char>(good.begin(), good.end() - 1)},
        {"registry count too large", with([](auto& b) { le::PutU32(&b[16], 3); })},
        {"count that would wrap", with([](auto& b) { le::PutU32(&b[16], 0xFFFFFFFF); })},
    };
    for (const Case& c : cases) {
        ScriptHalf out;
        out.header.modelName = "stale";
        EXPECT_FALSE(ParseScript(c.bytes.data(), c.bytes.size(), out)) << c.what;
        EXPECT_EQ(out.header.modelName, "") << c.what;
        EXPECT_TRUE(out.registry.empty()) << c.what;
    }
}

TEST(SetupScriptFormat, BareHeaderAndUnterminatedTexts) {
    ScriptHalf empty;
    std::vector<unsigned char> b = Bytes(empty);
    ASSERT_EQ(b.size(), 5164u);
    // A text field filled to its last byte has no terminating zero: the text
    // ends with the field, it does not run into the next one.
    std::fill(b.begin() + 300, b.begin() + 556, 'M');
    b.push_back(0xAB);  // bytes after the last record are ignored
    ScriptHalf out;
    ASSERT_TRUE(ParseScript(b.data(), b.size(), out));
    EXPECT_EQ(out.header.modelName, std::string(256, 'M'));
    EXPECT_EQ(out.header.modelVersion, "");
    EXPECT_TRUE(out.registry.empty() && out.shortcuts.empty() && out.programs.empty());
}

TEST(SetupScriptFormat, WriterRefusesTextsTooLongForTheirField) {
    struct Case {
        void (*change)(ScriptHalf&);
        const char* field;
    } cases[] = {
        {[](ScriptHalf& s) { s.header.modelName = std::string(256, 'x'); }, "modelName"},
        {[](ScriptHalf& s) { s.registry[0].valueName = std::string(128, 'x'); }, "registry[0].valueName"},
        {[](ScriptHalf& s) { s.shortcuts[0].name = std::string(200, 'x'); }, "shortcut[0].name"},
        {[](ScriptHalf& s) { s.programs[1].programPath = std::string(300, 'x'); }, "program[1].programPath"},
    };
    for (const Case& c : cases) {
        ScriptHalf s = SampleScript();
        c.change(s);
        std::vector<unsigned char> bytes;
        std::string error;
        EXPECT_FALSE(WriteScript(s, bytes, &error)) << c.field;
        EXPECT_EQ(error.rfind(c.field, 0), 0u) << error;
    }
    ScriptHalf fits = SampleScript();
    fits.header.modelName = std::string(255, 'x');
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(WriteScript(fits, bytes));
}

using LoadScriptTest = testing::HostSandbox;

TEST_F(LoadScriptTest, LoadsBothHalvesFromTheirFolders) {
    WriteFile("C:\\setup\\setup.inf", Bytes(SampleScript()));
    ScriptHalf second;
    second.header.finishOptions = "REBOOT";
    second.programs = {{2, "p", "", 1, 0}};
    WriteFile("D:\\Disk1\\Data.inf", Bytes(second));
    SetupScript script;
    EXPECT_TRUE(script.LoadScript(os_, true, "ignored", "C:\\setup"));
    EXPECT_TRUE(script.LoadScript(os_, false, "D:\\Disk1", "C:\\setup"));
    EXPECT_EQ(script.First().header.modelName, "Tool");
    EXPECT_EQ(script.Second().header.finishOptions, "REBOOT");
    EXPECT_EQ(script.Second().programs.size(), 1u);
    EXPECT_EQ(script.First().programs.size(), 2u);

    // A failed load clears its own half only.
    EXPECT_FALSE(script.LoadScript(os_, false, "D:\\Nowhere", "C:\\setup"));
    EXPECT_EQ(script.Second().header.magic, 0u);
    EXPECT_EQ(script.First().header.modelName, "Tool");
}

TEST_F(LoadScriptTest, ReadErrorsFailTheLoad) {
    WriteFile("C:\\setup\\setup.inf", Bytes(SampleScript()));
    for (OsOp op : {OsOp::OpenRead, OsOp::FileSize, OsOp::Read}) {
        for (int nth : {1, 2}) {
            if (op != OsOp::Read && nth == 2) continue;
            os_.FailNth(op, nth);
            SetupScript script;
            EXPECT_FALSE(script.LoadScript(os_, true, "", "C:\\setup")) << static_cast<int>(op) << " " << nth;
            EXPECT_EQ(script.First().header.magic, 0u);
            os_.FailNth(op, 0);
        }
    }
}

}  // namespace
}  // namespace cabsetup
