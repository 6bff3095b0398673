// The database server stopped and started again while the console runs.
// It stops the machine's one test server, so it runs alone (RUN_SERIAL) and
// only when the server is this test run's own: started by scripts/firebird,
// with no lease but the one scripts/test holds (VERUZADU_FB_LEASE).

#include <QLabel>
#include <QTcpSocket>
#include <filesystem>

#include "ConsoleTeste.h"
#include "common/Processos.h"

namespace {

const std::filesystem::path PastaLeases = "/run/veruzadu-firebird/leases";

bool ScriptFirebird(const std::string& acao, const std::string& dono) {
    OpcoesProcesso o;
    o.limite = std::chrono::seconds(60);
    return ExecutaProcesso(
               {"bash", std::string(VERUZADU_SOURCE_DIR) + "/scripts/firebird", acao, dono}, o)
        .Sucesso();
}

bool Escuta(const ServidorTeste& s) {
    QTcpSocket socket;
    socket.connectToHost(QString::fromStdString(s.host), static_cast<quint16>(s.porta));
    return socket.waitForConnected(1000);
}

}  // namespace

TEST(ServidorReiniciado, ConsoleAvisaEReconectaDepois) {
    const char* dono = std::getenv("VERUZADU_FB_LEASE");
    if (!dono || !*dono) GTEST_SKIP() << "no lease owner: run through scripts/test";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(PastaLeases, ec))
        if (e.path().filename() != dono)
            GTEST_SKIP() << "another run (pid " << e.path().filename().string()
                         << ") keeps the server up";
    if (!std::filesystem::exists(PastaLeases.parent_path() / "server.pid"))
        GTEST_SKIP() << "the server was not started by scripts/firebird";

    ProgramaTeste p("reinicio");
    EXIGE_SERVIDOR(p.inst);
    RelogioTeste relogio;
    Console c(&relogio);
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));

    // The last lease leaving stops the server; taking it again starts it.
    ASSERT_TRUE(ScriptFirebird("stop", dono));
    struct Religa {
        std::string dono;
        ~Religa() { ScriptFirebird("start", dono); }
    } religa{dono};
    if (Escuta(p.inst.srv))
        GTEST_SKIP() << "another run took a lease meanwhile: the server stayed up";

    auto avisado = AoAbrirCaixa(AvisoPerda, [](QWidget* w) { Responde(w, QMessageBox::Ok); });
    EXPECT_FALSE(
        c.ctx.ExecutaBD([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); }));
    EXPECT_EQ(c.ctx.dados.EstadoConexao(), ConexaoPerdidaBD);
    c.main->TimerServicoTimer();
    ASSERT_TRUE(EsperaAte([&] { return *avisado; }));
    EXPECT_TRUE(c.ctx.mensagens.Mostradas().size() == 1) << "an error box besides the notice";

    ASSERT_TRUE(ScriptFirebird("start", dono));
    ASSERT_TRUE(EsperaAte([&] { return Escuta(p.inst.srv); }));
    relogio.Avanca(61);
    c.main->TimerServicoTimer();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 2; }));
    EXPECT_EQ(c.main->PainelUsuario->text(), "Usuário: teste2");
}
