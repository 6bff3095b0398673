#pragma once
// Migration of the previous version's single database (VERUZADU.FDB in the
// server's data folder) into the current layout: the main database and unit
// 1's database both become the old database brought up to date.
//
// Data moves only through the server: gbak backups (written into the program
// folder, as the console cannot write the server's folder), gbak restores
// into new databases, and for the migrated databases' final copies a gbak
// backup piped straight into a restore; no database file is ever copied or
// renamed. Before a
// live database is replaced it is backed up (the backup is kept and named in
// Veruzadu.log). The old database is restored under new names, the scripts of
// Veruzadu.udb and the connection's structure checks run there, and only when
// all of that succeeded are the live databases dropped and restored from the
// migrated ones; a failing restore puts the kept backup back, so the live
// names end with the old or the complete new databases. Finally the old
// database moves to VERUZADU_OLD.FDB (restored there, then dropped; an
// existing VERUZADU_OLD.FDB is kept and the old one goes to a dated name).
//
// Refused, with nothing changed, while the recording service cannot be
// stopped or anyone else is attached to the old, the main or unit 1's
// database. The service, when it ran, is stopped around the migration and
// started again on every way out.
//
// Progress goes to `Progresso` (the migration window's label), every step
// and failure to Veruzadu.log (never deleted). [BD] UPD is cleared only after
// a completed migration or a completed rename ("No" to the offer), so a
// failed one is offered again at the next connection.
//
// Main thread only (uses MDados). gbak and the service's stop run as other
// processes or on a worker, while `ProcessaMensagens` keeps the window alive.
// Throws nothing but std::bad_alloc: failures end in the result and the log.

#include <functional>
#include <optional>
#include <string>

#include "console/PacoteScripts.h"

class MDados;
class Mensageiro;
class ServiceControl;

enum class ResultadoMigracao { Concluida, Recusada, Falhou };

class MigracaoBD {
  public:
    // Both must outlive this object; `dados` has made its main connection
    // (server, data folder and credentials come from it).
    MigracaoBD(MDados& dados, Mensageiro& mensagens);

    // Shows a progress or outcome text (LabelUpgrade).
    std::function<void(const std::string&)> Progresso;
    // Called while gbak or the service's stop runs (the window repaints).
    std::function<void()> ProcessaMensagens;
    // The recording service of this installation; none: not checked.
    ServiceControl* servico = nullptr;
    // Limits for reading Veruzadu.udb.
    LimitesPacote limites;
    // The program's version packages are compared with.
    std::string versaoPrograma;

    // Whether the old database exists, asked of the server (an attach that
    // fails with "No such file" means absent). Throws FirebirdError for any
    // other failure.
    bool ExisteBaseAnterior();

    // The whole migration; clears [BD] UPD when it completed.
    ResultadoMigracao Executa();
    // Puts right what a migration killed half-way left (its recovery record
    // in the program folder): the live databases back online, working-name
    // databases and backups dropped, the live databases restored from their
    // kept backups when they had been dropped, the service started again when
    // the migration had stopped it. [BD] UPD stays set, so the migration is
    // offered again, unless the live databases already held the migrated
    // ones. True when there was nothing to do or all was put right (the
    // record is then removed); false keeps the record for the next start.
    // Needs only the credentials of `dados` (no connection: the live
    // databases may be missing). `servico` may be null.
    bool Recupera(ServiceControl* servico);

    // The answer "No": the old database moves to VERUZADU_OLD.FDB and [BD]
    // UPD is cleared; false (UPD kept) when that could not be done.
    bool Renomeia();

    // The last outcome as shown in the window ("Operação concluída!", or
    // the failed step with the server's message).
    const std::string& Mensagem() const { return mensagem_; }

    // Names of the server's files of this installation's data folder.
    std::string ArquivoAntigo() const;           // VERUZADU.FDB
    std::string ArquivoAntigoRenomeado() const;  // VERUZADU_OLD.FDB

  private:
    struct Execucao;
    // The migration with the service stopped, step by step; each step gives
    // nothing when the next may follow, else how the migration ends.
    ResultadoMigracao ExecutaParado(Execucao& ex);
    using Desfecho = std::optional<ResultadoMigracao>;
    Desfecho VerificaConexoes(Execucao& ex);
    Desfecho Prepara(Execucao& ex);
    Desfecho GuardaBancos(Execucao& ex);       // 1.
    Desfecho RestauraAntigo(Execucao& ex);     // 2.
    Desfecho AtualizaEstrutura(Execucao& ex);  // 3.
    Desfecho Troca(Execucao& ex);              // 4.
    void TerminaAntigo(Execucao& ex);          // 5.
    bool MoveAntigo(Execucao& ex);
    // VERUZADU_OLD.FDB, or a dated name beside it when that exists; empty
    // when the server could not tell.
    std::string DestinoAntigo(Execucao& ex);
    void Mostra(const std::string& texto);
    bool Falha(const std::string& passo, const std::string& motivo);

    MDados& dados_;
    Mensageiro& mensagens_;
    std::string mensagem_;
};
