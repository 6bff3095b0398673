// status-probe against the real service on the test database: the status
// line, a refused download, the pushed log, and the failures it reports.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common/IniFile.h"
#include "common/Processos.h"
#include "service/ServicoVeruzaduQuv.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/common/status/ClienteTeste.h"
#include "tests/support/PastaTemporaria.h"

using namespace std::chrono_literals;

namespace {

struct Saida {
    ResultadoProcesso r;
    std::string texto;
};

Saida Sonda(const PastaTemporaria& pasta, const std::vector<std::string>& args) {
    std::vector<std::string> argv{STATUS_PROBE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto arquivo = pasta.Caminho() / "saida.txt";
    OpcoesProcesso o;
    o.saida = arquivo;
    o.limite = 60s;
    Saida s;
    s.r = ExecutaProcesso(argv, o);
    s.texto = LeTudo(arquivo);
    std::filesystem::remove(arquivo);
    return s;
}

class StatusProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inst.Pronta()) GTEST_SKIP() << "no test database server (run scripts/test)";
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteInteger("Veruzadu", "Porta", porta);
        setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
        servico = std::make_unique<TServicoVeruzaduQuv>(PastaPrograma(), relogio);
        ASSERT_TRUE(servico->ServiceStart());
    }
    void TearDown() override {
        if (servico) {
            servico->SolicitaParada();
            servico->ProcessaRequisicoes();
        }
        unsetenv("VERUZADU_HOME");
    }

    InstalacaoTeste inst{"probe"};
    PastaTemporaria home;
    RelogioSistema relogio;
    const std::uint16_t porta = PortaLivre();
    std::unique_ptr<TServicoVeruzaduQuv> servico;
};

}  // namespace

TEST_F(StatusProbe, PrintsTheStatusAndARefusedDownload) {
    const std::string inicio = FormataDataHora(servico->InicioServico(), "dd/mm/yyyy hh:nn:ss");
    auto s = Sonda(home, {"127.0.0.1", std::to_string(porta)});
    EXPECT_TRUE(s.r.Sucesso()) << s.texto;
    EXPECT_EQ(s.texto.rfind("GRV_STATUS;" + inicio + ";", 0), 0u) << s.texto;

    s = Sonda(home, {"127.0.0.1", std::to_string(porta), "--download", "999"});
    EXPECT_TRUE(s.r.Sucesso()) << s.texto;
    EXPECT_NE(s.texto.find("\nGRV_DOWNLOAD;NOK\n"), std::string::npos) << s.texto;
}

TEST_F(StatusProbe, LogShowsTheServicesLinesAsUtf8) {
    std::atomic<bool> fim{false};
    std::thread registra([&] {
        for (int i = 0; i < 400 && !fim; ++i) {
            servico->Log().Log(LogSempre, true, "Linha de teste ç " + std::to_string(i));
            std::this_thread::sleep_for(25ms);
        }
    });
    const auto s = Sonda(home, {"127.0.0.1", std::to_string(porta), "--log", "3"});
    fim = true;
    registra.join();
    EXPECT_TRUE(s.r.Sucesso()) << s.texto;
    EXPECT_NE(s.texto.find("LOG;PABX000;Linha de teste ç "), std::string::npos) << s.texto;
}

TEST_F(StatusProbe, FailsWithTheReasonWhenItCannotConnectOrNoReplyComes) {
    auto s = Sonda(home, {"127.0.0.1", std::to_string(PortaLivre())});
    EXPECT_EQ(s.r.codigoSaida, 1);
    EXPECT_NE(s.texto.find("não foi possível conectar"), std::string::npos) << s.texto;

    // A listener that never answers.
    const int mudo = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(::bind(mudo, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(mudo, 4), 0);
    socklen_t t = sizeof a;
    ::getsockname(mudo, reinterpret_cast<sockaddr*>(&a), &t);
    s = Sonda(home, {"127.0.0.1", std::to_string(ntohs(a.sin_port))});
    ::close(mudo);
    EXPECT_EQ(s.r.codigoSaida, 1);
    EXPECT_NE(s.texto.find("sem resposta em 5 s"), std::string::npos) << s.texto;

    s = Sonda(home, {});
    EXPECT_EQ(s.r.codigoSaida, 2);
}
