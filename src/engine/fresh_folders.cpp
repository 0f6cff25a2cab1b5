#include "engine/fresh_folders.h"

#include "platform/path_text.h"

namespace cabsetup {

namespace {

constexpr std::size_t kFilterWords = 8192;  // 64 KiB: 524,288 bits
constexpr std::uint64_t kFilterBits = kFilterWords * 64;

}  // namespace

std::string FreshFolders::Key(const std::string& path) {
    std::string key = path;
    for (char& c : key) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z') c = static_cast<char>(u - 'A' + 'a');
        else if (u >= 0x80) c = static_cast<char>(0x80);
    }
    return key;
}

bool FreshFolders::OneSpelling(const std::string& path) {
    // A drive's absolute path only; every byte looked at alone, which can
    // only find more doubt in a double-byte name, never less.
    if (path.size() < 4 || path[1] != ':' || path[2] != '\\') return false;
    if (path.find_first_of("/~*?:", 2) != std::string::npos) return false;
    std::size_t start = 3;
    for (;;) {
        std::size_t end = path.find('\\', start);
        std::string_view part(path.data() + start, (end == std::string::npos ? path.size() : end) - start);
        if (part.empty() || part.back() == '.' || part.back() == ' ') return false;  // also "." and ".."
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::uint64_t FreshFolders::Hash(const std::string& key) const {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

void FreshFolders::Made(const std::string& folder) { made_.insert(Key(folder)); }

void FreshFolders::Writing(const std::string& destination) {
    if (written_.empty()) written_.assign(kFilterWords, 0);
    std::uint64_t h = Hash(Key(destination));
    for (std::uint64_t bit : {h % kFilterBits, (h >> 32) % kFilterBits}) written_[bit / 64] |= 1ull << (bit % 64);
}

bool FreshFolders::NothingCanStand(const std::string& destination) const {
    if (made_.empty() || !OneSpelling(destination)) return false;
    if (!made_.count(Key(ParentFolder(cp_, destination)))) return false;
    if (written_.empty()) return true;
    std::uint64_t h = Hash(Key(destination));
    for (std::uint64_t bit : {h % kFilterBits, (h >> 32) % kFilterBits})
        if (!(written_[bit / 64] & (1ull << (bit % 64)))) return true;
    return false;
}

}  // namespace cabsetup
