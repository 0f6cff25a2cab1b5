// mksetup's signing and signature checks, run as a vendor runs them: the
// mksetup program with a stand-in osslsigncode first on the PATH (it records
// what it was handed), and the real osslsigncode with a throw-away CA.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "formats/digest_block_image.h"

namespace {

namespace fs = std::filesystem;

std::string Load(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Save(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// The smallest program osslsigncode signs that carries a package digest
// block, as every setup.exe of the kit does: headers, one section of one
// `ret`, one initialised data section holding the block.
std::string MinimalProgram() {
    std::string pe(1536, '\0');
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) pe[at + i] = static_cast<char>(v >> (8 * i));
    };
    pe[0] = 'M', pe[1] = 'Z';
    put(0x3C, 0x40, 4);
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    std::size_t coff = 0x44, opt = coff + 20, section = opt + 224;
    put(coff, 0x14C, 2), put(coff + 2, 2, 2), put(coff + 16, 224, 2), put(coff + 18, 0x0102, 2);
    put(opt, 0x10B, 2), put(opt + 16, 0x1000, 4), put(opt + 28, 0x400000, 4), put(opt + 32, 0x1000, 4);
    put(opt + 36, 0x200, 4), put(opt + 40, 4, 2), put(opt + 48, 4, 2), put(opt + 56, 0x3000, 4);
    put(opt + 60, 0x200, 4), put(opt + 68, 2, 2), put(opt + 92, 16, 4);
    put(opt + 4, 0x200, 4), put(opt + 8, 0x200, 4);  // sizes of code and of initialised data
    pe.replace(section, 5, ".text");
    put(section + 8, 0x1000, 4), put(section + 12, 0x1000, 4), put(section + 16, 0x200, 4), put(section + 20, 0x200, 4);
    put(section + 36, 0x60000020, 4);
    pe.replace(section + 40, 5, ".data");
    put(section + 48, 0x200, 4), put(section + 52, 0x2000, 4), put(section + 56, 0x200, 4), put(section + 60, 0x400, 4);
    put(section + 76, 0xC0000040, 4);
    pe[0x200] = '\xC3';
    pe.replace(0x420, cabsetup::kDigestMarkerSize,
               std::string(reinterpret_cast<const char*>(cabsetup::kDigestMarker), cabsetup::kDigestMarkerSize));
    return pe;
}

struct Outcome {
    int status = -1;
    std::string output;
    bool Exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    bool Failed() const { return !WIFEXITED(status) || WEXITSTATUS(status) != 0; }
};

// Runs a program with `env` laid over ours. When `interruptWhen` first holds
// it gets `signal`; a run that hangs is killed after a minute and reported.
Outcome RunProgram(std::vector<std::string> args, const std::map<std::string, std::string>& env,
            const std::function<bool()>& interruptWhen = {}, int signal = 0) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string s = *e;
        all[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    }
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : all) envText.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : envText) envp.push_back(e.data());
    argv.push_back(nullptr), envp.push_back(nullptr);
    int out[2];
    Outcome o;
    if (pipe2(out, O_CLOEXEC) != 0) return o;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // a group of its own, so a hung run goes with everything it started
        dup2(out[1], 1), dup2(out[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool interrupted = false;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            char buffer[4096];
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            o.output.append(buffer, static_cast<std::size_t>(n));
        }
        if (!interrupted && interruptWhen && interruptWhen()) {
            kill(pid, signal);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << args[0] << " still ran after a minute: killed";
            kill(-pid, SIGKILL);
            break;
        }
    }
    close(out[0]);
    waitpid(pid, &o.status, 0);
    return o;
}

// Stands in for osslsigncode: writes down how the password reached it (what
// the path is, who may open it, who else holds the pipe, what it read), the
// command line and the environment, and what the temporary folder held
// meanwhile; then "signs" by copying. FAKE_SIGNER_SLEEP_AT=N makes call N
// write half a signed copy and sleep, to be interrupted.
const char kFakeSigner[] = R"sh(#!/bin/bash
log=$FAKE_SIGNER_LOG
n=$(( $(cat "$log/count" 2>/dev/null || echo 0) + 1 )); echo $n >"$log/count"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in -in) in=${args[i+1]};; -out) out=${args[i+1]};; -readpass) pass=${args[i+1]};; esac
done
r=$log/$n
printf '%s\n' "$*" >"$r.args"
env >"$r.env"
find "$TMPDIR" -mindepth 1 -maxdepth 1 -printf '%m %y %U\n' >"$r.tmp"
stat -c '%a' "$(dirname "$out")" >"$r.outdir"
if [ -n "$pass" ]; then
  stat -L -c '%a %u %F' "$pass" >"$r.stat"
  fd=${pass#/dev/fd/}
  if [ "$fd" != "$pass" ]; then
    link=$(readlink "/proc/$$/fd/$fd")
    ls -l "/proc/$$/fd/" | grep -cF "$link" >"$r.holders"
  fi
  case "$FAKE_SIGNER_READS" in
    all) cat "$pass" >"$r.pass";;
    some) head -c 4095 "$pass" >"$r.pass";;
  esac
fi
if [ "$FAKE_SIGNER_SLEEP_AT" = "$n" ]; then
  head -c 100 "$in" >"$out"
  echo $$ >"$log/sleeping"
  exec sleep 30
fi
cp "$in" "$out"
)sh";

class MksetupSigningTest : public ::testing::Test {
protected:
    MksetupSigningTest()
        : dir_(fs::temp_directory_path() / ("mksetup-signing-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(dir_);
        for (const char* d : {"files", "tmp", "fake", "log"}) fs::create_directories(dir_ / d);
        Save(dir_ / "files" / "a.txt", "payload");
        Save(dir_ / "program.exe", MinimalProgram());
        Save(dir_ / "manifest.toml", "[package]\nmodelName = \"Tool\"\ndefaultTargetDir = '<PROGRAMFILES_DIR>\\Tool'\n"
                                     "uninstallKey = \"Tool\"\n[[file]]\nsource = \"files/a.txt\"\n"
                                     "target = '<TARGET_DIR>\\a.txt'\n");
        Save(dir_ / "fake" / "osslsigncode", kFakeSigner);
        fs::permissions(dir_ / "fake" / "osslsigncode", fs::perms::owner_all);
    }
    ~MksetupSigningTest() override { fs::remove_all(dir_); }

    // mksetup build of the small package, both programs signed with a PKCS#12.
    std::vector<std::string> Build(const std::string& out, const std::string& signWith = "") const {
        std::vector<std::string> a = {MKSETUP_PROGRAM, "build", (dir_ / "manifest.toml").string(), "-o", (dir_ / out).string(),
                                      "-q", "--setup-exe", (dir_ / "program.exe").string(), "--uninstall-exe",
                                      (dir_ / "program.exe").string()};
        if (!signWith.empty()) a.insert(a.end(), {"--sign-pkcs12", signWith});
        return a;
    }
    std::map<std::string, std::string> FakeOnPath(const std::string& password) const {
        return {{"PATH", (dir_ / "fake").string() + ":" + std::getenv("PATH")},
                {"TMPDIR", (dir_ / "tmp").string()},
                {"FAKE_SIGNER_LOG", (dir_ / "log").string()},
                {"CABSETUP_SIGN_PASSWORD", password}};
    }
    int Calls() const { return fs::exists(dir_ / "log" / "count") ? std::stoi(Load(dir_ / "log" / "count")) : 0; }
    std::string Record(int call, const char* what) const {
        return Load(dir_ / "log" / (std::to_string(call) + "." + what));
    }
    // What a run must never leave: anything in the temporary folder, a
    // half-signed program beside the package's.
    void ExpectNothingLeft(const std::string& out, const std::string& what) const {
        for (const auto& e : fs::recursive_directory_iterator(dir_ / "tmp"))
            ADD_FAILURE() << what << ": left in the temporary folder: " << e.path();
        if (!fs::exists(dir_ / out)) return;
        for (const auto& e : fs::recursive_directory_iterator(dir_ / out))
            EXPECT_NE(e.path().extension(), ".signed") << what << ": left " << e.path();
    }
    // Each case starts with no record of calls and an empty temporary folder.
    void Reset() const {
        for (const char* d : {"log", "tmp"}) {
            fs::remove_all(dir_ / d);
            fs::create_directories(dir_ / d);
        }
    }

    fs::path dir_;
};

// However long the password and however much of it the signer reads, it
// arrives only through a pipe no one else holds, never in a file, on the
// command line or in the signer's environment, and mksetup neither hangs
// nor leaves anything behind.
TEST_F(MksetupSigningTest, PasswordReachesTheSignerThroughAPipeOnly) {
    // 120,000 bytes: more than a pipe holds (64 KiB), less than the largest
    // environment variable Linux passes on (128 KiB).
    struct Case {
        std::size_t size;
        const char* reads;
    } cases[] = {{6, "all"}, {5000, "all"}, {120000, "all"}, {6, "none"}, {120000, "some"}, {120000, "none"}};
    for (const Case& c : cases) {
        std::string what = std::to_string(c.size) + "-byte password, signer reads " + c.reads;
        std::string password;
        for (std::size_t i = 0; i < c.size; ++i) password.push_back(static_cast<char>('a' + i * 7 % 26));
        Reset();
        auto env = FakeOnPath(password);
        env["FAKE_SIGNER_READS"] = c.reads;
        fs::remove_all(dir_ / "out");
        Outcome o = RunProgram(Build("out", "vendor.p12"), env);
        EXPECT_TRUE(o.Exited(0)) << what << "\n" << o.output;
        ASSERT_EQ(Calls(), 2) << what << "\n" << o.output;  // the uninstaller, then setup.exe
        for (int call = 1; call <= 2; ++call) {
            std::string args = Record(call, "args"), stat = Record(call, "stat");
            EXPECT_NE(args.find("-readpass /dev/fd/"), std::string::npos) << what << ": " << args;
            EXPECT_EQ(args.find(password), std::string::npos) << what << ": the password is on the command line";
            EXPECT_EQ(Record(call, "env").find("CABSETUP_SIGN_PASSWORD"), std::string::npos) << what;
            unsigned mode = 0, uid = 0;
            std::string type;
            std::istringstream(stat) >> std::oct >> mode >> std::dec >> uid >> type;
            EXPECT_EQ(type, "fifo") << what << ": " << stat;
            EXPECT_EQ(mode & 077, 0u) << what << ": " << stat;
            EXPECT_EQ(uid, getuid()) << what;
            EXPECT_EQ(Record(call, "holders"), "1\n") << what << ": another descriptor holds the pipe";
            for (std::istringstream lines(Record(call, "tmp")); std::getline(lines, type);)
                EXPECT_EQ(type, "700 d " + std::to_string(getuid())) << what << ": in the temporary folder";
            std::string reads = c.reads, expected = reads == "all" ? password : password.substr(0, 4095);
            if (reads != "none") {
                EXPECT_TRUE(Record(call, "pass") == expected) << what << ": the password arrived changed";
            }
        }
        EXPECT_EQ(Record(1, "outdir"), "700\n") << what << ": the uninstaller is signed in a folder others may enter";
        ExpectNothingLeft("out", what);
    }
}

// SIGINT, SIGTERM or SIGHUP while the signer works: the signer is stopped,
// the private folder and every half-signed copy go, and mksetup ends by the
// signal, as it would have without its handlers.
TEST_F(MksetupSigningTest, InterruptedSigningLeavesNothing) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (int call : {1, 2}) {  // the uninstaller's copy in the private folder, setup.exe in the package
            std::string what = std::string(strsignal(signal)) + " during signing call " + std::to_string(call);
            Reset();
            auto env = FakeOnPath("s3cret");
            env["FAKE_SIGNER_READS"] = "all";
            env["FAKE_SIGNER_SLEEP_AT"] = std::to_string(call);
            fs::remove_all(dir_ / "out");
            fs::path sleeping = dir_ / "log" / "sleeping";
            auto start = std::chrono::steady_clock::now();
            Outcome o = RunProgram(Build("out", "vendor.p12"), env, [&] { return fs::exists(sleeping) && !Load(sleeping).empty(); },
                            signal);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << what << ": waited for the signer";
            EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == signal) << what << ": status " << o.status << "\n"
                                                                               << o.output;
            ASSERT_EQ(Calls(), call) << what;
            pid_t signer = std::stoi(Load(sleeping));
            EXPECT_TRUE(kill(signer, 0) != 0 && errno == ESRCH) << what << ": the signer still runs";
            if (kill(signer, 0) == 0) kill(signer, SIGKILL);
            ExpectNothingLeft("out", what);
        }
    }
}

class RealSignerTest : public MksetupSigningTest {
protected:
    void SetUp() override {
        if (system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
            GTEST_SKIP() << "needs osslsigncode and openssl";
        for (const char* name : {"vendor", "other"}) {
            std::string base = (dir_ / name).string();
            Outcome o = RunProgram({"/bin/sh", "-c",
                             "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + base + ".key' -out '" + base +
                                 ".pem' -days 2 -subj '/CN=cabsetup test " + name + "'"},
                            {});
            ASSERT_TRUE(o.Exited(0)) << o.output;
        }
        Outcome o = RunProgram({"/bin/sh", "-c",
                         "openssl pkcs12 -export -inkey '" + (dir_ / "vendor.key").string() + "' -in '" +
                             (dir_ / "vendor.pem").string() + "' -out '" + (dir_ / "vendor.p12").string() +
                             "' -passout pass:s3cret"},
                        {});
        ASSERT_TRUE(o.Exited(0)) << o.output;
    }
    std::map<std::string, std::string> Env(const std::string& password = "s3cret") const {
        return {{"TMPDIR", (dir_ / "tmp").string()}, {"CABSETUP_SIGN_PASSWORD", password}};
    }
};

// The real osslsigncode takes the password through the pipe: the right one
// signs, a wrong one fails, and neither leaves anything behind.
TEST_F(RealSignerTest, PkcsTwelveSignsThroughThePipe) {
    Outcome good = RunProgram(Build("signed", (dir_ / "vendor.p12").string()), Env());
    EXPECT_TRUE(good.Exited(0)) << good.output;
    EXPECT_NE(good.output.find("signed " + (dir_ / "signed" / "setup.exe").string()), std::string::npos) << good.output;
    ExpectNothingLeft("signed", "right password");
    Outcome wrong = RunProgram(Build("wrong", (dir_ / "vendor.p12").string()), Env("wrong"));
    EXPECT_TRUE(wrong.Failed()) << wrong.output;
    EXPECT_NE(wrong.output.find("osslsigncode could not sign"), std::string::npos) << wrong.output;
    ExpectNothingLeft("wrong", "wrong password");
}

// With --ca only a valid signature passes; without it verify reports as it
// always has (an unsigned program or a missing osslsigncode is no failure).
TEST_F(RealSignerTest, VerifyWithCaPassesOnlyValidSignatures) {
    ASSERT_TRUE(RunProgram(Build("signed", (dir_ / "vendor.p12").string()), Env()).Exited(0));
    ASSERT_TRUE(RunProgram(Build("unsigned"), Env()).Exited(0));
    fs::create_directories(dir_ / "empty");  // a PATH without osslsigncode
    fs::copy(dir_ / "unsigned", dir_ / "noprogram", fs::copy_options::recursive);
    fs::remove(dir_ / "noprogram" / "setup.exe");
    std::string vendor = (dir_ / "vendor.pem").string(), other = (dir_ / "other.pem").string();
    struct Case {
        const char* package;
        std::string ca;
        bool withTool;
        int exitCode;
        const char* says;
    } cases[] = {
        {"signed", vendor, true, 0, "setup.exe: signed by /CN=cabsetup test vendor, valid"},
        {"signed", other, true, 1, "setup.exe: signed by /CN=cabsetup test vendor, NOT VALID"},
        {"unsigned", vendor, true, 1, "setup.exe: unsigned"},
        {"signed", vendor, false, 1, "--ca: cannot check setup.exe's signature: checking signatures needs osslsigncode, "
                                     "which is not on the PATH"},
        {"unsigned", vendor, false, 1, "needs osslsigncode"},
        {"noprogram", vendor, true, 1, "--ca: the package holds no setup.exe or uninstall.exe"},
        {"noprogram", "", true, 0, "problems: none"},
        {"unsigned", "", true, 0, "setup.exe: unsigned"},
        {"unsigned", "", false, 0, "setup.exe: signature not checked"},
        {"signed", "", false, 0, "setup.exe: signature not checked"},
    };
    for (const Case& c : cases) {
        std::string what = std::string(c.package) + (c.ca.empty() ? "" : " --ca " + fs::path(c.ca).filename().string()) +
                           (c.withTool ? "" : ", no osslsigncode");
        std::vector<std::string> args = {MKSETUP_PROGRAM, "verify", (dir_ / c.package).string()};
        if (!c.ca.empty()) args.insert(args.end(), {"--ca", c.ca});
        auto env = Env();
        if (!c.withTool) env["PATH"] = (dir_ / "empty").string();
        Outcome o = RunProgram(args, env);
        EXPECT_TRUE(o.Exited(c.exitCode)) << what << ": status " << o.status << "\n" << o.output;
        EXPECT_NE(o.output.find(c.says), std::string::npos) << what << "\n" << o.output;
    }
}

}  // namespace
