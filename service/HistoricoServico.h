#pragma once
// The history rows the service writes to LOGHISTORY: the start and stop rows
// written directly, and the error lines queued by the log (FilaLogBD), written
// one per main-loop pass.
//
// A queued row leaves the queue only once it is stored. While the database
// cannot be reached the row stays at the head and the next attempts are spaced
// out (1 s doubling up to 60 s); the writer's own failure lines go to the log
// file and the consoles' queue but never become rows themselves. A row the
// server refuses for any other reason is dropped after its line is logged.
//
// GravaLogEmBancoDados is called by the main loop only; GravaMensagemLogBD may
// run on any thread (each call has its own connection).

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "service/BancoServico.h"
#include "service/MsgVeruzadu.h"

enum class ResultadoHistorico { Gravado, Indisponivel, Recusado };

// The detail as stored: every "(" and ")" removed, cut to 120 characters,
// characters the database's character set lacks replaced by '?'.
std::string DetalheHistorico(std::string_view texto);

class HistoricoServico final {
  public:
    using RelogioMonotonico = std::function<std::chrono::steady_clock::time_point()>;

    explicit HistoricoServico(BancoServico& banco,
                              RelogioMonotonico relogio = std::chrono::steady_clock::now);
    HistoricoServico(const HistoricoServico&) = delete;
    HistoricoServico& operator=(const HistoricoServico&) = delete;

    // Inserts one row (code 65535 for the user, empty user name) with the
    // table's highest LOG_CODIGO plus one; a key taken meanwhile by another
    // writer is read again and the insert retried.
    ResultadoHistorico GravaMensagemLogBD(int operacao, std::string_view texto);

    // Writes the oldest row of `fila` unless a back-off is running. Gives true
    // when a row left the queue (stored or dropped).
    bool GravaLogEmBancoDados(FilaMensagens& fila);

    // The database was found unreachable and the next attempt waits.
    bool EmEspera() const;

  private:
    BancoServico& banco_;
    const RelogioMonotonico relogio_;

    mutable std::mutex trava_;  // guards the back-off state
    std::chrono::steady_clock::time_point proximaTentativa_{};
    std::chrono::milliseconds espera_{0};
};
