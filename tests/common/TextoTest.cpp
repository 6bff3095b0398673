#include "common/Texto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string TodosOsBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    return s;
}

}  // namespace

TEST(Texto, Latin1RoundTripsEveryByte) {
    const std::string bytes = TodosOsBytes();
    const std::string utf8 = Latin1ParaUtf8(bytes);
    EXPECT_EQ(ContaCaracteresUtf8(utf8), 256u);
    EXPECT_EQ(Utf8ParaLatin1(utf8), bytes);
    EXPECT_EQ(Latin1ParaUtf8("Conex\xE3o"), "Conexão");
    EXPECT_EQ(Utf8ParaLatin1("Informação"), "Informa\xE7\xE3o");
}

TEST(Texto, Win1252RoundTripsEveryByteAndMapsTypography) {
    const std::string bytes = TodosOsBytes();
    EXPECT_EQ(Utf8ParaWin1252(Win1252ParaUtf8(bytes)), bytes);
    EXPECT_EQ(Win1252ParaUtf8("\x80 \x93x\x94 \x96 \xE9"), "€ “x” – é");
    EXPECT_EQ(Utf8ParaWin1252("€ “x” – é"), "\x80 \x93x\x94 \x96 \xE9");
}

TEST(Texto, CharactersWithoutASingleByteFormBecomeOneQuestionMarkEach) {
    struct Caso {
        std::string utf8, latin1, win1252;
    } casos[] = {
        {"€5", "?5",
         "\x80"
         "5"},
        {"a→b", "a?b", "a?b"},
        {"😀!", "?!", "?!"},                    // four-byte sequence
        {"\xC2\x85", "\x85", "?"},             // C1 control: Latin-1 only
        {"x\x80y", "x?y", "x?y"},              // stray continuation byte
        {"\xC3", "?", "?"},                    // truncated sequence
        {"\xC0\xAF", "??", "??"},              // over-long '/'
        {"\xED\xA0\x80", "???", "???"},        // surrogate
        {"\xF4\x90\x80\x80", "????", "????"},  // above U+10FFFF
    };
    for (const auto& c : casos) {
        EXPECT_EQ(Utf8ParaLatin1(c.utf8), c.latin1) << c.utf8;
        EXPECT_EQ(Utf8ParaWin1252(c.utf8), c.win1252) << c.utf8;
    }
}

TEST(Texto, WidthsCountCharactersNotBytes) {
    EXPECT_EQ(ContaCaracteresUtf8("Conexão"), 7u);
    EXPECT_EQ(CortaUtf8("Conexão OK", 7), "Conexão");
    EXPECT_EQ(CortaUtf8("ãããã", 2), "ãã");
    EXPECT_EQ(CortaUtf8("abc", 10), "abc");
    EXPECT_EQ(CortaUtf8("", 3), "");
}

TEST(Texto, CaseAndTrimHelpersTouchOnlyAscii) {
    EXPECT_EQ(Maiusculas("Norvika orval500 ção"), "NORVIKA ORVAL500 çãO");
    EXPECT_EQ(Minusculas("GRV202601.LOG Ç"), "grv202601.log Ç");
    EXPECT_TRUE(IgualSemCaixa("veruzadu.ini", "VERUZADU.INI"));
    EXPECT_FALSE(IgualSemCaixa("ção", "ÇÃO"));  // only ASCII letters fold
    EXPECT_FALSE(IgualSemCaixa("abc", "abcd"));
    EXPECT_EQ(Apara(" \t bridge \r\n"), "bridge");
    EXPECT_EQ(Apara(std::string("\0x\x01", 3)), "x");
    EXPECT_EQ(Apara("   "), "");
}

// The trims differ only in which bytes count as blank at the ends.
TEST(Texto, TrimsDifferOnlyInTheBlanksTheyTake) {
    struct Caso {
        std::string entrada, apara, brancos, espacos;
    };
    const Caso casos[] = {
        {" \t bridge \t ", "bridge", "bridge", "bridge"},
        {"\r\n x y \r\n", "x y", "x y", "\r\n x y \r\n"},
        {"\f\vx\v\f", "x", "x", "\f\vx\v\f"},
        {std::string("\0x\x01", 3), "x", std::string("\0x\x01", 3), std::string("\0x\x01", 3)},
        {"\x1b"
         "a\x7f",
         "a\x7f",
         "\x1b"
         "a\x7f",
         "\x1b"
         "a\x7f"},
        {" \t ", "", "", ""},
        {"", "", "", ""},
        {"ção ", "ção", "ção", "ção"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(testing::PrintToString(c.entrada));
        EXPECT_EQ(Apara(c.entrada), c.apara);
        EXPECT_EQ(AparaVista(c.entrada), c.apara);
        EXPECT_EQ(AparaBrancos(c.entrada), c.brancos);
        EXPECT_EQ(AparaEspacos(c.entrada), c.espacos);
    }
}

// The slash rules differ in the empty name and a trailing backslash.
TEST(Texto, SlashRulesDifferInTheEmptyNameAndTheBackslash) {
    struct Caso {
        std::string entrada, comBarra, ouRaiz, trocaContrabarra, semBarra;
    };
    const Caso casos[] = {
        {"/x", "/x/", "/x/", "/x/", "/x"},
        {"/x/", "/x/", "/x/", "/x/", "/x"},
        {"/x//", "/x//", "/x//", "/x//", "/x"},
        {"/x\\", "/x\\/", "/x\\/", "/x/", "/x\\"},
        {"/x\\\\", "/x\\\\/", "/x\\\\/", "/x\\/", "/x\\\\"},
        {"", "", "/", "", ""},
        {"/", "/", "/", "/", "/"},
        {"//", "//", "//", "//", "/"},
        {"\\", "\\/", "\\/", "/", "\\"},
        {"pasta", "pasta/", "pasta/", "pasta/", "pasta"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.entrada);
        EXPECT_EQ(ComBarra(c.entrada), c.comBarra);
        EXPECT_EQ(ComBarraOuRaiz(c.entrada), c.ouRaiz);
        EXPECT_EQ(ComBarraTrocaContrabarra(c.entrada), c.trocaContrabarra);
        EXPECT_EQ(SemBarraFinal(c.entrada), c.semBarra);
    }
}

TEST(Texto, RemoveBarrasIniciais) {
    const std::pair<const char*, const char*> casos[] = {
        {"\\\\SERVIDOR", "SERVIDOR"},
        {"\\\\\\SERVIDOR", "\\SERVIDOR"},
        {"\\S", "S"},
        {"SERVIDOR", "SERVIDOR"},
        {"", ""},
        {"S\\\\", "S\\\\"},
    };
    for (const auto& [de, para] : casos) EXPECT_EQ(RemoveBarrasIniciais(de), para) << de;
}
