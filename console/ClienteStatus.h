#pragma once
// ClienteStatus: the console's TCP client of the service's status server.
//
// The socket lives on a thread of its own (its own event loop), which reads
// the replies, cuts them into lines (CR or LF ends a line; bytes without an
// end wait for the rest; a line past 64 KiB is dropped to its end and written
// to the console log) and reads each line as the protocol library does. What
// it finds reaches the main thread through queued calls, each tagged with the
// number of the connection it came from: the main side hands on only those of
// the connection open now, so nothing of a closed connection ever reaches a
// later one. Log lines are dropped on the reader's thread while nobody shows
// them (RecebeLog off), so a flood of them costs no memory.
//
// Opening is bounded at 5 s (name resolution included: a host name is looked
// up off the event loop, IPv4 only). The bytes are Latin-1 on the wire;
// everything handed to the main thread is UTF-8.
//
// Created, used and destroyed on the main thread; the handlers run there.
// The destructor closes the connection and ends the thread (bounded wait).
// Nothing here throws but std::bad_alloc.

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/status/ProtocoloStatus.h"

class QObject;
class QThread;
struct TrabalhoStatus;

class ClienteStatus final {
  public:
    // The handlers, run on the main thread for the connection open now.
    struct Eventos {
        std::function<void(int conexao)> conectado;
        // The connection could not be opened (refused, no route, time out).
        std::function<void(int conexao, const std::string& erro)> falhou;
        // An open connection was closed by the peer or failed.
        std::function<void(int conexao)> fechado;
        // The lines read in one go, in order (log lines only while RecebeLog).
        std::function<void(int conexao, const std::vector<status::Resposta>& respostas)> respostas;
    };

    static constexpr int kLimiteConexaoMs = 5000;

    explicit ClienteStatus(Eventos eventos);
    ~ClienteStatus();
    ClienteStatus(const ClienteStatus&) = delete;
    ClienteStatus& operator=(const ClienteStatus&) = delete;

    // Closes the connection open now, if any, and opens one to host:porta (an
    // IPv4 address or a host name). Gives the new connection's number.
    int Abre(const std::string& host, std::uint16_t porta);
    // Closes the connection open now; its events are dropped from here on.
    void Fecha();
    // Connected and not closed, as the main thread knows it.
    bool Aberto() const { return conexao_ != 0 && conectado_; }
    // The number of the connection open (or opening) now; 0 when none.
    int Conexao() const { return conexao_; }
    // Writes the bytes on the open connection; false when none is open.
    bool Envia(const std::string& bytes);

    // Whether log lines are handed on (the live log shows them) or dropped.
    void RecebeLog(bool sim) { recebeLog_->store(sim); }
    // Log lines dropped while RecebeLog was off, and lines dropped for their
    // length, since the client was made.
    long long LogsDescartados() const { return logsDescartados_->load(); }
    long long LinhasLongasDescartadas() const { return linhasLongas_->load(); }

  private:
    Eventos eventos_;
    int conexao_ = 0;
    int ultimo_ = 0;
    bool conectado_ = false;
    std::shared_ptr<std::atomic<bool>> recebeLog_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<long long>> logsDescartados_ =
        std::make_shared<std::atomic<long long>>(0);
    std::shared_ptr<std::atomic<long long>> linhasLongas_ =
        std::make_shared<std::atomic<long long>>(0);
    // Receives the queued calls on the main thread; destroyed first, so a
    // call still queued when the client goes is dropped.
    std::unique_ptr<QObject> receptor_;
    std::unique_ptr<QThread> thread_;
    // Lives on thread_; only touched there.
    std::shared_ptr<TrabalhoStatus> trabalho_;
};
