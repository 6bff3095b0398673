// The recording service as a program and as an object, against the test
// server: start-up order, the control row, the start and stop history rows,
// the failure path with no database server, the pid-file control backend, and
// a stop while workers run.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "common/IniFile.h"
#include "common/Sistema.h"
#include "service/ServiceControl.h"
#include "service/ServicoVeruzaduQuv.h"
#include "tests/common/db/InstalacaoTeste.h"
#include "tests/service/TestePasta.h"

namespace {

std::string LeTudo(const std::filesystem::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string LogDoMes(const std::filesystem::path& pasta) {
    return LeTudo(pasta / ("GRV" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
}

// Positions of the texts in the log, in order; fails when one is missing or
// out of order.
void EsperaEmOrdem(const std::string& log, const std::vector<std::string>& textos) {
    std::size_t pos = 0;
    for (const auto& t : textos) {
        const auto achou = log.find(t, pos);
        ASSERT_NE(achou, std::string::npos) << "\"" << t << "\" missing or out of order in:\n"
                                            << log;
        pos = achou + t.size();
    }
}

void EscreveIni(const std::filesystem::path& pasta, const std::string& servidor,
                const std::string& alias, int porta) {
    IniFile ini(pasta / "VERUZADU.INI");
    ini.WriteString("BD", "Server", servidor);
    ini.WriteString("BD", "Alias", alias);
    ini.WriteBool("Log", "Info", true);
    ini.WriteBool("Log", "Erro", true);
    ini.WriteInteger("Veruzadu", "Porta", porta);
}

int ContaHistorico(const InstalacaoTeste& inst, int operacao) {
    auto att = Attachment::Conecta(inst.Principal());
    Transaction tr(att, true);
    Statement st(tr, "SELECT COUNT(*) FROM LOGHISTORY WHERE LOG_OPERACAO = ?");
    st.SetInt(0, operacao);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

class Pelmoran : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inst.Pronta()) SEM_SERVIDOR_TESTE() << "no test database server (run scripts/test)";
    }
    InstalacaoTeste inst{"pelmoran"};
    PastaTemporaria home;
};

}  // namespace

TEST_F(Pelmoran, StartsPublishesControlRowAndStopsOnSigtermThroughThePidFileBackend) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51777);
    // The fixture's database is shared by the tests of one process: count rows
    // relative to what was there.
    const int iniciados = ContaHistorico(inst, 101), parados = ContaHistorico(inst, 102);
    ServiceControlPidFile controle(PELMORAN_EXE, home.Caminho());
    EXPECT_EQ(controle.Consulta(), EstadoServico::Parado);
    std::string erro;
    ASSERT_TRUE(controle.Inicia(erro)) << erro << "\n" << LogDoMes(home.Caminho());
    EXPECT_EQ(controle.Consulta(), EstadoServico::Executando);

    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Iniciando", "Configuração Ok", "Serviço de gravação iniciado"});
    EXPECT_EQ(ContaHistorico(inst, 101), iniciados + 1);
    {
        auto att = Attachment::Conecta(inst.Principal());
        Transaction tr(att, true);
        Statement st(tr, "SELECT CRL_GRVSERVER, CRL_GRVIP, CRL_GRVPORTA FROM CONTROLE");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), NomeComputador().substr(0, 30));
        EXPECT_FALSE(c.GetText(1).empty());
        EXPECT_EQ(c.GetInt(2), 51777);
    }

    // A second service on the same folder is refused while the first runs.
    const auto segundo = ExecutaProcesso(
        {PELMORAN_EXE}, OpcoesProcesso{{}, {"VERUZADU_HOME=" + home.Caminho().string()}, {}, {}});
    EXPECT_EQ(segundo.codigoSaida, 1);

    ASSERT_TRUE(controle.Para(erro)) << erro;
    EXPECT_EQ(controle.Consulta(), EstadoServico::Parado);
    EXPECT_FALSE(std::filesystem::exists(home.Caminho() / kArquivoPid));
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Serviço de gravação iniciado", "Serviço de gravação parado"});
}

TEST_F(Pelmoran, WithoutTheDatabaseServerTheStartFailsAndSaysWhy) {
    // Nothing listens on port 1 of the loopback: the client's network error.
    EscreveIni(home.Caminho(), "127.0.0.1/1", inst.opcoes.alias, 51778);
    const auto r = ExecutaProcesso(
        {PELMORAN_EXE}, OpcoesProcesso{{}, {"VERUZADU_HOME=" + home.Caminho().string()}, {},
                                       std::chrono::seconds(60)});
    ASSERT_TRUE(r.iniciado);
    EXPECT_NE(r.codigoSaida, 0);
    EXPECT_EQ(r.sinal, 0);
    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Iniciando", "Serviço de gravação não iniciado", "Firebird não está em execução"});
    EXPECT_FALSE(std::filesystem::exists(home.Caminho() / kArquivoPid));
}

namespace {

class TrabalhadorLento final : public ThreadServico {
public:
    TrabalhadorLento(int codigo, std::atomic<int>& vivos) : ThreadServico(codigo), vivos_(vivos) {}

protected:
    void Execute() override {
        ++vivos_;
        while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // cleans up
        --vivos_;
    }

private:
    std::atomic<int>& vivos_;
};

}  // namespace

TEST_F(Pelmoran, StopJoinsRunningWorkersBeforeReleasingAndWritesTheStopRow) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51779);
    setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    RelogioSistema relogio;
    std::atomic<int> vivos{0};
    const int parados = ContaHistorico(inst, 102);
    {
        TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
        ASSERT_TRUE(servico.ServiceStart()) << LogDoMes(home.Caminho());
        for (int i = 1; i <= 3; ++i) {
            servico.ListaThreadsDownload()->AdicionaSeAusente(
                std::make_unique<TrabalhadorLento>(i, vivos));
            servico.ListaThreadsSDCard()->AdicionaSeAusente(
                std::make_unique<TrabalhadorLento>(i, vivos));
        }
        std::thread laco([&] { servico.ServiceExecute(); });
        for (int i = 0; i < 500 && vivos < 6; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(vivos.load(), 6);
        servico.SolicitaParada();
        laco.join();
        EXPECT_TRUE(servico.Encerrado());
        EXPECT_EQ(vivos.load(), 0);
        EXPECT_EQ(servico.ListaThreadsDownload(), nullptr);
        EXPECT_EQ(servico.ListaThreadsSDCard(), nullptr);
    }
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    unsetenv("VERUZADU_HOME");
}

TEST(PelmoranInstalacao, InstallAndUninstallSwitchesWriteAndRemoveTheUnit) {
    PastaTemporaria unidades;
    const auto arquivo = unidades.Caminho() / "ServicoVeruzaduQuv.service";
    // No terminal: an unanswered question keeps the database dependency.
    const auto instala =
        ExecutaProcesso({PELMORAN_EXE, "--install", "--unit-dir", unidades.Caminho().string()});
    EXPECT_TRUE(instala.Sucesso());
    const std::string unidade = LeTudo(arquivo);
    EXPECT_NE(unidade.find(std::string("ExecStart=") + PELMORAN_EXE), std::string::npos);
    EXPECT_NE(unidade.find("After=network-online.target firebird3.0.service"), std::string::npos);

    EXPECT_TRUE(
        ExecutaProcesso({PELMORAN_EXE, "--uninstall", "--unit-dir", unidades.Caminho().string()})
            .Sucesso());
    EXPECT_FALSE(std::filesystem::exists(arquivo));
    EXPECT_EQ(ExecutaProcesso({PELMORAN_EXE, "--bogus"}).codigoSaida, 2);
}
