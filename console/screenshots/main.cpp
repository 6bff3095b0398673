// veruzadu-screenshots DIR: a PNG of every console window, for readers
// without a desktop. scripts/screenshots runs it on the offscreen platform
// against a scratch installation (VERUZADU_HOME with its VERUZADU.INI).
//
// A window added to the console adds one entry to `janelas` below: its file
// name and how to show it filled (non-modally: show(), never exec()).

#include <QApplication>
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
#include "console/forms/FormHistorico.h"
#include "console/forms/FormApagaReg.h"
#include "console/forms/FormEdGrava.h"
#include "console/forms/FormGravacoes.h"
#include <QDate>
#include <QLineEdit>
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
    // Sample recordings of unit 1, today, one without audio.
    try {
        ctx.dados.ConectaBasePABX(1);
        ctx.dados.ExecutaPABX([](Transaction& tr) {
            Statement st(tr,
                         "UPDATE OR INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, "
                         "GRV_IDFILE, GRV_TPLIGA, GRV_RAMGRAVADO, GRV_DESTINO, GRV_TEMAUDIO, "
                         "GRV_DURACAO, GRV_IDENTIFICA) VALUES (?, 1, ?, ?, ?, ?, ?, ?, ?, ?) "
                         "MATCHING (GRV_CODIGO)");
            const QDate hoje = QDate::currentDate();
            const char* const ramais[] = {"201", "202", "2000", "305", "201", "410"};
            const char* const fones[] = {"4830251234", "11987654321", "", "4832220000",
                                         "4899112233", "203"};
            for (int i = 0; i < 6; ++i) {
                st.SetInt(0, 9001 + i)
                    .SetTimestamp(1, DataHora{hoje.year(), hoje.month(), hoje.day(), 8 + i, 7 * i, 12, 0})
                    .SetText(2, "AMOSTRA" + std::to_string(i))
                    .SetInt(3, i % 3)
                    .SetText(4, ramais[i])
                    .SetText(5, fones[i])
                    .SetInt(6, i == 3 ? 0 : 1)
                    .SetInt(7, 35 + 61 * i)
                    .SetText(8, i == 1 ? "Pedido 4411" : "");
                st.Executa();
            }
        });
    } catch (const std::exception& e) {
        std::cerr << "veruzadu-screenshots: sample recordings: " << e.what() << "\n";
    }

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
            {"FormGravacoes.png",
             [&](const auto& a) {
                 FormGravacoes& f = *ctx.formGravacoes;
                 f.DefineCentral(1, "Matriz");
                 f.show();
                 f.btnPesquisaClick();
                 f.Modelo().Marca(2, true);
                 f.Modelo().Marca(4, true);
                 ok &= Grava(&f, a);
                 f.hide();
             }},
            {"FormEdGrava.png",
             [&](const auto& a) {
                 FormEdGrava& e = *ctx.formGravacoes->formEdGrava;
                 e.edRamal->setText("202");
                 e.edData->setText("10/03/26 09:07:12");
                 e.edFone->setText("11987654321");
                 e.edDuracao->setText("00:01:36");
                 e.edLiga->setText("Originada");
                 e.edCliente->setText("Comercial Ltda");
                 e.edIdentificador->setText("Pedido 4411");
                 ok &= Grava(&e, a);
                 e.hide();
             }},
            {"FormApagaReg.png",
             [&](const auto& a) {
                 FormApagaReg& f = *ctx.formApagaReg;
                 f.DefineCentral(1, "Matriz");
                 f.CarregaGridInfo();
                 ok &= Grava(&f, a);
                 f.hide();
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
