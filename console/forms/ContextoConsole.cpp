#include "console/forms/ContextoConsole.h"

#include "console/forms/FormCfgAlerta.h"
#include "console/forms/FormConfig.h"
#include "console/Acesso.h"
#include "console/Historico.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormMain.h"
#include "console/forms/ServicoMain.h"
#include "console/forms/FormSobre.h"
#include "console/forms/FormSysAcc.h"
#include "console/forms/FormUpGrade.h"

ContextoConsole::ContextoConsole(std::function<DataHora()> relogioDado)
    : relogio(std::move(relogioDado)), dados(mensagens, [this] { return relogio(); }) {
    ExecutaLogin = [](QWidget*) { return ResultadoLogin::Entrou; };
    VerificaPermissao = [](int) { return false; };
    dados.VerificaAtualizacaoBD = [this] { atualizacao.VerificaAtualizacaoBD(); };
    dados.AntesDeConectar = [this] { atualizacao.RecuperaMigracao(); };
    atualizacao.MostraUpGrade = [this](MigracaoBD& migracao) {
        FormUpGrade f(&migracao, formMain);
        f.exec();
    };
    dados.PedeCredenciaisAdmin = [this](CredenciaisAdmin& c) {
        return FormSysAcc::Pede(formMain, c);
    };
    RegistraHistorico = [this](int operacao, const std::string& detalhe) {
        return ::RegistraHistorico(dados, UsuarioCodigo, UsuarioNome, operacao, detalhe);
    };
    CarregaConfiguracao = [this] { ::CarregaConfiguracao(dados, configuracao, servidorGravacao); };
}

ContextoConsole::~ContextoConsole() = default;

void ContextoConsole::CriaJanelas(FormMain& principal) {
    formMain = &principal;
    mensagens.pai = &principal;
    formSobre = std::make_unique<FormSobre>(&principal);
    formConfig = std::make_unique<FormConfig>(*this, &principal);
    formCfgAlerta = std::make_unique<FormCfgAlerta>(*this, &principal);
    acoes["Armazenamento1"] = [this] { formConfig->Abre(); };
    acoes["Emaildealertas1"] = [this] { formCfgAlerta->Abre(); };
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

void ContextoConsole::DestroiJanelas() {
    servico.reset();
    formBuscaCentral.reset();
    formCentrais.reset();
    formHistorico.reset();
    formAcesso.reset();
    formCfgAlerta.reset();
    formConfig.reset();
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
