#include "service/ServidorStatus.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "common/status/ProtocoloStatus.h"

namespace {

using Instante = std::chrono::steady_clock::time_point;

// A file descriptor closed with its owner.
class Descritor final {
  public:
    Descritor() = default;
    explicit Descritor(int fd) : fd_(fd) {}
    ~Descritor() { Fecha(); }
    Descritor(Descritor&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Descritor& operator=(Descritor&& o) noexcept {
        if (this != &o) {
            Fecha();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void Fecha() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

constexpr std::uint64_t kIdEscuta = 0;
constexpr std::uint64_t kIdAcorda = 1;
// Unsent output above which a console that still drains holds back the
// queue's next lines for everyone, so a burst never fills a reader's buffer
// beyond what it can take; a console that holds it for longer than
// kToleranciaAtraso stops holding it back and is closed at kLimiteSaida.
constexpr std::size_t kSaidaSuave = 256 * 1024;
constexpr std::chrono::milliseconds kToleranciaAtraso{1000};
// Bytes of queued lines appended to the consoles between two write rounds.
constexpr std::size_t kLote = 128 * 1024;
// Requests a console may have waiting before its input is no longer read.
constexpr std::size_t kMaxPedidosEspera = 64;
// Send buffer of a console's socket: bounds what the kernel holds for it.
constexpr int kBufferEnvio = 256 * 1024;

std::string Endereco(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string ErroSistema(int erro) { return std::strerror(erro); }

}  // namespace

struct ServidorStatus::Nucleo {
    struct Console {
        std::uint64_t id = 0;
        Descritor fd;
        std::string endereco;
        status::LeitorPedidos leitor;
        std::deque<status::Pedido> pedidos;
        bool aguardandoTrabalhador = false;
        std::string saida;
        std::size_t enviado = 0;  // bytes of saida already written
        std::uint32_t eventos = 0;
        std::optional<Instante> atrasadoDesde;
        bool isento = false;  // no longer holds back the queue
        bool fechar = false;
        std::size_t Pendente() const { return saida.size() - enviado; }
    };

    Descritor epoll;
    Descritor escuta;
    Descritor acorda;
    std::shared_ptr<FilaMensagens> fila;
    std::map<std::uint64_t, std::unique_ptr<Console>> consoles;
    std::uint64_t proximoId = 2;
    std::deque<std::string> pendentes;  // wire lines taken from the queue, not yet handed out
    std::size_t bytesPendentes = 0;
    Instante proximoTique;
    std::optional<Instante> escutaSuspensaAte;
};

ServidorStatus::ServidorStatus(LogServico& log, AcessoServidorStatus acesso)
    : log_(log), acesso_(std::move(acesso)) {}

ServidorStatus::~ServidorStatus() { Para(); }

bool ServidorStatus::Abre(std::uint16_t porta, std::shared_ptr<FilaMensagens> fila,
                          std::string& erro) {
    Para();
    return AbreNucleo(porta, std::move(fila), erro);
}

bool ServidorStatus::AbreComNovasTentativas(std::uint16_t porta,
                                            std::shared_ptr<FilaMensagens> fila, std::string& erro,
                                            std::function<void()> aoAbrir) {
    if (Abre(porta, fila, erro)) return true;
    {
        std::lock_guard l(travaTentativa_);
        pararTentativas_ = false;
    }
    tentando_ = true;
    tentativas_ = std::thread([this, porta, fila = std::move(fila), aoAbrir = std::move(aoAbrir)] {
        std::chrono::seconds espera{1};
        for (;;) {
            {
                std::unique_lock l(travaTentativa_);
                if (condTentativa_.wait_for(l, espera, [this] { return pararTentativas_; })) break;
            }
            std::string e;
            if (AbreNucleo(porta, fila, e)) {
                tentando_ = false;
                if (aoAbrir) aoAbrir();
                break;
            }
            espera = std::min<std::chrono::seconds>(espera * 2, kEsperaMaxima);
        }
        tentando_ = false;
    });
    return false;
}

void ServidorStatus::ParaTentativas() {
    if (!tentativas_.joinable()) return;
    {
        std::lock_guard l(travaTentativa_);
        pararTentativas_ = true;
    }
    condTentativa_.notify_all();
    tentativas_.join();
    tentando_ = false;
}

bool ServidorStatus::AbreNucleo(std::uint16_t porta, std::shared_ptr<FilaMensagens> fila,
                                std::string& erro) {
    ParaServidor();
    auto n = std::make_unique<Nucleo>();
    n->fila = std::move(fila);
    n->escuta = Descritor(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (n->escuta.get() < 0) {
        erro = ErroSistema(errno);
        return false;
    }
    const int um = 1;
    ::setsockopt(n->escuta.get(), SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
    sockaddr_in end{};
    end.sin_family = AF_INET;
    end.sin_addr.s_addr = htonl(INADDR_ANY);
    end.sin_port = htons(porta);
    if (::bind(n->escuta.get(), reinterpret_cast<sockaddr*>(&end), sizeof end) != 0 ||
        ::listen(n->escuta.get(), SOMAXCONN) != 0) {
        erro = ErroSistema(errno);
        return false;
    }
    socklen_t tam = sizeof end;
    ::getsockname(n->escuta.get(), reinterpret_cast<sockaddr*>(&end), &tam);

    n->acorda = Descritor(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    n->epoll = Descritor(::epoll_create1(EPOLL_CLOEXEC));
    if (n->acorda.get() < 0 || n->epoll.get() < 0) {
        erro = ErroSistema(errno);
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kIdEscuta;
    epoll_event eva{};
    eva.events = EPOLLIN;
    eva.data.u64 = kIdAcorda;
    if (::epoll_ctl(n->epoll.get(), EPOLL_CTL_ADD, n->escuta.get(), &ev) != 0 ||
        ::epoll_ctl(n->epoll.get(), EPOLL_CTL_ADD, n->acorda.get(), &eva) != 0) {
        erro = ErroSistema(errno);
        return false;
    }

    acorda_ = n->acorda.get();
    portaLocal_ = ntohs(end.sin_port);
    parar_ = false;
    {
        std::lock_guard lock(travaTrabalho_);
        pararTrabalhador_ = false;
        trabalhos_.clear();
        respostas_.clear();
    }
    nucleo_ = std::move(n);
    trabalhador_ = std::thread([this] { CorpoTrabalhador(); });
    thread_ = std::thread([this] { Corpo(); });
    ativo_ = true;
    return true;
}

void ServidorStatus::Para() {
    // The retrying thread first: it may be opening the server right now.
    ParaTentativas();
    ParaServidor();
}

void ServidorStatus::ParaServidor() {
    ativo_ = false;
    if (thread_.joinable()) {
        parar_ = true;
        const std::uint64_t um = 1;
        (void)!::write(acorda_, &um, sizeof um);
        thread_.join();
    }
    if (trabalhador_.joinable()) {
        {
            std::lock_guard lock(travaTrabalho_);
            pararTrabalhador_ = true;
        }
        condTrabalho_.notify_all();
        trabalhador_.join();
    }
    // The eventfd goes with the state, after the worker that writes it is gone.
    nucleo_.reset();
    acorda_ = -1;
    ativo_ = false;
}

void ServidorStatus::EnviaFilaAgora() {
    if (!ativo_) return;
    enviarJa_ = true;
    const std::uint64_t um = 1;
    (void)!::write(acorda_, &um, sizeof um);
}

void ServidorStatus::CorpoTrabalhador() {
    for (;;) {
        Trabalho t;
        {
            std::unique_lock lock(travaTrabalho_);
            condTrabalho_.wait(lock, [this] { return pararTrabalhador_ || !trabalhos_.empty(); });
            if (pararTrabalhador_) return;
            t = trabalhos_.front();
            trabalhos_.pop_front();
        }
        std::string bytes;
        try {
            status::RespostaDownload r = status::RespostaDownload::NOK;
            if (acesso_.estaNaLista && acesso_.estaNaLista(t.codigo)) {
                r = status::RespostaDownload::ON;
            } else if (acesso_.pedeDownload) {
                switch (acesso_.pedeDownload(t.codigo)) {
                    case ResultadoPedidoDownload::Listado: r = status::RespostaDownload::OK; break;
                    case ResultadoPedidoDownload::JaListado:
                        r = status::RespostaDownload::ON;
                        break;
                    default: break;
                }
            }
            bytes = status::LinhaDownload(r);
        } catch (const std::exception& e) {
            bytes = status::LinhaResposta(e.what());
        } catch (...) {
            bytes = status::LinhaDownload(status::RespostaDownload::NOK);
        }
        // The main loop starts a newly listed run without waiting for its second.
        if (acesso_.desperta) acesso_.desperta();
        {
            std::lock_guard lock(travaTrabalho_);
            respostas_.push_back(Resposta{t.console, std::move(bytes)});
        }
        const std::uint64_t um = 1;
        (void)!::write(acorda_, &um, sizeof um);
    }
}

// ---- the server thread ----

void ServidorStatus::Corpo() {
    Nucleo& n = *nucleo_;
    using Console = Nucleo::Console;
    using Relogio = std::chrono::steady_clock;
    n.proximoTique = Relogio::now() + kIntervaloEnvio;

    auto atualizaEventos = [&](Console& c) {
        std::uint32_t ev = 0;
        if (c.pedidos.size() < kMaxPedidosEspera && c.Pendente() < kSaidaSuave) ev |= EPOLLIN;
        if (c.Pendente() > 0) ev |= EPOLLOUT;
        if (ev == c.eventos) return;
        epoll_event e{};
        e.events = ev;
        e.data.u64 = c.id;
        ::epoll_ctl(n.epoll.get(), EPOLL_CTL_MOD, c.fd.get(), &e);
        c.eventos = ev;
    };

    auto fecha = [&](std::uint64_t id) {
        auto it = n.consoles.find(id);
        if (it == n.consoles.end()) return;
        ::epoll_ctl(n.epoll.get(), EPOLL_CTL_DEL, it->second->fd.get(), nullptr);
        n.consoles.erase(it);
        consoles_ = n.consoles.size();
        if (n.consoles.empty()) log_.DefineConsoleConectado(false);
    };

    // Writes what the socket takes now; false when the console must close.
    auto escreve = [&](Console& c) {
        while (c.Pendente() > 0) {
            const ssize_t k = ::send(c.fd.get(), c.saida.data() + c.enviado, c.Pendente(),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k > 0) {
                c.enviado += static_cast<std::size_t>(k);
                continue;
            }
            if (k < 0 && errno == EINTR) continue;
            if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            return false;
        }
        if (c.enviado == c.saida.size()) {
            c.saida.clear();
            c.enviado = 0;
        } else if (c.enviado >= kLote && c.enviado * 2 > c.saida.size()) {
            c.saida.erase(0, c.enviado);
            c.enviado = 0;
        }
        if (c.Pendente() <= kSaidaSuave) c.atrasadoDesde.reset();
        if (c.Pendente() == 0) c.isento = false;
        return true;
    };

    auto excedeu = [&](Console& c) {
        if (c.Pendente() <= kLimiteSaida) return false;
        log_.Log(LogInfo, false,
                 log_.Traduz("Console desconectado por não receber os dados") + ": " + c.endereco);
        return true;
    };

    // Answers what the console asked, in order, until a download request
    // waits on the worker.
    auto processaPedidos = [&](Console& c) {
        while (!c.aguardandoTrabalhador && !c.pedidos.empty()) {
            const status::Pedido p = c.pedidos.front();
            c.pedidos.pop_front();
            try {
                if (p.tipo == status::TipoPedido::Status) {
                    c.saida += status::LinhaResposta(acesso_.status ? acesso_.status() : "");
                } else if (p.tipo == status::TipoPedido::Download) {
                    if (p.codigo <= 0) {
                        c.saida += status::LinhaDownload(status::RespostaDownload::NOK);
                    } else {
                        {
                            std::lock_guard lock(travaTrabalho_);
                            trabalhos_.push_back(Trabalho{c.id, static_cast<int>(p.codigo)});
                        }
                        condTrabalho_.notify_one();
                        c.aguardandoTrabalhador = true;
                        continue;  // the worker wakes the main loop once it has answered
                    }
                }
            } catch (const std::exception& e) {
                try {
                    c.saida += status::LinhaResposta(e.what());
                } catch (...) {
                }
            }
            if (acesso_.desperta) acesso_.desperta();
        }
    };

    // Hands the taken lines to every console in batches, writing between
    // batches, while no draining console is too far behind.
    auto distribui = [&] {
        const auto agora = Relogio::now();
        std::vector<std::uint64_t> fechar;
        while (!n.pendentes.empty()) {
            if (n.consoles.empty()) {
                n.pendentes.clear();
                n.bytesPendentes = 0;
                break;
            }
            bool segura = false;
            for (auto& [id, c] : n.consoles) {
                if (c->isento || c->Pendente() <= kSaidaSuave) continue;
                if (!c->atrasadoDesde) c->atrasadoDesde = agora;
                if (agora - *c->atrasadoDesde >= kToleranciaAtraso)
                    c->isento = true;
                else
                    segura = true;
            }
            if (segura) break;
            std::string lote;
            while (!n.pendentes.empty() && lote.size() < kLote) {
                lote += n.pendentes.front();
                n.bytesPendentes -= n.pendentes.front().size();
                n.pendentes.pop_front();
            }
            for (auto& [id, c] : n.consoles) {
                if (c->fechar) continue;
                c->saida += lote;
                if (excedeu(*c) || !escreve(*c)) {
                    c->fechar = true;
                    fechar.push_back(id);
                }
            }
            for (auto id : fechar) fecha(id);
            fechar.clear();
        }
        for (auto& [id, c] : n.consoles) atualizaEventos(*c);
    };

    auto tique = [&] {
        if (!n.fila) return;
        auto itens = n.fila->RetiraTodos();
        if (n.consoles.empty()) return;  // sent to nobody
        for (auto& item : itens) {
            std::string linha = status::LinhaPush(item.FTexto);
            n.bytesPendentes += linha.size();
            n.pendentes.push_back(std::move(linha));
        }
    };

    auto aceita = [&] {
        for (;;) {
            sockaddr_in de{};
            socklen_t tam = sizeof de;
            const int fd = ::accept4(n.escuta.get(), reinterpret_cast<sockaddr*>(&de), &tam,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    // Out of descriptors or memory: stop accepting for a moment
                    // instead of spinning on a listener that stays readable.
                    ::epoll_ctl(n.epoll.get(), EPOLL_CTL_DEL, n.escuta.get(), nullptr);
                    n.escutaSuspensaAte = Relogio::now() + std::chrono::milliseconds(100);
                }
                return;
            }
            Descritor d(fd);
            if (n.consoles.size() >= kMaxConsoles) {
                log_.Log(LogInfo, false,
                         log_.Traduz("Console recusado, limite de conexões atingido") + ": " +
                             Endereco(de));
                continue;
            }
            const int um = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kBufferEnvio, sizeof kBufferEnvio);
            auto c = std::make_unique<Console>();
            c->id = n.proximoId++;
            c->endereco = Endereco(de);
            c->eventos = EPOLLIN;
            epoll_event e{};
            e.events = c->eventos;
            e.data.u64 = c->id;
            if (::epoll_ctl(n.epoll.get(), EPOLL_CTL_ADD, fd, &e) != 0) continue;
            c->fd = std::move(d);
            n.consoles.emplace(c->id, std::move(c));
            consoles_ = n.consoles.size();
            log_.DefineConsoleConectado(true);
        }
    };

    // Reads what arrived; false when the console left or failed.
    auto le = [&](Console& c) {
        char buf[16 * 1024];
        std::vector<status::Pedido> novos;
        for (int voltas = 0; voltas < 4; ++voltas) {
            const ssize_t k = ::recv(c.fd.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (k == 0) return false;
            if (k < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return false;
            }
            novos.clear();
            c.leitor.Recebe({buf, static_cast<std::size_t>(k)}, novos);
            // Before the start completed and after a stop, requests are read
            // and dropped: the connection stays open but silent.
            if (acesso_.executando && acesso_.executando())
                c.pedidos.insert(c.pedidos.end(), novos.begin(), novos.end());
            if (c.pedidos.size() >= kMaxPedidosEspera) break;
        }
        return true;
    };

    auto recolheRespostas = [&] {
        std::deque<Resposta> prontas;
        {
            std::lock_guard lock(travaTrabalho_);
            prontas.swap(respostas_);
        }
        for (auto& r : prontas) {
            auto it = n.consoles.find(r.console);
            if (it == n.consoles.end()) continue;
            Console& c = *it->second;
            c.saida += r.bytes;
            c.aguardandoTrabalhador = false;
            processaPedidos(c);
            if (excedeu(c) || !escreve(c))
                fecha(r.console);
            else
                atualizaEventos(c);
        }
    };

    epoll_event eventos[64];
    while (!parar_) {
        const auto agora = Relogio::now();
        if (n.escutaSuspensaAte && agora >= *n.escutaSuspensaAte) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u64 = kIdEscuta;
            ::epoll_ctl(n.epoll.get(), EPOLL_CTL_ADD, n.escuta.get(), &e);
            n.escutaSuspensaAte.reset();
        }
        if (agora >= n.proximoTique || enviarJa_.exchange(false)) {
            n.proximoTique = agora + kIntervaloEnvio;
            tique();
            distribui();
        }
        auto espera =
            std::chrono::duration_cast<std::chrono::milliseconds>(n.proximoTique - Relogio::now());
        const int limite = static_cast<int>(std::max<long long>(0, espera.count()) + 1);
        const int k = ::epoll_wait(n.epoll.get(), eventos, 64, limite);
        if (k < 0) {
            if (errno == EINTR) continue;
            break;
        }
        bool progresso = false;
        for (int i = 0; i < k; ++i) {
            const std::uint64_t id = eventos[i].data.u64;
            if (id == kIdAcorda) {
                std::uint64_t v;
                (void)!::read(n.acorda.get(), &v, sizeof v);
                continue;
            }
            if (id == kIdEscuta) {
                aceita();
                continue;
            }
            auto it = n.consoles.find(id);
            if (it == n.consoles.end()) continue;
            Console& c = *it->second;
            const std::uint32_t ev = eventos[i].events;
            bool ok = true;
            if (ev & (EPOLLIN | EPOLLHUP | EPOLLERR)) ok = le(c);
            if (ok) {
                processaPedidos(c);
                const std::size_t antes = c.Pendente();
                ok = !excedeu(c) && escreve(c);
                if (c.Pendente() < antes) progresso = true;
            }
            if (ok)
                atualizaEventos(c);
            else
                fecha(id);
        }
        recolheRespostas();
        if (progresso && !n.pendentes.empty()) distribui();
    }

    // Stop: every console is dropped with its buffers.
    n.consoles.clear();
    consoles_ = 0;
    log_.DefineConsoleConectado(false);
    n.escuta.Fecha();
}
