#pragma once
// TvekIbGbak: one database backup or restore made by Firebird's gbak tool.
// The caller sets the settings below, then calls Backup or Restore, which
// check them, build gbak's argument vector, run gbak (no shell) and wait for
// it: for as long as it runs unless TempoLimite or Interrompe end it first.
//
// The password never reaches gbak's command line, where any local user could
// read it: it is written to a file that only we can read, in a private
// temporary folder, handed over with -fetch_password and removed as soon as
// gbak has ended. The display form of the line (LinhaComando, for logs) reads
// like the classic gbak line with the password masked.
//
// Errors: a missing setting, an existing status file without
// OverWriteStatFile and an unsupported network protocol raise GbakErro with
// the text to show (untranslated; the caller passes it through the
// translator) and nothing is started. A gbak that cannot be found or started,
// that ends with a non-zero code, or that was ended by its time limit or an
// interruption, gives false, and Motivo() says why.
//
// With opBackup.Service / opRestore.Service gbak works through the server's
// services manager: database, backup and status files are then paths on the
// server, opened by the server's own user. Without it gbak reads and writes
// the backup and status files itself and reaches the database as
// "Server:path".
//
// The exit code is collected with waitpid: the process must not ignore
// SIGCHLD. One object belongs to one thread at a time.

#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/gbak/vekExecApp.h"

struct PreparoGbak;

class GbakErro final : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class TNetwork { npTcpIp, npSpx, npNamePipe, npLocal };
enum class TBackupType { blBytes, blKilobytes, blMegabytes, blGigabytes };
enum class TTypeTransport { ttTransportable, ttNonTransportable };
enum class TRestoreType { rtCreate, rtReplace };
enum class TModeDB { moReadWrite, moReadOnly };
// ps4196 is sent as 4196 (not 4096); the server rounds it up to 8192, and
// sizes below 4096 up to 4096.
enum class TPageSize { psNone, ps1024, ps2048, ps4196, ps8192 };

// One backup volume; FileSize with SizeType is the size of this volume when
// the backup is split over several files (ignored for the last one).
struct TvekBackupFile {
    std::string FileName;
    std::uint16_t FileSize = 0;
    TBackupType SizeType = TBackupType::blBytes;
    std::string GetDisplayName() const;
};

struct TvekRestoreFile {
    std::string FileName;
    std::string GetDisplayName() const;
};

// One database file; FileSize is its length in pages when the database is
// spread over several files: 0, or at least 200.
class TvekBddFile {
  public:
    std::string FileName;
    std::uint16_t FileSize() const { return fileSize_; }
    // Raises GbakErro for 1..199.
    void SetFileSize(std::uint16_t paginas);
    std::string GetDisplayName() const;

  private:
    std::uint16_t fileSize_ = 0;
};

// An ordered list of files. References returned by Add stay valid while
// items are only added.
template <class Item> class TvekColecao {
  public:
    Item& Add() { return itens_.emplace_back(); }
    Item& Add(Item item) { return itens_.emplace_back(std::move(item)); }
    Item& GetItem(std::size_t i) { return itens_.at(i); }
    const Item& GetItem(std::size_t i) const { return itens_.at(i); }
    std::size_t Count() const { return itens_.size(); }
    bool Vazia() const { return itens_.empty(); }
    void Clear() { itens_.clear(); }
    auto begin() const { return itens_.begin(); }
    auto end() const { return itens_.end(); }

  private:
    std::deque<Item> itens_;
};

using TvekBackupFiles = TvekColecao<TvekBackupFile>;
using TvekRestoreFiles = TvekColecao<TvekRestoreFile>;
using TvekBddFiles = TvekColecao<TvekBddFile>;

struct TOptionBackup {
    bool Convert = false;
    bool Expand = false;
    std::uint16_t Factor = 0;
    bool GarbageCollect = false;
    bool Ignore = false;
    bool Limbo = false;
    bool MetadataOnly = false;
    TTypeTransport TransportableFormat = TTypeTransport::ttTransportable;
    bool OldFormat = false;
    std::string Role;
    bool Service = false;
    bool OverWriteStatFile = false;
    std::string StatutMessageFile;
    bool Verbose = false;
};

// Buffers and PageSize exclude each other: setting one clears the other.
class TOptionRestore {
  public:
    TRestoreType RestoreType = TRestoreType::rtCreate;
    bool InactiveIndexes = false;
    bool KillShadow = false;
    TModeDB Mode = TModeDB::moReadWrite;
    bool NoValidityConstraints = false;
    bool OverWriteStatFile = false;
    std::string StatutMessageFile;
    bool UseAllSpace = false;
    bool Verbose = false;
    bool Service = false;

    std::uint16_t Buffers() const { return buffers_; }
    // Raises GbakErro for 1..49; a non-zero value sets PageSize to psNone.
    void SetBuffers(std::uint16_t buffers);
    TPageSize PageSize() const { return pageSize_; }
    // Anything but psNone sets Buffers to 0.
    void SetPageSize(TPageSize tamanho);

  private:
    std::uint16_t buffers_ = 0;
    TPageSize pageSize_ = TPageSize::psNone;
};

// The service's build and the console's build differ in their messages (and
// the console has its own restore routine, Restore(bool)).
enum class VarianteGbak { Servico, Console };

// A built gbak line: the argument vector after the program name, and its
// display form with the password masked.
struct LinhaGbak {
    std::vector<std::string> argumentos;
    std::string texto;
};

class TvekIbGbak final {
  public:
    // What the display form shows in place of the password.
    static constexpr const char* SenhaOculta = "******";

    explicit TvekIbGbak(VarianteGbak variante = VarianteGbak::Servico);
    TvekIbGbak(const TvekIbGbak&) = delete;
    TvekIbGbak& operator=(const TvekIbGbak&) = delete;

    std::string UserName;
    std::string PassWord;
    // Host of the database server, with "/port" when not the default port.
    std::string Server;
    // Folder of gbak; empty: PastaBinFirebird(), else PATH.
    std::string gBakDirectory;
    TNetwork NetworkProtocol = TNetwork::npTcpIp;
    // No window exists on Linux: kept for callers, has no effect.
    bool ShowProcess = false;
    // With a receiver set (the console's clipboard), it gets "gbak " (backup)
    // or "gBak " (restore) + the display line, password masked; the service
    // sets none, so nothing happens there.
    bool CommandLineOnClipBoard = false;
    std::function<void(const std::string&)> AreaTransferencia;
    // Passed to the runner: called every 100 ms while gbak runs.
    std::function<void()> ProcessaMensagens;
    // Passed to the runner: gbak is ended once it has run this long (zero:
    // no limit) or as soon as Interrompe answers true.
    std::chrono::milliseconds TempoLimite{0};
    std::function<bool()> Interrompe;

    TvekBackupFiles BackupFiles;
    TvekRestoreFiles RestoreFiles;
    TvekBddFiles DataBaseFiles;
    TOptionBackup opBackup;
    TOptionRestore opRestore;

    // True when gbak started and ended with exit code 0.
    bool Backup();
    // The service's restore.
    bool Restore();
    // The console's restore: with `completo`, a replace overwrites
    // ("-r o") and gbak comes from gBakDirectory; without it, a replace is
    // "-r" and gbak is looked up in PATH.
    bool Restore(bool completo);

    // A backup piped straight into a restore, for a copy nothing else needs
    // kept: this object's backup writes to its standard output (BackupFiles
    // become "stdout") and `destino`'s console restore (see Restore(bool))
    // reads it (its RestoreFiles become "stdin"). Both gbak run at once, each
    // with its own status file; no backup file is written. True only when
    // both ended with code 0; otherwise Motivo() of the one that failed says
    // why (a restore cut short by a failed backup fails as well). Raises
    // GbakErro like Backup and Restore, before anything is started.
    bool BackupRestore(TvekIbGbak& destino, bool completo);

    // Builders without side effects (the status file is not looked at).
    // `arquivoSenha` is the file named after -fetch_password; with an empty
    // PassWord no password switch is passed at all. Raise GbakErro like
    // Backup and Restore.
    LinhaGbak MontaBackup(const std::string& arquivoSenha) const;
    LinhaGbak MontaRestore(const std::string& arquivoSenha) const;
    LinhaGbak MontaRestore(const std::string& arquivoSenha, bool completo) const;
    // The gbak program a run would start: gBakDirectory + "gbak" when set
    // (with `usaPasta`), else PastaBinFirebird() + "gbak" when it exists
    // there, else the first "gbak" on PATH; empty when none is found.
    std::string ProgramaGbak(bool usaPasta = true) const;

    // Display form of the last line run (or attempted).
    const std::string& LinhaComando() const { return linha_; }
    // Why the last Backup or Restore returned false; empty after a success.
    const std::string& Motivo() const { return motivo_; }
    const TVekExecApp& ExecApp() const { return FExecApp; }

  private:
    LinhaGbak Monta(bool restauracao, bool console, bool completo,
                    const std::string& arquivoSenha) const;
    bool Executa(bool restauracao, bool console, bool completo);
    bool Prepara(bool restauracao, bool console, bool completo, PreparoGbak& p);
    // Starts gbak with the prepared line; `entrada`/`saida`: descriptors for
    // its standard input/output, -1 for none.
    bool Inicia(PreparoGbak& p, bool espera, int entrada, int saida);
    bool Conclui(const PreparoGbak& p);
    const char* Texto(int id) const;

    VarianteGbak variante_;
    TVekExecApp FExecApp;
    std::string linha_;
    std::string motivo_;
};
