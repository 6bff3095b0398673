#pragma once
// Network adapters of this computer and the choice of the IP address the
// service publishes for its consoles (CRL_GRVIP).
//
// Adapters come from /sys/class/net (type, state, whether a device backs the
// interface) and their addresses from getifaddrs. The choice itself is a pure
// function so every rule can be tested with a table of made-up adapters.
// Stateless apart from the objects handed in; callable from any thread.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct TNetworkCard {
    std::string Caption;  // interface name ("eth0", "enp3s0")
    int Status = -1;      // connection status code, -1 unknown
    std::vector<std::string> IPs;
    std::string AdapterType;  // "Ethernet 802.3" for ARP type 1

    std::string StatusText() const;
};

// Owning list of cards in the order they were added.
class TNetworkCards final {
  public:
    void Add(TNetworkCard card) { cards_.push_back(std::move(card)); }
    int Count() const { return static_cast<int>(cards_.size()); }
    const TNetworkCard& Items(int index) const {
        return cards_.at(static_cast<std::size_t>(index));
    }
    TNetworkCard& Items(int index) { return cards_.at(static_cast<std::size_t>(index)); }
    // The first card whose caption equals `caption` (ignoring case) gets a copy
    // of `addresses`; nothing happens when no card matches.
    void AssignAddresses(const std::string& caption, const std::vector<std::string>& addresses);

  private:
    std::vector<TNetworkCard> cards_;
};

// Status codes the service knows.
inline constexpr int StatusDisconnected = 0;
inline constexpr int StatusConnected = 2;
inline constexpr int StatusMediaDisconnected = 7;

// Adds one card per physical interface under `raizSys` (normally
// /sys/class/net): interfaces without a "device" link (loopback, bridges,
// tunnels, veth) are left out. ARP type 1 gives "Ethernet 802.3"; operstate
// "up" gives status 2, "down"/"lowerlayerdown" 7 when the carrier is gone,
// 0 otherwise. Raises std::system_error when the folder cannot be read.
void GetNetworkStatus(TNetworkCards& cards,
                      const std::filesystem::path& raizSys = "/sys/class/net");

// One interface's addresses as getifaddrs reports them, IPv4 and IPv6 alike.
struct EnderecoInterface {
    std::string interface;
    std::string endereco;
    bool ipv6 = false;
};
// Raises std::system_error when getifaddrs fails.
std::vector<EnderecoInterface> EnderecosLocais();

// Gives each card the addresses of its interface, in getifaddrs order.
void GetNetworkAddress(TNetworkCards& cards, const std::vector<EnderecoInterface>& enderecos);
void GetNetworkAddress(TNetworkCards& cards);

// The selection rule. The last card whose type contains "Ethernet" and whose
// status is Connected, and that holds an IPv4 address, gives its first IPv4
// address. Otherwise the first non-loopback IPv4 address of `enderecos`;
// "127.0.0.1" when there is none. Never gives an IPv6 address or "".
std::string EscolheIPConectado(const TNetworkCards& cards,
                               const std::vector<EnderecoInterface>& enderecos);

// GetIPConectado. A failed enumeration of the adapters is reported through
// `falha` (the message) and falls back to the first local address.
std::string GetIPConectado(std::string* falha = nullptr,
                           const std::filesystem::path& raizSys = "/sys/class/net");

bool EnderecoIPv4(const std::string& texto);
