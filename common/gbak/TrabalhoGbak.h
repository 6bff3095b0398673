#pragma once
// The database work made of gbak runs that the service's backups and the
// console's migration share:
//
// - a backup written under a temporary name and renamed over its final name
//   only after gbak succeeded, so a cut backup never stands under the final
//   name and an earlier one survives a failure;
// - a restore into a new database (gbak -c: the target must not exist);
// - a copy of one database into a new one through a piped gbak pair (backup
//   to stdout, restore from stdin, no file in between);
// - the swap of a database file on this computer: the live file linked to a
//   ".BAK" name, the new file renamed over the live name, so the live name
//   holds the old or the complete new database at every moment;
// - the record of unfinished work: a small file written atomically, read by
//   the next start of a process killed half-way to put things right.
//
// How each gbak is set up (account, options, status file) and how much of
// its status file a failure reports is the caller's: RegraGbak.
//
// Every function may be called from any thread; runs on the same database
// must not go on at once. Nothing here throws except std::bad_alloc and the
// record's std::runtime_error: failures come back as false with the reason in
// `motivo`.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/gbak/vekIbGbak.h"

struct RegraGbak {
    VarianteGbak variante = VarianteGbak::Servico;
    // Console restores only: see TvekIbGbak::Restore(bool).
    bool completo = false;
    // Sets the account and options of a new gbak; `status` is its status
    // file (empty: none).
    std::function<void(TvekIbGbak&, const std::string& status)> configura;
    // A failure's reason also quotes the error lines of the status file.
    bool explicaStatus = false;
    // The status file of a successful run is removed.
    bool apagaStatus = false;
};

// Called at the named points of a backup, restore or swap ("backup",
// "restauracao", "troca"); the default does nothing unless the environment
// variable VERUZADU_PAUSA_BACKUP names a folder: it then creates the file
// <folder>/<point> and waits (at most five minutes) for <folder>/<point>.segue,
// so an outside test can act at that moment.
using PontoPausa = std::function<void(std::string_view)>;
PontoPausa PausaDoAmbiente();

// gbak -b of `banco` (path on the server) to `temporario`, renamed over
// `final` after success; a failure removes `temporario` and leaves any
// earlier `final` as it was.
bool GravaBackup(const RegraGbak& regra, const std::string& status, const std::string& banco,
                 const std::filesystem::path& temporario, const std::filesystem::path& final,
                 const PontoPausa& pausa, std::string& motivo);

// gbak -c of the backup `origem` into `novo` (path on the server, not existing).
bool RestauraEmNovo(const RegraGbak& regra, const std::string& status, const std::string& origem,
                    const std::string& novo, std::string& motivo);

// The server's `origem` into the new `destino` through a piped gbak pair, for
// a copy no kept file is needed of. The origin is one restored by us: the
// backup collects no garbage on the way. Each gbak has its own status file.
bool CopiaBanco(const RegraGbak& regra, const std::string& statusOrigem,
                const std::string& statusDestino, const std::string& origem,
                const std::string& destino, std::string& motivo);

// Live file to `bak` (an earlier `bak` removed), then `novo` over the live name.
// A missing live file is simply replaced.
bool TrocaBanco(const std::filesystem::path& viva, const std::filesystem::path& novo,
                const std::filesystem::path& bak, const PontoPausa& pausa, std::string& motivo);

// The record of work that must not be left half done: "key=value" lines,
// under an optional "[section]" line (the layout of an INI file). Written
// atomically (a temporary file, fsync, rename, fsync of the folder), so a
// reader finds the previous record or the new one, never a mix.
class RegistroPendente final {
  public:
    using Campos = std::vector<std::pair<std::string, std::string>>;

    explicit RegistroPendente(std::filesystem::path arquivo, std::string secao = {});

    // Throws std::runtime_error when it cannot be written or a value holds a
    // line break.
    void Grava(const Campos& campos) const;
    // Nothing for an absent file; throws std::runtime_error for one that
    // cannot be opened. Fields in the order written.
    std::optional<Campos> Le() const;
    bool Existe() const;
    void Apaga() const;
    const std::filesystem::path& Arquivo() const { return arquivo_; }

  private:
    std::filesystem::path arquivo_;
    std::string secao_;
};
