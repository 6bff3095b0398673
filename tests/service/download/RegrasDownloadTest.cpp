#include "service/download/RegrasDownload.h"

#include <gtest/gtest.h>

namespace {

TEST(RegrasDownload, VersoesComparamParteAParteComoNumeros) {
    struct Caso {
        const char* a;
        const char* b;
        int esperado;
    } casos[] = {
        {"3.16.49", "3.16.50", -1}, {"3.16.50", "3.16.50", 0},  {"3.16.51", "3.16.50", 1},
        {"3.09.00", "3.16.50", -1},  // as text "3.09" would also be below, but for the wrong reason
        {"10.00.00", "3.16.50", 1},  // as text it would be refused
        {"3.100.00", "3.16.50", 1}, {"1.06.10", "1.06.11", -1}, {"1.06.11", "1.06.11", 0},
        {"1.6.11", "1.06.11", 0},   {"3.16", "3.16.00", 0},     {"3.16", "3.16.01", -1},
        {"0.0.0", "3.16.50", -1},
    };
    for (const auto& c : casos) {
        const int r = ComparaVersao(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.esperado) << c.a << " vs " << c.b;
        EXPECT_EQ(-((r > 0) - (r < 0)),
                  (ComparaVersao(c.b, c.a) > 0) - (ComparaVersao(c.b, c.a) < 0));
    }
}

TEST(RegrasDownload, LinhaDoConsolePerdeOPrefixoDaUnidadeAteODoisPontos) {
    struct Caso {
        int codigo;
        const char* texto;
        const char* esperado;
    } casos[] = {
        {7, "PABX 7: x", "LOG;PABX007; x"},
        {7, "PABX sem dois pontos", "LOG;PABX007;PABX sem dois pontos"},
        {12, "Conectou ao PABX", "LOG;PABX012;Conectou ao PABX"},
        {123, "Conectando: 10.0.0.1:2000", "LOG;PABX123;Conectando: 10.0.0.1:2000"},
        {1, "PABX 1: Disco /mnt/usb/ não disponível: fim",
         "LOG;PABX001; Disco /mnt/usb/ não disponível: fim"},
        {5, "pabx 5: minúsculas", "LOG;PABX005;pabx 5: minúsculas"},
    };
    for (const auto& c : casos)
        EXPECT_EQ(LinhaConsolePABX(c.codigo, c.texto), c.esperado) << c.texto;
}

TEST(RegrasDownload, UmMesDepoisNoUltimoDiaDoMesMaisCurto) {
    auto d = [](int a, int m, int dia) { return DataHora{a, m, dia, 10, 20, 30, 0}; };
    EXPECT_EQ(SomaMeses(d(2026, 1, 31), 1), d(2026, 2, 28));
    EXPECT_EQ(SomaMeses(d(2028, 1, 31), 1), d(2028, 2, 29));
    EXPECT_EQ(SomaMeses(d(2026, 12, 15), 1), d(2027, 1, 15));
    EXPECT_EQ(SomaMeses(d(2026, 3, 31), 1), d(2026, 4, 30));
}

TEST(RegrasDownload, HorasEDatasLidas) {
    EXPECT_EQ(LeHoraMinuto("08:00"), 480);
    EXPECT_EQ(LeHoraMinuto(" 8:05 "), 485);
    EXPECT_EQ(LeHoraMinuto("23:59"), 23 * 60 + 59);
    for (const char* invalida : {"25:00", "12:60", "", "12", "ab:cd", "1:2:3", "-1:00", "123:00"})
        EXPECT_FALSE(LeHoraMinuto(invalida)) << invalida;

    EXPECT_EQ(LeDataDiaPrimeiro("05/03/2026 00:00:00"), (DataHora{2026, 3, 5, 0, 0, 0, 0}));
    EXPECT_EQ(LeDataDiaPrimeiro("31/12/2025"), (DataHora{2025, 12, 31, 0, 0, 0, 0}));
    EXPECT_FALSE(LeDataDiaPrimeiro("31/02/2026 00:00:00"));
    EXPECT_FALSE(LeDataDiaPrimeiro("2026-03-05"));
    EXPECT_FALSE(LeDataDiaPrimeiro(" 00:00:00"));
}

}  // namespace
