#include "app/package_check.h"

#include "platform/memory.h"

namespace cabsetup {

bool DigestOfFile(Os& os, const std::string& path, std::uint64_t limit, Digest& digest, std::string* bytes,
                  bool* absent) {
    if (absent) *absent = false;
    Os::HandlePtr file = os.OpenRead(path);
    if (!file) {
        // Asked again by name: only a lookup that proves it absent counts.
        FindData found;
        if (absent) *absent = !os.FileInfo(path, found) && ProvenAbsent(os);
        return false;
    }
    std::uint64_t size = 0;
    if (!os.FileSize(*file, size) || size > limit) return false;
    constexpr std::size_t kPiece = 64 * 1024;
    auto buffer = TryAllocate<unsigned char>(kPiece);
    if (!buffer) return false;
    Sha256 sha;
    if (bytes) bytes->clear();
    for (std::uint64_t done = 0; done < size;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - done)), got = 0;
        if (!os.Read(*file, buffer.get(), want, got) || got != want) return false;
        sha.Update(buffer.get(), got);
        if (bytes) bytes->append(reinterpret_cast<const char*>(buffer.get()), got);
        done += got;
    }
    // A file that grew while it was read is not the file that was measured.
    std::size_t extra = 0;
    unsigned char probe;
    if (!os.Read(*file, &probe, 1, extra) || extra != 0) return false;
    digest = sha.Final();
    return true;
}

bool TakeDigestBlock(Os& os, SetupState& state, const unsigned char* body, std::string& changed) {
    state.vouch = PackageVouch{};
    if (!body) return true;
    DigestBlock block;
    BlockState parsed = ParseDigestBody(body, block);
    if (parsed == BlockState::Empty) return true;
    changed = "setup.exe";
    if (parsed == BlockState::Invalid) return false;
    // The block is only as good as the signature over it: a program whose
    // signature is gone or broken may carry a block anybody wrote.
    SignatureState signature = os.OwnSignature();
    if (signature != SignatureState::Valid && signature != SignatureState::UntrustedChain) return false;
    state.vouch.block = block;
    changed.clear();
    return true;
}

bool CheckVouchedFiles(Os& os, SetupState& state, std::string& changed) {
    if (!state.vouch.Active()) return true;
    const DigestBlock& block = state.vouch.block;
    for (VouchedFile f : {VouchedFile::DigestList, VouchedFile::License, VouchedFile::Picture}) {
        const char* name = kVouchedFileNames[static_cast<unsigned>(f)];
        std::string path = state.sourceDir + "\\" + name, text;
        Digest digest{};
        bool absent = false;
        bool read = DigestOfFile(os, path, kMaxVouchedFileBytes, digest, &text, &absent);
        bool good = block.Has(f) ? read && digest == block.Of(f) : !read && absent;
        if (f == VouchedFile::DigestList && good) good = ParseDigestList(text, state.vouch.list);
        if (!good) {
            changed = name;
            return false;
        }
        if (f == VouchedFile::License && read) state.vouch.license.swap(text);
        if (f == VouchedFile::Picture && read) state.vouch.picture.swap(text);
    }
    return true;
}

}  // namespace cabsetup
