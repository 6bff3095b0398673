// The storage settings window: its rules without a display, and the window
// driven as a user would against the server (what the CONFIG row, the
// console's record and the history end with).

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "ConfigTeste.h"
#include "common/CifraTexto.h"
#include "common/Processos.h"
#include "console/ConfigArmazenamento.h"
#include "console/ValidaCampos.h"
#include "console/forms/EscolhePasta.h"
#include "console/forms/FormConfig.h"

namespace {

const std::string Falha = "Não foi possível salvar configurações";

EdicaoConfig Valida() {
    EdicaoConfig e;
    e.cripto = true;
    e.chave = "chave";
    e.netBackup = true;
    e.netPath = "/srv/backup";
    e.ftpBackup = true;
    e.servFtp = "ftp.exemplo.com.br";
    e.portaFtp = "21";
    e.userFtp = "usuario";
    e.senhaFtp = "senha";
    e.backupDB = 1;
    e.pathBackupDB = "/srv/bd";
    return e;
}

}  // namespace

TEST(ConfigArmazenamento, RecusasNaOrdemEComNomeDoCampo) {
    struct Caso {
        const char* nome;
        std::function<void(EdicaoConfig&)> muda;
        std::string mensagem;  // empty: accepted
    } casos[] = {
        {"valido", [](EdicaoConfig&) {}, ""},
        {"chave vazia", [](EdicaoConfig& e) { e.chave = "  "; }, "Informe a chave de criptografia"},
        {"pasta rede", [](EdicaoConfig& e) { e.netPath = ""; },
         "Informe o destino de backup na rede"},
        {"servidor", [](EdicaoConfig& e) { e.servFtp = " "; },
         "Informe o endereço do servidor de FTP"},
        {"usuario", [](EdicaoConfig& e) { e.userFtp = ""; }, "Informe o nome do usuário de FTP"},
        {"senha", [](EdicaoConfig& e) { e.senhaFtp = ""; }, "Informe a senha de acesso ao FTP"},
        {"pasta bd", [](EdicaoConfig& e) { e.pathBackupDB = ""; },
         "Informe o destino do backup do banco de dados"},
        {"chave 21", [](EdicaoConfig& e) { e.chave = std::string(20, 'k') + "ç"; }, ""},
        {"chave 22", [](EdicaoConfig& e) { e.chave = std::string(22, 'k'); },
         "Chave de critpografia: no máximo 21 caracteres"},
        {"chave nao latin1", [](EdicaoConfig& e) { e.chave = "ł"; },
         "Chave de critpografia: contém caractere não permitido"},
        {"senha 22", [](EdicaoConfig& e) { e.senhaFtp = std::string(22, 's'); },
         "Senha FTP: no máximo 21 caracteres"},
        {"usuario 31", [](EdicaoConfig& e) { e.userFtp = std::string(31, 'u'); },
         "Usuário FTP: no máximo 30 caracteres"},
        {"pasta 81", [](EdicaoConfig& e) { e.pathBackupDB = "/" + std::string(80, 'p'); },
         "Pasta de destino: no máximo 80 caracteres"},
        {"pasta 80", [](EdicaoConfig& e) { e.netPath = "/" + std::string(79, 'p'); }, ""},
        {"porta vazia", [](EdicaoConfig& e) { e.portaFtp = ""; },
         "Informe a porta do servidor de FTP"},
        {"porta 0", [](EdicaoConfig& e) { e.portaFtp = "0"; },
         "Informe a porta do servidor de FTP"},
        {"porta 65536", [](EdicaoConfig& e) { e.portaFtp = "65536"; },
         "Informe a porta do servidor de FTP"},
        {"porta 1", [](EdicaoConfig& e) { e.portaFtp = "1"; }, ""},
        {"porta 65535", [](EdicaoConfig& e) { e.portaFtp = "65535"; }, ""},
        {"servidor com espaco", [](EdicaoConfig& e) { e.servFtp = "a b"; },
         "Servidor FTP: endereço inválido"},
        {"servidor com esquema", [](EdicaoConfig& e) { e.servFtp = "ftp://x"; },
         "Servidor FTP: endereço inválido"},
        // FTP off: the port is not asked for, but never written above 65535.
        {"ftp desligado porta vazia",
         [](EdicaoConfig& e) {
             e.ftpBackup = false;
             e.portaFtp = "";
             e.servFtp = "ftp://x";
         },
         ""},
        {"ftp desligado porta 65536",
         [](EdicaoConfig& e) {
             e.ftpBackup = false;
             e.portaFtp = "65536";
         },
         "Informe a porta do servidor de FTP"},
        // Disabled fields are written too, so they must fit.
        {"chave desligada longa",
         [](EdicaoConfig& e) {
             e.cripto = false;
             e.chave = std::string(30, 'k');
         },
         "Chave de critpografia: no máximo 21 caracteres"},
    };
    for (const Caso& c : casos) {
        EdicaoConfig e = Valida();
        c.muda(e);
        EXPECT_EQ(ValidaConfig(e).value_or(""), c.mensagem) << c.nome;
    }
}

TEST(ConfigArmazenamento, ApresentaEGravaOsCodigos) {
    ConfiguracaoGeral c;
    c.CFG_NETBACKUP = 3;
    c.CFG_FTPBACKUP = 0;
    c.CFG_FTPPORT = 2121;
    c.CFG_CRIPTOKEY = CriptografaTexto("segredo");
    c.CFG_FTPDSTPATH = "/remoto";
    c.CFG_SMTPSERVER = "smtp";
    EdicaoConfig e = ApresentaConfiguracao(c);
    EXPECT_TRUE(e.netBackup);
    EXPECT_TRUE(e.itemCriptografadoNet);
    EXPECT_EQ(e.formatoNet, 2);
    EXPECT_FALSE(e.ftpBackup);
    EXPECT_FALSE(e.itemCriptografadoFtp);
    EXPECT_EQ(e.formatoFtp, 0);  // code 0 shows "WAV"
    EXPECT_EQ(e.portaFtp, "2121");
    EXPECT_EQ(e.chave, "segredo");
    EXPECT_EQ(e.senhaFtp, "");

    // Saved unchanged, code 3 stays 3 and columns the window does not edit stay.
    ConfiguracaoGeral n = NovaConfiguracao(c, e);
    EXPECT_EQ(n.CFG_NETBACKUP, 3);
    EXPECT_EQ(n.CFG_FTPBACKUP, 0);
    EXPECT_EQ(n.CFG_FTPDSTPATH, "/remoto");
    EXPECT_EQ(n.CFG_SMTPSERVER, "smtp");
    EXPECT_EQ(n.CFG_CRIPTOKEY, c.CFG_CRIPTOKEY);
    // Unchecking keeps the folder text and writes 0; an empty port writes 0.
    e.netBackup = false;
    e.netPath = "/guardada";
    e.portaFtp = "";
    n = NovaConfiguracao(c, e);
    EXPECT_EQ(n.CFG_NETBACKUP, 0);
    EXPECT_EQ(n.CFG_NETDSTPATH, "/guardada");
    EXPECT_EQ(n.CFG_FTPPORT, 0);

    const HabilitacaoConfig h = Habilitacao(Valida());
    EXPECT_TRUE(h.chave && h.net && h.ftp && h.db);
    const HabilitacaoConfig nada = Habilitacao(EdicaoConfig{});
    EXPECT_FALSE(nada.chave || nada.net || nada.ftp || nada.db);
}

TEST(FormConfig, GravaLinhaEReabreComOsValores) {
    ProgramaTeste p("cfgarm");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    a.Executa("UPDATE CONFIG SET CFG_FTPDSTPATH = '/remoto', CFG_SMTPSERVER = 'smtp.x', "
              "CFG_ALMALERTA = 3");
    const std::string chave = std::string(20, 'k') + "ç";
    const std::string senha = "p'" + std::string(19, 's');
    const std::string pasta80 = "/" + std::string(79, 'n');
    ProximaPasta(QString::fromStdString("/" + std::string(79, 'd')));
    a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
        auto* f = static_cast<FormConfig*>(w);
        EXPECT_FALSE(f->edChaveCripto->isEnabled());
        EXPECT_FALSE(f->spBtnDB->isEnabled());
        f->cbConverterOGG->setChecked(true);
        f->cbCripto->setChecked(true);
        EXPECT_TRUE(f->edChaveCripto->isEnabled());
        f->edChaveCripto->setText(QString::fromStdString(chave));
        f->cbNetBackup->setChecked(true);
        f->cbFormatoNET->setCurrentIndex(1);
        f->edNetPath->setText(QString::fromStdString(pasta80));
        f->cbFTPbackup->setChecked(true);
        f->edServFTP->setText("ftp.exemplo");
        f->mePortaFTP->setText("65535");
        f->cbSecFTP->setCurrentIndex(3);
        f->edUserFTP->setText(" o'brien ");
        f->edSenhaFTP->setText(QString::fromStdString(senha));
        f->cbBackupDB->setCurrentIndex(2);
        EXPECT_TRUE(f->spBtnDB->isEnabled());
        f->spBtnDB->click();
        f->btnOk->click();
    });
    EXPECT_EQ(a.Coluna("CFG_CONVERTOGG"), "1");
    EXPECT_EQ(a.Coluna("CFG_CRIPTOGRAFIA"), "1");
    EXPECT_EQ(DescriptografaTexto(a.Coluna("CFG_CRIPTOKEY")), chave);
    EXPECT_EQ(a.Coluna("CFG_NETBACKUP"), "2");
    EXPECT_EQ(a.Coluna("CFG_NETDSTPATH"), pasta80);
    EXPECT_EQ(a.Coluna("CFG_FTPBACKUP"), "1");
    EXPECT_EQ(a.Coluna("CFG_FTPHOST"), "ftp.exemplo");
    EXPECT_EQ(a.Coluna("CFG_FTPPORT"), "65535");
    EXPECT_EQ(a.Coluna("CFG_FTPSECURITY"), "3");
    EXPECT_EQ(a.Coluna("CFG_FTPUSER"), "o'brien");
    EXPECT_EQ(DescriptografaTexto(a.Coluna("CFG_FTPPASS")), senha);
    EXPECT_EQ(a.Coluna("CFG_DBBACKUP"), "2");
    EXPECT_EQ(a.Coluna("CFG_DBDSTPATH"), "/" + std::string(79, 'd'));
    EXPECT_EQ(a.Coluna("CFG_FTPDSTPATH"), "/remoto");
    EXPECT_EQ(a.Coluna("CFG_SMTPSERVER"), "smtp.x");
    EXPECT_EQ(a.Coluna("CFG_ALMALERTA"), "3");
    ASSERT_EQ(a.historico.size(), 1u);
    EXPECT_EQ(a.historico[0].first, 6);
    EXPECT_EQ(a.c.ctx.configuracao.CFG_FTPUSER, "o'brien");
    EXPECT_EQ(PastasPedidas().back(), "Localize a pasta de destino de backup");

    // Another program changes the row: the next opening shows it.
    a.Executa("UPDATE CONFIG SET CFG_FTPHOST = 'outro', CFG_NETBACKUP = 3");
    a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
        auto* f = static_cast<FormConfig*>(w);
        EXPECT_EQ(f->edServFTP->text(), "outro");
        EXPECT_EQ(f->edChaveCripto->text().toStdString(), chave);
        EXPECT_EQ(f->edSenhaFTP->text().toStdString(), senha);
        EXPECT_EQ(f->cbFormatoNET->count(), 3);
        EXPECT_EQ(f->cbFormatoNET->currentIndex(), 2);
        EXPECT_EQ(f->cbSecFTP->currentIndex(), 3);
        f->btnOk->click();
    });
    EXPECT_EQ(a.Coluna("CFG_NETBACKUP"), "3");
    EXPECT_EQ(a.historico.size(), 2u);
}

TEST(FormConfig, RecusaNaoMexeNaLinhaNemNoRegistro) {
    ProgramaTeste p("cfgrec");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    const std::string antes = a.LinhaConfig();
    struct Caso {
        const char* nome;
        std::function<void(FormConfig*)> muda;
        std::string mensagem;
    } casos[] = {
        {"chave 22",
         [](FormConfig* f) {
             f->cbCripto->setChecked(true);
             f->edChaveCripto->setText(QString(22, 'k'));
         },
         "Chave de critpografia: no máximo 21 caracteres"},
        {"nao latin1",
         [](FormConfig* f) {
             f->cbCripto->setChecked(true);
             f->edChaveCripto->setText("ł");
         },
         "Chave de critpografia: contém caractere não permitido"},
        {"porta 0",
         [](FormConfig* f) {
             f->cbFTPbackup->setChecked(true);
             f->edUserFTP->setText("u");
             f->edSenhaFTP->setText("s");
             f->edServFTP->setText("ftp.x");
             f->mePortaFTP->setText("0");
         },
         "Informe a porta do servidor de FTP"},
        {"ftp://",
         [](FormConfig* f) {
             f->cbFTPbackup->setChecked(true);
             f->edServFTP->setText("ftp://x");
             f->edUserFTP->setText("u");
             f->edSenhaFTP->setText("s");
         },
         "Servidor FTP: endereço inválido"},
        {"pasta escolhida 81",
         [](FormConfig* f) {
             f->cbBackupDB->setCurrentIndex(1);
             ProximaPasta("/" + QString(80, 'p'));
             f->spBtnDB->click();
         },
         "Pasta de destino: no máximo 80 caracteres"},
        {"obrigatorio", [](FormConfig* f) { f->cbNetBackup->setChecked(true); },
         "Informe o destino de backup na rede"},
    };
    for (const Caso& c : casos) {
        const ConfiguracaoGeral registro = a.c.ctx.configuracao;
        bool aberta = false;
        a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
            auto* f = static_cast<FormConfig*>(w);
            c.muda(f);
            a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
            f->btnOk->click();
            aberta = f->isVisible();
            f->btnCancelar->click();
        });
        EXPECT_TRUE(aberta) << c.nome;
        EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto.toStdString(), c.mensagem) << c.nome;
        EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().caption, "Informação");
        EXPECT_EQ(a.LinhaConfig(), antes) << c.nome;
        EXPECT_TRUE(a.c.ctx.configuracao == registro) << c.nome;
    }
    EXPECT_TRUE(a.historico.empty());
}

TEST(FormConfig, FalhasAoSalvarEAoCarregar) {
    ProgramaTeste p("cfgfal");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    a.Executa("UPDATE CONFIG SET CFG_FTPHOST = 'antigo'");

    // A trigger refuses the UPDATE: failure, record unchanged, window open.
    a.Executa("CREATE EXCEPTION E_TESTE_CONFIG 'recusado'");
    a.Executa("CREATE TRIGGER T_TESTE_CONFIG FOR CONFIG BEFORE UPDATE AS "
              "BEGIN EXCEPTION E_TESTE_CONFIG; END");
    bool aberta = false;
    a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
        auto* f = static_cast<FormConfig*>(w);
        f->edServFTP->setText("novo");
        a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        f->btnOk->click();
        aberta = f->isVisible();
        f->btnCancelar->click();
    });
    EXPECT_TRUE(aberta);
    EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto.toStdString(), Falha);
    EXPECT_EQ(a.c.ctx.configuracao.CFG_FTPHOST, "antigo");
    a.Executa("DROP TRIGGER T_TESTE_CONFIG");
    a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
        auto* f = static_cast<FormConfig*>(w);
        EXPECT_EQ(f->edServFTP->text(), "antigo");
        f->btnCancelar->click();
    });

    // The row goes while the window is open: the UPDATE changes nothing.
    a.Abre("Armazenamento1", "FormConfig", [&](QWidget* w) {
        auto* f = static_cast<FormConfig*>(w);
        a.ApagaLinhaConfig();
        a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        f->btnOk->click();
        aberta = f->isVisible();
        f->btnCancelar->click();
    });
    EXPECT_TRUE(aberta);
    EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto.toStdString(), Falha);
    EXPECT_TRUE(a.historico.empty());

    // No row at the opening: a message and no window.
    a.c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    a.FechaSeAbrir("FormConfig");
    a.c.main->pmConfiguracao->findChild<QAction*>("Armazenamento1")->trigger();
    EXPECT_EQ(a.c.ctx.mensagens.Mostradas().back().texto,
              "Não foi possível carregar configurações");
    EXPECT_EQ(JanelaVisivel("FormConfig"), nullptr);
}

TEST(FormConfig, EnderecoDoServicoPublicadoOuEsteComputador) {
    ProgramaTeste p("cfgsrv");
    EXIGE_SERVIDOR(p.inst);
    ConsoleAdmin a(p);
    ASSERT_TRUE(a.Pronto());
    ConfiguracaoGeral cfg;
    ServidorGravacao s;
    a.Executa("UPDATE CONTROLE SET CRL_GRVSERVER = 'SRV', CRL_GRVIP = '10.1.2.3', "
              "CRL_GRVPORTA = 5000");
    ASSERT_TRUE(CarregaConfiguracao(a.c.ctx.dados, cfg, s));
    EXPECT_EQ(s.CRL_GRVSERVER, "SRV");
    EXPECT_EQ(s.CRL_GRVIP, "10.1.2.3");
    EXPECT_EQ(s.CRL_GRVPORTA, 5000);
    a.Executa("UPDATE CONTROLE SET CRL_GRVIP = '', CRL_GRVPORTA = 5000");
    ASSERT_TRUE(CarregaConfiguracao(a.c.ctx.dados, cfg, s));
    EXPECT_EQ(s.CRL_GRVIP, IPLocal());
    EXPECT_EQ(s.CRL_GRVPORTA, 51051);
    EXPECT_EQ(cfg.CFG_FTPPORT, 21);
}
