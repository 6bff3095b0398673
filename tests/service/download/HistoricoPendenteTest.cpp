// A run that ends while the database server is away, under a running service:
// its statistics row cannot be written then, and must get the run's outcome
// once the server is back, however long it stayed away. The server is the
// test's own (ServidorPrivadoTeste), so stopping it disturbs no other test.

#include <gtest/gtest.h>

#include "tests/support/ServidorPrivadoTeste.h"
#include "tests/service/download/UnidadePonta.h"

namespace {

using namespace std::chrono_literals;
using ponta::Ambiente;
using ponta::Unidade;

struct PrimeiraLinha {
    int resultado = -1;
    bool fimImportacao = false;
};

PrimeiraLinha LePrimeiraLinha(Ambiente& a, int codigo) {
    PrimeiraLinha r;
    try {
        Attachment att = Attachment::Conecta(a.inst.Principal());
        Transaction tr(att, true);
        Statement st(tr, "SELECT DWN_RESULTADO, DWN_DTFIMIMP FROM DWNHISTORY WHERE PAB_CODIGO = ? "
                         "ORDER BY DWN_DTINIDOWN");
        st.SetInt(0, codigo);
        Cursor c = st.Abre();
        if (c.Proxima()) r = {c.IsNull(0) ? -1 : c.GetInt(0), !c.IsNull(1)};
    } catch (const FirebirdError&) {
    }
    return r;
}

// How many recordings the unit's database holds so far (0 while it is away).
int Arquivadas(Ambiente& a, int codigo) {
    try {
        Attachment att = Attachment::Conecta(a.inst.Unidade(codigo));
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*) FROM GRAVACAO WHERE PAB_CODIGO = ?");
        st.SetInt(0, codigo);
        Cursor c = st.Abre();
        return c.Proxima() ? c.GetInt(0) : 0;
    } catch (const FirebirdError&) {
        return 0;
    }
}

TEST(Confiabilidade, LinhaDoHistoricoDeUmaExecucaoQueTerminouSemBancoGravadaQuandoEleVolta) {
    if (!ServidorPrivadoTeste::Possivel())
        GTEST_SKIP()
            << "no private database server here: it needs a mount namespace (unshare -m) as root";
    ServidorPrivadoTeste servidor;
    if (!servidor.Pronto()) SEM_SERVIDOR_TESTE() << servidor.Erro();
    Ambiente a("confpend", servidor.Servidor(), servidor.Aliases());
    EXIGE_SERVIDOR(a.inst);
    // Enough recordings that the run is still importing when the server
    // stops, however fast the machine.
    Unidade u(1, 2000, 37);
    u.GuardaOriginal();
    // A short link time-out: the run's own last attempts at its row end soon
    // after the import, long before the server comes back.
    a.EscreveINI({{"Veruzadu", "PABXTimeOut", "5"}});
    a.Registra(u);
    {
        ProcessoFilho p = a.Inicia();
        ASSERT_TRUE(ponta::Espera([&] { return Arquivadas(a, 1) >= 3; }, 180s)) << a.Logs();
        ASSERT_TRUE(servidor.Para());
        // The run ends without its database: its row is handed over to be
        // written once the server is back, the last thing it does.
        ASSERT_TRUE(ponta::Espera(
            [&] {
                return a.Logs().find(
                           "Histórico de download pendente até o banco de dados voltar") !=
                       std::string::npos;
            },
            240s))
            << a.Logs();
        std::this_thread::sleep_for(2s);
        ASSERT_TRUE(servidor.Inicia()) << servidor.Erro();
        // The first run's row gets its outcome and its import end.
        EXPECT_TRUE(ponta::Espera(
            [&] {
                const auto l = LePrimeiraLinha(a, 1);
                return l.resultado == 2 && l.fimImportacao;
            },
            120s))
            << a.Logs();
        EXPECT_TRUE(Ambiente::Para(p));
    }
    a.Verifica(u, false);
}

}  // namespace
