// The status server over real loopback sockets: download requests against a
// real worker list, reply order, silence while the service is not working,
// the console push with its bounds, ConsoleConectado and the console limit.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/status/ProtocoloStatus.h"
#include "service/ListaThreads.h"
#include "service/ServidorStatus.h"
#include "tests/common/status/ClienteTeste.h"
#include "tests/support/PastaTemporaria.h"

using namespace std::chrono_literals;

namespace {

// A download run that finishes when told to.
class RunTeste final : public ThreadServico {
  public:
    explicit RunTeste(int codigo) : ThreadServico(codigo) {}

  protected:
    void Execute() override {}
};

// The service's side as the service wires it: a real worker list; the units
// that have a PABX row are given by the test.
struct Servico {
    PastaTemporaria pasta;
    LogServico log{pasta.Caminho()};
    std::shared_ptr<FilaMensagens> fila = std::make_shared<FilaMensagens>();
    ListaThreads lista;
    std::set<int> unidades{1, 7};
    std::atomic<bool> executando{true};
    std::atomic<int> despertares{0};
    std::atomic<bool> falhaConsulta{false};
    // When set, a download request blocks until `liberado`.
    std::mutex trava;
    std::condition_variable cond;
    bool segura = false, liberado = false, entrou = false;

    Servico() {
        log.DefineMascara(LogSempre | LogInfo | LogErro);
        log.DefineFilaConsole(fila);
    }

    AcessoServidorStatus Acesso() {
        AcessoServidorStatus a;
        a.executando = [this] { return executando.load(); };
        a.status = [] { return std::string("GRV_STATUS;01/02/2026 03:04:05;9"); };
        a.estaNaLista = [this](int c) {
            lista.LiberaConcluidas();
            return lista.EstaNaLista(c);
        };
        a.pedeDownload = [this](int c) {
            {
                std::unique_lock l(trava);
                entrou = true;
                cond.notify_all();
                cond.wait(l, [this] { return !segura || liberado; });
            }
            if (falhaConsulta) throw std::runtime_error("DOWNPABXPed: conexão recusada");
            if (!unidades.count(c)) return ResultadoPedidoDownload::UnidadeInexistente;
            return lista.AdicionaSeAusente(std::make_unique<RunTeste>(c))
                       ? ResultadoPedidoDownload::Listado
                       : ResultadoPedidoDownload::JaListado;
        };
        a.desperta = [this] { ++despertares; };
        return a;
    }

    std::string Log() const { return LeTudo(log.ArquivoDoMes(log.AgoraLocal())); }
};

class ServidorStatusTeste : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string erro;
        ASSERT_TRUE(servidor.Abre(0, svc.fila, erro)) << erro;
        porta = servidor.PortaLocal();
    }
    // Waits for `cond` for up to 20 s.
    template <class F> bool Aguarda(F cond) {
        for (int i = 0; i < 2000; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return cond();
    }

    Servico svc;
    ServidorStatus servidor{svc.log, svc.Acesso()};
    std::uint16_t porta = 0;
};

const std::string kNOK = "GRV_DOWNLOAD;NOK\r\n";
const std::string kOK = "GRV_DOWNLOAD;OK\r\n";
const std::string kON = "GRV_DOWNLOAD;ON\r\n";

}  // namespace

TEST_F(ServidorStatusTeste, DownloadRequestsListTheUnitOnce) {
    ClienteTeste c(porta);
    ASSERT_TRUE(c.Conectado());
    struct Caso {
        std::string pedido;
        std::string resposta;
    } casos[] = {
        {"GRV_DOWNLOAD;001\r", kOK},  {"GRV_DOWNLOAD;001\r", kON},
        {"GRV_DOWNLOAD;1\r", kON},    {"GRV_DOWNLOAD\r", kNOK},
        {"GRV_DOWNLOAD;abc\r", kNOK}, {"GRV_DOWNLOAD;0\r", kNOK},
        {"GRV_DOWNLOAD;-3\r", kNOK},  {"GRV_DOWNLOAD;99999999999\r", kNOK},
        {"GRV_DOWNLOAD;999\r", kNOK},  // no PABX row
    };
    for (const auto& caso : casos) {
        ASSERT_TRUE(c.Envia(caso.pedido));
        EXPECT_EQ(c.LeAteTexto("\r\n"), caso.resposta) << caso.pedido;
    }
    EXPECT_EQ(svc.lista.Contagem(), 1u);
    EXPECT_FALSE(svc.lista.EstaNaLista(999));

    // A finished run is freed before the test: the unit is listed again.
    svc.lista.IniciaNovas();
    ASSERT_TRUE(Aguarda([&] {
        bool fim = true;
        svc.lista.ParaCada([&](ThreadServico& t) { fim = fim && t.EstadoThread() == 2; });
        return fim;
    }));
    ASSERT_TRUE(c.Envia("GRV_DOWNLOAD;001\r"));
    EXPECT_EQ(c.LeAteTexto("\r\n"), kOK);

    // A lookup that fails is refused, not reported as done.
    svc.falhaConsulta = true;
    ASSERT_TRUE(c.Envia("GRV_DOWNLOAD;007\r"));
    EXPECT_EQ(c.LeAteTexto("\r\n"), "DOWNPABXPed: conex\xe3o recusada\r\n");
    EXPECT_FALSE(svc.lista.EstaNaLista(7));
    EXPECT_GE(svc.despertares.load(), 10);
}

TEST_F(ServidorStatusTeste, TwoConsolesAskingAtOnceGetOkAndOn) {
    ClienteTeste a(porta), b(porta);
    {
        std::lock_guard l(svc.trava);
        svc.segura = true;
    }
    ASSERT_TRUE(a.Envia("GRV_DOWNLOAD;007\r"));
    ASSERT_TRUE(b.Envia("GRV_DOWNLOAD;007\r"));
    {
        std::unique_lock l(svc.trava);
        ASSERT_TRUE(svc.cond.wait_for(l, 20s, [&] { return svc.entrou; }));
        svc.liberado = true;
        svc.cond.notify_all();
    }
    std::multiset<std::string> respostas{a.LeAteTexto("\r\n"), b.LeAteTexto("\r\n")};
    EXPECT_EQ(respostas, (std::multiset<std::string>{kOK, kON}));
    EXPECT_EQ(svc.lista.Contagem(), 1u);
}

TEST_F(ServidorStatusTeste, RepliesKeepRequestOrderAndASlowLookupHoldsNoPush) {
    ClienteTeste pede(porta), outro(porta);
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 2; }));
    {
        std::lock_guard l(svc.trava);
        svc.segura = true;
    }
    ASSERT_TRUE(pede.Envia("GRV_DOWNLOAD;001\rGRV_STATUS;\rGRV_DOWNLOAD;x\r"));
    {
        std::unique_lock l(svc.trava);
        ASSERT_TRUE(svc.cond.wait_for(l, 20s, [&] { return svc.entrou; }));
    }
    // While the lookup hangs, lines still go out, and the status waits behind
    // the download's answer.
    svc.log.Log(LogSempre, true, "durante a consulta");
    EXPECT_EQ(outro.LeAteTexto("\r\r\n"), "LOG;PABX000;durante a consulta\r\r\n");
    EXPECT_EQ(pede.LeAteTexto("consulta\r\r\n"), "LOG;PABX000;durante a consulta\r\r\n");
    EXPECT_EQ(pede.LeDurante(200ms), "");
    {
        std::lock_guard l(svc.trava);
        svc.liberado = true;
        svc.cond.notify_all();
    }
    EXPECT_EQ(pede.LeAteTexto(kNOK), kOK + "GRV_STATUS;01/02/2026 03:04:05;9\r\n" + kNOK);
}

TEST_F(ServidorStatusTeste, NothingIsAnsweredWhileTheServiceIsNotWorking) {
    svc.executando = false;
    ClienteTeste c(porta);
    ASSERT_TRUE(c.Envia("GRV_STATUS;\rGRV_DOWNLOAD;001\r"));
    EXPECT_EQ(c.LeDurante(300ms), "");
    EXPECT_EQ(svc.despertares.load(), 0);
    EXPECT_EQ(svc.lista.Contagem(), 0u);
    svc.executando = true;
    ASSERT_TRUE(c.Envia("GRV_STATUS;\r"));
    EXPECT_EQ(c.LeAteTexto("\r\n"), "GRV_STATUS;01/02/2026 03:04:05;9\r\n");
}

TEST_F(ServidorStatusTeste,
       PushedLinesAreLatin1WithCrCrLfAndConsoleConectadoFollowsTheLastConsole) {
    EXPECT_FALSE(svc.log.ConsoleConectado());
    auto a = std::make_unique<ClienteTeste>(porta);
    auto b = std::make_unique<ClienteTeste>(porta);
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 2; }));
    EXPECT_TRUE(svc.log.ConsoleConectado());
    svc.log.Log(LogSempre, true, "Ligação ç €");
    const std::string esperado = "LOG;PABX000;Liga\xe7\xe3o \xe7 ?\r\r\n";
    EXPECT_EQ(a->LeAte(esperado.size()), esperado);
    EXPECT_EQ(b->LeAte(esperado.size()), esperado);

    // One leaves: the other still gets every line, and lines are still queued.
    a.reset();
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 1; }));
    EXPECT_TRUE(svc.log.ConsoleConectado());
    svc.log.Log(LogSempre, true, "depois");
    EXPECT_EQ(b->LeAteTexto("\r\r\n"), "LOG;PABX000;depois\r\r\n");

    b.reset();
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 0; }));
    EXPECT_FALSE(svc.log.ConsoleConectado());
    svc.log.Log(LogSempre, true, "ninguém");
    EXPECT_EQ(svc.fila->Quantidade(), 0u);
}

namespace {

// Reads pushed lines until `total` have come or the connection ends; checks
// that each writer's lines come in order.
struct Leitor {
    std::unique_ptr<ClienteTeste> cliente;
    std::thread thread;
    std::size_t linhas = 0;
    bool emOrdem = true;

    void Inicia(std::size_t total, std::size_t escritores) {
        thread = std::thread([this, total, escritores] {
            std::vector<long> ultimo(escritores, -1);
            while (linhas < total) {
                const std::string l = cliente->LeAteTexto("\r\r\n");
                if (l.empty()) return;
                // "LOG;PABX000;w <escritor> <n> ..."
                unsigned w = 0;
                long n = 0;
                if (std::sscanf(l.c_str(), "LOG;PABX000;w %u %ld", &w, &n) != 2 ||
                    w >= escritores || n != ultimo[w] + 1)
                    emOrdem = false;
                else
                    ultimo[w] = n;
                ++linhas;
            }
        });
    }
};

std::string Texto(unsigned w, long n) {
    std::string t = "w " + std::to_string(w) + " " + std::to_string(n) + " ";
    t.resize(90, 'x');
    return t;
}

}  // namespace

TEST_F(ServidorStatusTeste, AStuckConsoleIsClosedAndNeitherStallsTheLogNorTheOthers) {
    constexpr unsigned kEscritores = 4;
    constexpr long kPorEscritor = 12500;
    constexpr std::size_t kTotal = kEscritores * kPorEscritor;
    Leitor l1, l2;
    l1.cliente = std::make_unique<ClienteTeste>(porta);
    l2.cliente = std::make_unique<ClienteTeste>(porta);
    ClienteTeste parado(porta, 4096);  // connected, never reads
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 3; }));
    l1.Inicia(kTotal, kEscritores);
    l2.Inicia(kTotal, kEscritores);

    std::vector<std::thread> escritores;
    for (unsigned w = 0; w < kEscritores; ++w)
        escritores.emplace_back([&, w] {
            for (long n = 0; n < kPorEscritor; ++n) svc.log.Log(LogSempre, true, Texto(w, n));
        });
    for (auto& t : escritores) t.join();  // every Log call returned

    l1.thread.join();
    l2.thread.join();
    EXPECT_EQ(l1.linhas, kTotal);
    EXPECT_EQ(l2.linhas, kTotal);
    EXPECT_TRUE(l1.emOrdem);
    EXPECT_TRUE(l2.emOrdem);
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 2; }));
    EXPECT_TRUE(parado.AguardaFechamento());
    EXPECT_NE(svc.Log().find("Console desconectado por não receber os dados: 127.0.0.1:"),
              std::string::npos);
}

TEST_F(ServidorStatusTeste, AConsoleLeavingMidStreamCostsTheOthersNoLine) {
    constexpr long kLinhas = 20000;
    Leitor l1, l2;
    l1.cliente = std::make_unique<ClienteTeste>(porta);
    l2.cliente = std::make_unique<ClienteTeste>(porta);
    auto sai = std::make_unique<ClienteTeste>(porta);
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 3; }));
    l1.Inicia(kLinhas, 1);
    l2.Inicia(kLinhas, 1);
    for (long n = 0; n < kLinhas; ++n) {
        svc.log.Log(LogSempre, true, Texto(0, n));
        if (n == kLinhas / 2) {
            (void)sai->LeAte(1000);
            sai.reset();
        }
    }
    l1.thread.join();
    l2.thread.join();
    EXPECT_EQ(l1.linhas, static_cast<std::size_t>(kLinhas));
    EXPECT_EQ(l2.linhas, static_cast<std::size_t>(kLinhas));
    EXPECT_TRUE(l1.emOrdem && l2.emOrdem);
    EXPECT_TRUE(svc.log.ConsoleConectado());
}

TEST_F(ServidorStatusTeste, OneConsoleOverTheLimitIsClosedAtOnce) {
    std::vector<std::unique_ptr<ClienteTeste>> clientes;
    for (std::size_t i = 0; i < ServidorStatus::kMaxConsoles; ++i)
        clientes.push_back(std::make_unique<ClienteTeste>(porta));
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == ServidorStatus::kMaxConsoles; }));
    ClienteTeste demais(porta);
    EXPECT_TRUE(demais.AguardaFechamento());
    EXPECT_EQ(servidor.Consoles(), ServidorStatus::kMaxConsoles);
    EXPECT_NE(svc.Log().find("Console recusado, limite de conexões atingido: 127.0.0.1:"),
              std::string::npos);
    // The ones inside are still served.
    ASSERT_TRUE(clientes.back()->Envia("GRV_STATUS;\r"));
    EXPECT_EQ(clientes.back()->LeAteTexto("\r\n"), "GRV_STATUS;01/02/2026 03:04:05;9\r\n");
}

TEST_F(ServidorStatusTeste, StopClosesEveryConsoleAndClearsConsoleConectado) {
    ClienteTeste a(porta), b(porta);
    ASSERT_TRUE(Aguarda([&] { return servidor.Consoles() == 2; }));
    servidor.Para();
    EXPECT_TRUE(a.AguardaFechamento());
    EXPECT_TRUE(b.AguardaFechamento());
    EXPECT_FALSE(svc.log.ConsoleConectado());
    EXPECT_FALSE(servidor.Ativo());
    ClienteTeste depois(porta);
    EXPECT_FALSE(depois.Conectado());
}
