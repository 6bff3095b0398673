#pragma once
// The console's data module: the two database connections (the main database
// and one per-PABX database at a time), how their connection strings are
// formed from VERUZADU.INI, connecting (with the registration of the program's
// database user when the server refuses it), the structure checks run at
// every connection, the database events and the flags the windows poll, and
// the lost-connection rule of the main connection.
//
// Errors of the main connection always reach the caller, so nothing is ever
// reported as saved when it was not. Only connection errors
// (FirebirdError::ConexaoPerdida) count as a lost connection: the first loss
// sets the loss flags and its time, closes the connection (state 3) and from
// then on main work fails at once with SemConexaoBD, without moving the time
// the reconnection counts from. Any other server error (a duplicate key, a
// refused statement) is raised and the connection stays. Only the start-up
// sequence connects again.
//
// No wait on the server is without limit: a write waits TempoEsperaTrava
// seconds at most for a row another program holds (then the server's lock
// error is raised and the connection stays), and any work that keeps the
// window waiting longer than TempoLimiteComando seconds is cancelled (its
// connection closed when the server does not answer the cancel): main work
// then counts as a lost connection (SemConexaoBD to the caller, the notice
// from the timer), per-PABX work closes that connection and raises.
//
// Threads: main thread only. Database events are delivered through a socket
// notifier on the main thread and only set flags.

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "common/db/RegistroUsuario.h"
#include "common/db/VigiaComandos.h"
#include "console/Mensageiro.h"

class IniFile;
class EventListener;
class QSocketNotifier;

// Up to two leading "\" dropped: "\\SRV" gives "SRV".
std::string RemoveBarrasServidor(std::string_view servidor);

struct CaminhoBD {
    std::string servidor;  // database server computer ([BD] Server without its "\\")
    std::string conexao;   // connection string
};

// The server and connection string of a database (VERUZADU, or GRVPAB<nnn>)
// from the configuration: the main database (and every database when
// [BD] AliasGRVPABX is set) by server + ":" + [BD] Alias (default: the name),
// a per-PABX one by server + ":" + [BD] AdvPath (default pastaDadosBD + name +
// ".FDB"). A blank server gives "127.0.0.1". `computador` is the default
// server name (this computer's name in upper case).
CaminhoBD MontaCaminhoBD(const IniFile& ini, std::string_view nome, std::string_view pastaDadosBD,
                         std::string_view computador);

// The main database as the server itself reaches it (what a unit database's
// procedures connect to): "localhost", the same port, the same alias or path.
std::string PrincipalVistaDoServidor(const std::string& conexao);

// Main-connection work asked for while it is not connected (lost, or never
// made). The loss is shown by the main window's timer, not by the caller.
class SemConexaoBD : public std::runtime_error {
  public:
    SemConexaoBD() : std::runtime_error("Base de dados não está conectada") {}
};

// A per-PABX database that could not be reached or brought up to date:
// what() is the translated "Não foi possível conectar base de dados GRVPAB<nnn>",
// `detalhe` the server's message.
class ErroBasePABX : public std::runtime_error {
  public:
    ErroBasePABX(const std::string& texto, std::string detalheServidor)
        : std::runtime_error(texto), detalhe(std::move(detalheServidor)) {}
    std::string detalhe;
};

enum : int { NaoConectado = 0, Conectando = 1, Conectado = 2, ConexaoPerdidaBD = 3 };

class MDados final : public QObject {
  public:
    using Relogio = std::function<DataHora()>;

    // `mensagens` shows the module's own boxes; `relogio` gives the time of
    // losses and attempts (a fake in tests). Both must outlive the module.
    explicit MDados(Mensageiro& mensagens, Relogio relogio = Agora, QObject* pai = nullptr);
    ~MDados() override;
    MDados(const MDados&) = delete;
    MDados& operator=(const MDados&) = delete;

    // --- State -----------------------------------------------------------
    int EstadoConexao() const { return estado_; }
    bool ConexaoPerdida() const { return conexaoPerdida_; }
    bool AvisoConexaoPendente() const { return avisoPendente_; }
    void LimpaAvisoConexaoPendente() { avisoPendente_ = false; }
    const DataHora& HoraConexaoPerdida() const { return horaPerdida_; }
    void DefineHoraConexaoPerdida(const DataHora& d) { horaPerdida_ = d; }
    DataHora AgoraRelogio() const { return relogio_(); }

    // Set by the events "GRVGRAVACAO", "GRVHISTORY", "GRVCONFIG",
    // "GRVCADASTRO"; the window that shows such data clears its flag when it
    // reloads.
    bool EventoGravacao = false;
    bool EventoHistorico = false;
    bool EventoConfiguracao = false;
    bool EventoCadastro = false;
    // Called after an event flag was set (optional).
    std::function<void()> AoEvento;

    const std::string& ServidorBaseDados() const { return servidorBD_; }
    const std::string& PastaDadosBD() const { return pastaDadosBD_; }
    // How the main database was last connected (for work on a connection of
    // its own, off the main thread).
    const ParametrosConexao& ParametrosPrincipal() const { return parametrosPrincipal_; }
    const std::string& VersaoServidorBD() const { return versaoServidorBD_; }
    bool UsaAliasGRVPABX() const { return usaAliasGRVPABX_; }

    // The program's database user, and the administrator that registers it
    // (replaced for the run by what the administrator types; never stored).
    std::string UsuarioBD;
    std::string SenhaBD;
    CredenciaisAdmin Admin;
    // Seconds a connection attempt may take.
    int TempoLimiteConexao = 10;
    // Seconds a write waits for a row another transaction holds.
    int TempoEsperaTrava = 10;
    // Seconds any one piece of work may keep the window waiting on the server.
    void DefineTempoLimiteComando(int segundos);

    // --- Seams filled by the windows and by ContextoConsole -------------------
    // Asks the administrator's name and password (TFormSysAcc); false when
    // cancelled. Without it a refused administrator ends the registration.
    std::function<bool(CredenciaisAdmin&)> PedeCredenciaisAdmin;
    // The structure upgrade that ends every main connection; it may close the
    // connection (FechaConexaoPrincipal), the next work reopens it.
    std::function<void()> VerificaAtualizacaoBD;
    // Runs before every main connection is made (recovery of a migration
    // killed half-way).
    std::function<void()> AntesDeConectar;

    // --- Connecting ----------------------------------------------------------
    // Connects the main database (registering the program's user when the
    // server refuses it), runs the structure checks, registers the events and
    // runs the upgrade seam. False with the server's message in `erro`.
    bool ConectaBancoDados(std::string& erro);
    // Plain connection of the main database for the migration: no
    // registration, checks or events; "Aviso" on failure.
    bool ConectaBaseVeruzadu();
    // The same on another database (a migration's database under its new
    // name); the module's server and data folder stay as they were.
    bool ConectaBaseVeruzadu(const std::string& conexao);
    // The main database's structure checks of every connection, on the
    // connection ConectaBaseVeruzadu made. Throws SemConexaoBD and lost-
    // connection FirebirdErrors; refused statements are logged.
    void VerificaEstruturaPrincipal();
    // Connects the unit's database (closing the previous one) and brings its
    // structure up to date. Throws ErroBasePABX.
    void ConectaBasePABX(int codigo);
    // The same on the database at `conexao` (a unit's database under a new name).
    void ConectaBasePABX(int codigo, const std::string& conexao);
    bool BasePABXConectada() const { return pabx_.has_value(); }
    void FechaBasePABX() noexcept;
    int CodigoPABX() const { return codigoPABX_; }
    // Closes the main connection without a loss (the upgrade); state stays and
    // the next work reconnects with the same parameters, events included.
    void FechaConexaoPrincipal();
    // Closes both connections; state 0 (the program is closing).
    void Desconecta();
    // True in state 2; otherwise false and, unless the loss notice is still
    // to come from the timer, "Aviso" "Base de dados não está conectada".
    bool BaseConectada();
    void HabilitaEventosBD(bool habilita);
    bool EventosHabilitados() const { return eventos_ != nullptr; }

    // --- Work ------------------------------------------------------------------
    // Runs `trabalho` on the main connection in one transaction, committed
    // when it returns. Throws SemConexaoBD when not connected and every
    // FirebirdError (a connection error also marks the loss).
    void Executa(const std::function<void(Transaction&)>& trabalho);
    // Read-only work on one snapshot of the main database (every statement
    // sees the database as it was when the work began), by Executa's rules.
    void ExecutaInstantaneo(const std::function<void(Transaction&)>& trabalho);
    // The same on the per-PABX connection (no loss rule; errors raised).
    void ExecutaPABX(const std::function<void(Transaction&)>& trabalho);

    // Catalogue helpers, main and per-PABX database; names as the catalogue
    // holds them. Lengths in characters, 0 when the column is missing.
    bool ExisteTabela(const std::string& tabela);
    bool ExisteCampo(const std::string& campo, const std::string& tabela);
    bool ExisteCampoPABX(const std::string& campo, const std::string& tabela);
    int TamanhoCampo(const std::string& campo, const std::string& tabela);
    int TamanhoCampoPABX(const std::string& campo, const std::string& tabela);
    // Widen a column to VARCHAR(n); false (logged) when the server refused.
    bool AlteraTamanhoCampo(const std::string& tabela, const std::string& campo, int n);
    bool AlteraTamanhoCampoPABX(const std::string& tabela, const std::string& campo, int n);
    // Objects later versions added to the main database, made where missing:
    // a generator started at the highest code of the (table, column) pairs,
    // and a plain index statement. False (logged) when the server refused.
    bool
    CriaGeradorSeFalta(const std::string& gerador,
                       const std::vector<std::pair<std::string_view, std::string_view>>& colunas);
    bool CriaIndiceSeFalta(const std::string& indice, const std::string& sqlCriacao);
    void CriaCamposSDCard();
    void CriaCampoNomeRamal();
    void CriaCampoDNSUpdate();
    // Runs an isql-style script on the main database by the loss rule of
    // Executa; throws SemConexaoBD and FirebirdError.
    void ExecutaScriptPrincipal(const std::string& script);
    // Runs an isql-style script on the per-PABX database; throws FirebirdError.
    void ExecutaScriptPABX(const std::string& script);
    // Re-creates both search procedures; the marker PAB_UPDSCRIPT is added only
    // when both succeeded, so a failed unit is tried again next time.
    bool PABX_AlteraTabelaProcedures_UPDSCRIPT();
    // A unit already marked whose LISTAGRV is of an older text gets the
    // current one (failures are logged; the old one then stays in use).
    void AtualizaListaGrv();
    // Rewrites the unit's GRPRAMAL rows from its DNSPABX table; every error
    // ends it (logged): false then.
    bool AtualizaRamaisGrupos(int codigo);
    // PAB_DNSUPDATE := 0 for the unit; false (logged) when it failed.
    bool LimpaDNSUpdate(int codigo);
    // Adds the program's user on `servidor`: "Informação" and the
    // administrator's dialog after each refused administrator login.
    bool RegistraUsuarioBD(const std::string& servidor);

  private:
    // A unit's search procedure text, for the main database it reads and the
    // program's database user.
    using ScriptProcedures = std::string (*)(std::string_view, std::string_view, std::string_view);
    // Re-creates the given procedures in the unit's database, pointed at the
    // main database on the configured port; throws FirebirdError.
    void RecriaProceduresPABX(const std::vector<ScriptProcedures>& scripts);

    void NaPrincipal(const std::function<void(Transaction&)>& trabalho);
    // Runs a structure statement while connecting; logs and returns false
    // when the server refuses it (a lost connection is thrown).
    bool ExecutaEstrutura(const std::string& sql);
    void ChecaEstruturaPrincipal();
    void MarcaPerda();
    void FechaPrincipal() noexcept;
    void ReabrePrincipal();
    void TomaEventos();
    void Registra(const std::string& linha);

    Mensageiro& mensagens_;
    Relogio relogio_;
    int estado_ = NaoConectado;
    bool conexaoPerdida_ = false;
    bool avisoPendente_ = false;
    DataHora horaPerdida_;
    std::string servidorBD_;
    std::string pastaDadosBD_;
    std::string versaoServidorBD_;
    bool usaAliasGRVPABX_ = false;
    ParametrosConexao parametrosPrincipal_;
    bool querEventos_ = false;
    int codigoPABX_ = 0;
    // Watches every piece of work on either connection; set by the work
    // that it cancelled.
    std::unique_ptr<VigiaComandos> vigia_;
    bool disparou_ = false;
    // Declared in this order so the listener goes before its attachment.
    std::optional<Attachment> principal_;
    std::unique_ptr<EventListener> eventos_;
    std::unique_ptr<QSocketNotifier> notificador_;
    std::optional<Attachment> pabx_;
};
