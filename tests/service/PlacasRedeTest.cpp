#include "service/PlacasRede.h"

#include <gtest/gtest.h>

#include "tests/support/PastaTemporaria.h"

namespace {

TNetworkCard Placa(std::string nome, std::string tipo, int status, std::vector<std::string> ips) {
    TNetworkCard c;
    c.Caption = std::move(nome);
    c.AdapterType = std::move(tipo);
    c.Status = status;
    c.IPs = std::move(ips);
    return c;
}

}  // namespace

TEST(PlacasRede, TextosDeEstado) {
    const std::pair<int, const char*> casos[] = {{0, "Disconnected"},
                                                 {2, "Connected"},
                                                 {7, "Media disconnected"},
                                                 {10, "Authentication failed"},
                                                 {11, "unknown"},
                                                 {12, "unknown"},
                                                 {-1, "unknown"}};
    for (auto [codigo, texto] : casos) {
        TNetworkCard c;
        c.Status = codigo;
        EXPECT_EQ(c.StatusText(), texto) << codigo;
    }
}

TEST(PlacasRede, TabelaDeSelecao) {
    const std::vector<EnderecoInterface> locais = {{"lo", "127.0.0.1", false},
                                                   {"lo", "::1", true},
                                                   {"docker0", "172.17.0.1", false},
                                                   {"eth0", "192.168.0.10", false}};
    const std::vector<EnderecoInterface> soLoopback = {{"lo", "127.0.0.1", false},
                                                       {"lo", "::1", true}};
    struct Caso {
        const char* nome;
        std::vector<TNetworkCard> placas;
        std::vector<EnderecoInterface> enderecos;
        std::string esperado;
    };
    const Caso casos[] = {
        {"ethernet conectada",
         {Placa("eth0", "Ethernet 802.3", 2, {"10.0.0.5"})},
         locais,
         "10.0.0.5"},
        {"tipo contendo Ethernet",
         {Placa("x", "Fast Ethernet card", 2, {"10.0.0.6"})},
         locais,
         "10.0.0.6"},
        {"caixa conta", {Placa("x", "ethernet 802.3", 2, {"10.0.0.6"})}, locais, "172.17.0.1"},
        {"tipo sem Ethernet", {Placa("wlan0", "Wireless", 2, {"10.0.0.7"})}, locais, "172.17.0.1"},
        // The fallback: a physical adapter's address before a bridge's.
        {"desconectada",
         {Placa("eth0", "Ethernet 802.3", 7, {"10.0.0.5"})},
         locais,
         "192.168.0.10"},
        {"estado 12", {Placa("eth0", "Ethernet 802.3", 12, {"10.0.0.5"})}, locais, "192.168.0.10"},
        {"a ultima decide",
         {Placa("eth0", "Ethernet 802.3", 2, {"10.0.0.1"}),
          Placa("eth1", "Ethernet 802.3", 2, {"10.0.0.2"})},
         locais,
         "10.0.0.2"},
        {"ultima sem IPv4 nao apaga a anterior",
         {Placa("eth0", "Ethernet 802.3", 2, {"10.0.0.1"}),
          Placa("eth1", "Ethernet 802.3", 2, {"fe80::1"})},
         locais,
         "10.0.0.1"},
        {"IPv6 primeiro: vale o primeiro IPv4",
         {Placa("eth0", "Ethernet 802.3", 2, {"fe80::1", "10.0.0.9", "10.0.0.8"})},
         locais,
         "10.0.0.9"},
        {"so IPv6: reserva",
         {Placa("eth0", "Ethernet 802.3", 2, {"fe80::1"})},
         locais,
         "192.168.0.10"},
        {"sem enderecos: reserva",
         {Placa("eth0", "Ethernet 802.3", 2, {})},
         locais,
         "192.168.0.10"},
        {"nenhuma placa, so loopback", {}, soLoopback, "127.0.0.1"},
        {"nada", {}, {}, "127.0.0.1"},
    };
    for (const auto& c : casos) {
        TNetworkCards cards;
        for (const auto& p : c.placas) cards.Add(p);
        EXPECT_EQ(EscolheIPConectado(cards, c.enderecos), c.esperado) << c.nome;
    }
}

TEST(PlacasRede, AssignAddressesSoAPrimeiraDoMesmoNome) {
    TNetworkCards cards;
    cards.Add(Placa("ETH0", "Ethernet 802.3", 2, {"1.1.1.1"}));
    cards.Add(Placa("eth0", "Ethernet 802.3", 2, {"2.2.2.2"}));
    cards.AssignAddresses("eth0", {"10.0.0.1", "fe80::2"});
    cards.AssignAddresses("wlan0", {"10.9.9.9"});
    EXPECT_EQ(cards.Items(0).IPs, (std::vector<std::string>{"10.0.0.1", "fe80::2"}));
    EXPECT_EQ(cards.Items(1).IPs, (std::vector<std::string>{"2.2.2.2"}));
}

// A made-up /sys/class/net: physical interfaces have a "device" link, virtual
// ones do not and are left out.
TEST(PlacasRede, LeituraDeSysClassNet) {
    PastaTemporaria pasta;
    const auto raiz = pasta.Caminho();
    auto interface = [&](const char* nome, const char* tipo, const char* estado,
                         const char* carrier, bool dispositivo) {
        std::filesystem::create_directories(raiz / nome);
        Grava(raiz / nome / "type", std::string(tipo) + "\n");
        Grava(raiz / nome / "operstate", std::string(estado) + "\n");
        Grava(raiz / nome / "carrier", std::string(carrier) + "\n");
        if (dispositivo) std::filesystem::create_directory_symlink(raiz, raiz / nome / "device");
    };
    interface("lo", "772", "unknown", "1", false);
    interface("docker0", "1", "up", "1", false);
    interface("eth1", "1", "down", "0", true);
    interface("eth0", "1", "up", "1", true);
    interface("wwan0", "519", "up", "1", true);

    TNetworkCards cards;
    GetNetworkStatus(cards, raiz);
    ASSERT_EQ(cards.Count(), 3);
    EXPECT_EQ(cards.Items(0).Caption, "eth0");
    EXPECT_EQ(cards.Items(0).AdapterType, "Ethernet 802.3");
    EXPECT_EQ(cards.Items(0).StatusText(), "Connected");
    EXPECT_EQ(cards.Items(1).Caption, "eth1");
    EXPECT_EQ(cards.Items(1).StatusText(), "Media disconnected");
    EXPECT_EQ(cards.Items(2).Caption, "wwan0");
    EXPECT_EQ(cards.Items(2).AdapterType.find("Ethernet"), std::string::npos);

    GetNetworkAddress(cards, {{"eth0", "fe80::1", true},
                              {"eth0", "192.168.5.5", false},
                              {"docker0", "172.17.0.1", false},
                              {"eth1", "10.1.1.1", false}});
    EXPECT_EQ(cards.Items(0).IPs, (std::vector<std::string>{"fe80::1", "192.168.5.5"}));
    EXPECT_EQ(EscolheIPConectado(cards, {}), "192.168.5.5");
}

TEST(PlacasRede, EnumeracaoQueFalhaCaiNaReserva) {
    std::string falha;
    const std::string ip = GetIPConectado(&falha, "/nao/existe/class/net");
    EXPECT_FALSE(falha.empty());
    EXPECT_TRUE(EnderecoIPv4(ip)) << ip;
    // This machine's real adapters give an IPv4 address too.
    EXPECT_TRUE(EnderecoIPv4(GetIPConectado()));
}
