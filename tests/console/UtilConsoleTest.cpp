// The console's helpers, its log switch and its fixed formats.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "Versao.h"
#include "console/ControleMain.h"
#include "console/UtilConsole.h"
#include "tests/support/PastaTemporaria.h"

TEST(UtilConsole, RetiraFinalCaminho) {
    struct Caso {
        const char* caminho;
        int n;
        const char* esperado;
    } casos[] = {
        {"/opt/Prog/Veruzadu/", 1, "/opt/Prog/Veruzadu"},
        {"/opt/Prog/Veruzadu/", 2, "/opt/Prog"},
        {"/opt/Prog/Veruzadu/", 3, "/opt"},
        // The "/" at the first position does not count.
        {"/opt/Prog/Veruzadu/", 4, "/opt/Prog/Veruzadu/"},
        {"/opt/Prog/Veruzadu/", 5, "/opt/Prog/Veruzadu/"},
        {"sem/barra/final", 1, "sem/barra"},
        {"", 1, ""},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(RetiraFinalCaminho(c.caminho, c.n), c.esperado) << c.caminho << " n=" << c.n;
}

TEST(UtilConsole, Bits) {
    EXPECT_EQ(LigaBit(0, 15), 0x8000);
    EXPECT_EQ(DesligaBit(0xFFFF, 0), 0xFFFE);
    EXPECT_EQ(LigaBit(0x0001, 0), 0x0001);
    EXPECT_TRUE(BitLigado(0x0400, 10));
    EXPECT_FALSE(BitLigado(0x0400, 9));
    // Out of range: reads clear, changes nothing.
    EXPECT_FALSE(BitLigado(0xFFFF, 16));
    EXPECT_EQ(LigaBit(0x0000, 16), 0x0000);
    EXPECT_EQ(DesligaBit(0xFFFF, -1), 0xFFFF);
    std::uint16_t w = 0;
    AjustaBit(true, w, 3);
    EXPECT_EQ(w, 0x0008);
    AjustaBit(false, w, 3);
    EXPECT_EQ(w, 0x0000);
}

TEST(UtilConsole, PerfilVersaoWindows) {
    EXPECT_EQ(NomePerfil(1), "Administrador");
    EXPECT_EQ(NomePerfil(2), "Operador");
    EXPECT_EQ(NomePerfil(0), "");
    EXPECT_EQ(NomePerfil(3), "");
    EXPECT_EQ(VersaoWindows(), -1);
}

TEST(UtilConsole, LogSoComChaveLigada) {
    PastaTemporaria pasta;
    ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
    const DataHora agora = Agora();
    const auto arquivo = pasta / NomeLogConsole(agora.ano, agora.mes);

    DefineLogConsoleAtivo(false);
    GravaLogConsole("desligado");
    EXPECT_FALSE(std::filesystem::exists(arquivo));

    DefineLogConsoleAtivo(true);
    GravaLogConsole("Serviço iniciado");
    GravaLogConsole("linha\r\ncom quebra");
    DefineLogConsoleAtivo(false);
    const std::string texto = LeTudo(arquivo);
    // "dd/mm/yy hh:nn:ss zzz  text\r\n", line breaks inside the text made blanks.
    EXPECT_NE(texto.find("  Serviço iniciado\r\n"), std::string::npos);
    EXPECT_NE(texto.find("  linha  com quebra\r\n"), std::string::npos);
    EXPECT_EQ(texto.substr(2, 1), "/");
    EXPECT_EQ(NomeLogConsole(2026, 3), "GRE202603.LOG");

    // A folder that cannot be written: nothing thrown.
    ::setenv("VERUZADU_HOME", "/proc/sem-pasta", 1);
    DefineLogConsoleAtivo(true);
    EXPECT_NO_THROW(GravaLogConsole("perdida"));
    DefineLogConsoleAtivo(false);
    ::unsetenv("VERUZADU_HOME");
}

TEST(UtilConsole, ExecutaNaPastaDoPrograma) {
    PastaTemporaria pasta;
    const auto programa = pasta / "mostra-pasta.sh";
    Grava(programa, "#!/bin/sh\npwd > saida.txt\necho \"$1|$2\" >> saida.txt\n");
    std::filesystem::permissions(programa, std::filesystem::perms::owner_all);
    // Arguments reach it byte for byte, without a shell in between.
    EXPECT_TRUE(ExecutaNaPastaEAguarda(programa.string(), {"a b", "$(x)"}));
    EXPECT_EQ(LeTudo(pasta / "saida.txt"), pasta.Caminho().string() + "\na b|$(x)\n");

    EXPECT_FALSE(ExecutaNaPastaEAguarda((pasta / "nao-existe").string(), {}));

    // A program that does not end is ended at the limit.
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_TRUE(ExecutaNaPastaEAguarda("/bin/sleep", {"60"}, std::chrono::milliseconds(300)));
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(20));
}

TEST(UtilConsole, VersaoSobre) {
    EXPECT_EQ(VersaoPrograma(), VERUZADU_VERSAO);
    EXPECT_FALSE(VersaoPrograma().empty());
    PastaTemporaria pasta;
    ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
    EXPECT_EQ(TextoVersaoPrograma(), std::string("Versão: ") + VERUZADU_VERSAO);
    ::unsetenv("VERUZADU_HOME");
}

TEST(UtilConsole, FormatosFixos) {
    struct Caso {
        long long valor;
        const char* texto;
    } inteiros[] = {
        {0, "0"}, {999, "999"}, {1000, "1.000"}, {1234567, "1.234.567"}, {-1000, "-1.000"}};
    for (const Caso& c : inteiros) EXPECT_EQ(FormataInteiro(c.valor), c.texto);
    EXPECT_EQ(FormataDecimal(1234.5, 2), "1.234,50");
    EXPECT_EQ(FormataDecimal(-0.004, 2), "0,00");
    EXPECT_EQ(FormataDecimal(-2.5, 1), "-2,5");
    EXPECT_EQ(FormataDecimal(7, 0), "7");
    EXPECT_EQ(FormataData(DataHora{2024, 3, 5, 10, 0, 0, 0}), "05/03/24");
}
