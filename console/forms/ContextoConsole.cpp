#include "console/forms/ContextoConsole.h"

#include "console/Acesso.h"
#include "console/Historico.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormMain.h"
#include "console/forms/ServicoMain.h"
#include "console/forms/FormSobre.h"
#include "console/forms/FormSysAcc.h"

ContextoConsole::ContextoConsole(std::function<DataHora()> relogioDado)
    : relogio(std::move(relogioDado)), dados(mensagens, [this] { return relogio(); }) {
    ExecutaLogin = [](QWidget*) { return ResultadoLogin::Entrou; };
    VerificaPermissao = [](int) { return false; };
    dados.PedeCredenciaisAdmin = [this](CredenciaisAdmin& c) {
        return FormSysAcc::Pede(formMain, c);
    };
}

ContextoConsole::~ContextoConsole() = default;

void ContextoConsole::CriaJanelas(FormMain& principal) {
    formMain = &principal;
    mensagens.pai = &principal;
    formSobre = std::make_unique<FormSobre>(&principal);
    formAcesso = std::make_unique<FormAcesso>(*this, &principal);
    formHistorico = std::make_unique<FormHistorico>(*this, &principal);
    formCentrais = std::make_unique<FormCentrais>(*this, &principal);
    formBuscaCentral = std::make_unique<FormBuscaCentral>(*this, &principal);
    acoes["Histricoatividades1"] = [this] { formHistorico->exec(); };
    acoes["Centrais1"] = [this] {
        formCentrais->CarregaItens(0);
        formCentrais->exec();
    };
}

void ContextoConsole::UsaLoginReal() {
    ExecutaLogin = [this](QWidget*) {
        return formAcesso && formAcesso->ExecutaLogin() ? ResultadoLogin::Entrou
                                                        : ResultadoLogin::Cancelado;
    };
    VerificaPermissao = [this](int nivel) {
        return ::VerificaPermissao(nivel, UsuarioCodigo, UsuarioPerfil, mensagens);
    };
}

bool ContextoConsole::RegistraHistorico(int operacao, const std::string& detalhe) {
    return ::RegistraHistorico(dados, UsuarioCodigo, UsuarioNome, operacao, detalhe);
}

void ContextoConsole::DestroiJanelas() {
    servico.reset();
    formBuscaCentral.reset();
    formCentrais.reset();
    formHistorico.reset();
    formAcesso.reset();
    formSobre.reset();
    mensagens.pai = nullptr;
    formMain = nullptr;
}

bool ContextoConsole::ExecutaBD(const std::function<void(Transaction&)>& trabalho) {
    try {
        dados.Executa(trabalho);
        return true;
    } catch (const SemConexaoBD&) {
        if (!dados.AvisoConexaoPendente()) dados.BaseConectada();
    } catch (const FirebirdError& e) {
        if (!e.ConexaoPerdida()) mensagens.Mostra(TipoMensagem::Erro, e.what());
    }
    return false;
}
