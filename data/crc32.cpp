#include "data/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace {

// Folds 64 bytes at a time, then 16, then reduces to 32 bits (Barrett), as
// in Intel's paper on CRC computation with PCLMULQDQ, with the constants of
// the bit-reflected CRC-32 polynomial. `length` is a multiple of 16 and at
// least 64; `crc` is the running value without zlib's final inversion.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldedCrc(uint32_t crc, const uint8_t* buf, size_t length)
{
    alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(int(crc)));
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    buf += 64;
    length -= 64;
    while (length >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
        buf += 64;
        length -= 64;
    }
    // Four lanes into one.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    const __m128i rest[] = {x2, x3, x4};
    for (const __m128i& next : rest) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x11), next), x5);
    }
    while (length >= 16) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf))), x5);
        buf += 16;
        length -= 16;
    }
    // 128 bits to 64.
    __m128i x2b = _mm_clmulepi64_si128(x1, x0, 0x10);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2b = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), x0, 0x00), x2b);
    // Barrett reduction to 32 bits.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2b = _mm_and_si128(x1, low32);
    x2b = _mm_clmulepi64_si128(x2b, x0, 0x10);
    x2b = _mm_and_si128(x2b, low32);
    x2b = _mm_clmulepi64_si128(x2b, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

bool HaveFolding()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

} // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    if (length >= 64 && HaveFolding()) {
        const size_t folded = length & ~size_t(15);
        crc = ~FoldedCrc(~crc, data, folded);
        data += folded;
        length -= folded;
    }
    return uint32_t(crc32_z(crc, data, length));
}

#else

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    return uint32_t(crc32_z(crc, data, length));
}

#endif
