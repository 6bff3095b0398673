#include "service/PlacasRede.h"
#include "common/Texto.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace {

std::string LePrimeiraLinha(const std::filesystem::path& arquivo) {
    std::ifstream in(arquivo);
    std::string linha;
    std::getline(in, linha);
    while (!linha.empty() && std::isspace(static_cast<unsigned char>(linha.back())))
        linha.pop_back();
    return linha;
}

}  // namespace

std::string TNetworkCard::StatusText() const {
    static const char* const textos[] = {"Disconnected",
                                         "Connecting",
                                         "Connected",
                                         "Disconnecting",
                                         "Hardware not present",
                                         "Hardware disabled",
                                         "Hardware malfunction",
                                         "Media disconnected",
                                         "Authenticating",
                                         "Authentication succeeded",
                                         "Authentication failed"};
    if (Status < 0 || Status > 10) return "unknown";
    return textos[Status];
}

void TNetworkCards::AssignAddresses(const std::string& caption,
                                    const std::vector<std::string>& addresses) {
    for (auto& card : cards_) {
        if (IgualSemCaixa(card.Caption, caption)) {
            card.IPs = addresses;
            return;
        }
    }
}

void GetNetworkStatus(TNetworkCards& cards, const std::filesystem::path& raizSys) {
    std::vector<std::filesystem::path> interfaces;
    for (const auto& entrada : std::filesystem::directory_iterator(raizSys))
        interfaces.push_back(entrada.path());
    // The kernel lists in creation order; sort by name so the choice does not
    // depend on the order the drivers came up in at boot.
    std::sort(interfaces.begin(), interfaces.end());

    for (const auto& caminho : interfaces) {
        std::error_code ec;
        if (!std::filesystem::exists(caminho / "device", ec)) continue;
        TNetworkCard card;
        card.Caption = caminho.filename().string();
        const std::string tipo = LePrimeiraLinha(caminho / "type");
        card.AdapterType = tipo == "1" ? "Ethernet 802.3" : (tipo.empty() ? "" : "ARP " + tipo);
        const std::string estado = LePrimeiraLinha(caminho / "operstate");
        if (estado == "up")
            card.Status = StatusConnected;
        else if (estado == "down" || estado == "lowerlayerdown")
            card.Status = LePrimeiraLinha(caminho / "carrier") == "0" ? StatusMediaDisconnected
                                                                      : StatusDisconnected;
        else if (estado == "dormant")
            card.Status = 1;
        else if (estado == "notpresent")
            card.Status = 4;
        else
            card.Status = -1;
        cards.Add(std::move(card));
    }
}

std::vector<EnderecoInterface> EnderecosLocais() {
    ifaddrs* lista = nullptr;
    if (::getifaddrs(&lista) != 0)
        throw std::system_error(errno, std::generic_category(), "getifaddrs");
    std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> dono(lista, &::freeifaddrs);

    std::vector<EnderecoInterface> enderecos;
    for (ifaddrs* p = lista; p; p = p->ifa_next) {
        if (!p->ifa_addr || !p->ifa_name) continue;
        char texto[INET6_ADDRSTRLEN] = {};
        if (p->ifa_addr->sa_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(p->ifa_addr);
            if (!::inet_ntop(AF_INET, &a->sin_addr, texto, sizeof texto)) continue;
            enderecos.push_back({p->ifa_name, texto, false});
        } else if (p->ifa_addr->sa_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(p->ifa_addr);
            if (!::inet_ntop(AF_INET6, &a->sin6_addr, texto, sizeof texto)) continue;
            enderecos.push_back({p->ifa_name, texto, true});
        }
    }
    return enderecos;
}

void GetNetworkAddress(TNetworkCards& cards, const std::vector<EnderecoInterface>& enderecos) {
    for (int i = 0; i < cards.Count(); ++i) {
        std::vector<std::string> ips;
        for (const auto& e : enderecos)
            if (e.interface == cards.Items(i).Caption) ips.push_back(e.endereco);
        cards.AssignAddresses(cards.Items(i).Caption, ips);
    }
}

void GetNetworkAddress(TNetworkCards& cards) { GetNetworkAddress(cards, EnderecosLocais()); }

bool EnderecoIPv4(const std::string& texto) {
    in_addr a{};
    return ::inet_pton(AF_INET, texto.c_str(), &a) == 1;
}

std::string EscolheIPConectado(const TNetworkCards& cards,
                               const std::vector<EnderecoInterface>& enderecos) {
    std::string escolhido;
    for (int i = 0; i < cards.Count(); ++i) {
        const TNetworkCard& card = cards.Items(i);
        if (card.AdapterType.find("Ethernet") == std::string::npos) continue;
        if (card.StatusText() != "Connected") continue;
        const auto ipv4 = std::find_if(card.IPs.begin(), card.IPs.end(), EnderecoIPv4);
        if (ipv4 != card.IPs.end()) escolhido = *ipv4;
    }
    if (!escolhido.empty()) return escolhido;
    // The fallback prefers an address of a physical adapter (one listed as a
    // card: it has a device link) over a bridge's or a tunnel's, such as a
    // container bridge's 172.17.0.1 that nobody else can reach.
    const auto fisica = [&](const EnderecoInterface& e) {
        for (int i = 0; i < cards.Count(); ++i)
            if (cards.Items(i).Caption == e.interface) return true;
        return false;
    };
    for (const bool soFisicas : {true, false})
        for (const auto& e : enderecos)
            if (!e.ipv6 && EnderecoIPv4(e.endereco) && e.endereco.rfind("127.", 0) != 0 &&
                (!soFisicas || fisica(e)))
                return e.endereco;
    return "127.0.0.1";
}

std::string GetIPConectado(std::string* falha, const std::filesystem::path& raizSys) {
    TNetworkCards cards;
    std::vector<EnderecoInterface> enderecos;
    try {
        enderecos = EnderecosLocais();
    } catch (const std::exception& e) {
        if (falha) *falha = e.what();
    }
    try {
        GetNetworkStatus(cards, raizSys);
        GetNetworkAddress(cards, enderecos);
    } catch (const std::exception& e) {
        if (falha) *falha = e.what();
        cards = TNetworkCards();
    }
    return EscolheIPConectado(cards, enderecos);
}
