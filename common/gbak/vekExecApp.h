#pragma once
// TVekExecApp: starts one external program with an argument vector (never a
// shell), optionally waits for it, and reports how it ended. The database
// backup wrapper runs gbak through it.
//
// The object owns the process it started: with `Wait` set, destroying the
// object while that program still runs ends it; without `Wait` the program
// is left running and reaped in the background. One object belongs to one
// thread at a time.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/Processos.h"

// Window show modes of the started program. On Linux they carry no meaning
// for the program (it gets no window); the code is kept for callers that
// log or compare it.
enum class TShow {
    SHOW,
    HIDE,
    MAXIMIZE,
    MINIMIZE,
    RESTORE,
    SHOWDEFAULT,
    SHOWMAXIMIZED,
    SHOWMINIMIZED,
    SHOWMINNOACTIVE,
    SHOWNA,
    SHOWNOACTIVATE,
    SHOWNORMAL,
};

// The numeric show code of a mode (SHOW 5, HIDE 0, ...).
int CodigoShow(TShow modo);

class TVekExecApp final {
  public:
    // Value of ExitCode before the started program has ended.
    static constexpr int SemCodigo = 99999;
    // Values of Error.
    static constexpr int ErroNenhum = 0;       // started
    static constexpr int ErroInicio = 1;       // the program could not be started
    static constexpr int ErroSemPrograma = 9;  // no ApplicationName

    TVekExecApp();
    ~TVekExecApp();
    TVekExecApp(const TVekExecApp&) = delete;
    TVekExecApp& operator=(const TVekExecApp&) = delete;

    // A path, or a bare name looked up in PATH.
    std::string ApplicationName;
    // Arguments after the program name, each passed byte for byte.
    std::vector<std::string> Param;
    bool Wait = false;
    // Where the program's standard output and error go (created 0600,
    // truncated); empty: they are inherited. Standard input is /dev/null
    // unless DescritorEntrada is set, so a program that prompts cannot hang.
    std::filesystem::path ArquivoSaida;
    // One end of a pipe the program reads as its standard input, or writes as
    // its standard output (its error output still goes to ArquivoSaida); -1:
    // none. The descriptor stays the caller's (close it after Execute).
    int DescritorEntrada = -1;
    int DescritorSaida = -1;
    // Called every 100 ms while WaitForExit waits (the console passes its
    // event-loop pump here); may be empty.
    std::function<void()> ProcessaMensagens;
    // WaitForExit ends the program (SIGKILL) once it has run this long
    // (zero: no limit), or as soon as Interrompe answers true (checked every
    // 100 ms; may be empty).
    std::chrono::milliseconds TempoLimite{0};
    std::function<bool()> Interrompe;

    void SetShowWindow(TShow modo);
    TShow ShowWindow() const { return show_; }
    int CodigoShowWindow() const { return CodigoShow(show_); }

    int ExitCode() const { return exitCode_; }
    int Error() const { return error_; }
    // errno of a failed start, 0 otherwise.
    int ErroSistema() const { return erroSistema_; }
    // The last wait ended the program: its time limit was reached, or it
    // was interrupted.
    bool Excedido() const { return excedido_; }
    bool Interrompido() const { return interrompido_; }
    pid_t ProcessId() const { return filho_.Pid(); }

    // Starts the program; with Wait also waits for it. False when a program
    // started before still runs, when ApplicationName is empty (Error 9) or
    // when the start failed (Error 1).
    bool Execute();
    // Blocks until the started program has ended and sets ExitCode: its exit
    // status, or 128 + the signal number when a signal ended it.
    void WaitForExit();
    // Ends the started program at once; ExitCode keeps its value.
    void Terminate();
    // True while the started program has not ended.
    bool EmExecucao();

  private:
    // Takes the status of an ended program into ExitCode.
    void Registra(int status);

    TShow show_ = TShow::SHOW;
    int exitCode_ = SemCodigo;
    int error_ = ErroNenhum;
    int erroSistema_ = 0;
    bool excedido_ = false;
    bool interrompido_ = false;
    ProcessoFilho filho_;
};
