// The main window's start-up sequence and connection-loss handling, driven as
// a user would (real dialogs on the offscreen platform) against the server.

#include <unistd.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTableWidget>

#include "ConsoleTeste.h"
#include "tests/console/TesteConsole.h"
#include "Versao.h"
#include "common/CifraTexto.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormConfigBD.h"
#include "console/forms/FormMain.h"
#include "console/forms/FormSobre.h"
#include "console/forms/FormSysAcc.h"
#include "console/forms/FormGrupos.h"

namespace {

const QString Aviso = "Conexão com o banco de dados foi perdida";

}  // namespace

TEST(FormMain, ServidorNoArConectaSemDialogo) {
    ProgramaTeste p("main");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    EXPECT_TRUE(c.ctx.mensagens.Mostradas().empty());
    EXPECT_EQ(c.conexoes, 1);
    EXPECT_EQ(c.main->PainelUsuario->text(), "Usuário: teste1");
    EXPECT_TRUE(c.main->PainelMensagem->text().isEmpty());
    EXPECT_TRUE(c.main->TimerServico->isActive());
    EXPECT_EQ(c.main->windowTitle(), "Quv – Veruzadu de Chamadas");
    // Entries of windows not built are disabled; the about entry is not.
    EXPECT_TRUE(c.main->btnGravacoes->isEnabled());
    EXPECT_TRUE(c.main->btnUsuarios->isEnabled());
    EXPECT_TRUE(c.main->btnAjuda->isEnabled());
    EXPECT_TRUE(c.main->pmAjuda->findChild<QAction*>("Sobre1")->isEnabled());
    EXPECT_TRUE(c.main->pmManutencao->findChild<QAction*>("Apagarregistros1")->isEnabled());
    EXPECT_TRUE(c.main->pmConfiguracao->findChild<QAction*>("Armazenamento1")->isEnabled());
    EXPECT_TRUE(c.main->pmConfiguracao->findChild<QAction*>("Centrais1")->isEnabled());
    EXPECT_TRUE(c.main->pmManutencao->findChild<QAction*>("Histricoatividades1")->isEnabled());

    // A post of another program sets its flag.
    {
        Attachment outra = p.Principal();
        outra.Executa("EXECUTE BLOCK AS BEGIN POST_EVENT 'GRVCADASTRO'; END");
    }
    EXPECT_TRUE(EsperaAte([&] { return c.ctx.dados.EventoCadastro; }));

    // The about window, from its menu entry.
    QString titulo, modulo, versao;
    AoAbrir("FormSobre", [&](QWidget* w) {
        auto* f = static_cast<FormSobre*>(w);
        titulo = f->windowTitle();
        modulo = f->LabelModulo->text();
        versao = f->LabelVerModulo->text();
        f->btnOk->click();
    });
    c.main->pmAjuda->findChild<QAction*>("Sobre1")->trigger();
    EXPECT_EQ(titulo, "Sobre...");
    EXPECT_EQ(modulo, "Quv – Veruzadu de Chamadas");
    EXPECT_EQ(versao, QString("Versão: ") + VERUZADU_VERSAO);
}

TEST(FormMain, ErroQueNaoEPerdaMostraErroEFicaConectado) {
    ProgramaTeste p("erro");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
    auto insere = [](Transaction& tr) { tr.Executa("INSERT INTO PABX (PAB_CODIGO) VALUES (41)"); };
    EXPECT_TRUE(c.ctx.ExecutaBD(insere));
    c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    EXPECT_FALSE(c.ctx.ExecutaBD(insere));
    ASSERT_EQ(c.ctx.mensagens.Mostradas().size(), 1u);
    const auto& m = c.ctx.mensagens.Mostradas()[0];
    EXPECT_EQ(m.caption, "Erro");
    EXPECT_EQ(m.icone, QMessageBox::Critical);
    EXPECT_TRUE(m.texto.contains("PABX")) << m.texto.toStdString();
    EXPECT_EQ(c.ctx.dados.EstadoConexao(), Conectado);
    EXPECT_FALSE(c.ctx.dados.ConexaoPerdida());
}

TEST(FormMain, SemServidorConfiguradoPedeOServidor) {
    ProgramaTeste p("semsrv");
    EXIGE_SERVIDOR(p.inst);
    p.Ini().DeleteKey("BD", "Server");
    // The test server as a user would type it: lower case, blanks around.
    const std::string digitado = " " + p.inst.srv.Servidor() + " ";
    QString inicial;
    auto feito = AoAbrir("FormConfigBD", [&](QWidget* w) {
        auto* f = static_cast<FormConfigBD*>(w);
        inicial = f->EditServer->text();
        f->EditServer->setText(QString::fromStdString(digitado));
        f->btnOk->click();
    });
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    EXPECT_TRUE(*feito);
    EXPECT_FALSE(inicial.isEmpty());
    EXPECT_EQ(p.Ini().ReadString("BD", "Server", ""),
              "\\\\" + QString::fromStdString(p.inst.srv.Servidor()).toUpper().toStdString());
    EXPECT_EQ(p.Ini().ReadString("BD", "Adv", ""), "0");
    // Once inside the dialog to prove the name, once by the sequence.
    EXPECT_EQ(c.conexoes, 2);
    EXPECT_TRUE(c.ctx.mensagens.Mostradas().empty());
}

TEST(FormMain, SemServidorECanceladoEncerra) {
    ProgramaTeste p("cancela");
    EXIGE_SERVIDOR(p.inst);
    p.Ini().DeleteKey("BD", "Server");
    AoAbrir("FormConfigBD",
            [](QWidget* w) { static_cast<FormConfigBD*>(w)->btnCancelar->click(); });
    auto fim = AoAbrirCaixa("Base de dados não localizada",
                            [](QWidget* w) { Responde(w, QMessageBox::Ok); });
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return *fim && !c.main->isVisible(); }));
    EXPECT_EQ(c.logins, 0);
    EXPECT_EQ(c.conexoes, 0);
    EXPECT_FALSE(p.Ini().ValueExists("BD", "Server"));
    const auto& m = c.ctx.mensagens.Mostradas().back();
    EXPECT_EQ(m.caption, "Erro");
    EXPECT_EQ(m.texto, "Base de dados não localizada. O programa será encerrado");
}

TEST(FormMain, ServidorForaDepoisNoAr) {
    ProgramaTeste p("fora");
    EXIGE_SERVIDOR(p.inst);
    // Nothing listens on port 1: the server is down as far as the console can tell.
    p.Ini().WriteString("BD", "Server", "\\\\127.0.0.1/1");
    QString erro;
    AoAbrirCaixa("Falha ao conectar base de dados", [&](QWidget* w) {
        erro = TextoCaixa(w);
        Responde(w, QMessageBox::Ok);
    });
    QString inicial;
    AoAbrir("FormConfigBD", [&](QWidget* w) {
        auto* f = static_cast<FormConfigBD*>(w);
        inicial = f->EditServer->text();
        f->EditServer->setText(QString::fromStdString(p.inst.srv.Servidor()));
        f->btnOk->click();
    });
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    EXPECT_TRUE(erro.startsWith("Falha ao conectar base de dados\n")) << erro.toStdString();
    EXPECT_GT(erro.size(), QString("Falha ao conectar base de dados\n").size()) << "no server text";
    EXPECT_EQ(inicial, "127.0.0.1/1");
}

TEST(FormMain, UsuarioNaoRegistradoORegistraOAdministrador) {
    ProgramaTeste p("registro");
    EXIGE_SERVIDOR(p.inst);
    const std::string usuario = "VZTREG" + std::to_string(::getpid());
    struct Remove {
        const ProgramaTeste& p;
        std::string usuario;
        ~Remove() {
            try {
                p.Admin().Executa("DROP USER " + usuario);
            } catch (...) {
            }
        }
    } remove{p, usuario};

    Console c;
    c.ctx.dados.UsuarioBD = usuario;
    c.ctx.dados.SenhaBD = "segredo9";
    int explicacoes = 0;
    std::vector<QString> iniciais;
    QString digitadoComAspas;
    // Each refused administrator: the explanation, then the dialog.
    std::function<void()> passo;
    passo = [&] {
        AoAbrirCaixa("O Veruzadu necessita registrar-se", [&](QWidget* w) {
            ++explicacoes;
            Responde(w, QMessageBox::Ok);
            AoAbrir("FormSysAcc", [&](QWidget* dialogo) {
                auto* f = static_cast<FormSysAcc*>(dialogo);
                iniciais.push_back(f->Edit1->text() + "|" + f->Edit2->text());
                f->Edit1->clear();
                QTest::keyClicks(f->Edit1, "a'b\"c");
                digitadoComAspas = f->Edit1->text();
                f->Edit1->setText(QString::fromStdString(p.inst.srv.usuario));
                if (explicacoes == 1) {
                    f->Edit2->setText("errada");
                    passo();
                } else {
                    f->Edit2->setText(QString::fromStdString(p.inst.srv.senha));
                }
                QTest::keyClick(f->Edit2, Qt::Key_Return);
            });
        });
    };
    passo();
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    EXPECT_EQ(explicacoes, 2);
    ASSERT_EQ(iniciais.size(), 2u);
    EXPECT_EQ(iniciais[0], "VBXTME|pulvenard");
    EXPECT_EQ(iniciais[1], "VBXTME|pulvenard");
    EXPECT_EQ(digitadoComAspas, "abc");
    const auto& m = c.ctx.mensagens.Mostradas().front();
    EXPECT_EQ(m.caption, "Informação");
    EXPECT_EQ(m.icone, QMessageBox::Information);
    EXPECT_TRUE(m.texto.contains("\nPara isto será necessário"));
}

TEST(FormMain, UsuarioNaoRegistradoECanceladoEncerra) {
    ProgramaTeste p("regcancel");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.ctx.dados.UsuarioBD = "VZTNAO" + std::to_string(::getpid());
    c.ctx.dados.SenhaBD = "segredo9";
    AoAbrirCaixa("O Veruzadu necessita registrar-se", [&](QWidget* w) {
        Responde(w, QMessageBox::Ok);
        AoAbrir("FormSysAcc", [](QWidget* dialogo) { QTest::keyClick(dialogo, Qt::Key_Escape); });
    });
    QString erro;
    AoAbrirCaixa("Falha ao conectar base de dados", [&](QWidget* w) {
        erro = TextoCaixa(w);
        Responde(w, QMessageBox::Ok);
        AoAbrir("FormConfigBD", [](QWidget* dialogo) {
            static_cast<FormConfigBD*>(dialogo)->btnCancelar->click();
        });
    });
    auto fim = AoAbrirCaixa("Base de dados não localizada",
                            [](QWidget* w) { Responde(w, QMessageBox::Ok); });
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return *fim && !c.main->isVisible(); }));
    EXPECT_EQ(c.logins, 0);
    EXPECT_GT(erro.size(), QString("Falha ao conectar base de dados\n").size());
}

TEST(FormMain, PerdaFechaJanelasAvisaUmaVezEReconecta) {
    ProgramaTeste p("perda");
    EXIGE_SERVIDOR(p.inst);
    RelogioTeste relogio;
    Console c(&relogio);
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    const auto janelasAntes = QApplication::topLevelWidgets().size();

    for (int perda = 1; perda <= 3; ++perda) {
        SCOPED_TRACE("loss " + std::to_string(perda));
        // A window open and a question on top of it when the connection goes.
        RespostaMensagem resposta = RespostaMensagem::Sim;
        int sobre = -1;
        bool outrasFechadas = false;
        QString contagem;
        AoAbrir("FormSobre", [&](QWidget*) {
            QTimer::singleShot(0, [&] {
                resposta = c.ctx.mensagens.Mostra(TipoMensagem::Confirmacao, "Continuar?");
            });
        });
        AoAbrirCaixa("Continuar?", [&](QWidget*) { PerdeConexao(p, c); });
        auto avisado = AoAbrirCaixa(Aviso, [&](QWidget* w) {
            outrasFechadas = !JanelaVisivel("FormSobre") && !CaixaVisivel("Continuar?");
            contagem = c.main->PainelMensagem->text();
            Responde(w, QMessageBox::Ok);
        });
        QTimer::singleShot(0, [&] { sobre = c.ctx.formSobre->exec(); });
        ASSERT_TRUE(EsperaAte(
            [&] { return *avisado && sobre != -1 && resposta != RespostaMensagem::Sim; }));
        EXPECT_TRUE(outrasFechadas);
        EXPECT_EQ(resposta, RespostaMensagem::Nao);
        EXPECT_EQ(sobre, QDialog::Rejected);
        EXPECT_TRUE(contagem.endsWith(" 60 segundos")) << contagem.toStdString();
        EXPECT_EQ(c.Contagem(Aviso), perda);
        EXPECT_EQ(c.ctx.dados.EstadoConexao(), ConexaoPerdidaBD);

        // The countdown follows the clock; nothing restarts before 60 s have passed.
        relogio.Avanca(30);
        c.main->TimerServicoTimer();
        EXPECT_TRUE(c.main->PainelMensagem->text().endsWith(" 30 segundos"));
        relogio.Avanca(30);
        c.main->TimerServicoTimer();
        EXPECT_TRUE(c.main->PainelMensagem->text().endsWith(" 0 segundos"));
        EXPECT_FALSE(c.main->SequenciaPendente());
        EXPECT_EQ(c.logins, perda);
        relogio.Avanca(1);
        c.main->TimerServicoTimer();
        EXPECT_TRUE(c.main->SequenciaPendente());
        // A second tick meanwhile does not stack another sequence.
        c.main->TimerServicoTimer();
        ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == perda + 1; }));
        EXPECT_EQ(c.main->PainelUsuario->text(), QString("Usuário: teste%1").arg(perda + 1));
        EXPECT_EQ(c.Contagem(Aviso), perda) << "notice shown again";
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(QApplication::topLevelWidgets().size(), janelasAntes);
    }
    EXPECT_EQ(c.logins, 4);
}

TEST(FormMain, PerdaComDialogoDoLoginAbertoNaoEncerra) {
    ProgramaTeste p("perdalogin");
    EXIGE_SERVIDOR(p.inst);
    RelogioTeste relogio;
    Console c(&relogio);
    c.loginComDialogo = true;
    AoAbrir("DialogoLogin", [&](QWidget*) {
        PerdeConexao(p, c);
        // The timer starts after the first login; tick as it would.
        c.main->TimerServicoTimer();
    });
    auto avisado = AoAbrirCaixa(Aviso, [](QWidget* w) { Responde(w, QMessageBox::Ok); });
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return *avisado && !c.main->Inicializando(); }));
    EXPECT_TRUE(c.main->isVisible()) << "the program ended on a dialog closed by the loss";
    EXPECT_EQ(c.logins, 1);
    EXPECT_EQ(c.ctx.dados.EstadoConexao(), ConexaoPerdidaBD);
    EXPECT_TRUE(c.main->TimerServico->isActive()) << "nothing would ever reconnect";

    c.loginComDialogo = false;
    relogio.Avanca(61);
    c.main->TimerServicoTimer();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 2; }));
    EXPECT_TRUE(c.main->isVisible());
}

namespace {

void InsereOperador(const ProgramaTeste& p) {
    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(tr, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, USR_PERFIL, "
                     "USR_GRUPO) VALUES (?, ?, ?, ?, 2, '')");
    st.SetInt(0, 902)
        .SetText(1, "Operador")
        .SetText(2, "oper")
        .SetText(3, CriptografaTexto("op123"));
    st.Executa();
    tr.Commit();
}

}  // namespace

// An administrator-only entry (the service's start, which needs no database)
// passes neither while nobody is logged in (the first login closed by a
// connection loss) nor for an operator.
TEST(FormMain, EntradaDeAdministradorRecusadaSemLoginEAoOperador) {
    ProgramaTeste p("nivel");
    EXIGE_SERVIDOR(p.inst);
    InsereOperador(p);
    RelogioTeste relogio;
    Console c(&relogio);
    c.ctx.UsaLoginReal();
    int inicios = 0;
    c.ctx.acoes["IniciarServioGravaoNorvika1"] = [&] { ++inicios; };
    auto iniciaServico = [&] {
        QAction* a = c.main->pmManutencao->findChild<QAction*>("IniciarServioGravaoNorvika1");
        a->setEnabled(true);
        a->trigger();
    };
    AoAbrir("FormAcesso", [&](QWidget*) {
        PerdeConexao(p, c);
        c.main->TimerServicoTimer();
    });
    auto avisado = AoAbrirCaixa(AvisoPerda, [](QWidget* w) { Responde(w, QMessageBox::Ok); });
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return *avisado && !c.main->Inicializando(); }));
    ASSERT_TRUE(c.main->isVisible()) << "a login closed by the loss ended the program";
    EXPECT_EQ(c.ctx.UsuarioCodigo, 0);
    iniciaServico();
    EXPECT_EQ(inicios, 0) << "nobody logged in started the service";

    // After the reconnection an operator logs in.
    auto entrou = AoAbrir("FormAcesso", [&](QWidget* w) {
        auto* f = static_cast<FormAcesso*>(w);
        f->edLogin->setText("oper");
        f->edSenha->setText("op123");
        f->btnOk->click();
    });
    relogio.Avanca(61);
    c.main->TimerServicoTimer();
    ASSERT_TRUE(EsperaAte([&] { return *entrou && c.Conectado(); }));
    EXPECT_EQ(c.ctx.UsuarioCodigo, 902);
    c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    iniciaServico();
    EXPECT_EQ(inicios, 0) << "an operator started the service";
    ASSERT_FALSE(c.ctx.mensagens.Mostradas().empty());
    EXPECT_EQ(c.ctx.mensagens.Mostradas().back().texto,
              "Usuário não possui autorização de acesso à esta função");
}

// The user's own Cancel ends the program even when the connection went
// meanwhile; only a dialog closed by the loss waits for the reconnection.
TEST(FormMain, CancelarNoLoginEncerraMesmoComConexaoPerdida) {
    ProgramaTeste p("cancelalogin");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.ctx.UsaLoginReal();
    auto cancelado = AoAbrir("FormAcesso", [&](QWidget* w) {
        PerdeConexao(p, c);
        static_cast<FormAcesso*>(w)->btnCancelar->click();
    });
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return *cancelado && !c.main->Inicializando(); }));
    EXPECT_TRUE(EsperaAte([&] { return !c.main->isVisible(); }));
    EXPECT_FALSE(c.main->TimerServico->isActive());
}

TEST(FormMain, RotuloDoEstadoAbreOEstadoComoAFigura) {
    ProgramaTeste p("rotulo");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    int abertas = 0;
    c.ctx.acoes["btnEstadoVeruzadu"] = [&] { ++abertas; };
    ASSERT_TRUE(c.main->LabelStatus->isEnabled());
    QTest::mouseClick(c.main->LabelStatus, Qt::LeftButton);
    EXPECT_EQ(abertas, 1);
    QTest::mouseClick(c.main->btnEstadoVeruzadu, Qt::LeftButton);
    EXPECT_EQ(abertas, 2);
    // Disabled with the picture, it opens nothing.
    c.main->LabelStatus->setEnabled(false);
    QTest::mouseClick(c.main->LabelStatus, Qt::LeftButton);
    EXPECT_EQ(abertas, 2);
}

// A stop signal while the groups editor's names refresh of a unit runs, and
// while its box is up inside those nested modal windows: every window
// closes and the program's loop ends.
TEST(FormMain, SinalComJanelasAninhadasEncerra) {
    ProgramaTeste p("sinal", {1});
    EXIGE_SERVIDOR(p.inst);
    struct Caso {
        const char* janela;  // where the signal comes
        const char* endereco;
    } casos[] = {
        // A PABX that refuses the link: the refresh ends in an error box.
        {"CaixaMensagem", "127.0.0.1"},
        // One that never answers: the refresh is still waiting.
        {"FormAtualizaRamais", "10.255.255.1"},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.janela);
        {
            // The unit's names are due for a refresh.
            Attachment att = p.Principal();
            Transaction tr(att);
            Statement st(tr,
                         "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DNSUPDATE, "
                         "PAB_KELVENDERIP, PAB_KELVPORTA) VALUES (1, 'Matriz', 1, ?, 1) "
                         "MATCHING (PAB_CODIGO)");
            st.SetText(0, k.endereco);
            st.Executa();
            tr.Commit();
        }
        Console c;
        c.Mostra();
        ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));

        bool sinal = false, limite = false;
        AoAbrir("FormGrupos", [](QWidget* w) {
            QTimer::singleShot(0, w, [w] { w->findChild<QPushButton*>("btnNovo")->click(); });
        });
        AoAbrir("FormEdGrupo", [](QWidget* w) {
            auto* grade = w->findChild<QTableWidget*>("GridItens");
            QTimer::singleShot(0, w, [grade] { grade->item(0, 1)->setCheckState(Qt::Checked); });
        });
        AoAbrir(
            k.janela,
            [&](QWidget*) {
                sinal = true;
                c.main->EncerraPorSinal();
            },
            60000);
        QTimer::singleShot(0, [&] { c.ctx.formGrupos->exec(); });
        QTimer guarda;
        guarda.setSingleShot(true);
        QObject::connect(&guarda, &QTimer::timeout, [&] {
            limite = true;
            QCoreApplication::exit(1);
        });
        guarda.start(90000);
        QApplication::exec();
        guarda.stop();
        EXPECT_TRUE(sinal);
        EXPECT_FALSE(limite) << "the program did not end";
        EXPECT_FALSE(c.main->isVisible());
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
