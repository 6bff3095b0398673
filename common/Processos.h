#pragma once
// This computer and the programs it runs: the computer's name and local
// addresses, and running external programs (ExecutaProcesso, and
// ProcessoFilho for one that runs alongside us). Every helper reports failure
// through its result (false, -1 or an empty text) and may be called from any
// thread.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// Short host name (up to the first '.') in upper case; empty when unknown.
std::string NomeComputador();

// The IPv4 addresses of the running interfaces in dotted form: every
// non-loopback address first, in interface order, then the loopback ones
// (127.0.0.1). Empty when the interfaces cannot be listed.
std::vector<std::string> ListaIPs();
// The first entry of ListaIPs, or "127.0.0.1" when there is none.
std::string IPLocal();

// Runs a program with an argument vector (argumentos[0] is the program: a path,
// or a name looked up in PATH) and waits for it without a time limit. No shell
// is involved, so every argument reaches the program byte for byte. Returns the
// exit code; -1 when the program cannot be started or its end cannot be
// collected (SIGCHLD ignored by someone); 128 + the signal number
// when a signal ended it (never 0, so a killed program is never taken for a
// success).
int ExecutaEAguarda(const std::vector<std::string>& argumentos);

struct OpcoesProcesso {
    std::filesystem::path pasta;          // working folder; empty keeps ours
    std::vector<std::string> ambiente;    // "NAME=value" set in the child's environment
    std::filesystem::path saida;          // stdout and stderr to this file; empty inherits
    std::chrono::milliseconds limite{0};  // ExecutaProcesso only. 0: no limit; else
                                          // SIGTERM, 2 s later SIGKILL
    unsigned modoSaida = 0640;            // permissions of a `saida` file it creates
    bool grupoProprio = true;             // a process group of its own, signalled as a whole
    bool novaSessao = false;              // a session of its own (a daemon): implies its own
                                          // group and no controlling terminal
    int entrada = -1;                     // stdin from this descriptor (one end of a pipe);
                                          // -1: /dev/null
    int saidaPadrao = -1;                 // stdout to this descriptor (stderr still follows
                                          // `saida`); -1: as `saida` says
};

struct ResultadoProcesso {
    bool iniciado = false;
    int codigoSaida = -1;  // valid when the program exited by itself
    int sinal = 0;         // signal that ended it, 0 when it exited
    bool tempoEsgotado = false;
    bool Sucesso() const { return iniciado && sinal == 0 && !tempoEsgotado && codigoSaida == 0; }
};

// The general form of ExecutaEAguarda. The child gets standard input from
// /dev/null (or `entrada`), no descriptor of ours beyond stdout and stderr, an empty signal
// mask and default signal dispositions, and a process group of its own (the
// whole group is ended when the limit passes).
ResultadoProcesso ExecutaProcesso(const std::vector<std::string>& argumentos,
                                  const OpcoesProcesso& opcoes = {});

// One child process, started without waiting for it. The child gets what
// ExecutaProcesso describes (stdin from /dev/null, no descriptor of ours beyond
// stdout and stderr, empty signal mask, default dispositions), the folder,
// environment and output file of the options, and a process group or session
// of its own when they ask for one; `limite` is not used here.
//
// The object owns the child until it has collected its end: destroying it (or
// assigning another over it) while the child runs kills the child (SIGKILL to
// its group when it has one) and reaps it, so no zombie is left behind, unless
// Solta let the child go first. One object belongs to one thread at a time.
class ProcessoFilho final {
  public:
    // The status Terminou and Aguarda give when the child's end could not be
    // collected (SIGCHLD ignored, reaped elsewhere): its result is unknown.
    // Never a valid wait status, so test for it before WIFEXITED and friends.
    static constexpr int StatusPerdido = -1;

    ProcessoFilho() = default;
    // Starts argumentos[0] (a path, or a name looked up in PATH) with the
    // arguments byte for byte; check Iniciado.
    explicit ProcessoFilho(const std::vector<std::string>& argumentos,
                           const OpcoesProcesso& opcoes = {});
    ~ProcessoFilho();
    ProcessoFilho(ProcessoFilho&& outro) noexcept;
    ProcessoFilho& operator=(ProcessoFilho&& outro) noexcept;
    ProcessoFilho(const ProcessoFilho&) = delete;
    ProcessoFilho& operator=(const ProcessoFilho&) = delete;

    // True when the start succeeded (the child may have ended since).
    bool Iniciado() const { return iniciado_; }
    // errno of a failed start, 0 otherwise.
    int Erro() const { return erro_; }
    // The child while it runs or has not been collected yet; -1 otherwise.
    int Pid() const { return pid_; }

    // Without blocking: true once the child has ended, with its wait status
    // (or StatusPerdido) in `status`. Also true for an object with no child.
    bool Terminou(int& status);
    // Blocks until the child ends; always true.
    bool Aguarda(int& status);
    // Blocks until the child ends or `limite` passes; false on time-out.
    bool Aguarda(std::chrono::milliseconds limite, int& status);
    // Sends a signal to the child's group (when it has one of its own) or to
    // the child. False when there is no child or the signal cannot be sent.
    bool Sinaliza(int sinal);
    // Kills the child with SIGKILL (its group when it has one) and reaps it.
    void Termina();
    // Lets the child go: it keeps running and a background thread collects its
    // end, so it never stays a zombie. The object is left with no child.
    void Solta();

  private:
    bool Colhe(bool bloqueia);
    void Descarta();

    int pid_ = -1;
    int pidfd_ = -1;  // opened on the first wait with a limit
    int status_ = StatusPerdido;
    int erro_ = 0;
    bool iniciado_ = false;
    bool grupo_ = false;  // the child leads a group (or session) of its own
};
