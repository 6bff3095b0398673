// The database server stopped in the middle of an import and started again,
// under a running service: the run ends as failed (result 2) with its error
// lines, nothing leaves the unit unfiled, and the next run completes. The
// server is the test's own (ServidorPrivadoTeste), so stopping it disturbs no
// other test.

#include <gtest/gtest.h>

#include "tests/support/ServidorPrivadoTeste.h"
#include "tests/service/download/UnidadePonta.h"

namespace {

using namespace std::chrono_literals;
using ponta::Ambiente;
using ponta::Unidade;

std::size_t Conta(const std::string& texto, const std::string& trecho) {
    std::size_t n = 0;
    for (auto p = texto.find(trecho); p != std::string::npos; p = texto.find(trecho, p + 1)) ++n;
    return n;
}

TEST(Confiabilidade, ServidorDoBancoParadoNaImportacaoResultado2EDepoisCompleta) {
    if (!ServidorPrivadoTeste::Possivel())
        GTEST_SKIP()
            << "no private database server here: it needs a mount namespace (unshare -m) as root";
    ServidorPrivadoTeste servidor;
    if (!servidor.Pronto()) SEM_SERVIDOR_TESTE() << servidor.Erro();
    Ambiente a("confparado", servidor.Servidor(), servidor.Aliases());
    EXIGE_SERVIDOR(a.inst);
    // Enough recordings that the import is still going when the server is
    // stopped, even on a loaded machine where stopping it takes seconds.
    Unidade u(1, 200, 37);
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    {
        ProcessoFilho p = a.Inicia();
        ASSERT_TRUE(ponta::Espera([&] { return a.Linhas(1).size() >= 3; }, 180s)) << a.Logs();
        const std::size_t falhasAntes = Conta(a.Logs(), "ao importar");
        ASSERT_TRUE(servidor.Para());
        // The import goes on without its database: each recording it tries
        // now fails and says so, and the run ends failed while the server
        // is still away.
        EXPECT_TRUE(ponta::Espera(
            [&] { return a.Logs().find("Indicação de erro") != std::string::npos; }, 120s))
            << a.Logs();
        EXPECT_GT(Conta(a.Logs(), "ao importar"), falhasAntes);
        ASSERT_TRUE(servidor.Inicia()) << servidor.Erro();
        ASSERT_TRUE(ponta::Espera([&] { return a.Carimbado(1); }, 300s)) << a.Logs();
        EXPECT_TRUE(Ambiente::Para(p));
    }
    const auto r = a.Resultados(1);
    ASSERT_FALSE(r.empty());
    // The run's outcome reached its history row once the server was back.
    EXPECT_EQ(r.back(), 2) << a.Logs();
    a.Verifica(u, false);
    // The unit's log says the loss once, without the statements that failed
    // on it, and that the connection came back.
    const std::string imp = LeTudo(a.home.Caminho() / "PABX001" /
                                   ("IMP" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    EXPECT_EQ(Conta(imp, "Conexão com o banco de dados perdida"), 1u) << imp;
    EXPECT_EQ(Conta(imp, "Conexão com o banco de dados restabelecida"), 1u) << imp;
    EXPECT_EQ(Conta(imp, "INSERT INTO"), 0u) << imp;

    a.LiberaJanela(1);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
}

}  // namespace
