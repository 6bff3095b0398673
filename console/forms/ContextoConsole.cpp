#include "console/forms/ContextoConsole.h"

#include "console/forms/FormCfgAlerta.h"
#include "console/forms/FormConfig.h"
#include "console/forms/FormMain.h"
#include "console/forms/FormSobre.h"
#include "console/forms/FormSysAcc.h"

ContextoConsole::ContextoConsole(std::function<DataHora()> relogioDado)
    : relogio(std::move(relogioDado)), dados(mensagens, [this] { return relogio(); }) {
    ExecutaLogin = [](QWidget*) { return ResultadoLogin::Entrou; };
    VerificaPermissao = [](int) { return false; };
    dados.VerificaAtualizacaoBD = [this] { atualizacao.VerificaAtualizacaoBD(); };
    dados.PedeCredenciaisAdmin = [this](CredenciaisAdmin& c) {
        return FormSysAcc::Pede(formMain, c);
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
}

void ContextoConsole::DestroiJanelas() {
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
