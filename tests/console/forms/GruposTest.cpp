// Groups against the real server: the extension entry text, the names a
// group may not take (shared with the login's rule), the editor's round trip
// over two units (moves kept across unit switches, names refreshed, rename
// followed by the users, a unit unticked, deletion blanking the users), what
// the login then lets an operator see, failures that change nothing, and two
// consoles at once.

#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include "CadastroTeste.h"
#include "common/Traducao.h"
#include "console/Acesso.h"
#include "console/Grupos.h"
#include "console/forms/FormGrupos.h"

namespace {

void Seleciona(QListWidget* l, const std::vector<QString>& textos) {
    l->clearSelection();
    for (const QString& t : textos) {
        auto achados = l->findItems(t, Qt::MatchExactly);
        ASSERT_EQ(achados.size(), 1) << t.toStdString();
        achados.front()->setSelected(true);
    }
}

std::vector<std::string> Itens(const QListWidget* l) {
    std::vector<std::string> r;
    for (int i = 0; i < l->count(); ++i) r.push_back(l->item(i)->text().toStdString());
    return r;
}

// The editor's grid row of unit `codigo`.
int LinhaDaUnidade(const FormEdGrupo& e, int codigo) {
    for (int l = 0; l < e.GridItens->rowCount(); ++l)
        if (e.GridItens->item(l, 0) && e.GridItens->item(l, 0)->text().toInt() == codigo) return l;
    return -1;
}

void MarcaAcesso(FormEdGrupo& e, int codigo, bool marcado) {
    e.GridItens->item(LinhaDaUnidade(e, codigo), 1)
        ->setCheckState(marcado ? Qt::Checked : Qt::Unchecked);
}

using Lista = std::vector<std::string>;

struct BaseGrupos : BaseCadastro {
    std::unique_ptr<FormGrupos> f;
    FormEdGrupo* e = nullptr;
    void SetUp() override {
        BaseCadastro::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        f = std::make_unique<FormGrupos>(ctx);
        e = f->editor();
    }
    void Abre(int codigo) {
        e->LimpaTela();
        e->CodigoGrupo = codigo;
        e->CarregaGrupo();
    }
    int CodigoDe(const std::string& nome) {
        return Conta("SELECT GRP_CODIGO FROM GRUPO WHERE GRP_DESCRICAO = '" + nome + "'");
    }
    int Scratch() { return Conta("SELECT COUNT(*) FROM GRPRAMAL WHERE GRP_CODIGO = 0"); }
};

}  // namespace

TEST(Grupos, TextoDoRamalIdaEVolta) {
    struct Caso {
        const char *numero, *nome, *texto, *nomeLido;
    } casos[] = {
        {"1001", "Recepção", "1001 [Recepção]", "Recepção"},
        {"1001", "1001", "1001", ""},
        {" 1001 ", "", "1001", ""},
        {"12", "Sala [B]", "12 [Sala [B]]", "Sala [B]"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(TextoRamal(c.numero, c.nome), c.texto);
        const RamalGrupo r = SeparaRamal(c.texto);
        EXPECT_EQ(r.numero, Apara(c.numero));
        EXPECT_EQ(r.nome, c.nomeLido);
    }
}

// One rule for both sides: a name the login reads as a single extension is
// no group name.
TEST_F(BaseCadastro, NomeDeGrupoQueOLoginTomaPorRamalERecusado) {
    Attachment att = p.Principal();
    int codigo = 10;
    for (const std::string nome : {"Ramalho", "Ramal Norte", "Vendas", "ramal sul"}) {
        const bool ramal = NomeIndicaRamal(nome);
        EXPECT_EQ(!VerificaNomeGrupo(nome).empty(), ramal) << nome;
        ++codigo;
        InsereUsuario(att, codigo, "Op " + nome, "op" + std::to_string(codigo), 2, nome);
        Acesso acesso(ctx.dados, ctx.mensagens);
        const auto vistos = acesso.CarregaListaRamaisUsuarios(codigo, 1);
        // The login takes "Ramal..." as the extension after the word.
        EXPECT_EQ(vistos.size() == 1 && nome.rfind(Traduz("Ramal"), 0) == 0, ramal) << nome;
    }
    EXPECT_EQ(VerificaNomeGrupo("  "), Traduz("Informe uma descrição para o grupo"));
}

TEST_F(BaseGrupos, IdaEVoltaEmDuasUnidades) {
    {
        Attachment att = p.Principal();
        InsereUsuario(att, 5, "Ana", "anab", 2, "Atendimento");
    }
    Abre(0);
    ASSERT_EQ(e->GridItens->rowCount(), 2);
    EXPECT_FALSE(e->gbRamais->isEnabled());
    e->edGrupo->setText("Atendimento");
    MarcaAcesso(*e, 1, true);
    EXPECT_EQ(e->CodigoPABXMostrado, 1);
    EXPECT_TRUE(e->gbRamais->isEnabled());
    EXPECT_EQ(Itens(e->ListBoxRamDisp), (Lista{"201", "202 [Recepção]", "203"}));
    Seleciona(e->ListBoxRamDisp, {"201", "202 [Recepção]"});
    e->btnLR->click();
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201", "202 [Recepção]"}));
    EXPECT_EQ(Itens(e->ListBoxRamDisp), (Lista{"203"}));
    // Unit 2: everything, then back to unit 1: its moves are still there.
    MarcaAcesso(*e, 2, true);
    EXPECT_EQ(e->CodigoPABXMostrado, 2);
    e->btnFLR->click();
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201"}));
    e->GridItens->setCurrentCell(LinhaDaUnidade(*e, 1), 2);
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201", "202 [Recepção]"}));
    // A drop from one list onto the other moves like the buttons.
    Seleciona(e->ListBoxRamDisp, {"203"});
    e->ListBoxRamSel->AoSoltar(e->ListBoxRamDisp);
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201", "202 [Recepção]", "203"}));
    Seleciona(e->ListBoxRamSel, {"203"});
    e->ListBoxRamDisp->AoSoltar(e->ListBoxRamSel);
    EXPECT_EQ(Itens(e->ListBoxRamDisp), (Lista{"203"}));
    // Nothing is written while the editor is open.
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRPRAMAL"), 0);
    ASSERT_TRUE(e->SalvaEdicao()) << UltimaMensagem().toStdString();
    const int codigo = CodigoDe("Atendimento");
    EXPECT_EQ(e->CodigoGrupo, codigo);
    EXPECT_EQ(Ramais(codigo), (Lista{"1:201:", "1:202:Recepção", "2:201:"}));
    EXPECT_EQ(Historico(), (Lista{"17 Atendimento"}));

    // Opened again: both units ticked, the first one's lists shown.
    Abre(codigo);
    EXPECT_EQ(e->edGrupo->text(), "Atendimento");
    EXPECT_EQ(e->GridItens->item(0, 1)->checkState(), Qt::Checked);
    EXPECT_EQ(e->GridItens->item(1, 1)->checkState(), Qt::Checked);
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201", "202 [Recepção]"}));

    // The unit's names are refreshed on showing (as the refresh writes them
    // to the unit's database): the group's entries follow.
    e->Edicao.VerificaAtualizacaoRamais = [&](int unidade) {
        Attachment u = p.Unidade(unidade);
        u.Executa("UPDATE DNSPABX SET DNS_NOME = 'Portaria' WHERE DNS_NUMERO = '201'");
        u.Executa("UPDATE DNSPABX SET DNS_NOME = 'Recepção 2' WHERE DNS_NUMERO = '202'");
    };
    Abre(codigo);
    e->Edicao.VerificaAtualizacaoRamais = nullptr;
    EXPECT_EQ(Itens(e->ListBoxRamSel), (Lista{"201 [Portaria]", "202 [Recepção 2]"}));
    // Renamed, unit 2 unticked: the user follows, unit 2's rows go.
    e->edGrupo->setText("  Comercial ");
    MarcaAcesso(*e, 2, false);
    EXPECT_FALSE(e->gbRamais->isEnabled());
    ASSERT_TRUE(e->SalvaEdicao()) << UltimaMensagem().toStdString();
    EXPECT_EQ(Ramais(codigo), (Lista{"1:201:Portaria", "1:202:Recepção 2"}));
    EXPECT_EQ(Coluna("SELECT USR_GRUPO FROM USUARIO WHERE USR_CODIGO = 5"), (Lista{"Comercial"}));
    EXPECT_EQ(Historico(), (Lista{"17 Atendimento", "19 Atendimento"}));
    Abre(codigo);
    EXPECT_EQ(e->GridItens->item(LinhaDaUnidade(*e, 2), 1)->checkState(), Qt::Unchecked);

    // Cancel after moves changes nothing.
    e->btnFRL->click();
    EXPECT_TRUE(e->ListBoxRamSel->count() == 0);
    e->BtnCancelarClick();
    EXPECT_EQ(Ramais(codigo), (Lista{"1:201:Portaria", "1:202:Recepção 2"}));

    // Deleted from the list window: the user's group blanked.
    f->CarregaItens(codigo);
    EXPECT_EQ(f->TextoDaLinha(0, 2), "201,202");
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->BtnApagarClick();
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRUPO"), 0);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRPRAMAL"), 0);
    EXPECT_EQ(Coluna("SELECT USR_GRUPO FROM USUARIO WHERE USR_CODIGO = 5"), (Lista{""}));
    EXPECT_EQ(Historico().back(), "18 Comercial");
    EXPECT_TRUE(f->GruposAlterados);
    EXPECT_FALSE(f->btnEditar->isEnabled());
    EXPECT_EQ(Scratch(), 0);
}

// The new group through the windows as a user drives them.
TEST_F(BaseGrupos, NovoGrupoPelasJanelas) {
    f->CarregaItens(0);
    f->show();
    auto feito = AoAbrir("FormEdGrupo", [&](QWidget*) {
        e->edGrupo->setText("Suporte");
        e->btnOk->click();
    });
    // A failed save's box would otherwise stop the test: answered, and none expected.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->btnNovo->click();
    EXPECT_TRUE(ctx.mensagens.Mostradas().empty());
    EXPECT_TRUE(*feito);
    const int codigo = CodigoDe("Suporte");
    EXPECT_GT(codigo, 0);
    EXPECT_EQ(f->CodigoAtual(), codigo);
    EXPECT_TRUE(Ramais(codigo).empty());
    EXPECT_EQ(Historico(), (Lista{"17 Suporte"}));
    f->CarregaListaGrupos();
    EXPECT_EQ(f->ListaGrupos, (Lista{"Suporte"}));
    f->close();
}

TEST_F(BaseGrupos, NomesRecusados) {
    Abre(0);
    e->edGrupo->setText("Vendas");
    ASSERT_TRUE(e->SalvaEdicao());
    struct Caso {
        const char* nome;
        std::string mensagem;
    } casos[] = {
        {"Vendas", Traduz("Já existe um grupo com esta descrição")},
        {" Vendas  ", Traduz("Já existe um grupo com esta descrição")},
        {"Ramalho", VerificaNomeGrupo("Ramalho")},
        {"Ramal Norte", VerificaNomeGrupo("Ramalho")},
        {"", Traduz("Informe uma descrição para o grupo")},
    };
    for (const Caso& c : casos) {
        Abre(0);
        e->edGrupo->setText(c.nome);
        ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        EXPECT_FALSE(e->SalvaEdicao()) << c.nome;
        EXPECT_EQ(UltimaMensagem().toStdString(), c.mensagem) << c.nome;
        EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    }
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRUPO"), 1);
    // Its own name is no twin.
    Abre(CodigoDe("Vendas"));
    EXPECT_TRUE(e->SalvaEdicao());
}

TEST_F(BaseGrupos, FalhaNoMeioNaoMudaNada) {
    Abre(0);
    e->edGrupo->setText("Vendas");
    MarcaAcesso(*e, 1, true);
    e->btnFLR->click();
    ASSERT_TRUE(e->SalvaEdicao());
    const int codigo = e->CodigoGrupo;
    {
        Attachment att = p.Principal();
        InsereUsuario(att, 7, "Bia", "biab", 2, "Vendas");
    }
    FalhaNoHistorico();
    const auto antes = Historico();

    // A new group, a rename (its history row names the former name) and a
    // deletion, each failing at its history row.
    Abre(0);
    e->edGrupo->setText("FALHA");
    MarcaAcesso(*e, 2, true);
    e->btnFLR->click();
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    EXPECT_FALSE(e->SalvaEdicao());
    EXPECT_TRUE(UltimaMensagem().startsWith(
        QString::fromStdString(Traduz("Não foi possível salvar informações do grupo") + "\n")));
    EXPECT_TRUE(UltimaMensagem().contains("falha de teste"));

    {
        Attachment att = p.Principal();
        att.Executa("UPDATE GRUPO SET GRP_DESCRICAO = 'FALHA' WHERE GRP_CODIGO = " +
                    std::to_string(codigo));
        att.Executa("UPDATE USUARIO SET USR_GRUPO = 'FALHA'");
    }
    Abre(codigo);
    e->edGrupo->setText("Outro");
    e->btnFRL->click();
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    EXPECT_FALSE(e->SalvaEdicao());

    f->CarregaItens(codigo);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnApagarClick();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_TRUE(UltimaMensagem().startsWith(
        QString::fromStdString(Traduz("Não foi possível apagar o grupo"))));
    EXPECT_FALSE(f->GruposAlterados);

    EXPECT_EQ(Coluna("SELECT GRP_DESCRICAO FROM GRUPO"), (Lista{"FALHA"}));
    EXPECT_EQ(Ramais(codigo), (Lista{"1:201:", "1:202:Recepção", "1:203:"}));
    EXPECT_EQ(Coluna("SELECT USR_GRUPO FROM USUARIO"), (Lista{"FALHA"}));
    EXPECT_EQ(Historico(), antes);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRPRAMAL"), 3);
}

// What an operator of the group then sees, through the login's list (the
// one the recordings search uses).
TEST_F(BaseGrupos, VisibilidadePeloLogin) {
    Attachment att = p.Principal();
    InsereUsuario(att, 20, "Operador", "oper", 2, "Atendimento");
    InsereUsuario(att, 21, "Ramalista", "rama", 2, Traduz("Ramal") + " Recepção");
    InsereUsuario(att, 22, "Chefe", "chef", 1, "");
    Acesso acesso(ctx.dados, ctx.mensagens);
    // Blank entries (a group without rows in the unit) show nothing.
    auto vistos = [&](int usuario, int unidade) {
        Lista r;
        for (const std::string& v : acesso.CarregaListaRamaisUsuarios(usuario, unidade))
            if (!v.empty()) r.push_back(v);
        return r;
    };
    Abre(0);
    e->edGrupo->setText("Atendimento");
    MarcaAcesso(*e, 1, true);
    Seleciona(e->ListBoxRamDisp, {"201", "202 [Recepção]"});
    e->btnLR->click();
    ASSERT_TRUE(e->SalvaEdicao());
    EXPECT_EQ(vistos(20, 1), (Lista{"201", "202", "Recepção"}));
    EXPECT_TRUE(vistos(20, 2).empty());
    EXPECT_EQ(vistos(21, 1), (Lista{"Recepção"}));
    EXPECT_EQ(vistos(22, 2), (Lista{"*"}));
    Abre(e->CodigoGrupo);
    e->edGrupo->setText("Balcão");
    ASSERT_TRUE(e->SalvaEdicao());
    EXPECT_EQ(vistos(20, 1), (Lista{"201", "202", "Recepção"}));
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->CarregaItens(e->CodigoGrupo);
    f->BtnApagarClick();
    EXPECT_TRUE(vistos(20, 1).empty());
}

// Two consoles, each with its own connection.
TEST_F(BaseGrupos, DuasConsoles) {
    ContextoConsole outro;
    std::string erro;
    ASSERT_TRUE(outro.dados.ConectaBancoDados(erro)) << erro;
    FormGrupos f2(outro);
    FormEdGrupo* e2 = f2.editor();
    auto abre = [](FormEdGrupo* ed, int codigo) {
        ed->LimpaTela();
        ed->CodigoGrupo = codigo;
        ed->CarregaGrupo();
    };

    // G1 and G2 at once: each keeps its own rows.
    abre(e, 0);
    abre(e2, 0);
    e->edGrupo->setText("G1");
    e2->edGrupo->setText("G2");
    MarcaAcesso(*e, 1, true);
    Seleciona(e->ListBoxRamDisp, {"201"});
    e->btnLR->click();
    MarcaAcesso(*e2, 1, true);
    Seleciona(e2->ListBoxRamDisp, {"203"});
    e2->btnLR->click();
    ASSERT_TRUE(e->SalvaEdicao());
    ASSERT_TRUE(e2->SalvaEdicao());
    const int g1 = CodigoDe("G1"), g2 = CodigoDe("G2");
    EXPECT_NE(g1, g2);
    EXPECT_EQ(Ramais(g1), (Lista{"1:201:"}));
    EXPECT_EQ(Ramais(g2), (Lista{"1:203:"}));

    // The same group in both: the last save stands whole.
    abre(e, g1);
    abre(e2, g1);
    e->btnFLR->click();
    ASSERT_TRUE(e->SalvaEdicao());
    MarcaAcesso(*e2, 2, true);
    e2->btnFLR->click();
    ASSERT_TRUE(e2->SalvaEdicao());
    EXPECT_EQ(Ramais(g1), (Lista{"1:201:", "2:201:"}));

    // Deleted while the other edits it: the save fails, no orphan rows.
    abre(e2, g2);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->CarregaItens(g2);
    f->BtnApagarClick();
    e2->btnFLR->click();
    outro.mensagens.ProximaResposta(RespostaMensagem::Ok);
    EXPECT_FALSE(e2->SalvaEdicao());
    EXPECT_EQ(outro.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_EQ(Ramais(g2), Lista{});
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRUPO"), 1);
    EXPECT_EQ(Scratch(), 0);
}

// A unit whose database cannot be opened says so, instead of an empty list.
TEST_F(BaseGrupos, UnidadeSemBaseDizPorque) {
    {
        Attachment att = p.Principal();
        att.Executa("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DNSUPDATE) "
                    "VALUES (7, 'Sem base', 0) MATCHING (PAB_CODIGO)");
    }
    // The installation outlives the test: the unit goes at its end.
    struct Retira {
        ProgramaTeste& p;
        ~Retira() {
            try {
                p.Principal().Executa("DELETE FROM PABX WHERE PAB_CODIGO = 7");
            } catch (const std::exception&) {
            }
        }
    } retira{p};
    Abre(0);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    MarcaAcesso(*e, 7, true);
    EXPECT_EQ(e->CodigoPABXMostrado, 7);
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 1u);
    EXPECT_EQ(ctx.mensagens.Mostradas()[0].caption, "Erro");
    EXPECT_TRUE(ctx.mensagens.Mostradas()[0].texto.startsWith(
        "Não foi possível conectar base de dados GRVPAB007"))
        << ctx.mensagens.Mostradas()[0].texto.toStdString();
    EXPECT_TRUE(Itens(e->ListBoxRamDisp).empty());
    // A unit that opens still lists its extensions, without a message.
    MarcaAcesso(*e, 1, true);
    EXPECT_EQ(Itens(e->ListBoxRamDisp), (Lista{"201", "202 [Recepção]", "203"}));
    EXPECT_EQ(ctx.mensagens.Mostradas().size(), 1u);
    e->BtnCancelarClick();
}
