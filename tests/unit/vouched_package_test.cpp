// A package whose setup.exe vouches for it: start-up refuses any file beside
// setup.exe that differs from the digest block, and the engine refuses a
// set or a cabinet that differs from the digest list, with nothing of it
// written and the old file back. Without a filled block, nothing is checked.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "app/package_check.h"
#include "app/startup.h"
#include "app/switches.h"
#include "engine_fixture.h"
#include "formats/little_endian.h"
#include "package_reader.h"
#include "package_surgery.h"
#include "pe_image.h"

namespace cabsetup::testing {
namespace {

constexpr char kChanged[] = "This file of the package has been changed since the package was signed";

// What mksetup does before it signs: setup.sha written, the block computed.
DigestBlock VouchFor(const std::filesystem::path& dir, DigestList* list = nullptr) {
    mksetup::PackageDigests d;
    std::string error;
    EXPECT_TRUE(mksetup::ComputePackageDigests(dir, d, error)) << error;
    std::string text = WriteDigestList(d.list);
    std::ofstream(d.setupFolder / kDigestListName, std::ios::binary) << text;
    DigestBlock block;
    EXPECT_TRUE(mksetup::BlockForPackage(d, block, error)) << error;
    if (list) *list = d.list;
    return block;
}

class VouchedEngine : public EngineTest {
protected:
    // Edits Data.dat of C:\pkg in place.
    void EditVolume(const std::function<void(Bytes&)>& edit) {
        std::string text = ReadFile("C:\\pkg\\Data.dat");
        Bytes volume(text.begin(), text.end());
        edit(volume);
        WriteFile("C:\\pkg\\Data.dat", volume);
    }
    void Vouch() { state_.vouch.block = VouchFor(root_ / "C" / "pkg", &state_.vouch.list); }
};

// Where the n-th record of a single-volume main set starts.
std::size_t RecordAt(const Bytes& v, int n) {
    std::size_t at = kVolumeHeaderSize;
    for (int i = 0; i < n; ++i) at += kCabinetRecordSize + le::U32(&v[at + 260]);
    return at;
}
// A byte of the cabinet the decoder never reads (the header's set id): only a digest sees it.
void ChangeSetId(Bytes& v, int n) { v[RecordAt(v, n) + kCabinetRecordSize + 32] ^= 0x5A; }

TEST_F(VouchedEngine, AnyChangeToTheStreamIsRefusedAndTheOldFilesStay) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> edit;
        std::uint8_t secondMode = ReplaceAlways;
    } cases[] = {
        {"a cabinet byte no checksum covers", [](Bytes& v) { ChangeSetId(v, 1); }},
        {"the record's destination", [](Bytes& v) { v[RecordAt(v, 1) + 20] = 'X'; }},
        {"the record's replace mode", [](Bytes& v) { v[RecordAt(v, 1) + 280] = KeepExisting; }},
        {"the set's cabinet count", [](Bytes& v) { le::PutU32(&v[264], 1); }},
        {"the set's header, a byte nobody reads", [](Bytes& v) { v[270] ^= 1; }},
        {"the cabinet of a file that is kept", [](Bytes& v) { ChangeSetId(v, 1); }, KeepExisting},
    };
    const std::string first = "C:\\Program Files\\Tool\\a.bin", second = "C:\\Program Files\\Tool\\b.bin";
    for (const Case& c : cases) {
        for (unsigned switches : {0u, unsigned(kSwitchNoChanges)}) {
            std::string what = std::string(c.what) + (switches ? " (/p)" : "");
            std::filesystem::remove_all(root_ / "C");
            std::filesystem::create_directories(root_ / "C" / "work");
            mksetup::Manifest m;
            m.files.push_back(File(Payload("a", 70000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
            m.files.push_back(File(Payload("b", 90000), "<TARGET_DIR>\\b.bin", c.secondMode));
            Build(m);
            Vouch();
            EditVolume(c.edit);
            WriteFile(first, "the old a");
            WriteFile(second, "the old b");
            state_.switchFlags = kSwitchUnattended | kSwitchStatusFile | switches;
            wizard_.codes.clear();
            wizard_.failedText.clear();
            Install();
            EXPECT_EQ(LastCode(), NOTIFY_FAILED) << what;
            EXPECT_NE(wizard_.failedText.find(kChanged), std::string::npos) << what << ": " << wizard_.failedText;
            EXPECT_EQ(wizard_.failedText.rfind("Data.dat\n", 0), 0u) << what << ": " << wizard_.failedText;
            EXPECT_EQ(ReadFile(second), "the old b") << what;
            for (const std::string& d : {first, second})
                for (const char* left : {".cabsetup-new", ".cabsetup-old"}) EXPECT_FALSE(Exists(d + left)) << what << left;
            // Nothing is written where a changed record points.
            EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\X.bin")) << what;
            EXPECT_TRUE(WorkspaceGone()) << what;
        }
    }
}

TEST_F(VouchedEngine, AnIntactPackageInstallsAndWithoutABlockNothingIsChecked) {
    mksetup::Manifest m;
    std::filesystem::path a = Payload("a", 70000), b = Payload("b", 0);
    m.files.push_back(File(a, "<TARGET_DIR>\\a.bin", ReplaceAlways));
    m.files.push_back(File(b, "<TARGET_DIR>\\empty.bin", ReplaceAlways));
    m.files.push_back(File(a, "<TARGET_DIR>\\kept.bin", KeepExisting));
    for (bool vouched : {true, false}) {
        for (unsigned switches : {unsigned(kSwitchNoChanges), 0u}) {
            std::filesystem::remove_all(root_ / "C");
            Build(m);
            if (vouched) Vouch();
            else {
                state_.vouch = {};
                EditVolume([](Bytes& v) { ChangeSetId(v, 0); });  // as today: nobody looks
            }
            WriteFile("C:\\Program Files\\Tool\\kept.bin", "kept");
            state_.switchFlags = kSwitchUnattended | switches;
            wizard_.codes.clear();
            Install();
            EXPECT_EQ(LastCode(), NOTIFY_DONE) << vouched << switches << wizard_.failedText;
            std::ifstream in(a, std::ios::binary);
            std::string want(std::istreambuf_iterator<char>(in), {});
            EXPECT_EQ(Exists("C:\\Program Files\\Tool\\a.bin"), switches == 0) << vouched;
            if (switches == 0) {
                EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\a.bin"), want) << vouched;
            }
            EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\kept.bin"), "kept") << vouched;
        }
    }
}

TEST_F(VouchedEngine, TheSystemInterfaceIsHandedOnlyAProvenCabinet) {
    UseSystemPath();
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 5000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    m.files.push_back(File(Payload("b", 6000), "<TARGET_DIR>\\b.bin", ReplaceAlways));
    Build(m);
    Vouch();
    EditVolume([](Bytes& v) { ChangeSetId(v, 1); });
    WriteFile("C:\\Program Files\\Tool\\b.bin", "the old b");
    os_.FailNth(OsOp::ExtractCabinet, 0);  // counts only
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_NE(wizard_.failedText.find(kChanged), std::string::npos) << wizard_.failedText;
    EXPECT_EQ(os_.Calls(OsOp::ExtractCabinet), 1);  // the first cabinet only
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\b.bin"), "the old b");
    EXPECT_TRUE(WorkspaceGone());
}

TEST_F(VouchedEngine, DataInfIsTheVouchedOneOrNone) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 1000), "<TARGET_DIR>\\a.bin"));
    m.hasLinked = true;
    m.linked.label = "Extra";
    m.linked.files.push_back(File(Payload("c", 1000), "<TARGET_DIR>\\c.bin"));
    m.linked.script.header.finishOptions = "REBOOT";
    struct Case {
        const char* what;
        std::function<void()> edit;
        bool refused;
    } cases[] = {
        {"intact", [] {}, false},
        {"Data.inf changed", [this] {
             std::string t = ReadFile("C:\\pkg\\Data.inf");
             t[3000] ^= 1;
             WriteFile("C:\\pkg\\Data.inf", t);
         }, true},
        {"Data.inf taken away", [this] { std::filesystem::remove(host_.HostPath("C:\\pkg\\Data.inf")); }, true},
        {"linked volume changed", [this] {
             std::string t = ReadFile("C:\\pkg\\Data-A.dat");
             t[300] ^= 1;  // inside the version text
             WriteFile("C:\\pkg\\Data-A.dat", t);
         }, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        Build(m);
        Vouch();
        c.edit();
        state_.script.ClearSecond();
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), c.refused ? NOTIFY_FAILED : NOTIFY_DONE) << c.what << wizard_.failedText;
        if (c.refused) {
            EXPECT_NE(wizard_.failedText.find(kChanged), std::string::npos) << c.what;
        } else {
            EXPECT_EQ(state_.script.Second().header.finishOptions, "REBOOT");
        }
    }
    // A package vouched for without Data.inf uses none, even one planted where it is looked for.
    mksetup::Manifest plain;
    plain.files.push_back(File(Payload("a", 1000), "<TARGET_DIR>\\a.bin"));
    std::filesystem::remove_all(root_ / "C");
    Build(plain);
    Vouch();
    ScriptHalf planted;
    planted.header.finishOptions = "REBOOT";
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(WriteScript(planted, bytes));
    WriteFile("C:\\Data.inf", bytes);  // "\Data.inf" at the root of the current drive
    state_.script.ClearSecond();
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    EXPECT_EQ(state_.script.Second().header.finishOptions, "");
}

class VouchedStartup : public HostSandbox {
protected:
    VouchedStartup() {
        host_.SetModulePath("C:\\setup\\setup.exe");
        Arrange();
    }
    // The package's files as mksetup leaves them, and no block yet.
    void Arrange() {
        std::filesystem::remove(host_.HostPath("C:\\setup\\setup.bmp"));
        ScriptHalf s;
        s.header.setupKind = kSetupKindFull;
        s.header.uninstallKey = "Tool";
        s.header.defaultTargetDir = "C:\\Tool";
        std::vector<unsigned char> bytes;
        EXPECT_TRUE(WriteScript(s, bytes));
        WriteFile("C:\\setup\\setup.inf", bytes);
        WriteFile("C:\\setup\\license.txt", "the licence");
        DigestList list;
        list.sets.push_back({1, 0, Digest{}});
        WriteFile("C:\\setup\\setup.sha", WriteDigestList(list));
        std::memset(body_, 0, sizeof body_);
        host_.SetOwnSignature(SignatureState::Valid);
        state_ = SetupState{};
    }
    Digest Of(const std::string& path) {
        std::string t = ReadFile(path);
        return DigestOf(t.data(), t.size());
    }
    // The block as mksetup fills it for the files there now.
    void Seal() {
        DigestBlock b;
        b.filled = true;
        b.Set(VouchedFile::SetupInf, Of("C:\\setup\\setup.inf"));
        b.Set(VouchedFile::License, Of("C:\\setup\\license.txt"));
        b.Set(VouchedFile::DigestList, Of("C:\\setup\\setup.sha"));
        WriteDigestBody(b, body_);
    }
    StartupResult Run(const std::string& arguments = "") { return RunStartup(os_, state_, arguments, body_); }

    unsigned char body_[kDigestBodySize] = {};
    SetupState state_;
};

TEST_F(VouchedStartup, EveryFileBesideSetupIsProvenBeforeUse) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* named;  // nullptr: proceeds
    } cases[] = {
        {"intact", [] {}, nullptr},
        {"setup.inf changed", [this] { WriteFile("C:\\setup\\setup.inf", ReadFile("C:\\setup\\setup.inf") + "x"); }, "setup.inf"},
        {"setup.inf gone", [this] { std::filesystem::remove(host_.HostPath("C:\\setup\\setup.inf")); }, "setup.inf"},
        {"licence changed", [this] { WriteFile("C:\\setup\\license.txt", "the licencE"); }, "license.txt"},
        {"licence gone", [this] { std::filesystem::remove(host_.HostPath("C:\\setup\\license.txt")); }, "license.txt"},
        {"a picture the package has not", [this] { WriteFile("C:\\setup\\setup.bmp", "BM"); }, "setup.bmp"},
        {"digest list changed", [this] { WriteFile("C:\\setup\\setup.sha", ReadFile("C:\\setup\\setup.sha") + "\n"); }, "setup.sha"},
        {"digest list unreadable", [this] { os_.FailNth(OsOp::Read, 1, FaultyOs::kFromThenOn); }, "setup.inf"},
        {"signature broken", [this] { host_.SetOwnSignature(SignatureState::Invalid); }, "setup.exe"},
        {"signature stripped", [this] { host_.SetOwnSignature(SignatureState::Absent); }, "setup.exe"},
        {"signature cannot be asked", [this] { os_.FailNth(OsOp::OwnSignature, 1); }, "setup.exe"},
        {"block damaged", [this] { body_[kDigestBodySize - 1] = 1; }, "setup.exe"},
        {"signer not trusted by the system", [this] { host_.SetOwnSignature(SignatureState::UntrustedChain); }, nullptr},
    };
    for (const Case& c : cases) {
        Arrange();
        Seal();
        os_.Reset();
        std::filesystem::remove(host_.HostPath("installerror.txt"));
        c.arrange();
        StartupResult r = Run("/a /s");
        os_.Reset();
        if (!c.named) {
            EXPECT_EQ(r.outcome, StartupOutcome::Proceed) << c.what << r.message;
            EXPECT_TRUE(state_.vouch.Active()) << c.what;
            EXPECT_EQ(state_.vouch.list.sets.size(), 1u) << c.what;
            // What the wizard shows is what was proven: kept, never read again.
            EXPECT_EQ(state_.vouch.license, "the licence") << c.what;
            EXPECT_EQ(state_.vouch.picture, "") << c.what;
            continue;
        }
        EXPECT_EQ(r.outcome, StartupOutcome::PackageChanged) << c.what;
        EXPECT_EQ(ExitCodeFor(r.outcome), 1603) << c.what;
        EXPECT_EQ(r.message.rfind(std::string(c.named) + "\n", 0), 0u) << c.what << ": " << r.message;
        EXPECT_NE(r.message.find(kChanged), std::string::npos) << c.what;
        ReportStartupRefusal(os_, state_, r);
        EXPECT_TRUE(host_.Messages().empty()) << c.what;
        EXPECT_EQ(ReadFile("installerror.txt"), "Error") << c.what;
    }
}

TEST_F(VouchedStartup, AnEmptyBlockChecksNothingAsBefore) {
    WriteFile("C:\\setup\\license.txt", "changed at will");
    host_.SetOwnSignature(SignatureState::Invalid);
    StartupResult r = Run();
    EXPECT_EQ(r.outcome, StartupOutcome::Proceed) << r.message;
    EXPECT_FALSE(state_.vouch.Active());
    EXPECT_EQ(os_.Calls(OsOp::OwnSignature), 0);
}

// mksetup verify: a filled block and every file it names, and --against the
// shipped setup.exe (a stand-in image here; the signed one runs under Wine).
class VerifyVouched : public EngineTest {
protected:
    std::filesystem::path Pkg() { return root_ / "C" / "pkg"; }
    void BuildVouched(bool fill = true) {
        mksetup::Manifest m;
        m.files.push_back(File(Payload("a", 70000), "<TARGET_DIR>\\a.bin"));
        m.files.push_back(File(Payload("b", 5000), "<TARGET_DIR>\\b.bin"));
        std::filesystem::remove_all(root_ / "C");
        Build(m);
        shipped_ = root_ / "shipped-setup.exe";
        Bytes image = MakeImage().bytes;
        std::ofstream(shipped_, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
        std::filesystem::copy_file(shipped_, Pkg() / "setup.exe");
        std::string error;
        if (fill) {
            ASSERT_TRUE(mksetup::VouchForPackage(Pkg(), error)) << error;
        }
    }
    void Flip(const std::string& file, std::size_t at) {
        std::string t = ReadFile("C:\\pkg\\" + file);
        ASSERT_LT(at, t.size());
        t[at] ^= 1;
        WriteFile("C:\\pkg\\" + file, t);
    }
    std::string Verify(int& problems, bool against = false) {
        std::ostringstream out;
        problems = mksetup::VerifyPackage(Pkg(), nullptr, out, against ? shipped_ : std::filesystem::path());
        return out.str();
    }
    std::filesystem::path shipped_;
};

TEST_F(VerifyVouched, FindsEveryChangedFile) {
    struct Case {
        const char* what;
        std::function<void()> edit;
        const char* says;
    } cases[] = {
        {"intact", [] {}, "digest block: filled"},
        {"setup.inf", [this] { Flip("setup.inf", 500); }, "setup.inf differs from setup.exe's digest block"},
        {"setup.sha", [this] { Flip("setup.sha", 25); }, "setup.sha differs"},
        {"a cabinet byte", [this] {
             std::string v = ReadFile("C:\\pkg\\Data.dat");
             Flip("Data.dat", RecordAt(Bytes(v.begin(), v.end()), 1) + kCabinetRecordSize + 32);
         }, "cabinet 1 (Data.dat @"},
        {"a record", [this] { Flip("Data.dat", kVolumeHeaderSize + 10); }, "its record differs"},
        {"a planted picture", [this] { WriteFile("C:\\pkg\\setup.bmp", "BM"); }, "setup.bmp is not vouched for"},
    };
    for (const Case& c : cases) {
        BuildVouched();
        c.edit();
        int problems = 0;
        std::string out = Verify(problems);
        EXPECT_EQ(problems == 0, std::string(c.what) == "intact") << c.what << "\n" << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.what << "\n" << out;
    }
    // An unsigned package: the block is empty and said to be.
    BuildVouched(false);
    int problems = 0;
    std::string out = Verify(problems);
    EXPECT_EQ(problems, 0) << out;
    EXPECT_NE(out.find("digest block: empty"), std::string::npos) << out;
}

TEST_F(VerifyVouched, AgainstTheShippedProgramOnlyABlockWithASignatureIsAccepted) {
    struct Case {
        const char* what;
        bool fill;
        std::function<void(Bytes&)> edit;
        bool accepted;
    } cases[] = {
        {"the shipped program as it is", false, nullptr, true},
        {"a filled block without a signature", true, nullptr, false},
        {"a code byte changed", false, [](Bytes& b) { b[0x200] ^= 1; }, false},
        {"a byte appended", false, [](Bytes& b) { b.push_back(0); }, false},
    };
    for (const Case& c : cases) {
        BuildVouched(c.fill);
        if (c.edit) {
            std::string t = ReadFile("C:\\pkg\\setup.exe");
            Bytes b(t.begin(), t.end());
            c.edit(b);
            WriteFile("C:\\pkg\\setup.exe", b);
        }
        int problems = 0;
        std::string out = Verify(problems, true);
        EXPECT_EQ(out.find("differs from the shipped") == std::string::npos, c.accepted) << c.what << "\n" << out;
    }
}

}  // namespace
}  // namespace cabsetup::testing
