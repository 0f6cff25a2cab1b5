#include "code_signing.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "external_tool.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace mksetup {

namespace {

constexpr char kTool[] = "osslsigncode";
constexpr char kPasswordVariable[] = "CABSETUP_SIGN_PASSWORD";

bool FindTool(fs::path& tool, const char* task, std::string& error) {
    tool = FindOnPath(kTool);
    if (tool.empty())
        error = std::string(task) + " needs osslsigncode, which is not on the PATH (Debian: apt-get install osslsigncode)";
    return !tool.empty();
}

}  // namespace

bool SignProgram(const fs::path& program, const SigningOptions& options, std::string& error) {
    fs::path tool;
    if (!FindTool(tool, "signing", error)) return false;
    if (options.pkcs12.empty() && (options.certificate.empty() || options.key.empty())) {
        error = "signing needs --sign-cert and --sign-key, or --sign-pkcs12";
        return false;
    }
    // Beside the program, so that taking its place is one rename; never left
    // behind, not even by an interrupted run.
    fs::path signedPath = program;
    signedPath += ".signed";
    RemovedOnExit signedCopy(signedPath, RemovedOnExit::Kind::File);
    std::vector<std::string> args = {"sign"};
    ToolSecret password;
    if (!options.pkcs12.empty()) {
        // Never on a command line every user of the machine can list, nor in
        // a file one of them could open: handed over as a pipe.
        const char* text = std::getenv(kPasswordVariable);
        password.bytes = text ? text : "";
        password.environmentVariable = kPasswordVariable;
        args.insert(args.end(), {"-pkcs12", options.pkcs12.string(), "-readpass"});
        password.argument = args.size();
        args.push_back("");  // the pipe's name, given when it exists
    } else {
        args.insert(args.end(), {"-certs", options.certificate.string(), "-key", options.key.string()});
    }
    if (!options.description.empty()) args.insert(args.end(), {"-n", options.description});
    args.insert(args.end(), {"-in", program.string(), "-out", signedPath.string()});
    std::string output;
    int code = RunTool(tool, args, output, options.pkcs12.empty() ? nullptr : &password);
    if (code != 0) {
        error = "osslsigncode could not sign " + program.filename().string() + ": " + output;
        return false;
    }
    std::error_code ec;
    fs::rename(signedPath, program, ec);
    if (ec) {
        error = "cannot replace " + program.string() + ": " + ec.message();
        return false;
    }
    signedCopy.Release();
    return true;
}

bool SameProgramSigned(const fs::path& signedProgram, const fs::path& program) {
    auto load = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    };
    return SameBytesSigned(load(signedProgram), load(program));
}

bool SameBytesSigned(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    if (b.size() < 0x40 || a.size() <= b.size()) return false;
    auto u32 = [&](std::size_t at) {
        return at + 4 <= b.size() ? std::uint32_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8 |
                                                  std::uint8_t(b[at + 2]) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24)
                                  : 0u;
    };
    std::size_t pe = u32(0x3C);
    if (pe + 0x18 + 2 > b.size()) return false;
    bool plus = (u32(pe + 0x18) & 0xFFFF) == 0x20B;
    std::size_t checksum = pe + 0x58, security = pe + 0x18 + (plus ? 112 : 96) + 4 * 8;
    for (std::size_t i = 0; i < b.size(); ++i) {
        bool header = (i >= checksum && i < checksum + 4) || (i >= security && i < security + 8);
        if (!header && a[i] != b[i]) return false;
    }
    return true;
}

SignatureReport CheckSignature(const fs::path& program, const fs::path& caFile) {
    SignatureReport report;
    fs::path tool;
    if (!FindTool(tool, "checking signatures", report.detail)) return report;
    std::vector<std::string> args = {"verify", "-in", program.string()};
    if (!caFile.empty()) args.insert(args.end(), {"-CAfile", caFile.string()});
    std::string output;
    int code = RunTool(tool, args, output);
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::size_t at = line.find("Subject:");
        if (report.signer.empty() && at != std::string::npos) report.signer = line.substr(line.find_first_not_of(' ', at + 8));
        if (line.find("MISMATCH") != std::string::npos || line.find("verification: failed") != std::string::npos)
            report.detail = line.substr(line.find_first_not_of(" \t"));
    }
    if (output.find("Unable to extract existing signature") != std::string::npos ||
        output.find("No signature found") != std::string::npos) {
        report.state = SignatureReport::State::Unsigned;
    } else if (code == 0 && output.find("Signature verification: ok") != std::string::npos) {
        report.state = SignatureReport::State::Valid;
    } else {
        report.state = SignatureReport::State::Invalid;
        if (report.detail.empty()) report.detail = "osslsigncode verify failed";
    }
    return report;
}

}  // namespace mksetup
