#pragma once
// The service's work on its main database: the access pattern every service
// database operation follows (ConexaoServico), the first connection at start
// with the registration of the program's database user, the control row
// CONTROLE, the schema upgrades made at start, the configuration row CONFIG,
// the server's clock and the attachment count of a database.
//
// One object per service. Every operation opens its own connection, one
// read-committed transaction that waits on locks, runs its statements with
// bound values and frees everything before returning, so operations may run
// on any thread at once. Server errors are logged at level 4 (not to the
// consoles) as tag + ": " + message + " (" + statement + ")" and reported
// through the result; other exceptions reach the caller.
//
// State shared with other threads (UltimoBackupBD, IPConectado,
// PastaBaseDadosServidor, the configuration snapshot) sits under estado_.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "common/db/RegistroUsuario.h"
#include "service/ConfiguracaoGeral.h"
#include "service/LogServico.h"

struct ParametrosBDServico {
    std::string ServidorBD;  // computer of the database server
    std::string CaminhoBD;   // connection string of the main database
    std::string UsuarioBD;
    std::string SenhaBD;
};

// The statement list of an error line: a statement holding a blank, a comma
// or a double quote is enclosed in double quotes, inner quotes doubled.
std::string TextoComando(std::string_view sql);
// tag + ": " + message + " (" + TextoComando(sql) + ")"
// A lost database connection gives "<tag>: Conexão com o banco de dados
// perdida: <message>" instead, without the statement (the same for every one).
std::string LinhaErroBD(std::string_view tag, const std::exception& erro, std::string_view sql);
inline constexpr std::string_view kConexaoBDPerdida = "Conexão com o banco de dados perdida";
inline constexpr std::string_view kConexaoBDRestabelecida =
    "Conexão com o banco de dados restabelecida";

// One service operation's connection (ConexaoServico). Remembers the statement
// being run so the error line can name it.
class ConexaoServico final {
  public:
    // Connects; throws FirebirdError.
    explicit ConexaoServico(const ParametrosConexao& parametros);
    ConexaoServico(const ConexaoServico&) = delete;
    ConexaoServico& operator=(const ConexaoServico&) = delete;

    Attachment& Conexao() { return att_; }
    // Records `sql` as the statement in progress and gives it back.
    const std::string& Comando(std::string_view sql) {
        comando_ = sql;
        return comando_;
    }
    const std::string& ComandoAtual() const { return comando_; }

  private:
    Attachment att_;
    std::string comando_;
};

// Columns that an old main database lacks or keeps narrower, with the type
// each gets; every column is tested and changed on its own.
struct AlteracaoColuna {
    const char* coluna;
    const char* tipo;  // SQL type to alter or add to
};
extern const AlteracaoColuna ColunasDWNHISTORY[12];
extern const AlteracaoColuna ColunasPABX[5];

class BancoServico final {
  public:
    BancoServico(LogServico& log, ParametrosBDServico parametros);
    BancoServico(const BancoServico&) = delete;
    BancoServico& operator=(const BancoServico&) = delete;

    void DefineParametros(ParametrosBDServico parametros);
    ParametrosBDServico Parametros() const;
    ParametrosConexao ConexaoPrincipal() const;

    // Hooks for the host and for tests; each has a sound default.
    void DefineCredenciaisAdmin(CredenciaisAdmin c);
    void DefineFonteIP(std::function<std::string(std::string*)> fonte);
    void DefineNomeComputador(std::function<std::string()> nome);
    // VERUZADU.INI read and written by the registration (default: the
    // program folder's).
    void DefineArquivoIni(std::filesystem::path arquivo);

    // First connection at start (error tag "LOADCFG"): IPConectado, the user
    // registration when the login is refused, UltimoBackupBD, the service's
    // address in CONTROLE (computer name cut to 30 characters, IPv4 address,
    // `porta`) and the schema upgrades, each column tested and altered on its
    // own. `erro` gets the last database error message, empty when none.
    bool BDCarregaControle(int porta, std::string& erro);
    // Error codes of the last failed connection of BDCarregaControle (empty
    // when it connected): 335544721 tells the server is not running.
    std::vector<std::intptr_t> CodigosUltimaFalhaConexao() const;
    // Statements the last BDCarregaControle ran to upgrade the schema.
    std::vector<std::string> AlteracoesExecutadas() const;

    // Adds the program's database user to the server (RegistraUserGRV).
    bool RegistraUserGRV();

    // Records a finished backup (CRL_ULTBACKUPBD := now, reread) or
    // compaction (CRL_COMPBD := 0). Error tag "UPDWAT".
    bool BDRegistraControle(bool backup, bool compactacao);
    // The server's clock; the local clock when it cannot be read.
    DataHora BDPegaDataServidor();
    // Loads CONFIG into a new record and publishes it whole on success; on
    // failure the published record stays as it was. Error tag "SELDTH".
    bool BDCarregaConfiguracaoGeral();
    // Attachments of users to a database (this one included) and the
    // server-side folder of its file ("/" at the end). 0 and `pasta`
    // untouched when the server cannot be asked.
    int UsuariosConectados(const std::string& arquivo, std::string& pasta);

    std::shared_ptr<const ConfiguracaoGeral> Configuracao() const;
    // The area code from VERUZADU.INI; survives every reload.
    void DefineDDD(const std::string& ddd);

    DataHora UltimoBackupBD() const;  // empty = no backup recorded
    std::string IPConectado() const;
    std::string PastaBaseDadosServidor() const;
    void DefinePastaBaseDadosServidor(const std::string& pasta);

    LogServico& Log() { return log_; }

  private:
    void LogaErro(std::string_view tag, const std::exception& e, std::string_view sql);
    bool Conecta(std::optional<ConexaoServico>& con, std::string& erro);
    void AtualizaEstrutura(ConexaoServico& con);
    std::string TipoCampo(ConexaoServico& con, const char* tabela, const char* coluna);
    bool CampoPresente(ConexaoServico& con, const char* tabela, const char* coluna);

    LogServico& log_;

    mutable std::mutex estado_;  // guards every member below
    ParametrosBDServico parametros_;
    CredenciaisAdmin administrador_;
    std::function<std::string(std::string*)> fonteIP_;
    std::function<std::string()> nomeComputador_;
    std::filesystem::path arquivoIni_;
    std::shared_ptr<const ConfiguracaoGeral> configuracao_;
    DataHora ultimoBackupBD_;
    std::string ipConectado_;
    std::string pastaBaseDadosServidor_;
    std::vector<std::intptr_t> codigosFalhaConexao_;
    std::vector<std::string> alteracoes_;
};
