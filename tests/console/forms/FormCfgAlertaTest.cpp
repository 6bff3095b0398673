// The alert settings window: its enabling, port and refusal rules without a
// display, and the window driven against the server.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ConfigTeste.h"
#include "common/CifraTexto.h"
#include "console/ConfigAlerta.h"
#include "console/forms/FormCfgAlerta.h"

namespace {

EdicaoAlerta Valida() {
    EdicaoAlerta e;
    e.alertaFalha = true;
    e.para = "a@b.com; c@d.com";
    e.cc = "";
    e.servidor = "smtp.exemplo";
    e.porta = "25";
    e.mail = "alertas@exemplo";
    return e;
}

}  // namespace

TEST(ConfigAlerta, HabilitacaoEPorta) {
    // alert boxes × cbAuth → (addresses and secure connection, user and password)
    struct Caso {
        bool espaco, falha, auth;
        HabilitacaoAlerta h;
    } casos[] = {
        {false, false, false, {false, false}}, {false, false, true, {false, false}},
        {true, false, false, {true, false}},   {false, true, false, {true, false}},
        {true, true, true, {true, true}},      {false, true, true, {true, true}},
    };
    for (const Caso& c : casos) {
        EdicaoAlerta e;
        e.alertaEspaco = c.espaco;
        e.alertaFalha = c.falha;
        e.auth = c.auth;
        EXPECT_EQ(Habilitacao(e), c.h) << c.espaco << c.falha << c.auth;
    }
    EXPECT_EQ(PortaPorSeguranca(0), "25");
    EXPECT_EQ(PortaPorSeguranca(1), "25");
    EXPECT_EQ(PortaPorSeguranca(2), "25");
    EXPECT_EQ(PortaPorSeguranca(3), "465");
}

TEST(ConfigAlerta, Recusas) {
    struct Caso {
        const char* nome;
        std::function<void(EdicaoAlerta&)> muda;
        std::string mensagem;
    } casos[] = {
        {"valido", [](EdicaoAlerta&) {}, ""},
        {"para vazio", [](EdicaoAlerta& e) { e.para = " "; },
         "Informe endereço de destino das mensagens"},
        {"servidor vazio", [](EdicaoAlerta& e) { e.servidor = ""; },
         "Informe endereço do servidor SMTP"},
        {"porta vazia", [](EdicaoAlerta& e) { e.porta = "   "; },
         "Informe a porta do serviço SMTP"},
        {"remetente vazio", [](EdicaoAlerta& e) { e.mail = ""; }, "Informe endereço de e-mail"},
        {"porta 0", [](EdicaoAlerta& e) { e.porta = "0"; }, "Informe a porta do serviço SMTP"},
        {"porta 65536", [](EdicaoAlerta& e) { e.porta = "65536"; },
         "Informe a porta do serviço SMTP"},
        {"senha 21 com ç", [](EdicaoAlerta& e) { e.senha = std::string(20, 's') + "ç"; }, ""},
        {"senha 22", [](EdicaoAlerta& e) { e.senha = std::string(22, 's'); },
         "Senha: no máximo 21 caracteres"},
        {"senha nao latin1", [](EdicaoAlerta& e) { e.senha = "ł"; },
         "Senha: contém caractere não permitido"},
        {"para sem arroba", [](EdicaoAlerta& e) { e.para = "a@b.com;x"; },
         "Para: endereço inválido \"x\""},
        {"cc com cabecalho", [](EdicaoAlerta& e) { e.cc = "a@b\r\nBcc: c@d"; },
         "CC: endereço inválido \"a@b\r\nBcc: c@d\""},
        {"para dois arrobas", [](EdicaoAlerta& e) { e.para = "a@b@c"; },
         "Para: endereço inválido \"a@b@c\""},
        {"servidor com espaco", [](EdicaoAlerta& e) { e.servidor = "a b"; },
         "Servidor SMTP: endereço inválido"},
        {"remetente", [](EdicaoAlerta& e) { e.mail = "<a@b>"; },
         "Endereço de e-mail: endereço inválido"},
        // Alerts off: nothing is asked for and the addresses are not checked.
        {"desligado",
         [](EdicaoAlerta& e) {
             e.alertaFalha = false;
             e.para = "x";
             e.porta = "";
             e.servidor = "";
         },
         ""},
    };
    for (const Caso& c : casos) {
        EdicaoAlerta e = Valida();
        c.muda(e);
        EXPECT_EQ(ValidaAlerta(e).value_or(""), c.mensagem) << c.nome;
    }
}

TEST(FormCfgAlerta, RegrasDosControlesNaJanela) {
    ProgramaTeste p("alrreg");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    a.Abre("Emaildealertas1", "FormCfgAlerta", [&](QWidget* w) {
        auto* f = static_cast<FormCfgAlerta*>(w);
        EXPECT_FALSE(f->edParaEmail->isEnabled());
        EXPECT_FALSE(f->cbAuth->isEnabled());
        EXPECT_FALSE(f->cbSec->isEnabled());
        EXPECT_EQ(f->edPortaSMTP->text(), "25");
        QTest::mouseClick(f->cbEnviaAlertaFalha, Qt::LeftButton);
        EXPECT_TRUE(f->edParaEmail->isEnabled());
        EXPECT_TRUE(f->cbSec->isEnabled());
        EXPECT_FALSE(f->edUser->isEnabled());
        QTest::mouseClick(f->cbAuth, Qt::LeftButton);
        EXPECT_TRUE(f->edUser->isEnabled());
        EXPECT_TRUE(f->edPass->isEnabled());
        f->edPortaSMTP->setText("587");
        f->cbSec->setCurrentIndex(3);
        emit f->cbSec->activated(3);
        EXPECT_EQ(f->edPortaSMTP->text(), "465");
        f->cbSec->setCurrentIndex(2);
        emit f->cbSec->activated(2);
        EXPECT_EQ(f->edPortaSMTP->text(), "25");
        QTest::mouseClick(f->cbEnviaAlertaFalha, Qt::LeftButton);
        EXPECT_FALSE(f->edUser->isEnabled());
        EXPECT_FALSE(f->cbSec->isEnabled());
        f->btnCancelar->click();
    });
    EXPECT_TRUE(a.historico.empty());
}

TEST(FormCfgAlerta, GravaLinhaEReabre) {
    ProgramaTeste p("alrgrv");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    a.Executa("UPDATE CONFIG SET CFG_FTPHOST = 'intocado'");
    const std::string senha = std::string(20, 's') + "ç";
    a.Abre("Emaildealertas1", "FormCfgAlerta", [&](QWidget* w) {
        auto* f = static_cast<FormCfgAlerta*>(w);
        f->cbEnviaAlertaEspaco->click();
        f->cbEnviaAlertaFalha->click();
        f->edParaEmail->setText(" a@b.com;c'd@e.com ");
        f->edCCEmail->setText("f@g.com");
        f->edServerSMTP->setText("smtp.exemplo");
        f->edMail->setText("alertas@exemplo");
        f->cbAuth->click();
        f->edUser->setText("usuario");
        f->edPass->setText(QString::fromStdString(senha));
        f->cbSec->setCurrentIndex(2);
        f->edPortaSMTP->setText("1");
        f->btnOk->click();
    });
    EXPECT_EQ(a.Coluna("CFG_ALMALERTA"), "3");
    EXPECT_EQ(a.Coluna("CFG_ALMMAILTO"), "a@b.com;c'd@e.com");
    EXPECT_EQ(a.Coluna("CFG_ALMMAILCC"), "f@g.com");
    EXPECT_EQ(a.Coluna("CFG_SMTPSERVER"), "smtp.exemplo");
    EXPECT_EQ(a.Coluna("CFG_SMTPPORTA"), "1");
    EXPECT_EQ(a.Coluna("CFG_SMTPMAIL"), "alertas@exemplo");
    EXPECT_EQ(a.Coluna("CFG_SMTPAUTH"), "1");
    EXPECT_EQ(a.Coluna("CFG_SMTPUSERNAME"), "usuario");
    EXPECT_EQ(DescriptografaTexto(a.Coluna("CFG_SMTPUSERPASS")), senha);
    EXPECT_EQ(a.Coluna("CFG_SMTPSECURITY"), "2");
    EXPECT_EQ(a.Coluna("CFG_FTPHOST"), "intocado");
    ASSERT_EQ(a.historico.size(), 1u);
    EXPECT_EQ(a.historico[0], std::make_pair(7, std::string()));

    // Reopened: the fields as saved; alerts off with an empty port and no
    // password write 25 and the empty text, keeping the other fields.
    a.Abre("Emaildealertas1", "FormCfgAlerta", [&](QWidget* w) {
        auto* f = static_cast<FormCfgAlerta*>(w);
        EXPECT_TRUE(f->cbEnviaAlertaEspaco->isChecked());
        EXPECT_TRUE(f->cbAuth->isChecked());
        EXPECT_TRUE(f->edUser->isEnabled());
        EXPECT_EQ(f->edPass->text().toStdString(), senha);
        EXPECT_EQ(f->cbSec->currentIndex(), 2);
        f->cbEnviaAlertaEspaco->click();
        f->cbEnviaAlertaFalha->click();
        f->edPortaSMTP->clear();
        f->edPass->clear();
        f->btnOk->click();
    });
    EXPECT_EQ(a.Coluna("CFG_ALMALERTA"), "0");
    EXPECT_EQ(a.Coluna("CFG_SMTPPORTA"), "25");
    EXPECT_EQ(a.Coluna("CFG_SMTPUSERPASS"), "");
    EXPECT_EQ(a.Coluna("CFG_ALMMAILTO"), "a@b.com;c'd@e.com");
    EXPECT_EQ(a.historico.size(), 2u);
}

TEST(FormCfgAlerta, RecusasEFalhas) {
    ProgramaTeste p("alrrec");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    const std::string antes = a.LinhaConfig();
    struct Caso {
        const char* nome;
        std::function<void(FormCfgAlerta*)> muda;
        std::string mensagem;
    } casos[] = {
        {"porta vazia", [](FormCfgAlerta* f) { f->edPortaSMTP->clear(); },
         "Informe a porta do serviço SMTP"},
        {"porta 65536", [](FormCfgAlerta* f) { f->edPortaSMTP->setText("65536"); },
         "Informe a porta do serviço SMTP"},
        {"senha 22", [](FormCfgAlerta* f) { f->edPass->setText(QString(22, 's')); },
         "Senha: no máximo 21 caracteres"},
        {"cabecalho", [](FormCfgAlerta* f) { f->edParaEmail->setText("a@b\r\nBcc: c@d"); },
         "Para: endereço inválido \"a@b\r\nBcc: c@d\""},
    };
    for (const Caso& c : casos) {
        bool aberta = false;
        a.Abre("Emaildealertas1", "FormCfgAlerta", [&](QWidget* w) {
            auto* f = static_cast<FormCfgAlerta*>(w);
            f->cbEnviaAlertaFalha->click();
            f->edParaEmail->setText("a@b.com");
            f->edServerSMTP->setText("smtp.x");
            f->edMail->setText("r@x");
            c.muda(f);
            a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
            f->btnOk->click();
            aberta = f->isVisible();
            f->btnCancelar->click();
        });
        EXPECT_TRUE(aberta) << c.nome;
        EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto.toStdString(), c.mensagem) << c.nome;
        EXPECT_EQ(a.LinhaConfig(), antes) << c.nome;
    }

    // The row goes while the window is open.
    bool aberta = false;
    a.Abre("Emaildealertas1", "FormCfgAlerta", [&](QWidget* w) {
        auto* f = static_cast<FormCfgAlerta*>(w);
        a.ApagaLinhaConfig();
        a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        f->btnOk->click();
        aberta = f->isVisible();
        f->btnCancelar->click();
    });
    EXPECT_TRUE(aberta);
    EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto, "Não foi possível salvar configurações");
    EXPECT_TRUE(a.historico.empty());
    // No row at the opening: no window over stale fields.
    a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    a.FechaSeAbrir("FormCfgAlerta");
    a.c.main->pmConfiguracao->findChild<QAction*>("Emaildealertas1")->trigger();
    EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto,
              "Não foi possível carregar configurações");
    EXPECT_EQ(JanelaVisivel("FormCfgAlerta"), nullptr);
}
