// status-probe HOST [PORT] [--download CODE] [--log SECONDS]
// Connects to the recording service's status server (port 51051 unless
// given), asks for its status and prints the reply; --download asks for an
// immediate download of one unit and prints the answer; --log prints the
// service's pushed log lines for that many seconds. Exits non-zero with the
// reason when it cannot connect or no reply comes within 5 seconds. An
// installer's check, from a console's computer, that the service is reachable.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Texto.h"
#include "common/status/ProtocoloStatus.h"

namespace {

using Relogio = std::chrono::steady_clock;
constexpr std::chrono::seconds kEsperaResposta{5};

int Uso() {
    std::cerr << "uso: status-probe HOST [PORTA] [--download CODIGO] [--log SEGUNDOS]\n";
    return 2;
}

bool Numero(std::string_view texto, unsigned& valor) {
    const auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    return !texto.empty() && erro == std::errc() && fim == texto.data() + texto.size();
}

class Conexao final {
  public:
    ~Conexao() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Conecta(const std::string& host, const std::string& porta, std::string& erro) {
        addrinfo dica{};
        dica.ai_family = AF_UNSPEC;
        dica.ai_socktype = SOCK_STREAM;
        addrinfo* lista = nullptr;
        if (const int r = ::getaddrinfo(host.c_str(), porta.c_str(), &dica, &lista); r != 0) {
            erro = ::gai_strerror(r);
            return false;
        }
        erro = "sem endereço";
        for (addrinfo* a = lista; a; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    a->ai_protocol);
            if (fd < 0) continue;
            int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
            if (r != 0 && errno == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                r = ::poll(&p, 1,
                           static_cast<int>(std::chrono::milliseconds(kEsperaResposta).count()));
                if (r == 1) {
                    int e = 0;
                    socklen_t t = sizeof e;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &t);
                    errno = e;
                    r = e == 0 ? 0 : -1;
                } else {
                    errno = r == 0 ? ETIMEDOUT : errno;
                    r = -1;
                }
            }
            if (r == 0) {
                fd_ = fd;
                ::freeaddrinfo(lista);
                return true;
            }
            erro = std::strerror(errno);
            ::close(fd);
        }
        ::freeaddrinfo(lista);
        return false;
    }

    bool Envia(const std::string& bytes) {
        std::size_t feito = 0;
        while (feito < bytes.size()) {
            const ssize_t k = ::send(fd_, bytes.data() + feito, bytes.size() - feito, MSG_NOSIGNAL);
            if (k < 0 && (errno == EINTR || errno == EAGAIN)) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            if (k <= 0) return false;
            feito += static_cast<std::size_t>(k);
        }
        return true;
    }

    // The next line (Latin-1, without line end) before `limite`; empty
    // optional at the limit; `fechou` when the service closed the connection.
    std::optional<std::string> Linha(Relogio::time_point limite, bool& fechou) {
        while (prontas_.empty()) {
            const auto falta =
                std::chrono::duration_cast<std::chrono::milliseconds>(limite - Relogio::now());
            if (falta.count() <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(falta.count()));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return std::nullopt;
            char buf[8192];
            const ssize_t k = ::recv(fd_, buf, sizeof buf, 0);
            if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (k <= 0) {
                fechou = true;
                return std::nullopt;
            }
            leitor_.Recebe({buf, static_cast<std::size_t>(k)}, prontas_);
        }
        std::string l = std::move(prontas_.front());
        prontas_.erase(prontas_.begin());
        return l;
    }

  private:
    int fd_ = -1;
    status::LeitorLinhas leitor_{64 * 1024};
    std::vector<std::string> prontas_;
};

bool ComecaCom(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// Waits for the reply beginning with `prefixo`, printing pushed log lines
// when `mostraLog`. 0 when it came; 1 with the reason otherwise.
int AguardaResposta(Conexao& c, std::string_view prefixo, bool mostraLog) {
    const auto limite = Relogio::now() + kEsperaResposta;
    bool fechou = false;
    for (;;) {
        auto linha = c.Linha(limite, fechou);
        if (!linha) {
            std::cerr << "status-probe: "
                      << (fechou ? "conexão encerrada pelo serviço" : "sem resposta em 5 s")
                      << "\n";
            return 1;
        }
        const std::string texto = Latin1ParaUtf8(*linha);
        if (ComecaCom(*linha, prefixo)) {
            std::cout << texto << std::endl;
            return 0;
        }
        if (ComecaCom(*linha, "LOG;")) {
            if (mostraLog) std::cout << texto << std::endl;
            continue;
        }
        // Anything else is the text of a failure of the service.
        std::cerr << "status-probe: " << texto << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string host, porta = std::to_string(status::kPortaPadrao);
    std::optional<std::string> download;
    unsigned segundosLog = 0;
    int posicional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        unsigned n = 0;
        if (arg == "--download" && i + 1 < argc) {
            download = argv[++i];
        } else if (arg == "--log" && i + 1 < argc) {
            if (!Numero(argv[++i], segundosLog)) return Uso();
        } else if (arg.starts_with("--")) {
            return Uso();
        } else if (posicional == 0) {
            host = arg;
            ++posicional;
        } else if (posicional == 1) {
            if (!Numero(arg, n) || n == 0 || n > 65535) return Uso();
            porta = arg;
            ++posicional;
        } else {
            return Uso();
        }
    }
    if (host.empty()) return Uso();

    Conexao c;
    std::string erro;
    if (!c.Conecta(host, porta, erro)) {
        std::cerr << "status-probe: não foi possível conectar a " << host << ":" << porta << ": "
                  << erro << "\n";
        return 1;
    }
    const bool mostraLog = segundosLog > 0;
    if (!c.Envia(status::PedidoStatus())) {
        std::cerr << "status-probe: falha ao enviar o pedido\n";
        return 1;
    }
    if (const int r = AguardaResposta(c, "GRV_STATUS;", mostraLog); r != 0) return r;
    if (download) {
        if (!c.Envia(status::PedidoDownload(Utf8ParaLatin1(*download)))) {
            std::cerr << "status-probe: falha ao enviar o pedido\n";
            return 1;
        }
        if (const int r = AguardaResposta(c, "GRV_DOWNLOAD;", mostraLog); r != 0) return r;
    }
    if (mostraLog) {
        const auto limite = Relogio::now() + std::chrono::seconds(segundosLog);
        bool fechou = false;
        while (auto linha = c.Linha(limite, fechou)) {
            if (ComecaCom(*linha, "LOG;")) std::cout << Latin1ParaUtf8(*linha) << std::endl;
        }
        if (fechou) {
            std::cerr << "status-probe: conexão encerrada pelo serviço\n";
            return 1;
        }
    }
    return 0;
}
