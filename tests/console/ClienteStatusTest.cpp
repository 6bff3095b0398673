// The status window's client and phases against scripted peers on the
// loopback: what reaches the live log and the status label, lines that must
// never reach them (a closed connection's, a flood while the log is shut, a
// line past its limit), and connections that fail or never get an answer.

#include <QElapsedTimer>
#include <fstream>

#include "MensageiroTeste.h"
#include "PontaStatus.h"
#include "TesteConsole.h"
#include "common/Texto.h"
#include "console/ControleStatus.h"
#include "console/UtilConsole.h"
#include "tests/common/status/ClienteTeste.h"

using namespace pontastatus;

namespace {

const std::string TextoConectado = "Serviço Gravação Quv: Conectado";
const std::string SemConexao = "Não há conexão com Serviço Gravação Quv";

struct Status {
    Status() {
        ControleStatus::Janela j;
        j.linhaLog = [this](const std::string& l) { log.push_back(l); };
        j.carregaGrade = [this] { ++grades; };
        controle = std::make_unique<ControleStatus>(mensagens, std::move(j));
    }
    // Shows the window on `porta` and connects at once.
    bool Conecta(std::uint16_t porta) {
        controle->FormShow("127.0.0.1", porta);
        controle->TimerStatusTimer();
        return EsperaAte([&] { return controle->Fase() == 3; });
    }
    const ControleStatus::Tela& Tela() const { return controle->TelaAtual(); }

    MensageiroTeste mensagens;
    std::vector<std::string> log;
    int grades = 0;
    std::unique_ptr<ControleStatus> controle;
};

// A program folder of its own with the console log switched on.
struct LogConsoleTeste {
    LogConsoleTeste() {
        ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
        DefineLogConsoleAtivo(true);
    }
    ~LogConsoleTeste() {
        DefineLogConsoleAtivo(false);
        ::unsetenv("VERUZADU_HOME");
    }
    PastaTemporaria pasta;
};

// A pushed line as the service writes it: Latin-1, text CR CR LF.
std::string Log(const std::string& texto) {
    return Utf8ParaLatin1("LOG;PABX001;" + texto) + "\r\r\n";
}

}  // namespace

TEST(ClienteStatus, PontaRoteirizadaNoLogENoRotulo) {
    // The console log, where a line over the limit is noted.
    LogConsoleTeste home;
    PastaTemporaria& pasta = home.pasta;
    PontaTeste ponta;
    Status s;
    ASSERT_TRUE(s.Conecta(ponta.Porta()));
    EXPECT_EQ(s.Tela().status, TextoConectado);
    EXPECT_TRUE(s.Tela().menuDownload);
    EXPECT_FALSE(s.Tela().vermelho);

    // A line while the log is shut is dropped as it arrives.
    ASSERT_TRUE(ponta.Envia(Log("antes")));
    ASSERT_TRUE(EsperaAte([&] { return s.controle->Cliente().LogsDescartados() == 1; }));

    s.controle->RealizarDownloadClick("001", "Matriz", [&](const std::string& descricao) {
        EXPECT_EQ(descricao, "001 - Matriz");
        ASSERT_TRUE(EsperaAte([&] { return ponta.Recebido() == "GRV_DOWNLOAD;001\r"; }))
            << ponta.Recebido();
        ponta.Envia("GRV_DOWNLOAD;OK\r\n");
        ponta.Envia(Log("  a;b 'c;d' \"e"));
        ponta.Envia("LOG;PABX001\r\r\n");
        // 100 KB without an end, then the end of that line: both go, and
        // the reply ending it with them (no box).
        ponta.Envia(std::string(100 * 1024, 'A'));
        ponta.Envia("GRV_DOWNLOAD;NOK\r\n");
        ponta.Envia(Log("Início download FTP"));
        EsperaAte([&] { return s.log.size() >= 5; });
    });
    EXPECT_EQ(s.log,
              (std::vector<std::string>{"Download será iniciado em instantes.", "Aguarde...",
                                        "  a;b 'c;d' \"e", "PABX001", "Início download FTP"}));
    EXPECT_TRUE(s.mensagens.mostradas.empty());
    EXPECT_EQ(s.controle->Cliente().LinhasLongasDescartadas(), 1);
    const DataHora agora = Agora();
    std::ifstream in(pasta / NomeLogConsole(agora.ano, agora.mes), std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(log.find("linha acima de 65536 bytes descartada"), std::string::npos) << log;

    // Log shut again: lines go nowhere.
    ponta.Envia(Log("depois"));
    // An error line shows its first item on the label; a status reply puts
    // the connected text back; a refused download is a box.
    ponta.Envia("Falha interna: x;y\r\n");
    ASSERT_TRUE(EsperaAte([&] { return s.Tela().status == "Falha interna: x"; }));
    ponta.Envia("GRV_STATUS;01/02/2026 10:00:00;5\r\nGRV_DOWNLOAD;NOK\r\n");
    ASSERT_TRUE(EsperaAte([&] { return !s.mensagens.mostradas.empty(); }));
    EXPECT_EQ(s.Tela().status, TextoConectado);
    EXPECT_EQ(s.mensagens.mostradas[0],
              std::make_pair(TipoMensagem::Informacao,
                             std::string("Não foi possível solicitar download.")));
    EXPECT_EQ(s.log.size(), 5u);
    EXPECT_EQ(s.controle->Cliente().LogsDescartados(), 2);

    // An ON reply reads as such; a download with no row selected sends nothing.
    ponta.Envia("GRV_DOWNLOAD;ON\r\n");
    const std::string enviado = ponta.Recebido();
    bool abriu = false;
    s.controle->RealizarDownloadClick("", "", [&](const std::string&) { abriu = true; });
    EXPECT_FALSE(abriu);
    EsperaAte([] { return false; }, 200);
    EXPECT_EQ(ponta.Recebido(), enviado);

    // Polling: a tick in phase 3 asks for the status and reloads the grid,
    // then every 5 s.
    s.controle->TimerStatusTimer();
    EXPECT_EQ(s.grades, 1);
    EXPECT_EQ(s.controle->TimerStatus().interval(), 5000);
    EXPECT_TRUE(s.controle->TimerStatus().isActive());
    ASSERT_TRUE(EsperaAte([&] {
        const std::string r = ponta.Recebido();
        return r.size() >= 12 && r.substr(r.size() - 12) == "GRV_STATUS;\r";
    }));
}

TEST(ClienteStatus, NadaDeUmaConexaoFechadaChegaANova) {
    PontaTeste a, b;
    Status s;
    ASSERT_TRUE(s.Conecta(a.Porta()));
    std::string lote;
    for (int i = 0; i < 2000; ++i) lote += "LOG;PABX001;A\r\r\n";
    s.controle->RealizarDownloadClick("001", "A", [&](const std::string&) {
        ASSERT_TRUE(a.Envia(lote));
        // The reader queues A's lines meanwhile; the main thread takes none.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ClienteStatus& c = s.controle->Cliente();
        c.Fecha();
        c.Abre("127.0.0.1", b.Porta());
        c.RecebeLog(true);
        ASSERT_TRUE(EsperaAte([&] { return c.Aberto() && b.Aceitas() == 1; }));
        b.Envia("LOG;PABX002;B\r\r\n");
        EsperaAte([&] { return !s.log.empty() && s.log.back() == "B"; });
        a.Envia(lote);
        EsperaAte([] { return false; }, 300);
    });
    ASSERT_FALSE(s.log.empty());
    for (const std::string& l : s.log) ASSERT_NE(l, "A");
    EXPECT_EQ(s.log.back(), "B");
}

TEST(ClienteStatus, InundacaoSemPedidoNaoSeAcumula) {
    PontaTeste ponta;
    Status s;
    ASSERT_TRUE(s.Conecta(ponta.Porta()));
    std::string lote;
    for (int i = 0; i < 50000; ++i) lote += Log("linha " + std::to_string(i));
    ASSERT_TRUE(ponta.Envia(lote + "Fim da carga\r\n"));
    ASSERT_TRUE(EsperaAte([&] { return s.Tela().status == "Fim da carga"; }));
    // Dropped on the reader's thread: nothing of them was handed on.
    EXPECT_EQ(s.controle->Cliente().LogsDescartados(), 50000);
    EXPECT_TRUE(s.log.empty());

    // The log shows only what arrives while it is open.
    s.controle->RealizarDownloadClick("001", "Matriz", [&](const std::string&) {
        ponta.Envia(Log("um") + Log("dois") + Log("três"));
        EsperaAte([&] { return s.log.size() >= 3; });
    });
    EXPECT_EQ(s.log, (std::vector<std::string>{"um", "dois", "três"}));
}

TEST(ClienteStatus, SemServicoOuSemResposta) {
    // Nobody listening: the red connection error, the menu off, phase 2,
    // and a download request only says there is no connection.
    {
        Status s;
        s.controle->FormShow("127.0.0.1", PortaLivre());
        EXPECT_EQ(s.Tela().status, "Situação");
        s.controle->TimerStatusTimer();
        ASSERT_TRUE(EsperaAte([&] { return s.controle->Fase() == 2; }));
        EXPECT_EQ(s.Tela().status,
                  "Serviço Gravação Quv: Erro na conexão com Serviço Gravação Quv");
        EXPECT_TRUE(s.Tela().vermelho);
        EXPECT_FALSE(s.Tela().menuDownload);
        s.controle->TimerStatusTimer();
        EXPECT_EQ(s.controle->Fase(), 2);
        bool abriu = false;
        s.controle->RealizarDownloadClick("001", "x", [&](const std::string&) { abriu = true; });
        EXPECT_FALSE(abriu);
        EXPECT_EQ(s.Tela().status, SemConexao);
        ASSERT_EQ(s.mensagens.mostradas.size(), 1u);
        EXPECT_EQ(s.mensagens.mostradas[0], std::make_pair(TipoMensagem::Informacao, SemConexao));
    }
    // No address known: the failure at once.
    {
        Status s;
        s.controle->FormShow("", 51051);
        s.controle->TimerStatusTimer();
        EXPECT_EQ(s.controle->Fase(), 2);
        EXPECT_TRUE(s.Tela().vermelho);
        EXPECT_EQ(s.Tela().status.rfind("Falha ao conectar Serviço Gravação Quv em :51051", 0), 0u)
            << s.Tela().status;
    }
}

TEST(ClienteStatus, OuvinteQueNuncaAceitaFalhaEm5sComAJanelaRespondendo) {
    OuvinteSemAceite ouvinte;
    if (!ouvinte.Cheio()) GTEST_SKIP() << "this system answers beyond a full accept queue";
    Status s;
    int ticks = 0;
    QTimer outro;
    QObject::connect(&outro, &QTimer::timeout, [&] { ++ticks; });
    outro.start(50);
    QElapsedTimer t;
    t.start();
    s.controle->FormShow("127.0.0.1", ouvinte.Porta());
    s.controle->TimerStatusTimer();
    EXPECT_EQ(s.Tela().status,
              "Conectando Serviço Gravação Quv em 127.0.0.1:" + std::to_string(ouvinte.Porta()));
    ASSERT_TRUE(EsperaAte([&] { return s.controle->Fase() == 2; }));
    EXPECT_GE(t.elapsed(), 4500);
    EXPECT_EQ(s.Tela().status, "Serviço Gravação Quv: Erro na conexão com Serviço Gravação Quv");
    // The event loop ran all along.
    EXPECT_GT(ticks, 20);
}
