// veruzadu-screenshots DIR: a PNG of every console window, for readers
// without a desktop. scripts/screenshots runs it on the offscreen platform
// against a scratch installation (VERUZADU_HOME with its VERUZADU.INI).
//
// A window added to the console adds one entry to `janelas` below: its file
// name and how to show it filled (non-modally: show(), never exec()).

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
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
#include "console/forms/FormGrupos.h"
#include "console/forms/FormUsuarios.h"
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

// A group over unit 1's extensions and two users.
void AmostraCadastros(ContextoConsole& ctx) {
    try {
        ctx.dados.ConectaBasePABX(1);
        ctx.dados.ExecutaPABX([](Transaction& tr) {
            tr.Executa("DELETE FROM DNSPABX WHERE PAB_CODIGO = 1");
            Statement st(tr,
                         "INSERT INTO DNSPABX (PAB_CODIGO, DNS_NUMERO, DNS_NOME) VALUES (1, ?, ?)");
            const char* ramais[][2] = {{"201", "Recepção"},
                                       {"202", "Vendas 1"},
                                       {"203", "Vendas 2"},
                                       {"204", "204"},
                                       {"205", "Diretoria"}};
            for (const auto& r : ramais) {
                st.SetText(0, r[0]).SetText(1, r[1]);
                st.Executa();
            }
        });
    } catch (const std::exception& e) {
        std::cerr << "veruzadu-screenshots: " << e.what() << '\n';
    }
    ctx.ExecutaBD([](Transaction& tr) {
        tr.Executa(
            "UPDATE OR INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'Atendimento') "
            "MATCHING (GRP_CODIGO)");
        tr.Executa(
            "UPDATE OR INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (2, 'Comercial') "
            "MATCHING (GRP_CODIGO)");
        tr.Executa("DELETE FROM GRPRAMAL WHERE GRP_CODIGO IN (1, 2)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '201', "
            "'Recepção', 1)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (2, '202', "
            "'Vendas 1', 1)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (2, '203', "
            "'Vendas 2', 1)");
        tr.Executa(
            "UPDATE OR INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
            "USR_PERFIL, "
            "USR_GRUPO) VALUES (100, 'Ana Souza', 'ana.souza', '', 2, 'Atendimento') MATCHING "
            "(USR_CODIGO)");
        tr.Executa(
            "UPDATE OR INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
            "USR_PERFIL, "
            "USR_GRUPO) VALUES (101, 'Bruno Lima', 'bruno', '', 2, 'Ramal 205') MATCHING "
            "(USR_CODIGO)");
    });
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
        tr.Executa(
            "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
            "PAB_SDCARDTOTAL, PAB_SDCARDUSED) VALUES (1, 'Matriz', '192.168.0.10', 16000, 1000) "
            "MATCHING (PAB_CODIGO)");
        tr.Executa(
            "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_USB_ZIMB, PAB_USBPATH) "
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
            {"FormGrupos.png",
             [&](const auto& a) {
                 AmostraCadastros(ctx);
                 ctx.formGrupos->CarregaItens(1);
                 ok &= Grava(ctx.formGrupos.get(), a);
                 ctx.formGrupos->hide();
             }},
            {"FormEdGrupo.png",
             [&](const auto& a) {
                 FormEdGrupo* e = ctx.formGrupos->editor();
                 e->LimpaTela();
                 e->CodigoGrupo = 1;
                 e->CarregaGrupo();
                 ok &= Grava(e, a);
                 e->hide();
             }},
            {"FormUsuarios.png",
             [&](const auto& a) {
                 ctx.formUsuarios->CarregaItens(0);
                 ok &= Grava(ctx.formUsuarios.get(), a);
                 ctx.formUsuarios->hide();
             }},
            {"FormEdUsuario.png",
             [&](const auto& a) {
                 FormEdUsuario* e = ctx.formUsuarios->editor();
                 e->CarregaGruposRamais();
                 e->LimpaTela();
                 e->edUsuario->setText("Ana Souza");
                 e->edLogin->setText("ana.souza");
                 e->edSenha->setText("segredo");
                 e->cbGrupo->setCurrentText("Atendimento");
                 ok &= Grava(e, a);
                 e->hide();
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
