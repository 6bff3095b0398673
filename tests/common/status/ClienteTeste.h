#pragma once
// A plain blocking TCP client for tests of the status protocol: connects to a
// port of the loopback, writes bytes, reads with time limits. Generous limits
// for what must arrive, short ones only for asserting silence.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

class ClienteTeste final {
  public:
    static constexpr std::chrono::milliseconds kEspera{20000};

    // rcvbuf > 0 shrinks the receive buffer before connecting.
    explicit ClienteTeste(std::uint16_t porta, int rcvbuf = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(porta);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        conectado_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~ClienteTeste() { Fecha(); }
    ClienteTeste(const ClienteTeste&) = delete;
    ClienteTeste& operator=(const ClienteTeste&) = delete;

    bool Conectado() const { return conectado_; }
    void Fecha() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool Envia(const std::string& bytes) {
        std::size_t feito = 0;
        while (feito < bytes.size()) {
            const ssize_t k = ::send(fd_, bytes.data() + feito, bytes.size() - feito, MSG_NOSIGNAL);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return false;
            feito += static_cast<std::size_t>(k);
        }
        return true;
    }

    // Reads until `n` bytes have been received in all (buffered), the peer
    // closed, or the limit passed. Gives what was received.
    std::string LeAte(std::size_t n, std::chrono::milliseconds limite = kEspera) {
        const auto fim = std::chrono::steady_clock::now() + limite;
        while (recebido_.size() < n && !fechou_) {
            const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                fim - std::chrono::steady_clock::now());
            if (falta.count() <= 0) break;
            if (!LeUmaVez(static_cast<int>(falta.count()))) break;
        }
        std::string r = recebido_.substr(0, std::min(n, recebido_.size()));
        recebido_.erase(0, r.size());
        return r;
    }

    // Reads until `fim` is seen; gives everything up to and including it.
    std::string LeAteTexto(const std::string& fim, std::chrono::milliseconds limite = kEspera) {
        const auto ate = std::chrono::steady_clock::now() + limite;
        std::size_t pos;
        while ((pos = recebido_.find(fim)) == std::string::npos && !fechou_) {
            const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                ate - std::chrono::steady_clock::now());
            if (falta.count() <= 0) break;
            if (!LeUmaVez(static_cast<int>(falta.count()))) break;
        }
        pos = recebido_.find(fim);
        if (pos == std::string::npos) return {};
        std::string r = recebido_.substr(0, pos + fim.size());
        recebido_.erase(0, r.size());
        return r;
    }

    // Whatever arrives within `janela` (for asserting silence).
    std::string LeDurante(std::chrono::milliseconds janela) {
        const auto ate = std::chrono::steady_clock::now() + janela;
        for (;;) {
            const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                ate - std::chrono::steady_clock::now());
            if (falta.count() <= 0 || fechou_) break;
            if (!LeUmaVez(static_cast<int>(falta.count()))) break;
        }
        std::string r;
        r.swap(recebido_);
        return r;
    }

    // True once the peer closed the connection (within the limit).
    bool AguardaFechamento(std::chrono::milliseconds limite = kEspera) {
        const auto ate = std::chrono::steady_clock::now() + limite;
        while (!fechou_) {
            const auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(
                ate - std::chrono::steady_clock::now());
            if (falta.count() <= 0) break;
            if (!LeUmaVez(static_cast<int>(falta.count()))) break;
            recebido_.clear();
        }
        return fechou_;
    }

  private:
    bool LeUmaVez(int ms) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, ms);
        if (r <= 0) return false;
        char buf[65536];
        const ssize_t k = ::recv(fd_, buf, sizeof buf, 0);
        if (k <= 0) {
            if (k < 0 && errno == EINTR) return true;
            fechou_ = true;
            return false;
        }
        recebido_.append(buf, static_cast<std::size_t>(k));
        return true;
    }

    int fd_ = -1;
    bool conectado_ = false;
    bool fechou_ = false;
    std::string recebido_;
};

// A loopback port that was free a moment ago.
inline std::uint16_t PortaLivre() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t t = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &t);
    ::close(fd);
    return ntohs(a.sin_port);
}
