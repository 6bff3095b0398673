#include "common/ALaw.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The expansion without gain, as G.711 defines it, scaled to 16 bits.
constexpr std::int16_t Expande(std::uint8_t a) {
    a ^= 0x55;  // even-bit inversion
    const int q = a & 0x0F;
    const int seg = (a & 0x70) >> 4;
    int t = q * 16 + 8;
    if (seg > 0) t += 256;
    if (seg > 1) t <<= seg - 1;
    if ((a & 0x80) == 0) t = -t;  // bit 7 set is the positive half
    return static_cast<std::int16_t>(t);
}

constexpr std::array<std::int16_t, 256> kExpansao = [] {
    std::array<std::int16_t, 256> t{};
    for (int a = 0; a < 256; ++a) t[a] = Expande(static_cast<std::uint8_t>(a));
    return t;
}();

// A gain that large clips every sample (the smallest magnitude is 8, and
// 8 * 4096 = 32768), so larger gains give the same results as 4096.
constexpr int kGanhoMaximoUtil = 4096;

#if defined(__x86_64__)
// The same expansion as ALawParaPCM, 32 samples per pass. The segment's power
// of two comes from a byte shuffle, the gain's product is widened to 32 bits
// and packed back with signed saturation, which is exactly the clipping of the
// scalar code. Returns how many input bytes it converted.
__attribute__((target("avx2"))) inline __m256i DezesseisAVX2(__m128i bytes, __m256i g) {
    const __m256i a = _mm256_xor_si256(_mm256_cvtepu8_epi16(bytes), _mm256_set1_epi16(0x55));
    const __m256i q16 = _mm256_slli_epi16(_mm256_and_si256(a, _mm256_set1_epi16(0x0F)), 4);
    const __m256i seg = _mm256_and_si256(_mm256_srli_epi16(a, 4), _mm256_set1_epi16(7));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i base =
        _mm256_add_epi16(_mm256_set1_epi16(8),
                         _mm256_and_si256(_mm256_cmpgt_epi16(seg, zero), _mm256_set1_epi16(256)));
    // Index high byte 0x80 makes the shuffle give 0 there: one 16-bit power per lane.
    const __m256i potencias = _mm256_setr_epi8(1, 1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                               1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i pot = _mm256_shuffle_epi8(
        potencias, _mm256_or_si256(seg, _mm256_set1_epi16(static_cast<short>(0x8000))));
    __m256i m = _mm256_mullo_epi16(_mm256_add_epi16(q16, base), pot);
    const __m256i negativo = _mm256_cmpeq_epi16(_mm256_and_si256(a, _mm256_set1_epi16(0x80)), zero);
    m = _mm256_sub_epi16(_mm256_xor_si256(m, negativo), negativo);
    const __m256i lo = _mm256_mullo_epi16(m, g);
    const __m256i hi = _mm256_mulhi_epi16(m, g);
    // Unpack and pack both work within 128-bit halves, so sample order is kept.
    return _mm256_packs_epi32(_mm256_unpacklo_epi16(lo, hi), _mm256_unpackhi_epi16(lo, hi));
}

__attribute__((target("avx2"))) std::size_t ConverteAVX2(const std::uint8_t* in, std::size_t n,
                                                         std::uint8_t* out, std::int16_t ganho) {
    const __m256i g = _mm256_set1_epi16(ganho);
    std::size_t k = 0;
    for (; k + 32 <= n; k += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k));
        const __m256i r0 = DezesseisAVX2(_mm256_castsi256_si128(v), g);
        const __m256i r1 = DezesseisAVX2(_mm256_extracti128_si256(v, 1), g);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * k), r0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * k + 32), r1);
    }
    return k;
}

// The table itself in eight 32-sample registers: two-register word permutes
// pick among 64 entries, and bits 6 and 7 of the code choose among the four
// results. 32 samples per pass in about a dozen instructions.
__attribute__((target("avx512bw"))) std::size_t ConverteAVX512(const std::uint8_t* in,
                                                               std::size_t n, std::uint8_t* out,
                                                               const std::int16_t* tabela) {
    __m512i t[8];
    for (int r = 0; r < 8; ++r) t[r] = _mm512_loadu_si512(tabela + 32 * r);
    const __m512i bit6 = _mm512_set1_epi16(0x40);
    const __m512i bit7 = _mm512_set1_epi16(0x80);
    std::size_t k = 0;
    for (; k + 32 <= n; k += 32) {
        const __m512i idx =
            _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k)));
        const __m512i r0 = _mm512_permutex2var_epi16(t[0], idx, t[1]);
        const __m512i r1 = _mm512_permutex2var_epi16(t[2], idx, t[3]);
        const __m512i r2 = _mm512_permutex2var_epi16(t[4], idx, t[5]);
        const __m512i r3 = _mm512_permutex2var_epi16(t[6], idx, t[7]);
        const __mmask32 m6 = _mm512_test_epi16_mask(idx, bit6);
        const __mmask32 m7 = _mm512_test_epi16_mask(idx, bit7);
        const __m512i baixo = _mm512_mask_blend_epi16(m6, r0, r1);
        const __m512i alto = _mm512_mask_blend_epi16(m6, r2, r3);
        _mm512_storeu_si512(out + 2 * k, _mm512_mask_blend_epi16(m7, baixo, alto));
    }
    return k;
}

bool TemAVX512() {
    static const bool tem = __builtin_cpu_supports("avx512bw");
    return tem;
}

bool TemAVX2() {
    static const bool tem = __builtin_cpu_supports("avx2");
    return tem;
}
#endif

}  // namespace

std::int32_t ALawParaPCM(std::uint8_t a, int ganho) {
    const std::int32_t t = kExpansao[a];
    if (ganho <= 0) return t;
    // 64-bit product: a huge configured gain must clip, not overflow.
    const std::int64_t p = static_cast<std::int64_t>(t) * ganho;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(p, -32768, 32767));
}

TabelaALaw::TabelaALaw(int ganho) : ganho_(ganho) {
    for (int a = 0; a < 256; ++a) {
        const auto s = static_cast<std::int16_t>(ALawParaPCM(static_cast<std::uint8_t>(a), ganho));
        amostras_[a] = s;
    }
}

bool TabelaALaw::Disponivel(Caminho c) {
    switch (c) {
        case Caminho::Automatico:
        case Caminho::Escalar: return true;
#if defined(__x86_64__)
        case Caminho::AVX2: return TemAVX2();
        case Caminho::AVX512: return TemAVX512();
#else
        case Caminho::AVX2:
        case Caminho::AVX512: return false;
#endif
    }
    return false;
}

void TabelaALaw::ConverteParaPCM16LE(std::span<const std::uint8_t> alaw, std::uint8_t* saida,
                                     Caminho caminho) const {
    if (!Disponivel(caminho))
        throw std::invalid_argument("caminho de conversão A-law indisponível");
    const std::uint8_t* in = alaw.data();
    const std::size_t n = alaw.size();
    std::size_t k = 0;
#if defined(__x86_64__)
    if (caminho == Caminho::Automatico)
        caminho = TemAVX512() ? Caminho::AVX512 : TemAVX2() ? Caminho::AVX2 : Caminho::Escalar;
    if (caminho == Caminho::AVX512) {
        k = ConverteAVX512(in, n, saida, amostras_.data());
    } else if (caminho == Caminho::AVX2) {
        const int g = ganho_ <= 0 ? 1 : std::min(ganho_, kGanhoMaximoUtil);
        k = ConverteAVX2(in, n, saida, static_cast<std::int16_t>(g));
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Four samples per 64-bit store: the loop is bound by the table loads.
        const auto* t = reinterpret_cast<const std::uint16_t*>(amostras_.data());
        for (; k + 4 <= n; k += 4) {
            const std::uint64_t v = std::uint64_t{t[in[k]]} | std::uint64_t{t[in[k + 1]]} << 16 |
                                    std::uint64_t{t[in[k + 2]]} << 32 |
                                    std::uint64_t{t[in[k + 3]]} << 48;
            std::memcpy(saida + 2 * k, &v, sizeof v);
        }
    }
    for (; k < n; ++k) {
        const auto u = static_cast<std::uint16_t>(amostras_[in[k]]);
        saida[2 * k] = static_cast<std::uint8_t>(u & 0xFF);
        saida[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

std::vector<std::uint8_t>
TabelaALaw::ConverteParaPCM16LE(std::span<const std::uint8_t> alaw) const {
    std::vector<std::uint8_t> saida(2 * alaw.size());
    ConverteParaPCM16LE(alaw, saida.data());
    return saida;
}
