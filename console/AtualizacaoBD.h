#pragma once
// The database structure upgrade run at the end of every main connection:
// script packages "scripts*.gkp" dropped into the program folder are read
// (PacoteScripts), and their scripts run on the main database (quv_*), the
// unit template and every unit's database (grvest*) and every unit's database
// (grvpab_*), followed by the area-code fix-ups.
//
// Each database keeps a ledger, the table ATUALIZACAO (script name, its
// SHA-256, the package, the time): a script runs on a database only when its
// name is not there, and is recorded only after it ran clean, so a package
// applied twice, or by two consoles, changes nothing the second time, and a
// pass cut short (a failing script, a unit that cannot be reached) is finished
// by a later connection. A package file is removed only when every script of
// it is recorded on every database it is for; a later package with the same
// script name takes over that name (the later package in byte order wins).
//
// Errors go to "Veruzadu.log" of the program folder (GravaLogUpgrade) and to
// one box per cause: "Erro" for a refused package (renamed <name>.recusado),
// "Aviso" for a package of a newer program version (left in place), for a
// unit that cannot be reached and for an incomplete upgrade.
//
// With [BD] UPD set and the previous version's database on the server, the
// connection offers its migration instead (MigracaoBD) and runs no package.
//
// Main thread only (uses MDados and the message boxes). Throws nothing: every
// error ends as a log line and a box.

#include <filesystem>
#include <functional>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataHora.h"
#include "console/PacoteScripts.h"

class MDados;
class Mensageiro;
class MigracaoBD;
class ServiceControl;

// One line "dd/mm/yy hh:nn:ss -> " + mensagem appended to Veruzadu.log of the
// program folder (created when missing). Errors are swallowed.
void GravaLogUpgrade(std::string_view mensagem, const DataHora& quando = Agora());

// "Veruzadu.log" of the program folder.
std::filesystem::path ArquivoLogUpgrade();

class AtualizacaoBD {
  public:
    // Both must outlive this object.
    AtualizacaoBD(MDados& dados, Mensageiro& mensagens);

    // The step that ends every main connection; always true.
    bool VerificaAtualizacaoBD();
    // Before the main connection: puts right a migration killed half-way
    // (MigracaoBD::Recupera); its live databases may be shut down or missing.
    void RecuperaMigracao();
    // Reads the packages and runs what is still to run.
    void AtualizaEstruturaBD();

    struct PacoteLido {
        std::filesystem::path arquivo;
        PacoteScripts conteudo;
    };
    // The acceptable packages of the program folder, in byte order of their
    // names; refused ones are logged, shown and renamed, newer ones shown and
    // left in place.
    std::vector<PacoteLido> ExtraiPacotesScripts();

    // Shows the migration window, which runs `migracao` (modal). Without it
    // the migration runs here without a window.
    std::function<void(MigracaoBD& migracao)> MostraUpGrade;
    // Runs long work (the recovery of a migration killed half-way) off the
    // main thread while a window shows `texto`, and returns once it ended.
    // None: the work runs here.
    std::function<void(const std::string& texto, const std::function<void()>& trabalho)>
        ExecutaLongo;
    // The recording service of this installation, stopped around a
    // migration; none: the service is not looked at.
    std::function<std::unique_ptr<ServiceControl>()> ControleServico;

    // The program's version packages are compared with (the build's, by default).
    std::string versaoPrograma;
    LimitesPacote limites;

  private:
    // True when the old database was there and the offer was made.
    bool OfereceMigracao();
    struct Banco;
    struct Pendente {
        const ScriptPacote* script;
        std::string pacote;  // file name of the package that delivers it
    };
    // Runs the scripts not yet in the database's ledger; names recorded there
    // (before or now) are added to `registrados`. False when one failed.
    bool Aplica(Banco& banco, const std::vector<Pendente>& scripts,
                std::set<std::string>& registrados);

    MDados& dados_;
    Mensageiro& mensagens_;
};

// The ledger table, as the creation scripts and the upgrade make it.
extern const char* const SqlTabelaAtualizacao;
