// The link's connection states with peers that refuse or are never asked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/pabx/PABX.h"
#include "tests/common/pabx/PABXSemRede.h"

namespace {
// A loopback port nobody listens on: bound once, then released.
std::uint16_t PortaFechada() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t t = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &t);
    close(s);
    return ntohs(a.sin_port);
}

// A loopback listener that never accepts, its queue filled by other clients:
// a further connect stays pending (the kernel drops its SYNs).
struct OuvinteCheio {
    int ouvinte = -1;
    std::vector<int> clientes;
    std::uint16_t porta = 0;
    OuvinteCheio() {
        ouvinte = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(ouvinte, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(ouvinte, 0);
        socklen_t t = sizeof a;
        getsockname(ouvinte, reinterpret_cast<sockaddr*>(&a), &t);
        porta = ntohs(a.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            clientes.push_back(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~OuvinteCheio() {
        for (int c : clientes) close(c);
        close(ouvinte);
    }
};
}  // namespace

TEST(Link, ConexaoRecusadaFalhaDeImediatoESocksERecusado) {
    for (const bool socks : {false, true}) {
        SCOPED_TRACE(socks);
        EventoPABX evento;
        TPABX pabx;
        pabx.FTempoLimite = 5;
        pabx.FEvento = &evento;
        pabx.FEnderecoIP = "127.0.0.1";
        pabx.FPorta = PortaFechada();
        pabx.FUsaSocks = socks;
        const auto inicio = std::chrono::steady_clock::now();
        pabx.Conecta();
        EXPECT_TRUE(pabx.AguardaResposta());
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(2));
        EXPECT_EQ(pabx.FEstadoLink, elFalhaConexao);
        EXPECT_EQ(pabx.FStatusPROG.Le(), "NOK");
        EXPECT_EQ(pabx.FVersao, "0.0.0");
        if (!socks) {
            EXPECT_EQ(
                pabx.ErroConexao().rfind("127.0.0.1:" + std::to_string(pabx.FPorta) + ": ", 0), 0u)
                << pabx.ErroConexao();
        }
        EXPECT_FALSE(pabx.EnviaLogin());
        std::string mensagem;
        EXPECT_FALSE(pabx.VerificaSDCard(mensagem));
        EXPECT_EQ(mensagem, "Falha ao conectar PABX");
    }
}

TEST(Link, DesconectaEmQualquerEstado) {
    TPABX pabx;
    pabx.Desconecta();
    pabx.FEnderecoIP = "127.0.0.1";
    pabx.FPorta = PortaFechada();
    pabx.Conecta();
    pabx.Desconecta();
    pabx.Desconecta();
    // A connect still pending is abandoned at once, not after the link's limit.
    OuvinteCheio cheio;
    pabx.FTempoLimite = 60;
    pabx.FPorta = cheio.porta;
    pabx.Conecta();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(pabx.FEstadoLink, elConectando);
    EXPECT_TRUE(pabx.FStatusPROG.Vazio());
    const auto inicio = std::chrono::steady_clock::now();
    pabx.Desconecta();
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));

    // A host name goes through the resolver within the same limit.
    pabx.FEnderecoIP = "localhost";
    pabx.FPorta = PortaFechada();
    pabx.FTempoLimite = 30;
    pabx.Conecta();
    EXPECT_TRUE(pabx.AguardaResposta());
    EXPECT_EQ(pabx.FEstadoLink, elFalhaConexao);
    EXPECT_EQ(pabx.ErroConexao().rfind("localhost:", 0), 0u) << pabx.ErroConexao();
}
