#pragma once
// TCPServerGRV: the status server through which consoles ask for the
// service's status and for an immediate download of one unit, and through
// which the service pushes its log lines to every connected console.
//
// One thread of its own runs an epoll loop over a non-blocking listener (every
// IPv4 address, SO_REUSEADDR), the consoles (one input and one output buffer
// each, non-blocking writes) and an eventfd that wakes and stops it. The
// 500 ms console-line tick runs on that thread: it takes the queued lines,
// holding the queue's lock only for the take, and appends them to each
// console's output buffer. Download requests run on a second thread, the
// worker, so a slow database never holds up the pushes; a console's later
// requests wait for its download answer, so its replies keep request order.
//
// No lock is held across a socket write. A console whose unsent output passes
// kLimiteSaida is closed (level-2 line naming it); a failed write closes that
// console only. At most kMaxConsoles are served; one more is closed at once.
// ConsoleConectado (LogServico) is set while at least one console is connected.
//
// Ownership: the service owns the server; the log and the functions in
// AcessoServidorStatus must outlive it or its Para(). Abre, Para and the
// destructor are called from the service thread; EnviaFilaAgora and the
// observers from any thread. The handed-in functions run on the worker
// (estaNaLista, pedeDownload) or on the server thread (the others), never
// under a lock of the server's.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/LogServico.h"
#include "service/MsgVeruzadu.h"

// What VerificaDownloadPedidoUsuario found: the unit's run was listed now, was
// listed already, the unit has no PABX row, or the lookup failed.
enum class ResultadoPedidoDownload { Listado, JaListado, UnidadeInexistente, Falhou };

// The service's side of the requests, handed in by the service.
struct AcessoServidorStatus {
    // Executando: requests are answered only while it gives true.
    std::function<bool()> executando;
    // GetStatusVeruzadu: the status reply without its line end.
    std::function<std::string()> status;
    // EstaNaListaPABXDownFTP, after the finished runs were freed.
    std::function<bool(int)> estaNaLista;
    // VerificaDownloadPedidoUsuario: lists the unit's run (one locked add).
    std::function<ResultadoPedidoDownload(int)> pedeDownload;
    // Sets EventoAtividade, after every request handled.
    std::function<void()> desperta;
};

class ServidorStatus final {
  public:
    static constexpr std::size_t kMaxConsoles = 256;
    static constexpr std::size_t kLimiteSaida = 1024 * 1024;
    static constexpr std::chrono::milliseconds kIntervaloEnvio{500};

    ServidorStatus(LogServico& log, AcessoServidorStatus acesso);
    ~ServidorStatus();
    ServidorStatus(const ServidorStatus&) = delete;
    ServidorStatus& operator=(const ServidorStatus&) = delete;

    // Opens the listener on `porta` (0: any free port) and starts the threads;
    // the lines of `fila` are pushed from then on. False, with the system's
    // message in `erro`, when the port cannot be opened; nothing then runs.
    bool Abre(std::uint16_t porta, std::shared_ptr<FilaMensagens> fila, std::string& erro);
    // As Abre; when the port cannot be opened, it is tried again in the
    // background after 1 s, then after twice the previous wait, at most
    // kEsperaMaxima apart, until it opens or Para is called. `aoAbrir` runs
    // (on the retrying thread) when a later try opens it.
    bool AbreComNovasTentativas(std::uint16_t porta, std::shared_ptr<FilaMensagens> fila,
                                std::string& erro, std::function<void()> aoAbrir = {});
    static constexpr std::chrono::seconds kEsperaMaxima{60};
    // Closes the listener and every console and joins every thread (also the
    // retrying one). Safe to call more than once and when Abre failed.
    void Para();
    // The port is not open yet and is being tried again.
    bool Tentando() const { return tentando_.load(); }

    bool Ativo() const { return ativo_.load(); }
    std::uint16_t PortaLocal() const { return portaLocal_.load(); }
    std::size_t Consoles() const { return consoles_.load(); }
    // Runs the push tick now instead of at its next 500 ms mark. Must not
    // race with Para.
    void EnviaFilaAgora();

  private:
    struct Nucleo;
    bool AbreNucleo(std::uint16_t porta, std::shared_ptr<FilaMensagens> fila, std::string& erro);
    void ParaServidor();
    void ParaTentativas();
    void Corpo();
    void CorpoTrabalhador();

    LogServico& log_;
    const AcessoServidorStatus acesso_;
    std::atomic<bool> ativo_{false};
    std::atomic<std::uint16_t> portaLocal_{0};
    std::atomic<std::size_t> consoles_{0};
    std::atomic<bool> parar_{false};
    std::atomic<bool> enviarJa_{false};

    // The server thread's state (sockets, buffers), touched only by that
    // thread once it runs; created by Abre, released by Para after the join.
    std::unique_ptr<Nucleo> nucleo_;
    std::thread thread_;

    // Worker queue: download requests in, answers out. travaTrabalho_ guards
    // trabalhos_, respostas_ and pararTrabalhador_; it is never held while a
    // handed-in function runs or a socket is touched.
    struct Trabalho {
        std::uint64_t console;
        int codigo;
    };
    struct Resposta {
        std::uint64_t console;
        std::string bytes;
    };
    std::mutex travaTrabalho_;
    std::condition_variable condTrabalho_;
    std::deque<Trabalho> trabalhos_;
    std::deque<Resposta> respostas_;
    bool pararTrabalhador_ = false;
    std::thread trabalhador_;
    // The eventfd, owned by nucleo_; written by the worker and EnviaFilaAgora.
    std::atomic<int> acorda_{-1};

    // Retrying a port that could not be opened. travaTentativa_ guards
    // pararTentativas_; the thread is joined by Para before anything else.
    std::mutex travaTentativa_;
    std::condition_variable condTentativa_;
    bool pararTentativas_ = false;
    std::atomic<bool> tentando_{false};
    std::thread tentativas_;
};
