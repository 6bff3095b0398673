#include "console/forms/ContextoConsole.h"

#include "console/forms/FormCfgAlerta.h"
#include "console/forms/FormConfig.h"
#include "console/Acesso.h"
#include "console/Historico.h"
#include "console/UtilConsole.h"
#include "common/Traducao.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/FormClientes.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/FormUsuarios.h"
#include "console/forms/FormEdCfgRamal.h"
#include "console/forms/FormEdCentral.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormGravacoes.h"
#include "console/forms/PlayerGravacoes.h"
#include "console/forms/FormApagaReg.h"
#include "console/forms/EscolheCentral.h"
#include "console/forms/FormMain.h"
#include "console/forms/ServicoMain.h"
#include "console/forms/FormSobre.h"
#include "console/forms/FormSysAcc.h"
#include "console/forms/FormLogGrv.h"
#include "console/forms/FormStatus.h"
#include "console/forms/FormUpGrade.h"
#include "console/forms/TrabalhoComProgresso.h"

ContextoConsole::ContextoConsole(std::function<DataHora()> relogioDado)
    : relogio(std::move(relogioDado)), dados(mensagens, [this] { return relogio(); }) {
    ExecutaLogin = [](QWidget*) { return ResultadoLogin::Entrou; };
    VerificaPermissao = [](int) { return false; };
    dados.VerificaAtualizacaoBD = [this] { atualizacao.VerificaAtualizacaoBD(); };
    dados.AntesDeConectar = [this] { atualizacao.RecuperaMigracao(); };
    atualizacao.ExecutaLongo = [this](const std::string& texto,
                                      const std::function<void()>& trabalho) {
        ExecutaComProgresso(formMain, texto, trabalho);
    };
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
    formStatus = std::make_unique<FormStatus>(*this, &principal);
    for (const char* entrada : {"btnEstadoVeruzadu", "Estadoveruzadu1"})
        acoes[entrada] = [this] {
            formStatus->LeUltimoRegistro();
            formStatus->CarregaEstadoCentrais();
            formStatus->exec();
        };
    formConfig = std::make_unique<FormConfig>(*this, &principal);
    formCfgAlerta = std::make_unique<FormCfgAlerta>(*this, &principal);
    acoes["Armazenamento1"] = [this] { formConfig->Abre(); };
    acoes["Emaildealertas1"] = [this] { formCfgAlerta->Abre(); };
    formAcesso = std::make_unique<FormAcesso>(*this, &principal);
    formHistorico = std::make_unique<FormHistorico>(*this, &principal);
    formCentrais = std::make_unique<FormCentrais>(*this, &principal);
    formBuscaCentral = std::make_unique<FormBuscaCentral>(*this, &principal);
    formLogGrv = std::make_unique<FormLogGrv>(&principal);
    formCfgRamais = std::make_unique<FormCfgRamais>(*this, &principal);
    LigaEditorRamais(*this, *formCfgRamais);
    formCentrais->AbreRamais = [this](int codigo, const std::string& nome) {
        formCfgRamais->Abre(codigo, nome);
    };
    formGrupos = std::make_unique<FormGrupos>(*this, &principal);
    formUsuarios = std::make_unique<FormUsuarios>(*this, *formGrupos, &principal);
    formUsuarios->editor()->NomesRamaisPermissao = [this] { return ::NomesRamaisPermissao(*this); };
    acoes["btnUsuarios"] = [this] {
        formUsuarios->CarregaItens(0);
        formUsuarios->exec();
    };
    formEdCentral = std::make_unique<FormEdCentral>(*this, &principal);
    formCentrais->EditaCentral = [this](int& codigo, std::string& nome) {
        return formEdCentral->Edita(codigo, nome);
    };
    acoes["Histricoatividades1"] = [this] { formHistorico->exec(); };
    formGravacoes = std::make_unique<FormGravacoes>(*this, &principal);
    formGravacoes->Reproducao = std::make_unique<PlayerGravacoes>(*formGravacoes, *this);
    acoes["btnGravacoes"] = [this] {
        int codigo = 0;
        std::string nome;
        if (EscolheCentral(*this, codigo, nome, true) == TrocaCentral::Conectada)
            formGravacoes->Abre(codigo, nome);
    };
    formCentrais->AbreGravacoes = [this](int codigo, const std::string& nome) {
        formGravacoes->Abre(codigo, nome);
    };
    formApagaReg = std::make_unique<FormApagaReg>(*this, &principal);
    acoes["Apagarregistros1"] = [this] {
        int codigo = 0;
        std::string nome;
        if (EscolheCentral(*this, codigo, nome) == TrocaCentral::Conectada)
            formApagaReg->Abre(codigo, nome);
    };
    formCentrais->AbreApagaRegistros = [this](int codigo, const std::string& nome) {
        formApagaReg->Abre(codigo, nome);
    };
    acoes["Centrais1"] = [this] {
        formCentrais->CarregaItens(0);
        formCentrais->exec();
    };
    formClientes = std::make_unique<FormClientes>(*this, &principal);
    acoes["btnContatos"] = [this] {
        formClientes->CarregaItens(0);
        formClientes->exec();
    };
}

void ContextoConsole::UsaLoginReal() {
    ExecutaLogin = [this](QWidget*) {
        return formAcesso ? formAcesso->ExecutaLogin() : ResultadoLogin::Cancelado;
    };
    VerificaPermissao = [this](int nivel) {
        return ::VerificaPermissao(nivel, UsuarioCodigo, UsuarioPerfil, mensagens);
    };
}

void ContextoConsole::DestroiJanelas() {
    servico.reset();
    formLogGrv.reset();
    formStatus.reset();
    formCfgRamais.reset();
    formApagaReg.reset();
    formGravacoes.reset();
    formClientes.reset();
    formUsuarios.reset();
    formGrupos.reset();
    formBuscaCentral.reset();
    if (formCentrais) formCentrais->EditaCentral = nullptr;
    formEdCentral.reset();
    formCentrais.reset();
    formHistorico.reset();
    formAcesso.reset();
    formCfgAlerta.reset();
    formConfig.reset();
    formSobre.reset();
    mensagens.pai = nullptr;
    formMain = nullptr;
}

bool ContextoConsole::CarregaParaEdicao(const std::function<bool()>& carga,
                                        const std::string& naoEncontrado,
                                        const std::string& falha) {
    try {
        if (carga()) return true;
        mensagens.Mostra(TipoMensagem::Erro, Traduz(naoEncontrado));
    } catch (const SemConexaoBD&) {
        if (!dados.AvisoConexaoPendente()) dados.BaseConectada();
    } catch (const FirebirdError& e) {
        GravaLogConsole(falha + ": " + e.what());
        if (!e.ConexaoPerdida())
            mensagens.Mostra(TipoMensagem::Erro, Traduz(falha) + "\n" + e.what());
    } catch (const std::exception& e) {
        GravaLogConsole(falha + ": " + e.what());
        mensagens.Mostra(TipoMensagem::Erro, Traduz(falha) + "\n" + e.what());
    }
    return false;
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
