// veruzadu-screenshots DIR: a PNG of every console window, for readers
// without a desktop. scripts/screenshots runs it on the offscreen platform
// against a scratch installation (VERUZADU_HOME with its VERUZADU.INI).
//
// A window added to the console adds one entry to `janelas` below: its file
// name and how to show it filled (non-modally: show(), never exec()).

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/Configuracao.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormCfgAlerta.h"
#include "console/forms/FormConfig.h"
#include "console/forms/FormConfigBD.h"
#include "console/forms/FormMain.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormEdCentral.h"
#include "console/forms/FormEdHoraCentral.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormSobre.h"
#include "console/Historico.h"
#include "common/db/Firebird.h"
#include "console/forms/FormSysAcc.h"

namespace {

void Processa(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Grava(QWidget* w, const std::filesystem::path& arquivo) {
    w->show();
    w->raise();
    Processa(150);
    const bool ok = w->grab().save(QString::fromStdString(arquivo.string()), "PNG");
    std::cout << (ok ? "wrote " : "FAILED ") << arquivo.string() << '\n';
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: veruzadu-screenshots DIR\n";
        return 2;
    }
    DefinePrograma(Programa::Console);
    QApplication app(argc, argv);
    const std::filesystem::path pasta = argv[1];
    std::filesystem::create_directories(pasta);

    ContextoConsole ctx;
    ctx.ExecutaLogin = [&](QWidget*) {
        ctx.UsuarioNome = "ADMIN";
        return ResultadoLogin::Entrou;
    };
    FormMain principal(ctx);
    principal.show();
    QElapsedTimer t;
    t.start();
    while ((ctx.dados.EstadoConexao() != Conectado || principal.Inicializando() ||
            principal.SequenciaPendente()) &&
           t.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (ctx.dados.EstadoConexao() != Conectado) {
        std::cerr << "veruzadu-screenshots: the console did not connect (see VERUZADU.INI)\n";
        return 1;
    }

    // Sample data: two units and a few history rows.
    ctx.UsuarioCodigo = 1;
    ctx.UsuarioNome = "Administrador";
    ctx.ExecutaBD([](Transaction& tr) {
        tr.Executa("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                   "PAB_SDCARDTOTAL, PAB_SDCARDUSED) VALUES (1, 'Matriz', '192.168.0.10', 16000, 1000) "
                   "MATCHING (PAB_CODIGO)");
        tr.Executa("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_USB_ZIMB, PAB_USBPATH) "
                   "VALUES (2, 'Filial', 1, 'E:') MATCHING (PAB_CODIGO)");
    });
    for (int op : {101, 25, 102}) ctx.RegistraHistorico(op, op == 25 ? "Matriz" : "");

    bool ok = true;
    const std::vector<std::pair<std::string, std::function<void(const std::filesystem::path&)>>>
        janelas{
            {"FormMain.png", [&](const auto& a) { ok &= Grava(&principal, a); }},
            {"FormSobre.png",
             [&](const auto& a) {
                 ok &= Grava(ctx.formSobre.get(), a);
                 ctx.formSobre->hide();
             }},
            {"FormConfigBD.png",
             [&](const auto& a) {
                 FormConfigBD f(ctx.dados, ctx.mensagens, &principal);
                 ok &= Grava(&f, a);
             }},
            {"FormSysAcc.png",
             [&](const auto& a) {
                 FormSysAcc f(&principal);
                 ok &= Grava(&f, a);
             }},
            {"FormConfig.png",
             [&](const auto& a) {
                 CarregaConfiguracao(ctx.dados, ctx.configuracao, ctx.servidorGravacao);
                 ctx.configuracao.CFG_CRIPTOGRAFIA = 1;
                 ctx.configuracao.CFG_NETBACKUP = 2;
                 ctx.configuracao.CFG_NETDSTPATH = "/srv/backup/gravacoes";
                 ctx.configuracao.CFG_DBBACKUP = 2;
                 ctx.configuracao.CFG_DBDSTPATH = "/srv/backup/bd";
                 ctx.formConfig->ApresentaConfiguracao();
                 ok &= Grava(ctx.formConfig.get(), a);
                 ctx.formConfig->hide();
             }},
            {"FormCfgAlerta.png",
             [&](const auto& a) {
                 EdicaoAlerta e;
                 e.alertaEspaco = e.alertaFalha = e.auth = true;
                 e.para = "suporte@exemplo.com.br";
                 e.servidor = "smtp.exemplo.com.br";
                 e.porta = "465";
                 e.mail = "gravacao@exemplo.com.br";
                 e.usuario = "gravacao";
                 e.seguranca = 3;
                 ctx.formCfgAlerta->MostraCampos(e);
                 ok &= Grava(ctx.formCfgAlerta.get(), a);
                 ctx.formCfgAlerta->hide();
             }},
            {"FormAcesso.png",
             [&](const auto& a) {
                 ok &= Grava(ctx.formAcesso.get(), a);
                 ctx.formAcesso->hide();
             }},
            {"FormTrocaSenha.png",
             [&](const auto& a) {
                 FormTrocaSenha f(ctx.mensagens, &principal);
                 ok &= Grava(&f, a);
             }},
            {"FormHistorico.png",
             [&](const auto& a) {
                 ctx.formHistorico->show();
                 ctx.formHistorico->btnPesquisaClick();
                 ok &= Grava(ctx.formHistorico.get(), a);
                 ctx.formHistorico->hide();
             }},
            {"FormCentrais.png",
             [&](const auto& a) {
                 ctx.formCentrais->CarregaItens(1);
                 ok &= Grava(ctx.formCentrais.get(), a);
                 ctx.formCentrais->hide();
             }},
            {"FormBuscaCentral.png",
             [&](const auto& a) {
                 ctx.formBuscaCentral->CarregaItens();
                 ok &= Grava(ctx.formBuscaCentral.get(), a);
                 ctx.formBuscaCentral->hide();
             }},
            {"FormEdCentral.png",
             [&](const auto& a) {
                 EdicaoCentral e;
                 e.nome = "Matriz";
                 e.endereco = "192.168.0.10";
                 e.senhaKELV = "1234";
                 e.usuarioFTP = "zimb";
                 e.senhaFTP = "segredo";
                 e.ddd = "011";
                 e.horarios.clear();
                 for (const JanelaDownload& j : ExpandeJanelas(8 * 60, 30, 4 * 60))
                     e.horarios.push_back(EntradaJanela(j));
                 e.horarios.push_back(EntradaJanela({23 * 60, std::nullopt}));
                 ctx.formEdCentral->MostraCampos(e);
                 ok &= Grava(ctx.formEdCentral.get(), a);
                 ctx.formEdCentral->hide();
             }},
            {"FormEdHoraCentral.png",
             [&](const auto& a) {
                 FormEdHoraCentral* d = ctx.formEdCentral->formEdHora;
                 d->Prepara();
                 d->checkLimiteTempo->setChecked(true);
                 ok &= Grava(d, a);
                 d->hide();
             }},
            {"CaixaMensagem-Confirmacao.png",
             [&](const auto& a) {
                 const auto caixa = CaixaMensagem::Monta(
                     TipoMensagem::Confirmacao, "Confirma a exclusão dos registros do período?",
                     &principal);
                 ok &= Grava(caixa.get(), a);
             }},
        };
    for (const auto& [nome, grava] : janelas) grava(pasta / nome);
    principal.close();
    return ok ? 0 : 1;
}
