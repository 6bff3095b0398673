// The extension permission editor against the real server and the simulated
// unit: what a save leaves in the unit's tables and in the PABX (writes in
// order), the box rules, the editor's refusals, each end of the programming
// with its message, and the permissions list's new, edit and removal going
// through the editor.

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include "ConsoleTeste.h"
#include "RamaisTeste.h"
#include "console/ProgramacaoRamal.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/FormEdCfgRamal.h"

namespace {

struct EdCfgRamal : BaseRamais {
    std::unique_ptr<FormEdCfgRamal> ed;

    void SetUp() override {
        BaseRamais::SetUp();
        if (IsSkipped()) return;
        IniciaPABX();
        // The directory: a name with ';' and one whose number is no extension.
        Attachment att = p.Unidade(1);
        Transaction tr(att);
        tr.Executa("DELETE FROM DNSPABX");
        tr.Executa("DELETE FROM RMLPERMISS");
        tr.Executa("DELETE FROM RAMALGRAVA");
        tr.Executa("INSERT INTO DNSPABX VALUES (1, 1001, '1001', 'Recepção d''Ana')");
        tr.Executa("INSERT INTO DNSPABX VALUES (1, 1002, '1002', 'A;7')");
        tr.Executa("INSERT INTO DNSPABX VALUES (1, 3001, '3001', 'Portaria')");
        tr.Executa("INSERT INTO DNSPABX VALUES (1, 999, '999', 'Fantasma')");
        tr.Commit();
        ed = NovoEditor("");
    }
    void TearDown() override {
        ed.reset();
        BaseRamais::TearDown();
    }
    // The editor as the list opens it: new (empty) or the extension given.
    std::unique_ptr<FormEdCfgRamal> NovoEditor(const std::string& ramal) {
        auto e = std::make_unique<FormEdCfgRamal>(*ctx);
        e->CodigoPABX = 1;
        e->CarregaListaRamaisPABX();
        e->RamalEdicao = ramal;
        if (ramal.empty()) {
            e->LBRamais->clear();
            for (const std::string& n : e->RamaisPABX)
                e->LBRamais->addItem(QString::fromStdString(n));
            e->LimpaTela();
        } else {
            e->CarregaConfigRamal();
        }
        return e;
    }
    static void Seleciona(QListWidget* l, std::initializer_list<const char*> nomes) {
        l->clearSelection();
        for (const char* n : nomes) {
            const auto achados = l->findItems(QString::fromUtf8(n), Qt::MatchExactly);
            ASSERT_EQ(achados.size(), 1) << n;
            achados.front()->setSelected(true);
        }
    }
    static std::vector<std::string> Itens(const QListWidget* l) {
        std::vector<std::string> v;
        for (int i = 0; i < l->count(); ++i) v.push_back(l->item(i)->text().toStdString());
        return v;
    }
    // Every write the unit took, as "block/index".
    std::vector<std::string> Escritas() {
        std::vector<std::string> v;
        for (const auto& w : sim->unit().Writes())
            v.push_back(std::to_string(w.block) + "/" + std::to_string(w.index));
        return v;
    }
    std::vector<std::string> Permissoes() {
        return Linhas(false,
                      "SELECT RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO FROM RMLPERMISS ORDER BY 2");
    }
    std::vector<std::string> Gravacao() {
        return Linhas(
            false, "SELECT RML_RAMAL, RML_RMLGRVDNS, RML_RMLGRAVA FROM RAMALGRAVA ORDER BY 1, 2");
    }
};

using Lista = std::vector<std::uint16_t>;
using Textos = std::vector<std::string>;

}  // namespace

TEST_F(EdCfgRamal, NovoRamalGravaLinhasEProgramaOPABX) {
    Seleciona(ed->LBRamais, {"A;7"});
    ed->cbPodeGrvINT->setChecked(true);
    ed->cbAutorGrvREC->click();
    Seleciona(ed->ListBoxRamDisp, {"Portaria", "Fantasma"});
    ed->btnLR->click();
    EXPECT_EQ(Itens(ed->ListBoxRamSel), (Textos{"Fantasma", "Portaria"}));
    ed->BtnOkClick();
    EXPECT_EQ(ed->result(), QDialog::Accepted) << ::testing::PrintToString(Mensagens());
    EXPECT_TRUE(Mensagens().empty()) << ::testing::PrintToString(Mensagens());
    EXPECT_EQ(ed->UltimaMarca, MarcaProgramado);
    // The name's ';' is the name's: block 1002, never 7 or 1.
    EXPECT_EQ(Permissoes(), Textos{"A;7|1002|257"});
    EXPECT_EQ(Gravacao(), (Textos{"A;7|999|Fantasma", "A;7|3001|Portaria"}));
    EXPECT_EQ(Escritas(), (Textos{"1002/9", "1002/10", "10/35"}));
    EXPECT_EQ(sim->unit().ExtensionWord(1002), 257);
    EXPECT_EQ(sim->unit().ExtensionList(1002), Lista{3001}) << "999 is no extension";
    EXPECT_EQ(sim->unit().ConfiguredList(), Lista{1002});
    EXPECT_FALSE(ed->LabelStatusTransmissao->isVisible());
}

TEST_F(EdCfgRamal, DoisRamaisTodasAsPortasERamalSemNumero) {
    Seleciona(ed->LBRamais, {"Recepção d'Ana", "Fantasma", "Portaria"});
    ed->cbAutorGrvORI->click();
    ed->cbTodasPortas->click();
    EXPECT_EQ(Itens(ed->ListBoxRamSel), Textos{"Todos"});
    EXPECT_EQ(ed->ListBoxRamDisp->count(), 0);
    ed->BtnOkClick();
    EXPECT_EQ(ed->result(), QDialog::Accepted);
    EXPECT_EQ(Mensagens(), Textos{"O ramal Fantasma não existe no PABX"});
    EXPECT_EQ(Permissoes(), (Textos{"Recepção d'Ana|1001|640", "Portaria|3001|640"}));
    EXPECT_EQ(Gravacao(), (Textos{"Portaria|0|Todos", "Recepção d'Ana|0|Todos"}));
    // Six writes in the list's order, each extension with the union of the
    // others' numbers.
    EXPECT_EQ(Escritas(), (Textos{"3001/9", "3001/10", "10/35", "1001/9", "1001/10", "10/35"}));
    for (int n : {1001, 3001}) {
        EXPECT_EQ(sim->unit().ExtensionWord(static_cast<std::uint16_t>(n)), 640);
        EXPECT_EQ(sim->unit().ExtensionList(static_cast<std::uint16_t>(n)),
                  (Lista{1002, 1001, 3001}));
    }
    EXPECT_EQ(sim->unit().ConfiguredList(), (Lista{1001, 3001}));
    for (const auto& q : sim->ReceivedFrames()) {
        const pabxsim::Request r = pabxsim::ParseRequest(q);
        EXPECT_TRUE(r.kind != pabxsim::kKindProg || r.block == 10 || TPABX::RamalValido(r.block))
            << pabxsim::Hex(q);
    }
}

TEST_F(EdCfgRamal, EdicaoCarregaETrocaAConfiguracao) {
    {
        Attachment att = p.Unidade(1);
        Transaction tr(att);
        tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                   "VALUES (1, 'Portaria', 3001, 69)");
        tr.Executa("INSERT INTO RAMALGRAVA (PAB_CODIGO, RML_RAMAL, RML_RMLGRVDNS, RML_RMLGRAVA) "
                   "VALUES (1, 'Portaria', 1001, 'Recepção d''Ana')");
        tr.Commit();
    }
    ed = NovoEditor("Portaria");
    EXPECT_EQ(Itens(ed->LBRamais), Textos{"Portaria"});
    EXPECT_EQ(ed->PalavraPermissao(), 69);
    EXPECT_TRUE(ed->cbTodasPortas->isEnabled());
    EXPECT_EQ(Itens(ed->ListBoxRamSel), Textos{"Recepção d'Ana"});
    EXPECT_EQ(Itens(ed->ListBoxRamDisp), (Textos{"A;7", "Fantasma", "Portaria"}));
    ed->cbTodaGrvREC->setChecked(true);
    ed->btnFLR->click();
    ed->BtnOkClick();
    EXPECT_EQ(ed->result(), QDialog::Accepted) << ::testing::PrintToString(Mensagens());
    EXPECT_EQ(Permissoes(), Textos{"Portaria|3001|101"});
    EXPECT_EQ(Gravacao(), (Textos{"Portaria|999|Fantasma", "Portaria|1001|Recepção d'Ana",
                                  "Portaria|1002|A;7", "Portaria|3001|Portaria"}));
    EXPECT_EQ(sim->unit().ExtensionList(3001), (Lista{1002, 3001, 1001}));
}

TEST_F(EdCfgRamal, RegrasDasCaixasERecusas) {
    // "Todas as portas" lives only while an "Autoriza" box is checked.
    EXPECT_FALSE(ed->cbTodasPortas->isEnabled());
    ed->cbAutorGrvINT->click();
    ed->cbAutorGrvREC->click();
    ASSERT_TRUE(ed->cbTodasPortas->isEnabled());
    ed->cbTodasPortas->click();
    EXPECT_FALSE(ed->btnLR->isEnabled());
    ed->cbAutorGrvINT->click();
    EXPECT_TRUE(ed->cbTodasPortas->isChecked());
    ed->cbAutorGrvREC->click();
    EXPECT_FALSE(ed->cbTodasPortas->isEnabled());
    EXPECT_FALSE(ed->cbTodasPortas->isChecked());
    EXPECT_TRUE(ed->btnLR->isEnabled());
    EXPECT_EQ(ed->ListBoxRamSel->count(), 0);
    EXPECT_EQ(Itens(ed->ListBoxRamDisp), (Textos{"A;7", "Fantasma", "Portaria", "Recepção d'Ana"}));

    // No box: refused, nothing written or sent.
    Seleciona(ed->LBRamais, {"Portaria"});
    ed->BtnOkClick();
    EXPECT_NE(ed->result(), QDialog::Accepted);
    EXPECT_EQ(Mensagens(), Textos{"Selecione pelo menos uma opção de gravação"});
    // A failing statement of the second extension: the first is not kept either.
    gatilho = true;
    {
        Attachment att = p.Unidade(1, true);
        att.Executa("CREATE EXCEPTION TESTE_RECUSA 'recusado pelo teste'");
        att.Executa("CREATE TRIGGER TESTE_DNS FOR RMLPERMISS BEFORE INSERT AS BEGIN IF "
                    "(NEW.RML_INDICEDNS = 3001) THEN EXCEPTION TESTE_RECUSA; END");
    }
    Seleciona(ed->LBRamais, {"A;7", "Portaria"});
    ed->cbPodeGrvORI->setChecked(true);
    ed->BtnOkClick();
    EXPECT_NE(ed->result(), QDialog::Accepted);
    EXPECT_EQ(Mensagens().back(), "Não foi possível salvar informações do usuário");
    EXPECT_TRUE(Permissoes().empty());
    EXPECT_TRUE(Gravacao().empty());
    EXPECT_TRUE(sim->ReceivedFrames().empty());
}

TEST_F(EdCfgRamal, CadaFimDaProgramacaoDizSuaMensagem) {
    struct Caso {
        const char* regra;  // empty: the password is wrong
        std::uint8_t marca;
        const char* mensagem;
    } casos[] = {
        {"write:*/9 refuse", MarcaRecusa + 5, "Envio de programação de porta recusado"},
        {"write:*/10 refuse", MarcaRecusa + 7, "Envio de programação de gravação recusado"},
        {"write:10/35 refuse", MarcaRecusa + 9, "Envio de programação de lista de ramais recusado"},
        {"write:*/9 noreply", MarcaTempo + 5, "Sem resposta ao envio da programação da porta"},
        {"write:*/10 noreply", MarcaTempo + 7, "Sem resposta ao envio da programação de gravação"},
        {"write:10/35 noreply", MarcaTempo + 9,
         "Sem resposta ao envio da lista de ramais da gravação"},
        {"write:10/35 drop", MarcaRecusa + 9, "Envio de programação de lista de ramais recusado"},
        {"login noreply", MarcaTempo + 3, "Não foi possível conectar com KELV"},
        {"", MarcaRecusa + 3, "Login recusado"},
    };
    ed->RamalEdicao = "Portaria";
    ed->RamaisAutorizados = {"1001"};
    for (const Caso& c : casos) {
        sim->ClearFaults();
        ApontaPara(sim->Port(), *c.regra ? "4321" : "errada");
        if (*c.regra) sim->AddFault(c.regra);
        const std::size_t vistas = Mensagens().size();
        EXPECT_FALSE(ed->EnviaProgramacaoRamal(0x41, 3001)) << c.regra;
        EXPECT_EQ(ed->UltimaMarca, c.marca) << c.regra;
        ASSERT_EQ(Mensagens().size(), vistas + 1) << c.regra;
        EXPECT_EQ(Mensagens().back(), c.mensagem) << c.regra;
        EXPECT_EQ(ctx->mensagens.Mostradas().back().caption, "Informação");
    }
    // Nothing listening.
    const int porta = sim->Port();
    sim->Stop();
    ApontaPara(porta, "4321");
    EXPECT_FALSE(ed->EnviaProgramacaoRamal(0x41, 3001));
    EXPECT_EQ(Mensagens().back(), "Não foi possível conectar com KELV");
}

TEST_F(EdCfgRamal, ListaAbreOEditorEApagaPeloPABX) {
    FormCfgRamais lista(*ctx);
    LigaEditorRamais(*ctx, lista);
    lista.CodigoPABX = 1;
    // New: the editor opens modal; a user picks two extensions and confirms.
    QTimer usuario;
    bool feito = false;
    QObject::connect(&usuario, &QTimer::timeout, [&] {
        if (feito) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* e = dynamic_cast<FormEdCfgRamal*>(w); e && e->isVisible()) {
                feito = true;
                Seleciona(e->LBRamais, {"A;7", "Fantasma"});
                e->cbPodeGrvREC->setChecked(true);
                e->btnOk->click();
                return;
            }
    });
    usuario.start(20);
    lista.CarregaConfiguracaoRamais("");
    lista.btnNovoClick();
    EXPECT_EQ(Permissoes(), Textos{"A;7|1002|4"});
    EXPECT_EQ(sim->unit().ExtensionWord(1002), 4);
    const auto historico =
        Linhas(true, "SELECT LOG_DETALHES FROM LOGHISTORY WHERE LOG_OPERACAO = 8");
    ASSERT_EQ(historico.size(), 1u);
    EXPECT_NE(historico[0].find("A;7"), std::string::npos) << historico[0];

    // Removal: word 0, empty list, and the unit's list without it.
    ctx->mensagens.ProximaResposta(RespostaMensagem::Sim);
    lista.GridItens->selectRow(0);
    lista.btnApagarClick();
    EXPECT_TRUE(Permissoes().empty());
    EXPECT_EQ(sim->unit().ExtensionWord(1002), 0);
    EXPECT_TRUE(sim->unit().ExtensionList(1002).empty());
    EXPECT_TRUE(sim->unit().ConfiguredList().empty());
    EXPECT_EQ(Escritas(), (Textos{"1002/9", "1002/10", "10/35", "1002/9", "1002/10", "10/35"}));

    // A configuration whose name has no number: only the unit's list is written.
    {
        Attachment att = p.Unidade(1);
        Transaction tr(att);
        tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                   "VALUES (1, 'Sumido', 0, 1)");
        tr.Commit();
    }
    lista.CarregaConfiguracaoRamais("");
    ctx->mensagens.ProximaResposta(RespostaMensagem::Sim);
    lista.GridItens->selectRow(0);
    lista.btnApagarClick();
    EXPECT_EQ(Escritas().size(), 7u);
    EXPECT_EQ(Escritas().back(), "10/35");
}

TEST_F(EdCfgRamal, LimiteDeTempoSoNasEsperas) {
    using namespace std::chrono;
    auto agora = steady_clock::time_point{} + hours(1);
    auto relogio = [&] { return agora; };
    TPABX pabx(ModoPABX::Console);
    pabx.FEnderecoIP = "127.0.0.1";
    pabx.FPorta = static_cast<std::uint16_t>(sim->Port());
    pabx.FSenha = "4321";
    pabx.FListaRamais = {"1001", "3001"};
    ASSERT_EQ(pabx.FTempoLimite, 1);
    EstadoProgramacao e(pabx, {{"a", 5, 1001}, {"b", 6, 3001}}, {"1002"}, relogio);
    int passos = 0;
    while (!e.Terminou() && ++passos < 200) {
        agora += hours(1);  // long past any limit: sends must not care
        ASSERT_TRUE(e.Verifica()) << int(e.Estado());
        e.Envia();
        if (e.Terminou()) break;
        // The reply arrives while the clock stands 1 ms before the limit.
        agora += milliseconds(999);
        ASSERT_TRUE(EsperaAte(
            [&] { return e.Estado() == 3 ? !pabx.FStatusCTRL.Vazio() : !pabx.FStatusPROG.Vazio(); },
            10000))
            << int(e.Estado());
        e.Verifica();
        ASSERT_EQ(e.Estado() % 2, 0) << "step answered before its limit: " << int(e.Estado());
    }
    EXPECT_EQ(e.Estado(), MarcaProgramado);
    EXPECT_EQ(sim->unit().ExtensionWord(3001), 6);
    EXPECT_EQ(sim->unit().ExtensionList(1001), Lista{1002});

    sim->AddFault("write:*/10 noreply");
    EstadoProgramacao silencio(pabx, {{"a", 5, 1001}}, {"1002"}, relogio);
    while (silencio.Estado() != 7 && !silencio.Terminou()) {
        if (silencio.Verifica())
            silencio.Envia();
        else
            EsperaAte([] { return false; }, 5);
    }
    ASSERT_EQ(silencio.Estado(), 7);
    agora += milliseconds(999);
    EXPECT_FALSE(silencio.Verifica());
    EXPECT_EQ(silencio.Estado(), 7);
    agora += milliseconds(1);
    silencio.Verifica();
    EXPECT_EQ(silencio.Estado(), MarcaTempo + 7);
    pabx.Desconecta();
}

// The bits no box edits (the attendant bit 15 among them) stay as they were
// read, in the unit's row and in the PABX.
TEST_F(EdCfgRamal, EdicaoGuardaOsBitsQueAsCaixasNaoEditam) {
    {
        Attachment att = p.Unidade(1);
        Transaction tr(att);
        tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                   "VALUES (1, 'Portaria', 3001, 33861)");  // 0x8445: bits 15 and 10, boxes 0, 2, 6
        tr.Commit();
    }
    ed = NovoEditor("Portaria");
    EXPECT_TRUE(ed->cbPodeGrvINT->isChecked());
    ed->cbPodeGrvINT->setChecked(false);
    ed->cbPodeGrvORI->setChecked(true);
    ed->BtnOkClick();
    EXPECT_EQ(ed->result(), QDialog::Accepted) << ::testing::PrintToString(Mensagens());
    const int esperado = 0x8400 | 0x0002 | 0x0004 | 0x0040;
    EXPECT_EQ(Permissoes(), Textos{"Portaria|3001|" + std::to_string(esperado)});
    EXPECT_EQ(sim->unit().ExtensionWord(3001), esperado);
}

// "Novo" with no extension chosen saves nothing, programs nothing and says why.
TEST_F(EdCfgRamal, NovoSemRamalEscolhidoERecusado) {
    ed->LBRamais->clearSelection();
    ed->cbPodeGrvINT->setChecked(true);
    ed->BtnOkClick();
    EXPECT_NE(ed->result(), QDialog::Accepted);
    EXPECT_EQ(Mensagens(), Textos{"Selecione pelo menos um ramal"});
    EXPECT_EQ(ctx->mensagens.Mostradas().back().caption, "Erro");
    EXPECT_TRUE(Permissoes().empty());
    EXPECT_TRUE(Escritas().empty());
}

// A removal the unit's database refuses leaves the PABX as it was, and says so.
TEST_F(EdCfgRamal, RemocaoRecusadaPeloBancoNaoProgramaOPABX) {
    {
        Attachment att = p.Unidade(1);
        Transaction tr(att);
        tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                   "VALUES (1, 'Portaria', 3001, 69)");
        tr.Commit();
    }
    const std::uint16_t palavraNoPABX = sim->unit().ExtensionWord(3001);
    gatilho = true;
    {
        Attachment att = p.Unidade(1, true);
        att.Executa("CREATE EXCEPTION TESTE_RECUSA 'recusado pelo teste'");
        att.Executa("CREATE TRIGGER TESTE_DNS FOR RMLPERMISS BEFORE DELETE AS BEGIN EXCEPTION "
                    "TESTE_RECUSA; END");
    }
    FormCfgRamais lista(*ctx);
    LigaEditorRamais(*ctx, lista);
    lista.CodigoPABX = 1;
    lista.CarregaConfiguracaoRamais("");
    ctx->mensagens.ProximaResposta(RespostaMensagem::Sim);
    lista.GridItens->selectRow(0);
    lista.btnApagarClick();
    EXPECT_EQ(Permissoes(), Textos{"Portaria|3001|69"});
    EXPECT_TRUE(Escritas().empty()) << ::testing::PrintToString(Escritas());
    EXPECT_EQ(sim->unit().ExtensionWord(3001), palavraNoPABX);
    ASSERT_FALSE(Mensagens().empty());
    EXPECT_EQ(Mensagens().back().rfind(
                  "Não foi possível excluir a configuração de gravação do ramal Portaria\n", 0),
              0u)
        << Mensagens().back();
    EXPECT_EQ(ctx->mensagens.Mostradas().back().caption, "Erro");
    EXPECT_TRUE(Linhas(true, "SELECT LOG_DETALHES FROM LOGHISTORY WHERE LOG_OPERACAO = 9").empty());
}
