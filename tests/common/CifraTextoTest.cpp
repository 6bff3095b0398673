#include "common/CifraTexto.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

TEST(CifraTexto, KnownAnswers) {
    EXPECT_EQ(CriptografaTexto("abc"), "7Dzr");
    EXPECT_EQ(CriptografaTexto("a"), "7A==");
    EXPECT_EQ(DescriptografaTexto("7Dzr"), "abc");
    EXPECT_EQ(DescriptografaTexto("7A=="), "a");
    EXPECT_EQ(CriptografaTexto(""), "");
    EXPECT_EQ(DescriptografaTexto(""), "");
}

TEST(CifraTexto, FormIsDeterministicWithBase64Lengths) {
    EXPECT_EQ(CriptografaTexto("segredo"), CriptografaTexto("segredo"));
    const std::string um = CriptografaTexto("x");
    const std::string dois = CriptografaTexto("xy");
    ASSERT_EQ(um.size(), 4u);
    EXPECT_EQ(um.substr(2), "==");
    ASSERT_EQ(dois.size(), 4u);
    EXPECT_EQ(dois[3], '=');
    EXPECT_NE(dois[2], '=');
    EXPECT_EQ(CriptografaTexto("0123456789").size(), 16u);
    for (std::size_t n = 1; n < 50; ++n)
        EXPECT_EQ(CriptografaBytes(std::string(n, 'z')).size(), 4 * ((n + 2) / 3)) << n;
}

TEST(CifraTexto, RoundTripsRandomBytesIncludingHighHalf) {
    std::mt19937 rng(20240305);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t n = 1; n <= 300; ++n) {
        std::string p(n, '\0');
        for (char& c : p) c = static_cast<char>(byte(rng));
        const std::string t = CriptografaBytes(p);
        ASSERT_EQ(t.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
        ASSERT_EQ(DescriptografaBytes(t), p) << n;
    }
}

TEST(CifraTexto, TextFormEnciphersLatin1Bytes) {
    // "ção" enciphered as the three Latin-1 bytes, not as five UTF-8 bytes.
    const std::string t = CriptografaTexto("ção");
    EXPECT_EQ(t, CriptografaBytes("\xE7\xE3o"));
    EXPECT_EQ(t.size(), 4u);
    EXPECT_EQ(DescriptografaTexto(t), "ção");
    EXPECT_EQ(DescriptografaTexto(CriptografaTexto("5€")), "5?");
}

TEST(CifraTexto, CutCipherTextGivesPlainPrefix) {
    // Columns 30 characters wide keep 7 whole groups: 21 bytes.
    for (std::size_t n = 1; n <= 40; ++n) {
        std::string p;
        for (std::size_t k = 0; k < n; ++k) p += static_cast<char>('A' + k % 26);
        const std::string cortado = CriptografaTexto(p).substr(0, 30);
        EXPECT_EQ(DescriptografaTexto(cortado), p.substr(0, 21)) << n;
    }
}

TEST(CifraTexto, LenientBase64Decoder) {
    struct Caso {
        std::string texto, bytes;
    } casos[] = {
        {"Zm9vYmFy", "foobar"},
        {"Zm9vYg==", "foob"},
        {"Zm9vYmE=", "fooba"},
        {"Zm9", ""},                             // fewer than 4 characters
        {"Zm9vYm", "foo"},                       // trailing partial group ignored
        {"Zg==Zm9v", std::string("f") + "foo"},  // groups after padding still read
        {"Zm=x", "f"},                           // "=" third gives one byte
        {"Zm9=Zm9v", "fo"
                     "foo"},
        {"Zm9v  ", "foo"},               // blank padding of a fixed-width column
        {"!!!!", std::string(3, '\0')},  // outside the alphabet: zero bits
    };
    for (const auto& c : casos) EXPECT_EQ(DecodificaBase64(c.texto), c.bytes) << c.texto;
    EXPECT_EQ(CodificaBase64("f"), "Zg==");
    EXPECT_EQ(CodificaBase64("fo"), "Zm8=");
    EXPECT_EQ(CodificaBase64("\xFF\xFE\xFD"), "//79");
    EXPECT_EQ(DescriptografaTexto("7Dzr7A"), "abc");
}
