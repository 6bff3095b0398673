// The status server inside the real service, started on the test database
// with a clock the test moves: the request table's exact reply bytes, pushed
// lines, a port already taken at start, and the stop closing every console.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "common/IniFile.h"
#include "common/status/ProtocoloStatus.h"
#include "service/ServicoVeruzaduQuv.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/common/status/ClienteTeste.h"
#include "tests/support/PastaTemporaria.h"

using namespace std::chrono_literals;

namespace {

// Stands still unless the test moves it.
class RelogioAjustavel final : public Relogio {
  public:
    DataHora Agora() const override { return SomaSegundos(base_, deslocamento_.load()); }
    void Avanca(long long segundos) { deslocamento_ += segundos; }

  private:
    const DataHora base_ = ::Agora();
    std::atomic<long long> deslocamento_{0};
};

class ServicoStatus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inst.Pronta()) GTEST_SKIP() << "no test database server (run scripts/test)";
        {
            Attachment att = Attachment::Conecta(inst.Principal(true));
            att.Executa(
                "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (1, 'Matriz') "
                "MATCHING (PAB_CODIGO)");
        }
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteInteger("Veruzadu", "Porta", porta);
        setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    }
    void TearDown() override { unsetenv("VERUZADU_HOME"); }

    std::string Log() const {
        return LeTudo(home.Caminho() /
                      ("GRV" + FormataDataHora(relogio.Agora(), "yyyymm") + ".LOG"));
    }

    InstalacaoTeste inst{"status"};
    PastaTemporaria home;
    RelogioAjustavel relogio;
    const std::uint16_t porta = PortaLivre();
    // Someone else listens on the status port: its socket, or -1.
    int OcupaPorta() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(porta);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
};

}  // namespace

TEST_F(ServicoStatus, RequestTableGivesTheExactReplyBytes) {
    TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
    ASSERT_TRUE(servico.ServiceStart()) << Log();
    ASSERT_NE(servico.ServidorStatusGRV(), nullptr);
    ASSERT_EQ(servico.ServidorStatusGRV()->PortaLocal(), porta);
    const std::string inicio = FormataDataHora(servico.InicioServico(), "dd/mm/yyyy hh:nn:ss");
    const std::string status = "GRV_STATUS;" + inicio + ";0\r\n";
    const std::string nok = "GRV_DOWNLOAD;NOK\r\n";

    ClienteTeste c(porta);
    ASSERT_TRUE(c.Conectado());
    for (const std::string pedido : {"GRV_STATUS;\r", "GRV_STATUS\n", " GRV_STATUS;;x\r\n"}) {
        ASSERT_TRUE(c.Envia(pedido));
        EXPECT_EQ(c.LeAte(status.size()), status) << pedido;
    }

    // Refused download requests; unit 999 has no PABX row and nothing is listed.
    for (const std::string pedido :
         {"GRV_DOWNLOAD\r", "GRV_DOWNLOAD;abc\r", "GRV_DOWNLOAD;0\r", "GRV_DOWNLOAD;-3\r",
          "GRV_DOWNLOAD;99999999999\r", "GRV_DOWNLOAD;999\r"}) {
        ASSERT_TRUE(c.Envia(pedido));
        EXPECT_EQ(c.LeAte(nok.size()), nok) << pedido;
    }
    EXPECT_EQ(servico.ListaThreadsDownload()->Contagem(), 0u);

    // A registered unit: its run is listed (OK); while it stays listed (this
    // test runs no main loop to start it), the same request gets ON.
    const std::string ok = "GRV_DOWNLOAD;OK\r\n", on = "GRV_DOWNLOAD;ON\r\n";
    ASSERT_TRUE(c.Envia("GRV_DOWNLOAD;1\r"));
    EXPECT_EQ(c.LeAte(ok.size()), ok);
    ASSERT_TRUE(c.Envia("GRV_DOWNLOAD;1\r"));
    EXPECT_EQ(c.LeAte(on.size()), on);
    EXPECT_EQ(servico.ListaThreadsDownload()->Contagem(), 1u);

    // Two requests in one write: two replies, in order.
    ASSERT_TRUE(c.Envia("GRV_DOWNLOAD;x\rGRV_STATUS;\r"));
    EXPECT_EQ(c.LeAte(nok.size() + status.size()), nok + status);

    // One request byte by byte, with pauses: one reply.
    for (char b : std::string("GRV_STATUS;\r")) {
        ASSERT_TRUE(c.Envia(std::string(1, b)));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(c.LeAte(status.size()), status);

    // Lower case, and NUL and 0xFF garbage: no reply, and the connection still answers.
    ASSERT_TRUE(c.Envia("grv_status;\r"));
    ASSERT_TRUE(c.Envia(std::string("\0\xff\xff\0GRV\0\xff;\r\n", 12)));
    EXPECT_EQ(c.LeDurante(300ms), "");
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    EXPECT_EQ(c.LeAte(status.size()), status);

    // 100 KB without a line end: that line is dropped whole (the request that
    // ends it goes with it), and the next request is answered.
    ASSERT_TRUE(c.Envia(std::string(100 * 1024, 'A')));
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    EXPECT_EQ(c.LeDurante(300ms), "");
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    EXPECT_EQ(c.LeAte(status.size()), status);

    // One hour after the start, on the service's clock.
    relogio.Avanca(3600);
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    const std::string umaHora = "GRV_STATUS;" + inicio + ";3600\r\n";
    EXPECT_EQ(c.LeAte(umaHora.size()), umaHora);

    // The service's own lines reach the console as Latin-1, text CR CR LF.
    servico.Log().Log(LogSempre, true, "Verificação ç");
    EXPECT_EQ(c.LeAteTexto("\r\r\n"), "LOG;PABX000;Verifica\xe7\xe3o \xe7\r\r\n");

    servico.SolicitaParada();
    EXPECT_FALSE(servico.ProcessaRequisicoes());
}

TEST_F(ServicoStatus, APortInUseIsLoggedAndTheServiceRunsAndTheStopClosesEveryConsole) {
    // Someone else listens on the port first.
    const int outro = OcupaPorta();
    ASSERT_GE(outro, 0);
    {
        TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
        ASSERT_TRUE(servico.ServiceStart()) << Log();
        EXPECT_TRUE(servico.Executando());
        EXPECT_NE(Log().find("Erro ao abrir porta: " + std::to_string(porta) + " "),
                  std::string::npos)
            << Log();
        EXPECT_FALSE(servico.ServidorStatusGRV()->Ativo());
        servico.SolicitaParada();
        EXPECT_FALSE(servico.ProcessaRequisicoes());
    }
    ::close(outro);

    // With the port free, consoles are served until the stop closes them.
    TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
    ASSERT_TRUE(servico.ServiceStart()) << Log();
    ClienteTeste c1(porta), c2(porta);
    ASSERT_TRUE(c1.Envia("GRV_STATUS;\r"));
    EXPECT_FALSE(c1.LeAteTexto("\r\n").empty());
    for (int i = 0; i < 2000 && !servico.Log().ConsoleConectado(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(servico.Log().ConsoleConectado());
    servico.SolicitaParada();
    EXPECT_FALSE(servico.ProcessaRequisicoes());
    EXPECT_TRUE(c1.AguardaFechamento());
    EXPECT_TRUE(c2.AguardaFechamento());
    EXPECT_FALSE(servico.Log().ConsoleConectado());
    EXPECT_EQ(servico.ServidorStatusGRV(), nullptr);
}

TEST_F(ServicoStatus, APortTakenAtStartIsTriedAgainAndOpensOnceFree) {
    const int outro = OcupaPorta();
    ASSERT_GE(outro, 0);
    TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
    ASSERT_TRUE(servico.ServiceStart()) << Log();
    ASSERT_NE(servico.ServidorStatusGRV(), nullptr);
    EXPECT_FALSE(servico.ServidorStatusGRV()->Ativo());
    EXPECT_TRUE(servico.ServidorStatusGRV()->Tentando());
    // Taken for a few tries: each failure stays out of the log.
    std::this_thread::sleep_for(3500ms);
    EXPECT_FALSE(servico.ServidorStatusGRV()->Ativo());
    ::close(outro);

    // Freed: opened by a later try (at most 4 s after the last one here),
    // said in the log, and consoles are served.
    for (int i = 0; i < 1000 && !servico.ServidorStatusGRV()->Ativo(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(servico.ServidorStatusGRV()->Ativo()) << Log();
    EXPECT_FALSE(servico.ServidorStatusGRV()->Tentando());
    const std::string log = Log();
    EXPECT_NE(log.find("Porta de status aberta: " + std::to_string(porta)), std::string::npos)
        << log;
    std::size_t erros = 0;
    for (std::size_t p = log.find("Erro ao abrir porta"); p != std::string::npos;
         p = log.find("Erro ao abrir porta", p + 1))
        ++erros;
    EXPECT_EQ(erros, 1u) << log;
    ClienteTeste c(porta);
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    EXPECT_FALSE(c.LeAteTexto("\r\n").empty());
    servico.SolicitaParada();
    EXPECT_FALSE(servico.ProcessaRequisicoes());
    EXPECT_TRUE(c.AguardaFechamento());
}

TEST_F(ServicoStatus, AStopWhileThePortIsTriedAgainEndsAtOnce) {
    const int outro = OcupaPorta();
    ASSERT_GE(outro, 0);
    TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
    ASSERT_TRUE(servico.ServiceStart()) << Log();
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(servico.ServidorStatusGRV()->Tentando());
    servico.SolicitaParada();
    EXPECT_FALSE(servico.ProcessaRequisicoes());
    EXPECT_EQ(servico.ServidorStatusGRV(), nullptr);
    ::close(outro);
}
