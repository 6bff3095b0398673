#pragma once
// Small stateless helpers both programs share: the computer's name and local
// addresses, file and folder operations, file dates, the storage-ready test,
// well-known folders, the Firebird tools folder and running external programs
// (ExecutaProcesso, and ProcessoFilho for one that runs alongside us).
// Every helper reports failure through its result (false, -1 or an empty
// text) and may be called from any thread.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataHora.h"

class IniFile;

// Short host name (up to the first '.') in upper case; empty when unknown.
std::string NomeComputador();

// The IPv4 addresses of the running interfaces in dotted form: every
// non-loopback address first, in interface order, then the loopback ones
// (127.0.0.1). Empty when the interfaces cannot be listed.
std::vector<std::string> ListaIPs();
// The first entry of ListaIPs, or "127.0.0.1" when there is none.
std::string IPLocal();

// Drops a leading '\', then once more a new leading '\': at most two, so a
// server typed as "\\NAME" becomes "NAME".
std::string RemoveBarrasIniciais(std::string_view texto);

// Deletes the folder with everything in it. True when it does not exist.
bool ApagaPasta(const std::filesystem::path& pasta);
// The same without the existence test: a missing folder gives false.
bool ApagaPastaShell(const std::filesystem::path& pasta);

// Copies one file. The data goes to a temporary name first, so a failed copy
// leaves no partial file. With `sobrescreve` an existing destination is
// replaced; without it the existing file is kept untouched and the copy gets
// a free name beside it ("name (2).ext", "name (3).ext", ...). A destination
// that is an existing folder receives the file under its own name.
bool CopiaArquivo(const std::filesystem::path& origem, const std::filesystem::path& destino,
                  bool sobrescreve);

// A file time as a calendar date-time in UTC (no conversion to local time).
bool FileTimeParaData(std::filesystem::file_time_type tempo, DataHora& data);
// Creation (birth time, or the last write time where the file system keeps
// none), last access and last write of a file, in UTC like FileTimeParaData.
bool DatasArquivo(const std::filesystem::path& arquivo, DataHora& criacao, DataHora& acesso,
                  DataHora& escrita);
// Sets the file's last write time to `data`, taken as local time.
bool AjustaDataArquivo(const std::filesystem::path& arquivo, const DataHora& data);

// Storage ready: the path is a readable folder and, when /etc/fstab names it
// as a mount point, that file system is mounted now (an unmounted mount point
// is an empty folder on the root disk, never the storage itself).
bool DiscoPronto(const std::string& unidade);
// The same with the two tables given, for tests.
bool DiscoPronto(const std::string& unidade, const std::filesystem::path& fstab,
                 const std::filesystem::path& mountinfo);

// Well-known folders by their old numbers 0-26 (desktop, documents, data,
// cache, temporary, program files, ...) mapped onto the Linux places (XDG
// folders under $HOME, /tmp, /opt, /etc); always with a trailing "/".
// Numbers without a Linux counterpart, or out of range, give "".
std::string PastaEspecial(int numero);

// Folder of the Firebird tools (gbak) with a trailing "/": [Firebird] `Bin`
// of the given configuration file when set, else "/usr/bin/".
std::string PastaBinFirebird(const IniFile& ini);
// The same with the program's VERUZADU.INI.
std::string PastaBinFirebird();

// Unix seconds as a date-time, without time-zone conversion.
DataHora UnixParaData(std::int32_t segundos);

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

// True when the folder exists and holds no entry at all.
bool PastaVazia(const std::filesystem::path& pasta);
// Adds the folder (with a trailing "/") to `lista` when it is empty; with
// `recursivo` the same for every subfolder at any depth. Never deletes.
void ListaPastasVazias(std::vector<std::string>& lista, const std::filesystem::path& pasta,
                       bool recursivo);
// Bottom-up: every subfolder first, then the folder itself is removed when it
// has become empty. Symbolic links are never followed.
void ApagaPastasVazias(const std::filesystem::path& pasta);
