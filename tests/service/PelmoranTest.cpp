// The recording service as a program and as an object, against the test
// server: start-up order, the control row, the start and stop history rows,
// the failure path with no database server, the pid-file control backend, and
// a stop while workers run.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/pabx/PABX.h"
#include "service/InstalacaoServico.h"
#include "common/ServiceControl.h"
#include "service/ServicoVeruzaduQuv.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/support/PastaTemporaria.h"

namespace {

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
    EXPECT_EQ(controle.CodigoSaida(), 0);  // a stop on SIGTERM is a clean end
    EXPECT_EQ(controle.Consulta(), EstadoServico::Parado);
    EXPECT_FALSE(std::filesystem::exists(home.Caminho() / kArquivoPid));
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Serviço de gravação iniciado", "Serviço de gravação parado"});
}

TEST_F(Pelmoran, AStalePidFileNeverBlocksTheStartAndIsNeverSignalled) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51781);
    // A live process of someone else's: its pid must never be signalled.
    ProcessoFilho estranho({"sleep", "300"}, OpcoesProcesso{});
    ASSERT_TRUE(estranho.Iniciado());
    int morto = 0;
    {
        ProcessoFilho curto({"true"}, OpcoesProcesso{});
        morto = curto.Pid();
        int status = 0;
        curto.Aguarda(status);  // reaped: a dead pid
    }
    for (const int pid : {1, morto, estranho.Pid()}) {
        SCOPED_TRACE("pid file names " + std::to_string(pid));
        std::ofstream(home.Caminho() / kArquivoPid) << pid << "\n";
        ServiceControlPidFile controle(PELMORAN_EXE, home.Caminho());
        EXPECT_EQ(controle.Consulta(), EstadoServico::Parado);
        std::string erro;
        EXPECT_TRUE(controle.Para(erro)) << erro;  // nothing of ours to stop
        EXPECT_EQ(kill(estranho.Pid(), 0), 0) << "the foreign process was signalled";
        ASSERT_TRUE(controle.Inicia(erro)) << erro << "\n" << LogDoMes(home.Caminho());
        EXPECT_EQ(controle.Consulta(), EstadoServico::Executando);
        ASSERT_TRUE(controle.Para(erro)) << erro;
        EXPECT_EQ(controle.CodigoSaida(), 0);
    }
    int status = 0;
    EXPECT_FALSE(estranho.Terminou(status));
    kill(estranho.Pid(), SIGKILL);
}

TEST_F(Pelmoran, TwoStartedAtOnceOnOneFolderOneRunsAndTheOtherWritesNothing) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51782);
    const int iniciados = ContaHistorico(inst, 101), parados = ContaHistorico(inst, 102);
    OpcoesProcesso opcoes;
    opcoes.ambiente = {"VERUZADU_HOME=" + home.Caminho().string()};
    std::vector<std::unique_ptr<ProcessoFilho>> servicos;
    for (int i = 0; i < 2; ++i) {
        opcoes.saida = home.Caminho() / ("saida" + std::to_string(i));
        servicos.push_back(
            std::make_unique<ProcessoFilho>(std::vector<std::string>{PELMORAN_EXE}, opcoes));
        ASSERT_TRUE(servicos.back()->Iniciado());
    }
    // The loser ends by itself; the winner keeps running until told.
    int perdedor = -1, status = 0;
    for (int i = 0; i < 6000 && perdedor < 0; ++i) {
        for (int j = 0; j < 2 && perdedor < 0; ++j)
            if (servicos[j]->Terminou(status)) perdedor = j;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(perdedor, 0) << "neither instance gave way";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string saida = LeTudo(home.Caminho() / ("saida" + std::to_string(perdedor)));
    EXPECT_NE(saida.find("já está em execução (pid " +
                         std::to_string(servicos[1 - perdedor]->Pid()) + ")"),
              std::string::npos)
        << saida;

    auto& vencedor = *servicos[1 - perdedor];
    for (int i = 0; i < 3000 && LeArquivoPid(home.Caminho()) != vencedor.Pid(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(LeArquivoPid(home.Caminho()), vencedor.Pid()) << LogDoMes(home.Caminho());
    EXPECT_EQ(ContaHistorico(inst, 101), iniciados + 1);
    kill(vencedor.Pid(), SIGTERM);
    ASSERT_TRUE(vencedor.Aguarda(std::chrono::seconds(120), status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ContaHistorico(inst, 101), iniciados + 1);
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    const std::string log = LogDoMes(home.Caminho());
    std::size_t iniciadoLinhas = 0;
    for (auto p = log.find("Serviço de gravação iniciado"); p != std::string::npos;
         p = log.find("Serviço de gravação iniciado", p + 1))
        ++iniciadoLinhas;
    EXPECT_EQ(iniciadoLinhas, 1u) << log;
}

TEST_F(Pelmoran, AWorkerThatIgnoresTheStopDoesNotKeepTheProcessAlive) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51783);
    const int parados = ContaHistorico(inst, 102);
    const auto r = ExecutaProcesso(
        {PELMORAN_TEIMOSO_EXE, "1000"},
        OpcoesProcesso{
            {}, {"VERUZADU_HOME=" + home.Caminho().string()}, {}, std::chrono::seconds(120)});
    ASSERT_TRUE(r.iniciado);
    EXPECT_FALSE(r.tempoEsgotado);
    EXPECT_EQ(r.sinal, 0);
    EXPECT_EQ(r.codigoSaida, 0);
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Serviço de gravação iniciado", "Threads não encerradas no tempo limite: 1",
                   "Serviço de gravação parado"});
    EXPECT_FALSE(std::filesystem::exists(home.Caminho() / kArquivoPid));
}

TEST_F(Pelmoran, WithoutTheDatabaseServerTheStartFailsAndSaysWhy) {
    // Nothing listens on port 1 of the loopback: the client's network error.
    EscreveIni(home.Caminho(), "127.0.0.1/1", inst.opcoes.alias, 51778);
    const auto r = ExecutaProcesso(
        {PELMORAN_EXE},
        OpcoesProcesso{
            {}, {"VERUZADU_HOME=" + home.Caminho().string()}, {}, std::chrono::seconds(60)});
    ASSERT_TRUE(r.iniciado);
    EXPECT_NE(r.codigoSaida, 0);
    EXPECT_EQ(r.sinal, 0);
    const std::string log = LogDoMes(home.Caminho());
    // The server's own text says what failed; "not running" only when the
    // local server really does not answer.
    EsperaEmOrdem(log, {"Iniciando", "Unable to complete network request",
                        "Serviço de gravação não iniciado"});
    const bool localParado = FirebirdInstalado() && !ServidorLocalAtende(kPortaFirebirdLocal);
    EXPECT_EQ(log.find("Firebird não está em execução") != std::string::npos, localParado) << log;
    EXPECT_FALSE(std::filesystem::exists(home.Caminho() / kArquivoPid));
}

TEST_F(Pelmoran, AnUnreadableIniFailsTheStartWithAClearLine) {
    // A folder in the file's place: there, but it cannot be read.
    std::filesystem::create_directory(home.Caminho() / "VERUZADU.INI");
    const auto r = ExecutaProcesso(
        {PELMORAN_EXE},
        OpcoesProcesso{
            {}, {"VERUZADU_HOME=" + home.Caminho().string()}, {}, std::chrono::seconds(60)});
    EXPECT_EQ(r.codigoSaida, 1);
    EsperaEmOrdem(LogDoMes(home.Caminho()),
                  {"Não foi possível ler " + (home.Caminho() / "VERUZADU.INI").string() + ": ",
                   "Serviço de gravação não iniciado"});
    EXPECT_EQ(LogDoMes(home.Caminho()).find("Iniciando"), std::string::npos);
}

TEST_F(Pelmoran, AHungDatabaseServerFailsTheStartWithinTheConnectTimeLimit) {
    // A listener that takes connections and never answers: the server hangs.
    const int ouvinte = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(ouvinte, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(ouvinte, 16), 0);
    socklen_t t = sizeof a;
    getsockname(ouvinte, reinterpret_cast<sockaddr*>(&a), &t);
    EscreveIni(home.Caminho(), "127.0.0.1/" + std::to_string(ntohs(a.sin_port)), "X", 51785);
    IniFile(home.Caminho() / "VERUZADU.INI").WriteInteger("BD", "TempoConexao", 2);
    const auto inicio = std::chrono::steady_clock::now();
    const auto r = ExecutaProcesso(
        {PELMORAN_EXE},
        OpcoesProcesso{
            {}, {"VERUZADU_HOME=" + home.Caminho().string()}, {}, std::chrono::seconds(150)});
    close(ouvinte);
    EXPECT_FALSE(r.tempoEsgotado);
    EXPECT_EQ(r.codigoSaida, 1);
    // Two attempts at most (the user registration's retry is not reached):
    // far below the client's own three minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(100));
    EsperaEmOrdem(LogDoMes(home.Caminho()), {"Iniciando", "Serviço de gravação não iniciado"});
}

namespace {

class TrabalhadorLento final : public ThreadServico {
  public:
    // `antesDoFim` runs as the body's last step (it checks what the stop
    // has done so far).
    TrabalhadorLento(int codigo, std::atomic<int>& vivos, std::function<void()> antesDoFim = {})
        : ThreadServico(codigo), vivos_(vivos), antesDoFim_(std::move(antesDoFim)) {}

  protected:
    void Execute() override {
        ++vivos_;
        while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // cleans up
        if (antesDoFim_) antesDoFim_();
        --vivos_;
    }

  private:
    std::atomic<int>& vivos_;
    std::function<void()> antesDoFim_;
};

}  // namespace

TEST_F(Pelmoran, StopJoinsRunningWorkersBeforeReleasingAndWritesTheStopRow) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51779);
    {
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteInteger("Veruzadu", "PABXTimeOut", 7);
        ini.WriteBool("Veruzadu", "IgnoraCTRLDesconhecido", false);
    }
    setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    RelogioSistema relogio;
    std::atomic<int> vivos{0};
    const int parados = ContaHistorico(inst, 102);
    {
        TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
        ASSERT_TRUE(servico.ServiceStart()) << LogDoMes(home.Caminho());
        {
            // The control links made from now on take the INI's settings.
            TPABX link;
            EXPECT_EQ(link.FTempoLimite, 7);
            EXPECT_FALSE(link.FIgnoraCTRLDesconhecido);
            PABXTimeOut = 90;
            IgnoraCTRLDesconhecido = true;
        }
        // The stop row must come only after every worker has left.
        std::atomic<int> paradaAntesDoFim{0};
        servico.ListaThreadsDownload()->AdicionaSeAusente(std::make_unique<TrabalhadorLento>(
            9, vivos, [&] { paradaAntesDoFim = ContaHistorico(inst, 102) - parados; }));
        for (int i = 1; i <= 3; ++i) {
            servico.ListaThreadsDownload()->AdicionaSeAusente(
                std::make_unique<TrabalhadorLento>(i, vivos));
            servico.ListaThreadsSDCard()->AdicionaSeAusente(
                std::make_unique<TrabalhadorLento>(i, vivos));
        }
        std::thread laco([&] { servico.ServiceExecute(); });
        for (int i = 0; i < 3000 && vivos < 7; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(vivos.load(), 7);
        servico.SolicitaParada();
        laco.join();
        EXPECT_EQ(paradaAntesDoFim.load(), 0);
        EXPECT_TRUE(servico.Encerrado());
        EXPECT_EQ(vivos.load(), 0);
        EXPECT_EQ(servico.ListaThreadsDownload(), nullptr);
        EXPECT_EQ(servico.ListaThreadsSDCard(), nullptr);
    }
    EXPECT_EQ(ContaHistorico(inst, 102), parados + 1);
    unsetenv("VERUZADU_HOME");
}

TEST_F(Pelmoran, AControlRowUpdateThatMeetsTheConsolesIsTriedAgain) {
    EscreveIni(home.Caminho(), inst.srv.Servidor(), inst.opcoes.alias, 51784);
    setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    RelogioSistema relogio;
    // The console holds an update of the control row while the service starts;
    // the service's update waits for it and then meets a committed change.
    auto console = Attachment::Conecta(inst.Principal());
    auto tr = std::make_unique<Transaction>(console);
    {
        Statement st(*tr, "UPDATE CONTROLE SET CRL_GRVPORTA = ?");
        st.SetInt(0, 1);
        st.Executa();
    }
    TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
    std::atomic<bool> pronto{false};
    bool iniciado = false;
    std::thread inicio([&] {
        iniciado = servico.ServiceStart();
        pronto = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    tr->Commit();
    inicio.join();
    EXPECT_TRUE(iniciado) << LogDoMes(home.Caminho());
    {
        Transaction leitura(console, true);
        Statement st(leitura, "SELECT CRL_GRVPORTA FROM CONTROLE");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), 51784);
    }
    if (iniciado) {
        servico.SolicitaParada();
        servico.ServiceExecute();
    }
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
    EXPECT_NE(unidade.find(std::string("ExecStart=\"") + PELMORAN_EXE + "\""), std::string::npos);
    // The program folder is always named: logs never land beside the binary
    // by accident.
    EXPECT_NE(unidade.find("Environment=\"VERUZADU_HOME="), std::string::npos);
    EXPECT_NE(unidade.find("After=network-online.target firebird3.0.service"), std::string::npos);

    EXPECT_TRUE(
        ExecutaProcesso({PELMORAN_EXE, "--uninstall", "--unit-dir", unidades.Caminho().string()})
            .Sucesso());
    EXPECT_FALSE(std::filesystem::exists(arquivo));
    EXPECT_EQ(ExecutaProcesso({PELMORAN_EXE, "--bogus"}).codigoSaida, 2);
}
