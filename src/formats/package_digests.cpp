#include "formats/package_digests.h"

#include <algorithm>
#include <cstring>

#include "formats/little_endian.h"

namespace cabsetup {

namespace {

constexpr std::size_t kFiles = static_cast<std::size_t>(VouchedFile::Count);
constexpr std::size_t kFormatAt = 0, kFlagsAt = 4, kDigestsAt = 8, kDigestsEnd = kDigestsAt + kFiles * 32;
constexpr std::uint32_t kAllFlags = (1u << kFiles) - 1;
constexpr std::uint32_t kRequiredFlags =
    1u << static_cast<unsigned>(VouchedFile::SetupInf) | 1u << static_cast<unsigned>(VouchedFile::DigestList);
constexpr std::string_view kListHeading = "cabsetup-digests 1";
// Larger counts are no package this program wrote: refused before anything grows.
constexpr std::uint64_t kMaxListedCabinets = 1u << 20;

bool AllZero(const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A decimal number without sign, leading zeros or overflow past `max`.
bool ParseNumber(std::string_view text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    out = v;
    return true;
}

bool Number32(std::string_view text, std::uint32_t& out) {
    std::uint64_t v = 0;
    if (!ParseNumber(text, 0xFFFFFFFFu, v)) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

// Splits a line at single blanks; empty fields (two blanks, a leading or
// trailing one) make it invalid.
bool SplitFields(std::string_view line, std::string_view* fields, std::size_t want) {
    std::size_t n = 0, start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ' ') continue;
        if (i == start || n == want) return false;
        fields[n++] = line.substr(start, i - start);
        start = i + 1;
    }
    return n == want;
}

void AppendNumber(std::string& out, std::uint64_t v) {
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) out += digits[--n];
}

}  // namespace

BlockState ParseDigestBody(const unsigned char* body, DigestBlock& out) {
    out = DigestBlock{};
    std::uint32_t format = le::U32(body + kFormatAt);
    if (format == 0) return AllZero(body, kDigestBodySize) ? BlockState::Empty : BlockState::Invalid;
    std::uint32_t flags = le::U32(body + kFlagsAt);
    if (format != kDigestBlockFormat || (flags & ~kAllFlags) || (flags & kRequiredFlags) != kRequiredFlags ||
        !AllZero(body + kDigestsEnd, kDigestBodySize - kDigestsEnd))
        return BlockState::Invalid;
    for (std::size_t i = 0; i < kFiles; ++i) {
        const unsigned char* d = body + kDigestsAt + 32 * i;
        bool present = (flags >> i) & 1;
        if (!present && !AllZero(d, 32)) return BlockState::Invalid;
        out.present[i] = present;
        std::memcpy(out.digests[i].data(), d, 32);
    }
    out.filled = true;
    return BlockState::Filled;
}

void WriteDigestBody(const DigestBlock& block, unsigned char* body) {
    std::memset(body, 0, kDigestBodySize);
    if (!block.filled) return;
    std::uint32_t flags = 0;
    for (std::size_t i = 0; i < kFiles; ++i) {
        if (!block.present[i]) continue;
        flags |= 1u << i;
        std::memcpy(body + kDigestsAt + 32 * i, block.digests[i].data(), 32);
    }
    le::PutU32(body + kFormatAt, kDigestBlockFormat);
    le::PutU32(body + kFlagsAt, flags);
}

const DigestListSet* DigestList::FindSet(std::uint32_t setType) const {
    for (const DigestListSet& s : sets)
        if (s.setType == setType) return &s;
    return nullptr;
}

const DigestListCabinet* DigestList::FindCabinet(std::uint32_t number) const {
    // The reader keeps them in ascending order: a package's thousands of
    // cabinets are found without a walk each.
    auto it = std::lower_bound(cabinets.begin(), cabinets.end(), number,
                               [](const DigestListCabinet& c, std::uint32_t n) { return c.number < n; });
    return it != cabinets.end() && it->number == number ? &*it : nullptr;
}

bool ParseHexDigest(std::string_view text, Digest& out) {
    if (text.size() != 64) return false;
    for (std::size_t i = 0; i < 32; ++i) {
        int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

Digest DigestOf(const void* data, std::size_t size) {
    Sha256 sha;
    sha.Update(data, size);
    return sha.Final();
}

bool ParseDigestList(std::string_view text, DigestList& out) {
    out = DigestList{};
    DigestList list;
    std::size_t at = 0;
    bool first = true;
    // Cabinets still owed to the set last named, and the number the next must have.
    std::uint64_t owed = 0;
    std::uint32_t nextNumber = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) return false;  // every line ends with a newline
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kListHeading) return false;
            first = false;
            continue;
        }
        std::string_view f[7];
        if (line.substr(0, 4) == "set ") {
            if (owed != 0 || !SplitFields(line, f, 4)) return false;
            DigestListSet s;
            if (!Number32(f[1], s.setType) || !Number32(f[2], s.cabinetCount) || !ParseHexDigest(f[3], s.header))
                return false;
            // One main set first, then at most one linked set.
            bool main = s.setType == 1 || s.setType == 3;
            if (list.sets.size() >= 2 || (list.sets.empty() != main) || s.cabinetCount > kMaxListedCabinets)
                return false;
            owed = s.cabinetCount;
            nextNumber = main ? 0 : 100000;
            list.sets.push_back(s);
        } else if (line.substr(0, 4) == "cab ") {
            if (owed == 0 || !SplitFields(line, f, 7)) return false;
            DigestListCabinet c;
            if (!Number32(f[1], c.number) || !Number32(f[2], c.volume) ||
                !ParseNumber(f[3], 0xFFFFFFFFFFFFull, c.offset) || !Number32(f[4], c.size) ||
                !ParseHexDigest(f[5], c.record) || !ParseHexDigest(f[6], c.cabinet))
                return false;
            if (c.number != nextNumber) return false;
            ++nextNumber;
            --owed;
            list.cabinets.push_back(c);
        } else {
            return false;
        }
    }
    if (first || owed != 0 || list.sets.empty()) return false;
    out = std::move(list);
    return true;
}

std::string WriteDigestList(const DigestList& list) {
    std::string out(kListHeading);
    out += '\n';
    std::size_t next = 0;
    for (const DigestListSet& s : list.sets) {
        out += "set ";
        AppendNumber(out, s.setType);
        out += ' ';
        AppendNumber(out, s.cabinetCount);
        out += ' ';
        out += HexDigest(s.header);
        out += '\n';
        for (std::uint32_t i = 0; i < s.cabinetCount && next < list.cabinets.size(); ++i, ++next) {
            const DigestListCabinet& c = list.cabinets[next];
            out += "cab ";
            for (std::uint64_t v : {std::uint64_t(c.number), std::uint64_t(c.volume), c.offset, std::uint64_t(c.size)}) {
                AppendNumber(out, v);
                out += ' ';
            }
            out += HexDigest(c.record);
            out += ' ';
            out += HexDigest(c.cabinet);
            out += '\n';
        }
    }
    return out;
}

}  // namespace cabsetup
