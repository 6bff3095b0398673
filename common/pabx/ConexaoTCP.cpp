#include "common/pabx/ConexaoTCP.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace {
std::string TextoErro(int codigo) {
    char texto[256];
    // GNU strerror_r: returns the text, in `texto` or a static string.
    return strerror_r(codigo, texto, sizeof texto);
}

// A name lookup that may be abandoned: the resolver's thread owns its share of
// this state, so a lookup given up on (time limit, stop) finishes on its own
// and frees what it found.
struct Resolucao {
    std::mutex trava;  // guards the rest
    std::condition_variable pronto;
    bool terminou = false;
    int codigo = 0;
    addrinfo* lista = nullptr;
    ~Resolucao() {
        if (lista != nullptr) freeaddrinfo(lista);
    }
};
}  // namespace

ConexaoTCP::ConexaoTCP(std::string host, std::uint16_t porta,
                       std::chrono::milliseconds limiteConexao, Eventos eventos)
    : host_(std::move(host)), porta_(porta), limite_(limiteConexao), eventos_(std::move(eventos)) {}

ConexaoTCP::~ConexaoTCP() { Encerra(); }

void ConexaoTCP::Ativa() {
    if (thread_.joinable()) return;
    despertar_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (despertar_ < 0) {
        // Without a way to wake it, the thread could never be stopped.
        if (eventos_.falhou) eventos_.falhou(TextoErro(errno));
        return;
    }
    parar_ = false;
    thread_ = std::thread([this] { Executa(); });
}

void ConexaoTCP::Encerra() {
    parar_ = true;
    if (despertar_ >= 0) {
        const std::uint64_t um = 1;
        [[maybe_unused]] auto r = write(despertar_, &um, sizeof um);
    }
    if (thread_.joinable()) thread_.join();
    aberta_ = false;
    const int s = socket_.exchange(-1);
    if (s >= 0) close(s);
    if (despertar_ >= 0) {
        close(despertar_);
        despertar_ = -1;
    }
}

bool ConexaoTCP::Resolve(const std::chrono::steady_clock::time_point prazo, addrinfo*& lista,
                         std::string& erro) {
    addrinfo dicas{};
    dicas.ai_family = AF_UNSPEC;
    dicas.ai_socktype = SOCK_STREAM;
    const std::string porta = std::to_string(porta_);
    // A numeric address needs no lookup and is answered at once.
    dicas.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(host_.c_str(), porta.c_str(), &dicas, &lista) == 0) return true;
    lista = nullptr;

    // A name: looked up on a thread of its own, so a hung resolver counts
    // against the connect's time limit and Encerra does not wait for it.
    dicas.ai_flags = AI_NUMERICSERV;
    auto r = std::make_shared<Resolucao>();
    try {
        std::thread([r, host = host_, porta, dicas] {
            addrinfo* l = nullptr;
            const int c = getaddrinfo(host.c_str(), porta.c_str(), &dicas, &l);
            std::lock_guard t(r->trava);
            r->codigo = c;
            r->lista = l;
            r->terminou = true;
            r->pronto.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        erro = e.what();
        return false;
    }
    std::unique_lock t(r->trava);
    while (!r->terminou && !parar_) {
        // Slices, so a stop is seen soon.
        const auto fatia =
            std::min(prazo, std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
        r->pronto.wait_until(t, fatia);
        if (std::chrono::steady_clock::now() >= prazo) break;
    }
    if (!r->terminou) {
        erro = parar_ ? "Interrompido" : "Tempo esgotado ao resolver " + host_;
        return false;
    }
    if (r->codigo != 0) {
        erro = std::string(gai_strerror(r->codigo)) + " (" + host_ + ")";
        return false;
    }
    lista = std::exchange(r->lista, nullptr);
    return true;
}

bool ConexaoTCP::Abre(std::string& erro) {
    const auto prazo = std::chrono::steady_clock::now() + limite_;
    addrinfo* lista = nullptr;
    if (!Resolve(prazo, lista, erro)) return false;
    erro = "Sem endereço";
    for (addrinfo* a = lista; a != nullptr && !parar_; a = a->ai_next) {
        const int s =
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            erro = TextoErro(errno);
            continue;
        }
        int codigo = 0;
        if (connect(s, a->ai_addr, a->ai_addrlen) != 0) {
            codigo = errno;
            if (codigo == EINPROGRESS) {
                codigo = ETIMEDOUT;
                for (;;) {
                    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
                        prazo - std::chrono::steady_clock::now());
                    if (resta.count() <= 0 || parar_) break;
                    pollfd p[2] = {{s, POLLOUT, 0}, {despertar_, POLLIN, 0}};
                    const int n = poll(p, 2, static_cast<int>(resta.count()));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0 || (p[1].revents & POLLIN)) break;
                    socklen_t tamanho = sizeof codigo;
                    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &codigo, &tamanho) != 0) codigo = errno;
                    break;
                }
            }
        }
        if (codigo == 0) {
            const int um = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
            socket_ = s;
            freeaddrinfo(lista);
            return true;
        }
        erro = TextoErro(codigo);
        close(s);
    }
    freeaddrinfo(lista);
    return false;
}

void ConexaoTCP::Executa() {
    std::string erro;
    if (!Abre(erro)) {
        if (!parar_ && eventos_.falhou) eventos_.falhou(erro);
        return;
    }
    aberta_ = true;
    if (eventos_.conectou) eventos_.conectou();
    std::vector<std::uint8_t> buffer(65536);
    const int s = socket_;
    while (!parar_) {
        pollfd p[2] = {{s, POLLIN, 0}, {despertar_, POLLIN, 0}};
        const int n = poll(p, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents & POLLIN) return;
        if (p[0].revents == 0) continue;
        const ssize_t lidos = recv(s, buffer.data(), buffer.size(), 0);
        if (lidos > 0) {
            if (eventos_.recebeu)
                eventos_.recebeu({buffer.data(), static_cast<std::size_t>(lidos)});
            continue;
        }
        if (lidos < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        break;
    }
    aberta_ = false;
    if (!parar_ && eventos_.fechou) eventos_.fechou();
}

bool ConexaoTCP::Envia(const std::uint8_t* bytes, std::size_t n, std::string& erro) {
    const int s = socket_;
    if (s < 0 || !aberta_) {
        erro = "Não conectado";
        return false;
    }
    const auto prazo = std::chrono::steady_clock::now() + limite_;
    std::size_t enviados = 0;
    while (enviados < n) {
        const ssize_t r = send(s, bytes + enviados, n - enviados, MSG_NOSIGNAL);
        if (r > 0) {
            enviados += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
                prazo - std::chrono::steady_clock::now());
            pollfd p{s, POLLOUT, 0};
            if (resta.count() > 0 && poll(&p, 1, static_cast<int>(resta.count())) > 0) continue;
            erro = "Tempo esgotado ao enviar";
            return false;
        }
        erro = TextoErro(r < 0 ? errno : EPIPE);
        return false;
    }
    return true;
}
