// Authenticode signatures of the programs a package ships, through
// osslsigncode (a Debian package of that name).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mksetup {

struct SigningOptions {
    std::filesystem::path certificate, key;  // PEM files, or:
    std::filesystem::path pkcs12;            // a PKCS#12 file, its password in CABSETUP_SIGN_PASSWORD
    std::string description;                 // shown by Windows as the program's description
    bool Wanted() const { return !certificate.empty() || !key.empty() || !pkcs12.empty(); }
};

// Signs `program` in place; false with `error` when it cannot.
bool SignProgram(const std::filesystem::path& program, const SigningOptions& options, std::string& error);

// Whether `signedProgram` is `program` with an Authenticode signature added:
// the same bytes but for the header's checksum and certificate-table entry,
// and the signature after them.
bool SameProgramSigned(const std::filesystem::path& signedProgram, const std::filesystem::path& program);
bool SameBytesSigned(const std::vector<unsigned char>& signedProgram, const std::vector<unsigned char>& program);

struct SignatureReport {
    enum class State { Unsigned, Valid, Invalid, Unchecked } state = State::Unchecked;
    std::string signer;  // the signing certificate's subject
    std::string detail;  // why it is invalid or could not be checked
};

// Checks `program`'s signature against the certificates in `caFile` (empty: the system's).
SignatureReport CheckSignature(const std::filesystem::path& program, const std::filesystem::path& caFile);

}  // namespace mksetup
