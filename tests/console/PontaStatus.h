#pragma once
// Peers for the status client's tests, on the loopback:
//  - PontaTeste: a scripted status server: accepts connections on a thread
//    of its own and writes what the test hands it to the latest one;
//  - ProxyTeste: sits between the client and a real service and re-chunks
//    what the service sends (byte by byte, or held for a while and written
//    in one go);
//  - OuvinteSemAceite: a listener that never accepts, its backlog filled, so
//    a connection attempt to it gets no answer at all.
// Every blocking call has a limit; the destructors end their threads.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pontastatus {

inline int Ouvinte(std::uint16_t& porta, int fila = 8) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int um = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, fila);
    socklen_t t = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &t);
    porta = ntohs(a.sin_port);
    return fd;
}

inline int ConectaLocal(std::uint16_t porta) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(porta);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int um = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
    return fd;
}

inline bool EscreveTudo(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

class PontaTeste final {
  public:
    PontaTeste() : ouvinte_(Ouvinte(porta_)) {
        thread_ = std::thread([this] {
            while (!fim_) {
                pollfd p{ouvinte_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const int c = ::accept4(ouvinte_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0) continue;
                std::lock_guard l(trava_);
                conexoes_.push_back(c);
            }
        });
    }
    ~PontaTeste() {
        fim_ = true;
        thread_.join();
        ::close(ouvinte_);
        for (int c : conexoes_) ::close(c);
    }
    std::uint16_t Porta() const { return porta_; }
    std::size_t Aceitas() {
        std::lock_guard l(trava_);
        return conexoes_.size();
    }
    // Writes to the latest connection; false when none was accepted within
    // 20 s (a client's connect may complete before the peer's accept).
    bool Envia(const std::string& bytes) {
        const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Aceitas() == 0 && std::chrono::steady_clock::now() < limite)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard l(trava_);
        return !conexoes_.empty() && EscreveTudo(conexoes_.back(), bytes.data(), bytes.size());
    }
    // What the latest connection sent so far (read without waiting).
    std::string Recebido() {
        std::lock_guard l(trava_);
        if (conexoes_.empty()) return {};
        char b[4096];
        for (;;) {
            pollfd p{conexoes_.back(), POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0) break;
            const ssize_t k = ::recv(conexoes_.back(), b, sizeof b, 0);
            if (k <= 0) break;
            recebido_.append(b, static_cast<std::size_t>(k));
        }
        return recebido_;
    }

  private:
    std::uint16_t porta_ = 0;
    int ouvinte_;
    std::atomic<bool> fim_{false};
    std::mutex trava_;
    std::vector<int> conexoes_;
    std::string recebido_;
    std::thread thread_;
};

class ProxyTeste final {
  public:
    enum class Modo { ByteAByte, Retido };

    ProxyTeste(std::uint16_t destino, Modo modo,
               std::chrono::milliseconds retencao = std::chrono::seconds(1))
        : ouvinte_(Ouvinte(porta_)) {
        thread_ = std::thread([=, this] { Roda(destino, modo, retencao); });
    }
    ~ProxyTeste() {
        fim_ = true;
        thread_.join();
        ::close(ouvinte_);
    }
    std::uint16_t Porta() const { return porta_; }
    // Writes of the service's bytes made towards the client.
    int Escritas() const { return escritas_.load(); }

  private:
    void Roda(std::uint16_t destino, Modo modo, std::chrono::milliseconds retencao) {
        int cliente = -1;
        while (!fim_ && cliente < 0) {
            pollfd p{ouvinte_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                cliente = ::accept4(ouvinte_, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (cliente < 0) return;
        const int um = 1;
        ::setsockopt(cliente, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
        const int servico = ConectaLocal(destino);
        std::string retido;
        auto inicioRetencao = std::chrono::steady_clock::time_point{};
        while (!fim_ && servico >= 0) {
            pollfd p[2] = {{cliente, POLLIN, 0}, {servico, POLLIN, 0}};
            ::poll(p, 2, 20);
            char b[65536];
            if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t k = ::recv(cliente, b, sizeof b, 0);
                if (k <= 0) break;
                EscreveTudo(servico, b, static_cast<std::size_t>(k));
            }
            if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t k = ::recv(servico, b, sizeof b, 0);
                if (k <= 0) break;
                if (modo == Modo::ByteAByte) {
                    for (ssize_t i = 0; i < k; ++i) {
                        EscreveTudo(cliente, b + i, 1);
                        ++escritas_;
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                } else {
                    if (retido.empty()) inicioRetencao = std::chrono::steady_clock::now();
                    retido.append(b, static_cast<std::size_t>(k));
                }
            }
            if (!retido.empty() && std::chrono::steady_clock::now() - inicioRetencao >= retencao) {
                EscreveTudo(cliente, retido.data(), retido.size());
                ++escritas_;
                retido.clear();
            }
        }
        if (servico >= 0) ::close(servico);
        ::close(cliente);
    }

    std::uint16_t porta_ = 0;
    int ouvinte_;
    std::atomic<bool> fim_{false};
    std::atomic<int> escritas_{0};
    std::thread thread_;
};

// A listener whose backlog is full: the next connection attempt is never
// answered (its SYN is dropped), as with a service that hangs.
class OuvinteSemAceite final {
  public:
    OuvinteSemAceite() : ouvinte_(Ouvinte(porta_, 0)) {
        // Fill the accept queue until an attempt no longer completes.
        for (int i = 0; i < 16; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(porta_);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            enchimento_.push_back(fd);
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 300) == 0) break;  // this one hangs: the queue is full
        }
    }
    ~OuvinteSemAceite() {
        for (int fd : enchimento_) ::close(fd);
        ::close(ouvinte_);
    }
    std::uint16_t Porta() const { return porta_; }
    // Whether a further attempt really hangs here.
    bool Cheio() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(porta_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        pollfd p{fd, POLLOUT, 0};
        const bool pendurado = ::poll(&p, 1, 500) == 0;
        enchimento_.push_back(fd);
        return pendurado;
    }

  private:
    std::uint16_t porta_ = 0;
    int ouvinte_;
    std::vector<int> enchimento_;
};

}  // namespace pontastatus
