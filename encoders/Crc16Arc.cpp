// The LAME tag's CRC-16 (polynomial 0x8005 reflected): eight bytes at a time from tables, and
// on processors with carry-less multiplication sixty-four bytes at a time, folded.
#include "encoders/Mp3Bitstream.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TANDREL_CRC_FOLDING 1
#endif

namespace mp3 {
namespace {

// "Slicing by eight": table k gives a byte's effect k bytes ahead.
std::uint16_t Crc16Tables(std::uint16_t crc, const std::uint8_t *data, std::size_t count) {
    static const auto tables = [] {
        struct T {
            std::uint16_t v[8][256];
        } t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            t.v[0][i] = std::uint16_t(c);
        }
        for (int k = 1; k < 8; ++k)
            for (unsigned i = 0; i < 256; ++i)
                t.v[k][i] = std::uint16_t((t.v[k - 1][i] >> 8) ^ t.v[0][t.v[k - 1][i] & 0xFF]);
        return t;
    }();
    const auto &v = tables.v;
    for (; count >= 8; count -= 8, data += 8)
        crc = std::uint16_t(v[7][(data[0] ^ crc) & 0xFF] ^ v[6][(data[1] ^ (crc >> 8)) & 0xFF] ^
                            v[5][data[2]] ^ v[4][data[3]] ^ v[3][data[4]] ^ v[2][data[5]] ^
                            v[1][data[6]] ^ v[0][data[7]]);
    for (; count > 0; --count, ++data)
        crc = std::uint16_t((crc >> 8) ^ v[0][(crc ^ *data) & 0xFF]);
    return crc;
}

#ifdef TANDREL_CRC_FOLDING

// x^n modulo the polynomial x^16 + x^15 + x^2 + 1.
constexpr std::uint32_t XPowerMod(int n) {
    std::uint32_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000)
            r ^= 0x18005;
    }
    return r;
}

// A polynomial of degree below 16 as a reflected 64-bit operand: x^j at bit 63 - j.
constexpr std::uint64_t Reflected(std::uint32_t p) {
    std::uint64_t v = 0;
    for (int j = 0; j < 16; ++j)
        if (p >> j & 1)
            v |= std::uint64_t(1) << (63 - j);
    return v;
}

// The multipliers that move 128 bits of the stream `bits` further on. The product of two
// reflected operands comes out multiplied by x once more, hence the one less.
constexpr std::uint64_t kLow(int bits) {
    return Reflected(XPowerMod(bits + 64 - 1));
}
constexpr std::uint64_t kHigh(int bits) {
    return Reflected(XPowerMod(bits - 1));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// The whole 64-byte blocks of count (at least one) reduced to 16 bytes congruent to them,
// whose table CRC is theirs.
__attribute__((target("pclmul,sse2"))) std::uint16_t
Crc16Folded(std::uint16_t crc, const std::uint8_t *data, std::size_t blocks) {
    const auto load = [](const std::uint8_t *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(crc));
    __m128i x1 = load(data + 16), x2 = load(data + 32), x3 = load(data + 48);
    const __m128i by512 = _mm_set_epi64x(std::int64_t(kHigh(512)), std::int64_t(kLow(512)));
    for (std::size_t b = 1; b < blocks; ++b) {
        const std::uint8_t *p = data + 64 * b;
        x0 = Fold(x0, by512, load(p));
        x1 = Fold(x1, by512, load(p + 16));
        x2 = Fold(x2, by512, load(p + 32));
        x3 = Fold(x3, by512, load(p + 48));
    }
    const __m128i by384 = _mm_set_epi64x(std::int64_t(kHigh(384)), std::int64_t(kLow(384)));
    const __m128i by256 = _mm_set_epi64x(std::int64_t(kHigh(256)), std::int64_t(kLow(256)));
    const __m128i by128 = _mm_set_epi64x(std::int64_t(kHigh(128)), std::int64_t(kLow(128)));
    x3 = Fold(x0, by384, x3);
    x3 = Fold(x1, by256, x3);
    x3 = Fold(x2, by128, x3);
    alignas(16) std::uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(rest), x3);
    return Crc16Tables(0, rest, sizeof rest);
}

#endif

// a(x) b(x) modulo the polynomial, both reflected as the CRC register holds them (x^0 at bit 15).
std::uint16_t MultiplyMod(std::uint16_t a, std::uint16_t b) {
    std::uint16_t product = 0;
    for (std::uint16_t m = 0x8000; m != 0; m >>= 1) {
        if (a & m)
            product ^= b;
        b = (b & 1) ? std::uint16_t((b >> 1) ^ 0xA001) : std::uint16_t(b >> 1);
    }
    return product;
}

} // namespace

// The first CRC carried through as many zero bytes as the second part has (x^(8 n) by repeated
// squaring), then the second part's own.
std::uint16_t Crc16ArcCombine(std::uint16_t first, std::uint16_t second,
                              std::uint64_t secondBytes) {
    std::uint16_t power = 0x0080; // x^8: one zero byte
    std::uint16_t shift = 0x8000; // x^0
    for (std::uint64_t n = secondBytes; n != 0; n >>= 1) {
        if (n & 1)
            shift = MultiplyMod(shift, power);
        power = MultiplyMod(power, power);
    }
    return std::uint16_t(MultiplyMod(shift, first) ^ second);
}

std::uint16_t Crc16Arc(std::uint16_t crc, const std::uint8_t *data, std::size_t count) {
#ifdef TANDREL_CRC_FOLDING
    static const bool folding = __builtin_cpu_supports("pclmul");
    if (folding && count >= 256) {
        const std::size_t blocks = count / 64;
        crc = Crc16Folded(crc, data, blocks);
        data += 64 * blocks;
        count -= 64 * blocks;
    }
#endif
    return Crc16Tables(crc, data, count);
}

} // namespace mp3
