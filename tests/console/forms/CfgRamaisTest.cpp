// The extension permissions window and its read-out from the PABX against
// the real server and the simulated unit: the rows and grid texts a full
// read-out leaves, what every failure leaves (nothing), the time-out rule on
// an injected clock, and the list's own handlers.

#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <thread>

#include "ConsoleTeste.h"
#include "RamaisTeste.h"
#include "console/ConfigRamais.h"
#include "console/LeituraRamais.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/FormEdCfgRamal.h"

namespace {

struct CfgRamais : BaseRamais {
    std::unique_ptr<FormCfgRamais> f;
    void SetUp() override {
        BaseRamais::SetUp();
        if (IsSkipped()) return;
        f = std::make_unique<FormCfgRamais>(*ctx);
        f->CodigoPABX = 1;
    }
    void TearDown() override {
        f.reset();
        BaseRamais::TearDown();
    }
    // Runs one read-out through the window's button; its end mark.
    std::uint8_t Le() {
        if (!f->isVisible()) f->show();
        f->IniciaLeitura();
        EXPECT_TRUE(EsperaAte([&] { return !f->Executando(); }));
        return f->UltimaMarca;
    }
    std::vector<std::string> Grade() {
        std::vector<std::string> g;
        for (int r = 0; r < f->GridItens->rowCount(); ++r) {
            std::string l;
            for (int c = 0; c < 6; ++c) {
                const QTableWidgetItem* i = f->GridItens->item(r, c);
                l += (c ? "|" : "") + (i ? i->text().toStdString() : std::string());
            }
            g.push_back(l);
        }
        return g;
    }
};

}  // namespace

TEST(ConfigRamais, TextosDasColunas) {
    struct Caso {
        std::uint16_t permissao;
        const char* colunas[5];
    } casos[] = {
        {0x8047, {"Sim", "Int,Ori,Rec", "", "Int"}},
        {0x0000, {"Não", "", "", ""}},
        {0x01FF, {"Não", "Int,Ori,Rec", "Int,Ori,Rec", "Int,Ori,Rec"}},
        {0x0120, {"Não", "", "Rec", "Rec"}},
        {0x0012, {"Não", "Ori", "Ori", ""}},
    };
    for (const Caso& c : casos)
        for (int coluna = 1; coluna <= 4; ++coluna)
            EXPECT_EQ(DescricaoPermissaoRamal(coluna, c.permissao), c.colunas[coluna - 1])
                << std::hex << c.permissao << " column " << coluna;
    LinhaConfigRamal l{"1001", 0x0200, {"1002", "Vendas"}};
    EXPECT_EQ(DescricaoRamaisPermitidos(l), "Todos");
    l.permissao = 0;
    EXPECT_EQ(DescricaoRamaisPermitidos(l), "1002,Vendas");
}

TEST_F(CfgRamais, LeituraCompletaGravaTudoNumaVez) {
    IniciaPABX();
    EstadoInicial();
    ASSERT_EQ(Le(), MarcaConcluido) << ::testing::PrintToString(Mensagens());
    EXPECT_TRUE(Mensagens().empty());
    EXPECT_EQ(Linhas(false, "SELECT DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY 1"),
              (std::vector<std::string>{"1001|1001|Recepção d'Ana", "1002|1002|Vendas",
                                        "3001|3001|Portaria"}));
    EXPECT_EQ(
        Linhas(false, "SELECT RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO FROM RMLPERMISS ORDER BY 2"),
        (std::vector<std::string>{"Recepção d'Ana|1001|32839", "Vendas|1002|512", "1003|1003|0",
                                  "Portaria|3001|56"}));
    EXPECT_EQ(Linhas(false,
                     "SELECT RML_RAMAL, RML_RMLGRVDNS, RML_RMLGRAVA FROM RAMALGRAVA ORDER BY 2, 1"),
              (std::vector<std::string>{"Vendas|1001|Recepção d'Ana", "Recepção d'Ana|1002|Vendas",
                                        "Recepção d'Ana|3001|Portaria"}));
    EXPECT_EQ(Grade(), (std::vector<std::string>{
                           "1003|Não||||",
                           "Portaria|Não||Int,Ori,Rec||",
                           "Recepção d'Ana|Sim|Int,Ori,Rec||Int|Vendas,Portaria",
                           "Vendas|Não||||Todos",
                       }));
    EXPECT_EQ(f->AdvProgressPABX->maximum(), 4);
    for (const auto& q : sim->ReceivedFrames()) {
        const pabxsim::Request r = pabxsim::ParseRequest(q);
        EXPECT_TRUE(r.block != 999 && r.block != 4000) << pabxsim::Hex(q);
    }
    EXPECT_FALSE(f->AdvProgressPABX->isVisible());
    EXPECT_TRUE(f->btnEditar->isEnabled());
    EXPECT_TRUE(f->btnOk->isVisible());
    EXPECT_EQ(Linhas(true, "SELECT RML_RAMAL, RML_NOME FROM GRPRAMAL"),
              std::vector<std::string>{"1001|Recepção d'Ana"});
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"0"});
}

TEST_F(CfgRamais, ModeloComAgendaPorCTRLPulaNomesEIndices) {
    IniciaPABX(CenarioRamais("BRELVO"));
    ASSERT_EQ(Le(), MarcaConcluido) << ::testing::PrintToString(Mensagens());
    for (const auto& q : sim->ReceivedFrames()) {
        const pabxsim::Request r = pabxsim::ParseRequest(q);
        EXPECT_FALSE(r.kind == pabxsim::kKindProg && r.block == 2) << pabxsim::Hex(q);
    }
    // The agenda document alone names the directory: its short and long names.
    EXPECT_EQ(Linhas(false, "SELECT DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY 1"),
              (std::vector<std::string>{"1001|Rec|Recepção d'Ana", "1002|Ven|Vendas",
                                        "3001|Pt|Portaria"}));
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM RMLPERMISS"), std::vector<std::string>{"4"});
}

TEST_F(CfgRamais, ListaVaziaEsvaziaAsTabelas) {
    pabxsim::Scenario s = CenarioRamais();
    s.extensionList.clear();
    IniciaPABX(s);
    EstadoInicial();
    ASSERT_EQ(Le(), MarcaConcluido);
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM DNSPABX"), std::vector<std::string>{"3"});
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM RMLPERMISS"), std::vector<std::string>{"0"});
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM RAMALGRAVA"), std::vector<std::string>{"0"});
    EXPECT_EQ(Grade(), std::vector<std::string>{"|||||"});
    EXPECT_FALSE(f->btnEditar->isEnabled());
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"0"});
}

TEST_F(CfgRamais, CadaFalhaDizSuaMensagemENaoMudaNada) {
    IniciaPABX();
    EstadoInicial();
    const std::vector<std::string> antes = Estado();
    struct Pedido {
        const char* regra;
        const char* mensagem;
    } pedidos[] = {
        {"params", "Sem resposta ao pedido de parâmetros"},
        {"dnsnames", "Sem resposta ao pedido de nomes de ramais"},
        {"dnsindexes", "Sem resposta ao pedido de indice de ramais"},
        {"agenda", "Sem resposta ao pedido de agenda"},
        {"extlist", "Sem resposta ao pedido de lista de ramais"},
        {"read:*/9", "Sem resposta ao pedido de programação da porta"},
        {"read:*/10", "Sem resposta ao pedido de programação de gravação"},
    };
    for (const char* acao : {"noreply", "drop", "refuse", "wrongblock"}) {
        for (const Pedido& pedido : pedidos) {
            const std::string regra = std::string(pedido.regra) + " " + acao;
            sim->ClearFaults();
            // The third extension's requests, so the earlier ones were read.
            const bool ramal = std::string(pedido.regra).find('*') != std::string::npos;
            sim->AddFault(regra + (ramal ? " nth=3" : ""));
            const std::size_t vistas = ctx->mensagens.Mostradas().size();
            EXPECT_EQ(Le() & 0x80, 0x80) << regra;
            ASSERT_EQ(ctx->mensagens.Mostradas().size(), vistas + 1) << regra;
            EXPECT_EQ(Mensagens().back(), pedido.mensagem) << regra;
            EXPECT_EQ(ctx->mensagens.Mostradas().back().caption, "Erro");
            EXPECT_EQ(Estado(), antes) << regra;
        }
    }
}

TEST_F(CfgRamais, ConexaoRecusadaESenhaErrada) {
    IniciaPABX();
    EstadoInicial();
    const std::vector<std::string> antes = Estado();
    ApontaPara(sim->Port(), "errada");
    Le();
    const int porta = sim->Port();
    sim->Stop();
    ApontaPara(porta, "4321");
    Le();
    EXPECT_EQ(Mensagens(), (std::vector<std::string>{"Não foi possível conectar com KELV",
                                                     "Não foi possível conectar com KELV"}));
    EXPECT_EQ(Estado(), antes);
}

TEST_F(CfgRamais, FalhaAoGravarNaoMudaNada) {
    IniciaPABX();
    EstadoInicial();
    const std::vector<std::string> antes = Estado();
    FalhaNoDiretorio();
    EXPECT_EQ(Le(), MarcaConcluido);
    ASSERT_EQ(Mensagens().size(), 1u);
    EXPECT_EQ(Mensagens()[0].rfind("Não foi possível gravar os ramais lidos do PABX", 0), 0u);
    EXPECT_EQ(Estado(), antes);
}

// The step machine alone on an injected clock, driven as the worker and the
// main thread would: a reply that comes just before the limit counts, the
// limit itself ends a wait, and a send step never times out.
TEST_F(CfgRamais, LimiteDeTempoSoNasEsperas) {
    IniciaPABX();
    using namespace std::chrono;
    auto agora = steady_clock::time_point{} + hours(1);
    auto relogio = [&] { return agora; };
    auto espera = [](const TextoStatus& s) { return EsperaAte([&] { return !s.Vazio(); }, 10000); };
    TPABX pabx(ModoPABX::Console);
    pabx.FEnderecoIP = "127.0.0.1";
    pabx.FPorta = static_cast<std::uint16_t>(sim->Port());
    pabx.FSenha = "4321";
    ASSERT_EQ(pabx.FTempoLimite, 1);
    EstadoLeitura e(pabx, false, relogio);
    int passos = 0;
    while (!e.Terminou() && passos < 200) {
        ++passos;
        agora += hours(1);  // long past any limit: sends must not care
        ASSERT_TRUE(e.Verifica()) << int(e.Estado());
        e.Envia();
        if (e.Terminou()) break;
        // The reply arrives while the clock stands 1 ms before the limit.
        agora += milliseconds(999);
        const TextoStatus& s = e.Estado() == 3 ? pabx.FStatusCTRL : pabx.FStatusPROG;
        ASSERT_TRUE(espera(s)) << int(e.Estado());
        if (e.Estado() == 3) {
            ASSERT_TRUE(EsperaAte([&] { return pabx.FStatusCTRL == "OK"; }, 10000));
        }
        e.Verifica();  // the wait step takes the answer
        ASSERT_LT(e.Estado(), MarcaFalha) << "step answered before its limit";
        if (e.Estado() % 2 == 1) FAIL() << "still waiting at " << int(e.Estado());
    }
    EXPECT_EQ(e.Estado(), MarcaConcluido);
    EXPECT_EQ(e.Resultado().configuracao.size(), 4u);

    sim->AddFault("extlist noreply");
    EstadoLeitura silencio(pabx, false, relogio);
    while (silencio.Estado() != 13 && !silencio.Terminou()) {
        if (silencio.Verifica())
            silencio.Envia();
        else
            EsperaAte([] { return false; }, 5);
    }
    ASSERT_EQ(silencio.Estado(), 13);
    agora += milliseconds(999);
    EXPECT_FALSE(silencio.Verifica());
    EXPECT_EQ(silencio.Estado(), 13);
    agora += milliseconds(1);
    silencio.Verifica();
    EXPECT_EQ(silencio.Estado(), MarcaFalha + 13);
    EXPECT_EQ(EstadoLeitura::MensagemFim(silencio.Estado()),
              "Sem resposta ao pedido de lista de ramais");
    pabx.Desconecta();
}

TEST_F(CfgRamais, AberturaLeSoUnidadeSemRamaisEJanelaPresaDuranteLeitura) {
    IniciaPABX();
    EstadoInicial();
    sim->AddFault("extlist delay=1500");
    ctx->dados.ExecutaPABX([](Transaction& tr) { tr.Executa("DELETE FROM RMLPERMISS"); });
    bool tentouFechar = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(EsperaAte([&] { return f->Executando(); }));
        EXPECT_FALSE(f->btnAtualiza->isEnabled());
        EXPECT_FALSE(f->btnOk->isVisible());
        EXPECT_TRUE(f->LabelPABX->isVisible());
        f->reject();
        tentouFechar = true;
        EXPECT_TRUE(f->isVisible()) << "no closing while the read-out runs";
        EXPECT_TRUE(EsperaAte([&] { return !f->Executando(); }));
        f->accept();
    });
    f->Abre(1, "Matriz");
    EXPECT_TRUE(tentouFechar);
    // The delayed list came after the 1 s limit.
    EXPECT_EQ(Mensagens(), std::vector<std::string>{"Sem resposta ao pedido de lista de ramais"});

    sim->ClearFaults();
    ctx->dados.ExecutaPABX([](Transaction& tr) {
        tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                   "VALUES (1, 'X', 1001, 0)");
    });
    const int sessoes = sim->SessionsAccepted();
    QTimer::singleShot(0, [&] {
        EsperaAte([] { return false; }, 300);
        EXPECT_FALSE(f->Executando());
        f->accept();
    });
    f->Abre(1, "Matriz");
    EXPECT_EQ(sim->SessionsAccepted(), sessoes) << "a unit with rows is not read at once";
    EXPECT_EQ(f->windowTitle().toStdString(), "Ramais do Veruzadu da central Matriz");
}

TEST_F(CfgRamais, ApagarRemoveLinhasRegistraEEnvia) {
    IniciaPABX();
    ASSERT_EQ(Le(), MarcaConcluido);
    std::vector<std::string> enviados;
    f->EnviaRemocaoRamal = [&](int codigo, const std::string& ramal) {
        EXPECT_EQ(codigo, 1);
        enviados.push_back(ramal);
        return false;
    };
    ctx->mensagens.ProximaResposta(RespostaMensagem::Nao);
    f->GridItens->selectRow(1);
    f->btnApagarClick();
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM RMLPERMISS"), std::vector<std::string>{"4"});
    ctx->mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->GridItens->selectRow(2);
    f->btnApagarClick();
    EXPECT_EQ(enviados, std::vector<std::string>{"Recepção d'Ana"});
    EXPECT_EQ(Linhas(false, "SELECT RML_RAMAL FROM RMLPERMISS ORDER BY 1"),
              (std::vector<std::string>{"1003", "Portaria", "Vendas"}));
    EXPECT_EQ(Linhas(false, "SELECT DISTINCT RML_RAMAL FROM RAMALGRAVA"),
              std::vector<std::string>{"Vendas"});
    EXPECT_EQ(Mensagens().back(),
              "Não foi possível enviar ao PABX a configuração de gravação do ramal Recepção d'Ana");
    const auto historico =
        Linhas(true, "SELECT LOG_DETALHES FROM LOGHISTORY WHERE LOG_OPERACAO = 9");
    ASSERT_EQ(historico.size(), 1u);
    EXPECT_NE(historico[0].find("Recepção d'Ana"), std::string::npos) << historico[0];
    EXPECT_EQ(f->GridItens->rowCount(), 3);
}

TEST_F(CfgRamais, OutraCentralPeloSeletorEJanelaPelaListaDeCentrais) {
    IniciaPABX();
    EstadoInicial();
    ctx->dados.ExecutaPABX([](Transaction& tr) { tr.Executa("DELETE FROM RMLPERMISS"); });
    f->LeituraPendente = false;
    f->show();
    // A key typed in the unit's field opens the picker; choosing the unit
    // without configured extensions reads it at once.
    AoAbrir("FormBuscaCentral", [](QWidget* w) {
        auto* picker = static_cast<FormBuscaCentral*>(w);
        picker->GridItens->selectRow(0);
        picker->btnOkClick();
    });
    QTest::keyClick(f->meCentral, Qt::Key_M);
    ASSERT_TRUE(EsperaAte([&] { return f->UltimaMarca != 0 && !f->Executando(); }));
    EXPECT_EQ(f->UltimaMarca, MarcaConcluido);
    EXPECT_EQ(f->meCentral->text().toStdString(), "Matriz");
    EXPECT_EQ(Linhas(false, "SELECT COUNT(*) FROM RMLPERMISS"), std::vector<std::string>{"4"});
    f->hide();

    // The units window's "Ramais" opens this window for the selected unit.
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
    c.ctx.formCentrais->CarregaItens(1);
    int codigo = 0;
    AoAbrir("FormCfgRamais", [&](QWidget* w) {
        auto* janela = static_cast<FormCfgRamais*>(w);
        codigo = janela->CodigoPABX;
        EXPECT_EQ(janela->GridItens->rowCount(), 4);
        janela->accept();
    });
    c.ctx.formCentrais->btnRamais->click();
    EXPECT_EQ(codigo, 1);
}

// A long name (21-30 characters) read from the PABX names the configuration
// whole, so the list's edit, "Novo" and removal all find the extension by it.
TEST_F(CfgRamais, NomeLongoLidoDoPABXFicaInteiro) {
    // A model with the long agenda (names of up to 30 characters).
    pabxsim::Scenario s = CenarioRamais("ORVAL500");
    const std::string longo = "Recepção do segundo andar 01";  // 28 characters
    s.agenda[0].longName = longo;
    IniciaPABX(s);
    ASSERT_EQ(Le(), MarcaConcluido) << ::testing::PrintToString(Mensagens());
    EXPECT_EQ(Linhas(false, "SELECT RML_RAMAL FROM RMLPERMISS WHERE RML_INDICEDNS = 1001"),
              std::vector<std::string>{longo});
    EXPECT_EQ(Linhas(false, "SELECT DISTINCT RML_RAMAL FROM RAMALGRAVA WHERE RML_RMLGRVDNS = 1002"),
              std::vector<std::string>{longo});
    LigaEditorRamais(*ctx, *f);
    f->CarregaConfiguracaoRamais("");
    int linha = -1;
    for (int r = 0; r < f->GridItens->rowCount(); ++r)
        if (f->GridItens->item(r, 0) && f->GridItens->item(r, 0)->text().toStdString() == longo)
            linha = r;
    ASSERT_GE(linha, 0);

    // "Novo" no longer offers it; editing finds it in the unit.
    std::vector<std::string> oferecidos;
    std::uint16_t palavra = 0;
    QTimer usuario;
    QObject::connect(&usuario, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* e = dynamic_cast<FormEdCfgRamal*>(w); e && e->isVisible()) {
                oferecidos.clear();
                for (int i = 0; i < e->LBRamais->count(); ++i)
                    oferecidos.push_back(e->LBRamais->item(i)->text().toStdString());
                palavra = e->PalavraPermissao();
                e->reject();
            }
    });
    usuario.start(20);
    f->btnNovoClick();
    EXPECT_EQ(std::count(oferecidos.begin(), oferecidos.end(), longo), 0)
        << ::testing::PrintToString(oferecidos);
    f->GridItens->selectRow(linha);
    f->btnEditarClick();
    EXPECT_EQ(oferecidos, std::vector<std::string>{longo});
    EXPECT_EQ(palavra, 0x8047);
    EXPECT_TRUE(Mensagens().empty()) << ::testing::PrintToString(Mensagens());
    usuario.stop();

    // Removal: the PABX forgets it too.
    ASSERT_NE(sim->unit().ExtensionWord(1001), 0);
    ctx->mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->GridItens->selectRow(linha);
    f->btnApagarClick();
    EXPECT_EQ(sim->unit().ExtensionWord(1001), 0);
    EXPECT_TRUE(sim->unit().ExtensionList(1001).empty());
}
