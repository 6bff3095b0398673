#pragma once
// The one object through which the console's windows reach each other and the
// data module: the message boxes, the clock, MDados, the logged-in user, the
// windows made once after the main window, and the seams the windows and the
// program's start fill (login, permissions, configuration load, service state,
// the player's reconnection step).
//
// Rules for a window of the console (and for one added to it):
//  - made once in CriaJanelas, after the main window, in the program's order,
//    kept here as a std::unique_ptr and opened with exec();
//  - small dialogs are made on demand (on the stack) and destroyed;
//  - its main-window entry is enabled by registering the action under the
//    component's name in `acoes` (e.g. acoes["btnUsuarios"]); entries without
//    an action stay disabled. The main window applies the entry's guard and
//    level (RegrasMain) before it calls the action.
//
// Owned by main() (or a test); lives longer than every window. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/DataHora.h"
#include "console/AtualizacaoBD.h"
#include "console/ConfigArmazenamento.h"
#include "console/MDados.h"
#include "console/forms/CaixaMensagem.h"

class QWidget;
class FormMain;
class FormSobre;
class FormConfig;
class FormCfgAlerta;
class FormAcesso;
class FormHistorico;
class FormCentrais;
struct ServicoMain;
class FormBuscaCentral;
class FormStatus;
class FormLogGrv;
class FormCfgRamais;
class FormGravacoes;
class FormApagaReg;
class FormClientes;
class FormGrupos;
class FormUsuarios;
class FormEdCentral;

// Cancelado: the user cancelled the login (the program ends). Interrompido:
// the dialog was closed for him (the connection was lost meanwhile).
enum class ResultadoLogin { Entrou, Cancelado, Interrompido };

struct ContextoConsole {
    explicit ContextoConsole(std::function<DataHora()> relogioDado = Agora);
    ~ContextoConsole();
    ContextoConsole(const ContextoConsole&) = delete;
    ContextoConsole& operator=(const ContextoConsole&) = delete;

    // Made once, after the main window, in the program's order. The main
    // window must outlive them (they are its children).
    void CriaJanelas(FormMain& principal);
    // Destroys them again (the main window's destructor calls it).
    void DestroiJanelas();

    CaixaMensagem mensagens;
    std::function<DataHora()> relogio;
    MDados dados;
    // The structure upgrade that ends every main connection.
    AtualizacaoBD atualizacao{dados, mensagens};

    // The unit whose extension names the permission editor last read (0:
    // not used since the start); the user editor offers those names.
    int CodigoPABXRamaisPermissao = 0;

    // Logged-in user; nobody (code and profile 0) until the first login, so
    // no level passes before it.
    std::string UsuarioNome;
    int UsuarioCodigo = 0;
    int UsuarioPerfil = 0;

    // --- Seams -------------------------------------------------------------
    // The login step of the start-up sequence. Until the login window exists
    // the program logs nobody in: the default answers Entrou leaving the user
    // name empty, and VerificaPermissao refuses every level.
    std::function<ResultadoLogin(QWidget* pai)> ExecutaLogin;
    std::function<bool(int nivel)> VerificaPermissao;
    // Loads the console's configuration record after each login.
    std::function<void()> CarregaConfiguracao;
    // The player's step after a reconnection while the recordings window is open.
    std::function<void()> ReconectaPlayer;
    // The service state display of each timer tick.
    std::function<void()> AtualizaEstadoServico;
    // Writes a history row of the logged-in user (operation, detail); false
    // when it could not be written. Tests may put their own in its place.
    std::function<bool(int operacao, const std::string& detalhe)> RegistraHistorico;

    // The console's copy of the CONFIG row and where the status server
    // listens, loaded by CarregaConfiguracao.
    ConfiguracaoGeral configuracao;
    ServidorGravacao servidorGravacao;

    // Actions of the main window's entries, by component name.
    std::map<std::string, std::function<void()>> acoes;

    // Runs main-database work by the console's error rule: true when it
    // succeeded. A lost connection shows nothing here (the main window's
    // timer gives the notice); any other error shows "Erro" with the
    // server's message. Nothing is ever reported as saved that was not.
    bool ExecutaBD(const std::function<void(Transaction&)>& trabalho);
    // Loads a record for its editor, by the same rule: true when `carga`
    // found it. A record no longer there shows `naoEncontrado` ("Erro"); an
    // error shows `falha` and the reason ("Erro"); a lost connection shows
    // nothing here. An editor whose record was not loaded is not opened, so
    // its Ok can never write blanks over the record.
    bool CarregaParaEdicao(const std::function<bool()>& carga, const std::string& naoEncontrado,
                           const std::string& falha);

    FormMain* formMain = nullptr;
    std::unique_ptr<FormSobre> formSobre;
    std::unique_ptr<FormConfig> formConfig;
    std::unique_ptr<FormCfgAlerta> formCfgAlerta;
    std::unique_ptr<FormAcesso> formAcesso;
    std::unique_ptr<FormHistorico> formHistorico;
    std::unique_ptr<FormCentrais> formCentrais;
    std::unique_ptr<FormBuscaCentral> formBuscaCentral;
    std::unique_ptr<FormStatus> formStatus;
    std::unique_ptr<FormLogGrv> formLogGrv;
    std::unique_ptr<FormCfgRamais> formCfgRamais;
    std::unique_ptr<FormGravacoes> formGravacoes;
    std::unique_ptr<FormApagaReg> formApagaReg;
    std::unique_ptr<FormClientes> formClientes;
    std::unique_ptr<FormGrupos> formGrupos;
    std::unique_ptr<FormUsuarios> formUsuarios;
    std::unique_ptr<FormEdCentral> formEdCentral;
    // The service control of the main window (InstalaServicoMain).
    std::shared_ptr<ServicoMain> servico;

    // The real login and permission test (main() installs them; tests may
    // keep their own seams).
    void UsaLoginReal();
};
