#pragma once
// What the database backups of the main database and of the units share: the
// period rules, the backup file names, gbak's settings and the rules of the
// service's runs of the shared gbak work (common/gbak/TrabalhoGbak.h: a
// backup that never destroys the last good one, the restore into a new file
// and the swap of a database file), and the record of interrupted work.
//
// A restore creates a new database file beside the live one, swapped in only
// after it succeeded. The swap acts on the server's files through this
// computer's file system: it is only offered when the database server runs
// here.
//
// Interrupted work: before a database is shut down or a new file is created,
// the paths are recorded in a small file in the program folder; the next
// start (and the next attempt) brings the database back online and removes
// the leftovers.
//
// Every function may be called from any thread; the functions touching one
// database must not run twice at once (the main loop runs them one at a time).
// Nothing here throws except std::bad_alloc: failures come back as false with
// the reason in `motivo`.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "common/gbak/TrabalhoGbak.h"

// CFG_DBBACKUP periods.
inline constexpr int BackupDiario = 1;
inline constexpr int BackupSemanal = 2;
inline constexpr int BackupMensal = 3;

// Whole days, weeks and 30.4375-day months in the absolute difference.
long long DiasEntre(const DataHora& a, const DataHora& b);
long long SemanasEntre(const DataHora& a, const DataHora& b);
long long MesesEntre(const DataHora& a, const DataHora& b);
// Whether a backup of period `periodo` is due; an empty last backup (never)
// makes every period due, any other period value is never due.
bool BackupVencido(int periodo, const DataHora& ultimo, const DataHora& agoraServidor);

// "veruzadu_yyyymmdd.gbk" and "grvpab<nnn>_yyyymmdd.gbk" of a local date.
std::string NomeBackupPrincipal(const DataHora& data);
std::string NomeBackupUnidade(int codigo, const DataHora& data);

// Whether the database server named in [BD] Server ("host" or "host/port",
// leading backslashes allowed) is this computer: its name, an address of it,
// IPConectado or localhost.
bool ServidorNesteComputador(const std::string& servidor, const std::string& ipConectado);

// gbak's status file: pasta + the configured name; empty when the name is
// empty or leaves the folder ("/", "\" or ".."), which sets `recusado`.
std::string ArquivoStatusGbak(const std::string& pasta, const std::string& nome, bool& recusado);

// Who and where for gbak and for the services manager.
struct ContaGbak {
    std::string servidor;  // as [BD] Server gives it
    std::string usuario;
    std::string senha;
    std::string pastaGbak;  // empty: the wrapper's lookup ([Firebird] Bin, PATH)
    // A gbak that runs longer is ended ([Veruzadu] TempoLimiteGbak); zero: no limit.
    std::chrono::seconds tempoLimite{0};
    // Answers true when the work must stop (the service stopping): gbak is
    // then ended at once. May be empty.
    std::function<bool()> interrompe;
};

// The settings every backup and restore uses: TCP/IP, the server without
// leading backslashes and upper-cased, every switch off, transportable
// format, read-write restore; a status file turns Verbose and OverWriteStatFile on;
// the account's time limit and stop check.
void ConfiguraGbak(TvekIbGbak& gbak, const ContaGbak& conta, const std::string& arquivoStatus);

// The rules of the service's gbak runs: ConfiguraGbak with `conta`, the
// service's messages and restore, the status file kept.
RegraGbak RegraServico(const ContaGbak& conta);

// The destination folder is created when missing; false when it or a mount
// point above it is not ready (an fstab mount point that is not mounted) or it
// cannot be written.
bool PreparaDestino(const std::string& pasta, std::string& motivo);

// The temporary name a backup is written under before it becomes `final`.
std::filesystem::path ArquivoTemporarioBackup(const std::filesystem::path& final);
// The name of the new file a restore creates beside `viva`.
std::filesystem::path ArquivoNovoBanco(const std::filesystem::path& viva);

// The record of work that must not be left half done.
class TrabalhoPendente final {
  public:
    explicit TrabalhoPendente(std::filesystem::path pastaPrograma);

    // Records the database that may be left shut down and the files that
    // are leftovers if the work is interrupted.
    bool Registra(const std::string& bancoServidor, const std::filesystem::path& novo,
                  const std::filesystem::path& temporario);
    // The work ended (whatever its outcome) and has cleaned up after itself.
    void Conclui();
    bool Existe() const;
    // Brings the recorded database back online and removes the leftovers;
    // the record stays when the server cannot be reached. `relato` gets what
    // was done, for the log.
    bool Recupera(const ContaGbak& conta, std::string& relato);

  private:
    RegistroPendente registro_;
};
