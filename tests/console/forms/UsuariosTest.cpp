// Users against the real server: the field checks in order, the group
// choice (a stored value not offered is kept), logins unique whatever their
// case (also against one added elsewhere after the list was loaded), the
// last administrator, codes never given again, failures that change nothing,
// two consoles at once, the windows as a user drives them and the
// permission editor's extensions offered as groups.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "CadastroTeste.h"
#include "common/CifraTexto.h"
#include "common/Traducao.h"
#include "console/Usuarios.h"
#include "console/forms/FormEdCfgRamal.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/FormUsuarios.h"

namespace {

using Lista = std::vector<std::string>;

struct BaseUsuarios : BaseCadastro {
    std::unique_ptr<FormGrupos> grupos;
    std::unique_ptr<FormUsuarios> f;
    FormEdUsuario* e = nullptr;
    void SetUp() override {
        BaseCadastro::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        grupos = std::make_unique<FormGrupos>(ctx);
        f = std::make_unique<FormUsuarios>(ctx, *grupos);
        e = f->editor();
        Attachment att = p.Principal();
        InsereUsuario(att, 1, "Administrador", "ADMIN", 1);
        att.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'Vendas')");
    }
    // The editor as the list prepares it.
    void Abre(int codigo) {
        e->CarregaGruposRamais();
        e->CodigoUsuario = codigo;
        e->NomeListado = codigo ? Coluna("SELECT USR_NOME FROM USUARIO WHERE USR_CODIGO = " +
                                         std::to_string(codigo))
                                      .front()
                                : "";
        e->LimpaTela();
        if (codigo) e->CarregaItem();
    }
    void Preenche(const QString& nome, const QString& login, const QString& senha, int perfil = 2) {
        e->edUsuario->setText(nome);
        e->edLogin->setText(login);
        e->edSenha->setText(senha);
        e->cbPerfil->setCurrentIndex(perfil - 1);
    }
    // Saves, answering the error box; the message shown, empty on success.
    std::string Salva() {
        const auto antes = ctx.mensagens.Mostradas().size();
        ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        const bool ok = e->SalvaEdicao();
        if (ok) {
            // The queued answer was not used.
            ctx.mensagens.Mostra(TipoMensagem::Informacao, "");
            return {};
        }
        EXPECT_GT(ctx.mensagens.Mostradas().size(), antes);
        EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
        return UltimaMensagem().toStdString();
    }
};

}  // namespace

TEST(Usuarios, EscolhaDeGrupo) {
    auto opcoes = OpcoesGrupo({"Vendas", "Apoio"}, {"Recepção"});
    EXPECT_EQ(opcoes, (Lista{"", "Apoio", "Vendas", Traduz("Ramal") + " Recepção"}));
    EXPECT_EQ(EscolheOpcao(opcoes, "Vendas"), 2);
    EXPECT_EQ(EscolheOpcao(opcoes, ""), 0);
    // Another unit's extension is kept and chosen.
    EXPECT_EQ(EscolheOpcao(opcoes, "Ramal 3001"), 4);
    EXPECT_EQ(opcoes.back(), "Ramal 3001");
    std::vector<std::string> vazia;
    EXPECT_EQ(EscolheOpcao(vazia, ""), -1);
}

TEST(Usuarios, VerificacaoDosCamposEmOrdem) {
    struct Caso {
        DadosUsuario d;
        std::string mensagem;
    } casos[] = {
        {{" ", "", "", 2, ""}, Traduz("Informe um nome para o usuário")},
        {{"Ana", " abc ", "", 2, ""},
         Traduz("Informe um identificador contendo pelo menos 4 caracteres para login do usuário")},
        {{"Ana", "abcd", "123", 2, ""},
         Traduz("Informe uma senha contendo pelo menos 4 caracteres para o usuário")},
        {{"Ana", "abcd", "1234", 2, ""}, ""},
        {{"Ana", "ação", "ñãoé", 2, ""}, ""},
    };
    for (const Caso& c : casos) EXPECT_EQ(VerificaCamposUsuario(c.d), c.mensagem) << c.d.login;
}

// The group choice offers the extensions of the unit the permission editor
// last read, from that unit's database even when another unit is connected
// since; nothing before that editor is used; nameless extensions left out.
TEST_F(BaseUsuarios, RamaisDoEditorDePermissaoNaEscolha) {
    e->NomesRamaisPermissao = [this] { return NomesRamaisPermissao(ctx); };
    Abre(0);
    EXPECT_EQ(e->cbGrupo->count(), 2);
    {
        FormEdCfgRamal permissao(ctx);
        permissao.CodigoPABX = 1;
        permissao.CarregaListaRamaisPABX();
    }
    ctx.dados.ConectaBasePABX(2);
    Abre(0);
    Lista itens;
    for (int i = 0; i < e->cbGrupo->count(); ++i)
        itens.push_back(e->cbGrupo->itemText(i).toStdString());
    const std::string ramal = Traduz("Ramal") + " ";
    EXPECT_EQ(itens, (Lista{"", "Vendas", ramal + "201", ramal + "Recepção"}));
}

TEST_F(BaseUsuarios, NovoEditadoApagado) {
    Abre(0);
    EXPECT_EQ(e->cbPerfil->currentIndex(), 1);
    EXPECT_EQ(e->cbGrupo->count(), 2);
    Preenche("  Bia Souza ", " bias ", " s3nha ");
    e->cbGrupo->setCurrentText("Vendas");
    ASSERT_EQ(Salva(), "");
    const int codigo = e->CodigoUsuario;
    EXPECT_EQ(codigo, 2);
    EXPECT_EQ(Coluna("SELECT USR_NOME || '|' || USR_LOGIN || '|' || USR_PERFIL || '|' || USR_GRUPO "
                     "FROM USUARIO WHERE USR_CODIGO = 2"),
              (Lista{"Bia Souza|bias|2|Vendas"}));
    const std::string cifra = Coluna("SELECT USR_SENHA FROM USUARIO WHERE USR_CODIGO = 2").front();
    EXPECT_EQ(cifra, CriptografaTexto("s3nha"));

    // Loaded again: the password shown deciphered and masked; an unchanged
    // save keeps the same cipher and its own login is no clash.
    Abre(codigo);
    EXPECT_EQ(e->edSenha->text(), "s3nha");
    EXPECT_EQ(e->edSenha->echoMode(), QLineEdit::Password);
    EXPECT_EQ(e->cbGrupo->currentText(), "Vendas");
    e->edUsuario->setText("Beatriz");
    ASSERT_EQ(Salva(), "");
    EXPECT_EQ(Coluna("SELECT USR_SENHA FROM USUARIO WHERE USR_CODIGO = 2").front(), cifra);

    // Deleted from the list: its code is never given again.
    f->CarregaItens(codigo);
    EXPECT_EQ(f->CodigoAtual(), codigo);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->BtnApagarClick();
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM USUARIO WHERE USR_CODIGO = 2"), 0);
    Abre(0);
    Preenche("Caio", "caio", "1234");
    ASSERT_EQ(Salva(), "");
    EXPECT_EQ(e->CodigoUsuario, 3);
    EXPECT_EQ(Historico(), (Lista{"11 Bia Souza", "13 Bia Souza", "12 Beatriz", "11 Caio"}));
}

TEST_F(BaseUsuarios, Logins) {
    Attachment att = p.Principal();
    InsereUsuario(att, 2, "Ana", "anas", 2);
    struct Caso {
        int codigo;  // 0 new
        const char* login;
        bool aceito;
    } casos[] = {
        {0, "abc", false}, {0, "Admin", false}, {0, "ANAS", false}, {2, "anas", true},
        {2, "ANAS", true}, {2, "admin", false}, {0, "abcd", true},
    };
    const std::string usado = Traduz("Este login já está sendo usado por outro usuário");
    for (const Caso& c : casos) {
        Abre(c.codigo);
        Preenche("Nome", c.login, "1234");
        const std::string m = Salva();
        EXPECT_EQ(m.empty(), c.aceito) << c.login << ": " << m;
        if (!c.aceito && std::string(c.login).size() > 3) {
            EXPECT_EQ(m, usado) << c.login;
        }
    }
    // Added by another console after this one loaded its list and editor.
    f->CarregaItens(0);
    Abre(0);
    Preenche("Novo", "NOVO", "1234");
    InsereUsuario(att, 50, "Outro", "novo", 2);
    EXPECT_EQ(Salva(), usado);
}

TEST_F(BaseUsuarios, UltimoAdministrador) {
    Attachment att = p.Principal();
    InsereUsuario(att, 2, "Operadora", "oper", 2);
    // The only administrator cannot become an operator...
    Abre(1);
    e->edSenha->setText("1234");
    EXPECT_EQ(e->PerfilOriginal, 1);
    e->cbPerfil->setCurrentIndex(1);
    EXPECT_EQ(Salva(), Traduz("Deve existir pelo menos um usuário com perfil administrador"));
    EXPECT_EQ(Conta("SELECT USR_PERFIL FROM USUARIO WHERE USR_CODIGO = 1"), 1);
    // ...nor be deleted: the box comes without a question.
    f->CarregaItens(1);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnApagarClick();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Informação");
    EXPECT_EQ(UltimaMensagem().toStdString(), TextoUltimoAdministrador());
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM USUARIO WHERE USR_CODIGO = 1"), 1);
    // With a second administrator both are allowed.
    att.Executa("UPDATE USUARIO SET USR_PERFIL = 1 WHERE USR_CODIGO = 2");
    Abre(1);
    e->edSenha->setText("1234");
    e->cbPerfil->setCurrentIndex(1);
    EXPECT_EQ(Salva(), "");
    // The removal checks again inside its transaction: the other is now the last.
    std::string m;
    EXPECT_EQ(RemoveUsuario(ctx.dados, 2, "Operadora", {1, "x"}, m),
              ResultadoRemocao::UltimoAdministrador);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM USUARIO WHERE USR_PERFIL = 1"), 1);
    // Loaded as an operator, made the only administrator elsewhere: the save
    // goes by what the row holds now.
    att.Executa("UPDATE USUARIO SET USR_PERFIL = 2 WHERE USR_CODIGO = 2");
    Abre(2);
    EXPECT_EQ(e->PerfilOriginal, 2);
    att.Executa("UPDATE USUARIO SET USR_PERFIL = 1 WHERE USR_CODIGO = 2");
    e->edSenha->setText("1234");
    EXPECT_EQ(Salva(), Traduz("Deve existir pelo menos um usuário com perfil administrador"));
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM USUARIO WHERE USR_PERFIL = 1"), 1);
}

TEST_F(BaseUsuarios, GrupoGuardadoNaoOferecidoEMantido) {
    const std::string longo = Traduz("Ramal") + " Sala de reuniões do terceiro andar";
    Attachment att = p.Principal();
    InsereUsuario(att, 2, "Ana", "anas", 2, "Ramal 3001");
    Abre(2);
    EXPECT_EQ(e->cbGrupo->currentText(), "Ramal 3001");
    e->edSenha->setText("1234");
    ASSERT_EQ(Salva(), "");
    EXPECT_EQ(Coluna("SELECT USR_GRUPO FROM USUARIO WHERE USR_CODIGO = 2"), (Lista{"Ramal 3001"}));

    // The group list opened from the editor: a change refills the choice and
    // keeps the whole text chosen.
    att.Executa("UPDATE USUARIO SET USR_GRUPO = '" + longo + "' WHERE USR_CODIGO = 2");
    Abre(2);
    ASSERT_EQ(e->cbGrupo->currentText().toStdString(), longo);
    auto feito = AoAbrir("FormGrupos", [&](QWidget* w) {
        {
            Attachment outra = p.Principal();
            outra.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (2, 'Apoio')");
        }
        grupos->GruposAlterados = true;
        static_cast<QDialog*>(w)->accept();
    });
    e->btnGrupos->click();
    EXPECT_TRUE(*feito);
    EXPECT_EQ(e->cbGrupo->currentText().toStdString(), longo);
    EXPECT_GE(e->cbGrupo->findText("Apoio"), 0);
}

TEST_F(BaseUsuarios, FalhaNoMeioNaoMudaNada) {
    Attachment att = p.Principal();
    InsereUsuario(att, 2, "FALHA", "falh", 2);
    FalhaNoHistorico();
    const std::string falha = Traduz("Não foi possível salvar informações do usuário");
    Abre(0);
    Preenche("FALHA", "nova", "1234");
    EXPECT_EQ(Salva().rfind(falha + "\n", 0), 0u);
    Abre(2);
    Preenche("Outro nome", "outr", "9999");
    EXPECT_EQ(Salva().rfind(falha + "\n", 0), 0u);
    f->CarregaItens(2);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnApagarClick();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_EQ(Coluna("SELECT USR_NOME || '|' || USR_LOGIN FROM USUARIO ORDER BY USR_CODIGO"),
              (Lista{"Administrador|ADMIN", "FALHA|falh"}));
    EXPECT_TRUE(Historico().empty());
}

TEST_F(BaseUsuarios, DuasConsoles) {
    ContextoConsole outro;
    std::string erro;
    ASSERT_TRUE(outro.dados.ConectaBancoDados(erro)) << erro;
    // One login typed in both: the second save is refused.
    int a = 0, b = 0;
    std::string m1, m2;
    DadosUsuario d{"Ana", "anas", "1234", 2, ""};
    ASSERT_TRUE(SalvaUsuario(ctx.dados, a, 2, d, "", {1, "x"}, m1)) << m1;
    d.login = "ANAS";
    EXPECT_FALSE(SalvaUsuario(outro.dados, b, 2, d, "", {1, "x"}, m2));
    EXPECT_EQ(m2, Traduz("Este login já está sendo usado por outro usuário"));
    // Deleted while the other edits it: the save fails and brings nothing back.
    Abre(a);
    ASSERT_EQ(RemoveUsuario(outro.dados, a, "Ana", {1, "x"}, m2), ResultadoRemocao::Removido);
    e->edUsuario->setText("Ana Maria");
    EXPECT_NE(Salva().find(Traduz("O usuário não existe mais")), std::string::npos);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM USUARIO"), 1);
}

// The windows as a user drives them, from the main window's entry.
TEST_F(BaseUsuarios, NovoUsuarioPelasJanelas) {
    f->CarregaItens(0);
    f->show();
    auto feito = AoAbrir("FormEdUsuario", [&](QWidget*) {
        QTest::keyClicks(e->edUsuario, "Davi");
        QTest::keyClicks(e->edLogin, "davi");
        QTest::keyClicks(e->edSenha, "segredo123456");
        e->btnOk->click();
    });
    // A failed save's box would otherwise stop the test: answered, and none expected.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->btnNovo->click();
    EXPECT_TRUE(ctx.mensagens.Mostradas().empty());
    EXPECT_TRUE(*feito);
    // The password field admits 10 characters.
    EXPECT_EQ(Coluna("SELECT USR_SENHA FROM USUARIO WHERE USR_LOGIN = 'davi'"),
              (Lista{CriptografaTexto("segredo123")}));
    EXPECT_EQ(f->Quantidade, 2);
    EXPECT_EQ(f->TextoDaLinha(f->GridItens->currentRow(), 1), "Davi");
    EXPECT_EQ(f->TextoDaLinha(f->GridItens->currentRow(), 3), Traduz("Operador"));
    f->close();
}

// A main database made before the user generator and the group name index
// gets both when the console connects; the generator starts at the highest
// code.
TEST_F(BaseUsuarios, BancoAntigoGanhaGeradorEIndice) {
    {
        Attachment admin = p.Admin();
        admin.Executa("DROP INDEX UNQ_GRUPO_DESCRICAO");
        admin.Executa("DROP GENERATOR GEN_USR_ID");
        InsereUsuario(admin, 7, "Sete", "sete", 2);
    }
    auto existe = [&](const std::string& sql) { return Conta(sql) == 1; };
    EXPECT_FALSE(
        existe("SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'GEN_USR_ID'"));
    std::string erro;
    ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
    EXPECT_TRUE(
        existe("SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'GEN_USR_ID'"));
    EXPECT_TRUE(existe("SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_NAME = "
                       "'UNQ_GRUPO_DESCRICAO' AND RDB$UNIQUE_FLAG = 1"));
    EXPECT_EQ(Conta("SELECT GEN_ID(GEN_USR_ID, 0) FROM RDB$DATABASE"), 7);
    Abre(0);
    Preenche("Oito", "oito", "1234");
    ASSERT_EQ(Salva(), "");
    EXPECT_EQ(e->CodigoUsuario, 8);
}

// Another console's change reloads the open list within its timer's period,
// keeping the row last clicked.
TEST_F(BaseUsuarios, ListaRecarregaPorOutraConsole) {
    {
        Attachment att = p.Principal();
        InsereUsuario(att, 2, "Bia", "bias", 2);
    }
    f->CarregaItens(0);
    f->show();
    ASSERT_EQ(f->Quantidade, 2);
    f->GridItens->setCurrentCell(1, 1);
    emit f->GridItens->cellClicked(1, 1);
    ASSERT_EQ(f->CodigoSelecionado, 2);
    {
        Attachment outra = p.Principal();
        InsereUsuario(outra, 3, "Caio", "caio", 2);
    }
    EXPECT_TRUE(EsperaAte([&] { return f->Quantidade == 3; }));
    EXPECT_EQ(f->CodigoAtual(), 2);
    f->close();
    EXPECT_FALSE(f->TimerEventos->isActive());
}
