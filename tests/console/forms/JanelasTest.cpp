// The message-box wrapper, closing every window after a loss, and the two
// small dialogs, without a server.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "tests/console/MensageiroTeste.h"
#include "tests/console/TesteConsole.h"
#include "console/MDados.h"
#include "console/forms/CaixaMensagem.h"
#include "console/forms/FormConfigBD.h"
#include "console/forms/FormSysAcc.h"

namespace {

struct HomeTeste {
    HomeTeste() { ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1); }
    ~HomeTeste() { ::unsetenv("VERUZADU_HOME"); }
    PastaTemporaria pasta;
};

}  // namespace

TEST(CaixaMensagem, CaixaRealComCaptionEBotoesTraduzidos) {
    HomeTeste home;
    CaixaMensagem caixa;
    QString titulo, sim, nao;
    AoAbrir("CaixaMensagem", [&](QWidget* w) {
        auto* b = static_cast<QMessageBox*>(w);
        titulo = b->windowTitle();
        sim = b->button(QMessageBox::Yes)->text();
        nao = b->button(QMessageBox::No)->text();
        Responde(w, QMessageBox::Yes);
    });
    EXPECT_EQ(caixa.Mostra(TipoMensagem::Confirmacao, "Apagar?"), RespostaMensagem::Sim);
    EXPECT_EQ(titulo, "Confirmação");
    EXPECT_EQ(sim, "&Sim");
    EXPECT_EQ(nao, "&Não");

    AoAbrir("CaixaMensagem", [&](QWidget* w) {
        titulo = w->windowTitle();
        Responde(w, QMessageBox::Ok);
    });
    EXPECT_EQ(caixa.Mostra(TipoMensagem::Aviso, "Cuidado"), RespostaMensagem::Ok);
    EXPECT_EQ(titulo, "Aviso");

    // The seam: the next answer without a box.
    caixa.ProximaResposta(RespostaMensagem::Nao);
    EXPECT_EQ(caixa.Mostra(TipoMensagem::Confirmacao, "Sair?"), RespostaMensagem::Nao);
    EXPECT_EQ(JanelaVisivel("CaixaMensagem"), nullptr);

    struct Caso {
        TipoMensagem tipo;
        const char* caption;
        QMessageBox::Icon icone;
    } casos[] = {{TipoMensagem::Erro, "Erro", QMessageBox::Critical},
                 {TipoMensagem::Aviso, "Aviso", QMessageBox::Warning},
                 {TipoMensagem::Informacao, "Informação", QMessageBox::Information},
                 {TipoMensagem::Confirmacao, "Confirmação", QMessageBox::Question}};
    for (const Caso& c : casos) {
        caixa.ProximaResposta(RespostaMensagem::Ok);
        caixa.Mostra(c.tipo, "texto");
        EXPECT_EQ(caixa.Mostradas().back().caption, c.caption);
        EXPECT_EQ(caixa.Mostradas().back().icone, c.icone);
        EXPECT_EQ(caixa.Mostradas().back().texto, "texto");
    }
}

TEST(CaixaMensagem, FechaTodasJanelasRespondeNaoERejeita) {
    HomeTeste home;
    QWidget principal;
    principal.setObjectName("FormMain");
    principal.show();
    CaixaMensagem caixa;
    int dialogo = -1;
    RespostaMensagem resposta = RespostaMensagem::Sim;
    QString informacao = "nenhuma";
    AoAbrir("Dialogo", [&](QWidget*) {
        QTimer::singleShot(
            0, [&] { resposta = caixa.Mostra(TipoMensagem::Confirmacao, "Continuar?"); });
    });
    AoAbrirCaixa("Continuar?", [&](QWidget*) {
        QTimer::singleShot(0, [&] {
            caixa.Mostra(TipoMensagem::Informacao, "Info");
            informacao = "fechada";
        });
    });
    AoAbrirCaixa("Info", [&](QWidget*) { FechaTodasJanelas(&principal); });
    QDialog d(&principal);
    d.setObjectName("Dialogo");
    dialogo = d.exec();
    ASSERT_TRUE(
        EsperaAte([&] { return informacao == "fechada" && resposta != RespostaMensagem::Sim; }));
    EXPECT_EQ(dialogo, QDialog::Rejected);
    EXPECT_EQ(resposta, RespostaMensagem::Nao);
    EXPECT_TRUE(principal.isVisible());
}

TEST(FormSysAcc, TextosIniciaisAspasECorte) {
    HomeTeste home;
    CredenciaisAdmin c;
    AoAbrir("FormSysAcc", [](QWidget* w) {
        auto* f = static_cast<FormSysAcc*>(w);
        EXPECT_EQ(f->Edit1->text(), "VBXTME");
        EXPECT_EQ(f->Edit2->text(), "pulvenard");
        EXPECT_EQ(f->Edit2->echoMode(), QLineEdit::Password);
        f->Edit1->clear();
        QTest::keyClicks(f->Edit1, "  admin'\"istrador_com_nome_longo  ");
        f->Edit2->clear();
        QTest::keyClicks(f->Edit2, "se'nha");
        f->btnOk->click();
    });
    ASSERT_TRUE(FormSysAcc::Pede(nullptr, c));
    EXPECT_EQ(c.usuario, "administrador_com_no");  // trimmed, quotes dropped, 20 characters
    EXPECT_EQ(c.senha, "senha");

    AoAbrir("FormSysAcc", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_FALSE(FormSysAcc::Pede(nullptr, c));
}

TEST(FormConfigBD, NomeVazioNaoGravaNada) {
    HomeTeste home;
    Grava(home.pasta / "VERUZADU.INI", "[BD]\nServer=\\\\SRV\n");
    MensageiroTeste msg;
    MDados dados(msg);
    FormConfigBD f(dados, msg);
    f.show();
    EXPECT_EQ(f.EditServer->text(), "SRV");
    f.EditServer->setText("   ");
    f.btnOk->click();
    ASSERT_EQ(msg.mostradas.size(), 1u);
    EXPECT_EQ(msg.mostradas[0].first, TipoMensagem::Erro);
    EXPECT_EQ(msg.mostradas[0].second,
              "Informe o nome do computador em que o servidor de base de dados está instalado.\n");
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(IniFile(home.pasta / "VERUZADU.INI").ReadString("BD", "Server", ""), "\\\\SRV");
    EXPECT_FALSE(IniFile(home.pasta / "VERUZADU.INI").ValueExists("BD", "Adv"));
    f.btnCancelar->click();
    EXPECT_EQ(f.result(), QDialog::Rejected);
}
