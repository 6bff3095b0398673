#pragma once
// The recording service's own log: the monthly file GRV<yyyymm>.LOG in the
// program folder, the lines pushed to connected consoles and the error lines
// that become history rows, plus the cleanup of old monthly logs.
//
// One object per service, shared by every thread that reports something.
// Log() is callable from any thread; it holds TravaLog (trava_) for the whole
// call, so the lines of concurrent callers never interleave and each line's
// queue entries follow file order. Lock order: trava_ first, then a queue's own
// lock; nothing here calls back into the log while holding a queue lock.
//
// The folder and the clock are handed in so tests can use their own.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "common/LinhaLog.h"
#include "common/db/OperacaoHistorico.h"
#include "service/MsgVeruzadu.h"
#include "service/TemposLimpezaLog.h"

// Levels of a log line (LogSempre, LogInfo, LogErro, LogPABX, LogSDCard) come
// from common/Configuracao.h; a line of level L is handled when (L & mask) == L.

class LogServico final {
  public:
    using Relogio = std::function<DataHora()>;
    using Tradutor = std::function<std::string(std::string_view)>;

    // pasta: the program folder (PastaPrograma). relogio: local time source.
    explicit LogServico(std::filesystem::path pasta, Relogio relogio = Agora);
    LogServico(const LogServico&) = delete;
    LogServico& operator=(const LogServico&) = delete;

    // MascaraLog: bit 1 is always set by the reader of the configuration;
    // 0 (the value before the start) lets nothing through.
    void DefineMascara(std::uint16_t mascara) { mascara_.store(mascara); }
    std::uint16_t Mascara() const { return mascara_.load(); }

    // The queues and hooks exist only during parts of the service's life;
    // handing in null releases them. Each is swapped under TravaLog.
    void DefineFilaConsole(std::shared_ptr<FilaMensagens> fila);
    void DefineFilaLogBD(std::shared_ptr<FilaMensagens> fila);
    // The hooks below run under TravaLog: they must not log.
    // Wakes the main loop (EventoAtividade) after every handled line.
    void DefineDespertador(std::function<void()> despertador);
    // Called after a console line was queued (enables the send timer).
    void DefineAoEnfileirarConsole(std::function<void()> aviso);
    // Translator of the fixed texts this object and BancoServico log
    // themselves; the service hands in Traduz (tests keep the identity, so
    // they write no language file).
    void DefineTradutor(Tradutor tradutor);

    // ConsoleConectado: set by the status server while a console is connected.
    void DefineConsoleConectado(bool conectado) { consoleConectado_.store(conectado); }
    bool ConsoleConectado() const { return consoleConectado_.load(); }

    // TServicoVeruzaduQuv.Log. CR and LF inside the text become blanks, so a
    // line stays one line in the file and in the status protocol.
    void Log(std::uint16_t nivel, bool console, std::string_view texto);
    // The same, but the line never becomes a history row: used by the history
    // writer for its own failures, which would otherwise feed themselves.
    void LogSemHistorico(std::uint16_t nivel, bool console, std::string_view texto);
    // Queues a whole console line that a worker built itself (its own
    // "LOG;PABX<nnn>;" prefix) when a console is connected; CR and LF become
    // blanks. Nothing is written to the service's file.
    void EnfileiraConsole(std::string_view linha);

    // RealizaLimpezaLog: deletes the program folder's monthly logs
    // (GRV<yyyymm>.LOG, GRE<yyyymm>.LOG, any case) older than the previous
    // month. Gives the number of files deleted.
    int RealizaLimpezaLog();
    DataHora UltimaLimpezaLog() const;
    void DefineUltimaLimpezaLog(const DataHora& quando);

    // The unit folders' own cleanup times (key: unit code), for the download
    // threads' daily cleanup.
    TemposLimpezaLog& TemposLimpeza() { return temposLimpeza_; }

    const std::filesystem::path& Pasta() const { return pasta_; }
    DataHora AgoraLocal() const { return relogio_(); }
    std::string Traduz(std::string_view texto) const;
    // Path of the service's log file for the month of `quando`.
    std::filesystem::path ArquivoDoMes(const DataHora& quando) const;

  private:
    void Registra(std::uint16_t nivel, bool console, std::string_view texto, bool historico);
    bool EscreveLinha(const DataHora& quando, std::string_view texto);

    const std::filesystem::path pasta_;
    const Relogio relogio_;
    std::atomic<std::uint16_t> mascara_{0};
    std::atomic<bool> consoleConectado_{false};

    // TravaLog: serialises Log() and guards everything below.
    mutable std::mutex trava_;
    std::shared_ptr<FilaMensagens> filaConsole_;
    std::shared_ptr<FilaMensagens> filaLogBD_;
    std::function<void()> despertador_;
    std::function<void()> aoEnfileirarConsole_;
    Tradutor tradutor_;
    std::string mesArquivo_;         // "yyyymm" of arquivo_
    std::filesystem::path arquivo_;  // file in use for that month
    bool falhaAvisada_ = false;      // a failed write was said on stderr

    mutable std::mutex travaLimpeza_;  // guards ultimaLimpeza_
    DataHora ultimaLimpeza_;
    TemposLimpezaLog temposLimpeza_;
};

// Pure rules of the log, exposed for tests and for the threads' own logs.
// LinhaLog (common/LinhaLog.h) gives the line form.
// The month one month back from `hoje` (day clamped), as "yyyymm".
std::string LimiteLimpezaLog(const DataHora& hoje);
// True when `nome` is GRV<yyyymm>.LOG or GRE<yyyymm>.LOG (any case) with
// yyyymm below `limite`; no other name is ever removable.
bool LogRemovivel(std::string_view nome, std::string_view limite);
