// The link's connection states with peers that refuse or are never asked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
}  // namespace

TEST(Link, ConexaoRecusadaFalhaDeImediatoESocksERecusado) {
    PABXTimeOut = 5;
    for (const bool socks : {false, true}) {
        SCOPED_TRACE(socks);
        EventoPABX evento;
        TPABX pabx;
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
        EXPECT_FALSE(pabx.EnviaLogin());
        std::string mensagem;
        EXPECT_FALSE(pabx.VerificaSDCard(mensagem));
        EXPECT_EQ(mensagem, "Falha ao conectar PABX");
    }
    PABXTimeOut = 90;
}

TEST(Link, DesconectaEmQualquerEstado) {
    TPABX pabx;
    pabx.Desconecta();
    pabx.FEnderecoIP = "127.0.0.1";
    pabx.FPorta = PortaFechada();
    pabx.Conecta();
    pabx.Desconecta();
    pabx.Desconecta();
    // A connect still pending (an address that never answers, where the
    // network routes it) is abandoned at once, not after PABXTimeOut.
    PABXTimeOut = 60;
    pabx.FEnderecoIP = "10.255.255.1";
    pabx.FPorta = 9;
    pabx.Conecta();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto inicio = std::chrono::steady_clock::now();
    pabx.Desconecta();
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));
    PABXTimeOut = 90;
}
