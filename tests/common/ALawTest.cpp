#include "common/ALaw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

TEST(ALaw, StandardExpansionAndGain) {
    struct Caso {
        std::uint8_t a;
        int ganho;
        std::int32_t pcm;
    } casos[] = {
        {0xD5, 0, 8},    {0x55, 0, -8},    {0xAA, 0, 32256}, {0x2A, 0, -32256},
        {0x80, 0, 5504}, {0x00, 0, -5504}, {0xD5, 8, 64},    {0x55, 8, -64},
        {0xD4, 5, 120},  {0xD5, -3, 8},    {0xD5, 1, 8},
    };
    for (const auto& c : casos)
        EXPECT_EQ(ALawParaPCM(c.a, c.ganho), c.pcm) << int(c.a) << " x" << c.ganho;
    EXPECT_EQ(ALawParaPCM(0xD5), 8 * GanhoALaw);
}

TEST(ALaw, HalvesAreSymmetricAndCoverTheRange) {
    std::set<std::int32_t> magnitudes;
    for (int a = 0; a < 256; ++a) {
        const auto s = ALawParaPCM(static_cast<std::uint8_t>(a), 0);
        EXPECT_EQ(ALawParaPCM(static_cast<std::uint8_t>(a ^ 0x80), 0), -s);
        if (s > 0) magnitudes.insert(s);
    }
    EXPECT_EQ(magnitudes.size(), 128u);
    EXPECT_EQ(*magnitudes.begin(), 8);
    EXPECT_EQ(*magnitudes.rbegin(), 32256);
}

TEST(ALaw, AmplifiedSamplesClipInsteadOfWrapping) {
    EXPECT_EQ(ALawParaPCM(0xAA, 8), 32767);
    EXPECT_EQ(ALawParaPCM(0x2A, 8), -32768);
    EXPECT_EQ(ALawParaPCM(0xAA, INT_MAX), 32767);
    EXPECT_EQ(ALawParaPCM(0x55, INT_MAX), -32768);
    int cortadas = 0;
    for (int a = 0; a < 256; ++a) {
        const auto base = ALawParaPCM(static_cast<std::uint8_t>(a), 0);
        const auto s = ALawParaPCM(static_cast<std::uint8_t>(a), 8);
        EXPECT_EQ(s, std::clamp(base * 8, -32768, 32767));
        if (s != base * 8) ++cortadas;
    }
    EXPECT_EQ(cortadas, 96);  // these would have wrapped in a 16-bit store
}

// Every conversion path of this processor gives the table's values, at every
// gain class, length and alignment (the wide paths hand their tail to the
// scalar loop).
TEST(ALaw, BufferPathsMatchSampleFunction) {
    std::vector<std::uint8_t> fonte(4096 + 64);
    std::mt19937 rng(11);
    for (auto& b : fonte) b = static_cast<std::uint8_t>(rng());
    for (int a = 0; a < 256; ++a) fonte[a] = static_cast<std::uint8_t>(a);

    const TabelaALaw::Caminho caminhos[] = {TabelaALaw::Caminho::Automatico,
                                            TabelaALaw::Caminho::Escalar, TabelaALaw::Caminho::AVX2,
                                            TabelaALaw::Caminho::AVX512};
    for (int ganho : {-1, 0, 1, 2, 5, 8, 100, 4095, 4096, 5000, INT_MAX}) {
        const TabelaALaw tabela(ganho);
        ASSERT_EQ(tabela.Ganho(), ganho);
        for (int a = 0; a < 256; ++a)
            ASSERT_EQ(tabela[static_cast<std::uint8_t>(a)],
                      ALawParaPCM(static_cast<std::uint8_t>(a), ganho));
        for (auto caminho : caminhos) {
            if (!TabelaALaw::Disponivel(caminho)) continue;
            for (std::size_t inicio : {0u, 1u, 3u}) {
                for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 63u, 256u, 4096u}) {
                    std::vector<std::uint8_t> saida(2 * n + 2, 0xEE);
                    tabela.ConverteParaPCM16LE({fonte.data() + inicio, n}, saida.data() + 1,
                                               caminho);
                    ASSERT_EQ(saida.front(), 0xEE);
                    ASSERT_EQ(saida.back(), 0xEE);
                    for (std::size_t k = 0; k < n; ++k) {
                        const auto u =
                            static_cast<std::uint16_t>(saida[1 + 2 * k] | saida[2 + 2 * k] << 8);
                        ASSERT_EQ(static_cast<std::int16_t>(u), tabela[fonte[inicio + k]])
                            << "ganho " << ganho << " caminho " << int(caminho) << " n " << n
                            << " k " << k;
                    }
                }
            }
        }
    }
    const std::vector<std::uint8_t> um = {0xD5, 0x55};
    EXPECT_EQ(TabelaALaw(0).ConverteParaPCM16LE(um),
              (std::vector<std::uint8_t>{0x08, 0x00, 0xF8, 0xFF}));
}
