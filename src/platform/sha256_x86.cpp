// SHA-256 rounds on the x86 SHA extensions: sha256rnds2 does two rounds at a
// time on the state split as ABEF and CDGH, sha256msg1/msg2 extend the message
// schedule four words at a time. Only these functions are compiled for the
// extensions; the rest of the program keeps its baseline instruction set, and
// Sha256 calls here only after X86Available() said yes.
#include "platform/sha256_blocks.h"

#ifdef CABSETUP_SHA256_X86

#include <cpuid.h>
#include <immintrin.h>

// 32-bit Windows promises only 4-byte stack alignment at a call, and the
// register spills below want 16.
#if defined(__i386__)
#define CABSETUP_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#define CABSETUP_SHA_INLINE __attribute__((target("sha,sse4.1,ssse3"), always_inline))
#else
#define CABSETUP_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define CABSETUP_SHA_INLINE __attribute__((target("sha,sse4.1,ssse3"), always_inline))
#endif

namespace cabsetup::sha256_blocks {

namespace {

constexpr unsigned kLeaf1EcxSsse3 = 1u << 9;
constexpr unsigned kLeaf1EcxSse41 = 1u << 19;
constexpr unsigned kLeaf7EbxSha = 1u << 29;

// Four rounds: the schedule words w (already big-endian in lanes) plus their
// constants, two rounds into each half of the state.
CABSETUP_SHA_INLINE inline void Rounds4(__m128i& abef, __m128i& cdgh, __m128i w, int group) {
    __m128i wk = _mm_add_epi32(w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// The next four schedule words from the sixteen before them, oldest group first:
// W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].
CABSETUP_SHA_INLINE inline __m128i Next(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    return _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4)), w3);
}

}  // namespace

bool X86Available() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    if ((c & kLeaf1EcxSsse3) == 0 || (c & kLeaf1EcxSse41) == 0) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & kLeaf7EbxSha) != 0;
}

CABSETUP_SHA_TARGET void X86(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    // Bytes of each 32-bit word reversed: the message is big-endian.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        const auto* in = reinterpret_cast<const __m128i*>(blocks);
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);
        Rounds4(abef, cdgh, w0, 0);
        Rounds4(abef, cdgh, w1, 1);
        Rounds4(abef, cdgh, w2, 2);
        Rounds4(abef, cdgh, w3, 3);
        for (int group = 4; group < 16; group += 4) {
            w0 = Next(w0, w1, w2, w3);
            Rounds4(abef, cdgh, w0, group);
            w1 = Next(w1, w2, w3, w0);
            Rounds4(abef, cdgh, w1, group + 1);
            w2 = Next(w2, w3, w0, w1);
            Rounds4(abef, cdgh, w2, group + 2);
            w3 = Next(w3, w0, w1, w2);
            Rounds4(abef, cdgh, w3, group + 3);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    // Back from ABEF/CDGH to a..h in memory order.
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace cabsetup::sha256_blocks

#endif  // CABSETUP_SHA256_X86
