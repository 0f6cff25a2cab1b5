#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <sstream>

#include "formats/volume_format.h"
#include "manifest.h"
#include "package_builder.h"
#include "package_reader.h"

namespace mksetup {
namespace {

namespace fs = std::filesystem;

class MksetupTest : public ::testing::Test {
protected:
    MksetupTest()
        : dir_(fs::temp_directory_path() /
               ("mksetup-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "files");
    }
    ~MksetupTest() override { fs::remove_all(dir_); }

    void Source(const std::string& name, std::size_t size, bool random = true) {
        std::mt19937 gen(static_cast<unsigned>(size));
        std::string data(size, 'a');
        if (random)
            for (char& c : data) c = static_cast<char>(gen());
        std::ofstream(dir_ / "files" / name, std::ios::binary) << data;
    }
    fs::path Manifest(const std::string& text) {
        fs::path p = dir_ / "manifest.toml";
        std::ofstream(p) << text;
        return p;
    }
    bool Build(const fs::path& manifest, const fs::path& out, std::string& error) {
        mksetup::Manifest m;
        std::vector<std::string> errors;
        if (!LoadManifest(manifest, m, errors)) {
            error = errors.empty() ? "?" : errors[0];
            return false;
        }
        BuildOptions options;
        options.outDir = out;
        BuildResult result;
        return BuildPackage(m, options, result, error);
    }
    int Verify(const fs::path& out, const fs::path& manifest, std::string* report = nullptr) {
        mksetup::Manifest m;
        std::vector<std::string> errors;
        EXPECT_TRUE(LoadManifest(manifest, m, errors));
        std::ostringstream text;
        int problems = VerifyPackage(out, &m, text);
        if (report) *report = text.str();
        return problems;
    }

    fs::path dir_;
};

const char kHeader[] = R"([package]
modelName = "Tool"
defaultTargetDir = '<PROGRAMFILES_DIR>\Tool'
uninstallKey = "Tool"
)";

TEST_F(MksetupTest, ManifestMistakesNameTheirLine) {
    Source("a.bin", 10);
    struct Case {
        const char* body;
        const char* message;
        int line;
    } cases[] = {
        {"[medium]\nlayot = \"flat\"\n", "unknown key 'layot' in [medium]", 6},
        {"[[file]]\nsource = \"files/a.bin\"\ntarget = '<TARGET_DIR>\\a.bin'\nreplace = \"sometimes\"\n",
         "bad replace mode 'sometimes'", 8},
        {"[[file]]\nsource = \"files/a.bin\"\ntarget = 'a.bin'\n", "must be a full path", 7},
        {"[[file]]\nsource = \"files/missing.bin\"\ntarget = 'C:\\a.bin'\n", "does not exist", 5},
        {"[[shortcut]]\nname = \"x\"\ntarget = '<TARGET_DIR>\\x'\nfolder = 'relative\\x'\n", "must be a full path", 8},
        {"[[registry]]\nkey = 'HKEY_NOWHERE\\x'\n", "root key name", 6},
        {"[medium]\nvolumeSize = \"huge\"\n", "volumeSize must be", 6},
        {"[linked]\nlabel = \"\"\n", "non-empty label", 5},
        {"[package2]\n", "unknown key 'package2'", 5},
        {"x = = 1\n", "", 5},
        {"# comment é is fine\nlabel = \"é\" é\n", "outside ASCII belong only in quoted texts", 6},
        {"x = 0\"unterminated é\n", "outside ASCII belong only in quoted texts", 5},
        {"label = \"bad \xFF byte\"\n", "not valid UTF-8", 5},
        {"label = \"overlong \xC0\xAF\"\n", "not valid UTF-8", 5},
        {"label = \"surrogate \xED\xA0\x80\"\n", "not valid UTF-8", 5},
    };
    for (const Case& c : cases) {
        fs::path m = Manifest(std::string(kHeader) + c.body);
        mksetup::Manifest out;
        std::vector<std::string> errors;
        EXPECT_FALSE(LoadManifest(m, out, errors)) << c.body;
        ASSERT_FALSE(errors.empty()) << c.body;
        EXPECT_NE(errors[0].find(c.message), std::string::npos) << errors[0];
        EXPECT_NE(errors[0].find("manifest.toml:" + std::to_string(c.line) + ":"), std::string::npos) << errors[0];
    }
}

// A full installation gets uninstall.exe, an update or a manifest that says
// uninstaller = false does not.
TEST_F(MksetupTest, FullInstallationsShipTheUninstaller) {
    struct Case {
        const char* extra;
        bool added;
    } cases[] = {{"", true}, {"uninstaller = false\n", false}, {"setupKind = \"update\"\n", false}};
    for (const Case& c : cases) {
        mksetup::Manifest m;
        std::vector<std::string> errors;
        ASSERT_TRUE(LoadManifest(Manifest(std::string(kHeader) + c.extra), m, errors)) << c.extra;
        ASSERT_EQ(mksetup::AddUninstaller(m, dir_ / "uninstall.exe"), c.added) << c.extra;
        if (c.added) {
            ASSERT_EQ(m.files.size(), 1u);
            EXPECT_EQ(m.files[0].target, "<TARGET_DIR>\\uninstall.exe");
            EXPECT_EQ(m.files[0].replaceMode, cabsetup::ReplaceAlways);
        }
    }
}

// Texts outside ASCII reach the fields unchanged, whichever quotes hold
// them, including characters the TOML library must never see raw.
TEST_F(MksetupTest, NonAsciiTextsKeepTheirValue) {
    struct Case {
        int codePage;
        const char* body;
        const char* modelName;
        const char* targetDir;
    } cases[] = {
        {1252, "modelName = \"Caf\u00e9 \\\"x\\\"\" # \xEF\xB3\xBF \xC2\xA1 comment\n"
               "defaultTargetDir = 'C:\\Caf\u00e9\\\"Q\"'\n",
         "Caf\xE9 \"x\"", "C:\\Caf\xE9\\\"Q\""},
        {949, "modelName = '''\n\xED\x95\x9C\xE3\x81\x82\\n'''\n"
              "defaultTargetDir = 'C:\\\xED\x95\x9C\\\xE3\x80\x81'\n",
         "\xC7\xD1\xAA\xA2\\n", "C:\\\xC7\xD1\\\xA1\xA2"},
    };
    for (const Case& c : cases) {
        std::string text = "codePage = " + std::to_string(c.codePage) + "\n" + c.body + "uninstallKey = \"Tool\"\n";
        mksetup::Manifest m;
        std::vector<std::string> errors;
        mksetup::LoadManifestText("[package]\n" + text, dir_ / "manifest.toml", m, errors);
        for (const std::string& e : errors) ADD_FAILURE() << e;
        EXPECT_EQ(m.script.header.modelName, c.modelName) << c.body;
        EXPECT_EQ(m.script.header.defaultTargetDir, c.targetDir) << c.body;
    }
}

TEST_F(MksetupTest, TextTooLongForItsField) {
    fs::path m = Manifest(std::string("[package]\nmodelName = \"") + std::string(256, 'x') +
                          "\"\ndefaultTargetDir = 'C:\\x'\nuninstallKey = \"k\"\n");
    mksetup::Manifest out;
    std::vector<std::string> errors;
    EXPECT_FALSE(LoadManifest(m, out, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("manifest.toml:2: 'modelName' is 256 bytes; its field holds at most 255"), std::string::npos)
        << errors[0];
}

TEST_F(MksetupTest, TextsAreWrittenInThePackagesCodePage) {
    fs::path m = Manifest("[package]\ncodePage = 949\nmodelName = \"\xED\x95\x9C\xEA\xB8\x80\"\n"
                          "defaultTargetDir = '<PROGRAMFILES_DIR>\\\xED\x95\x9C'\nuninstallKey = \"k\"\n");
    mksetup::Manifest out;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadManifest(m, out, errors)) << errors[0];
    EXPECT_EQ(out.script.header.modelName, "\xC7\xD1\xB1\xDB");  // 한글 in code page 949
    m = Manifest("[package]\nmodelName = \"\xED\x95\x9C\"\ndefaultTargetDir = 'C:\\x'\nuninstallKey = \"k\"\n");
    errors.clear();
    EXPECT_FALSE(LoadManifest(m, out, errors));  // 1252 has no Hangul
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("code page 1252 cannot hold"), std::string::npos) << errors[0];
}

TEST_F(MksetupTest, SameManifestSameBytes) {
    Source("a.bin", 100000, false);
    Source("b.bin", 5000);
    fs::path m = Manifest(std::string(kHeader) +
                          "[[file]]\nsource = \"files/a.bin\"\ntarget = '<TARGET_DIR>\\a.bin'\n"
                          "[[file]]\nsource = \"files/b.bin\"\ntarget = '<TARGET_DIR>\\sub\\b.bin'\n");
    std::string error;
    ASSERT_TRUE(Build(m, dir_ / "one", error)) << error;
    fs::last_write_time(dir_ / "files" / "a.bin", fs::file_time_type::clock::now() - std::chrono::hours(48));
    ASSERT_TRUE(Build(m, dir_ / "two", error)) << error;
    for (const char* name : {"setup.inf", "Data.dat"}) {
        std::ifstream a(dir_ / "one" / name, std::ios::binary), b(dir_ / "two" / name, std::ios::binary);
        std::string x(std::istreambuf_iterator<char>(a), {}), y(std::istreambuf_iterator<char>(b), {});
        EXPECT_FALSE(x.empty());
        EXPECT_EQ(x, y) << name;
    }
    EXPECT_EQ(Verify(dir_ / "one", m), 0);
    EXPECT_FALSE(Build(m, dir_ / "one", error));  // refuses to write over a package
    EXPECT_NE(error.find("--clean"), std::string::npos);
}

TEST_F(MksetupTest, FloppySetInSiblingFoldersWithALinkedSet) {
    // Incompressible files, stored: the main set needs four 1.44 MB disks.
    for (int i = 0; i < 8; ++i) Source("f" + std::to_string(i) + ".bin", 600000 + 1000 * i);
    Source("empty.bin", 0);
    Source("l.bin", 2000000);
    std::string body = std::string(kHeader) + "[medium]\nvolumeSize = \"1.44MB\"\nlayout = \"folders\"\ncompression = \"none\"\n";
    for (int i = 0; i < 8; ++i)
        body += "[[file]]\nsource = \"files/f" + std::to_string(i) + ".bin\"\ntarget = '<TARGET_DIR>\\f" +
                std::to_string(i) + ".bin'\nreplace = \"keep\"\n";
    body += "[[file]]\nsource = \"files/empty.bin\"\ntarget = '<TARGET_DIR>\\empty.bin'\n";
    body += "[linked]\nlabel = \"Extras\"\nvolumeVersion = \"2.0.7\"\nfinishOptions = \"REBOOT\"\n"
            "[[linked.file]]\nsource = \"files/l.bin\"\ntarget = '<TARGET_DIR>\\l.bin'\n"
            "[[linked.program]]\npath = '<TARGET_DIR>\\post.exe'\nwait = true\n";
    fs::path m = Manifest(body);
    std::string error;
    ASSERT_TRUE(Build(m, dir_ / "cd", error)) << error;
    for (const char* p : {"Setup/setup.inf", "Setup/Data.dat", "Data2/Data2.dat", "Data3/Data3.dat", "Data4/Data4.dat",
                          "Data-A/Data-A.dat", "Data-A/Data.inf", "Data-B/Data-B.dat"})
        EXPECT_TRUE(fs::exists(dir_ / "cd" / p)) << p;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "cd")) {
        if (e.path().extension() == ".dat") {
            EXPECT_LE(fs::file_size(e.path()), 1457664u) << e.path();
        }
    }
    std::string report;
    EXPECT_EQ(Verify(dir_ / "cd", m, &report), 0) << report;
    EXPECT_NE(report.find("volume version: 2.0.7"), std::string::npos) << report;
    EXPECT_NE(report.find("cabinet 100000"), std::string::npos) << report;
}

TEST_F(MksetupTest, DamagedPackagesAreReportedNotCrashedOn) {
    for (int i = 0; i < 4; ++i) Source("f" + std::to_string(i) + ".bin", 400000);
    std::string body = std::string(kHeader) + "[medium]\nvolumeSize = 1000000\n";
    for (int i = 0; i < 4; ++i)
        body += "[[file]]\nsource = \"files/f" + std::to_string(i) + ".bin\"\ntarget = '<TARGET_DIR>\\f" +
                std::to_string(i) + ".bin'\n";
    fs::path m = Manifest(body);
    std::string error;
    ASSERT_TRUE(Build(m, dir_ / "pkg", error)) << error;
    fs::path data2 = dir_ / "pkg" / "Data2.dat";
    std::string original;
    {
        std::ifstream in(data2, std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), {});
    }
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* expect;
    } cases[] = {
        {"truncated", [](std::string& b) { b.resize(b.size() / 2); }, "Data2.dat is not found"},
        {"flipped cabinet byte", [](std::string& b) { b[b.size() / 2] ^= 0x40; }, "PROBLEM"},
        {"foreign span id", [](std::string& b) { b[12] ^= 1; }, "Data2.dat is not found"},
    };
    for (const Case& c : cases) {
        std::string bytes = original;
        c.damage(bytes);
        std::ofstream(data2, std::ios::binary | std::ios::trunc) << bytes;
        std::string report;
        EXPECT_GT(Verify(dir_ / "pkg", m, &report), 0) << c.what;
        EXPECT_NE(report.find(c.expect), std::string::npos) << c.what << "\n" << report;
        std::ostringstream inspect;
        InspectPackage(dir_ / "pkg", inspect);  // must not crash either
    }
}

}  // namespace
}  // namespace mksetup
