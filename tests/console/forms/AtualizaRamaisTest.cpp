// The extension names refresh against the real server and the simulated
// unit: the directory, the groups and the flag after a full refresh; every
// failure (and a failing write) leaving all three as they were; the event
// loop kept free while it waits; the groups editor's and the recordings
// picker's refresh of a flagged unit.

#include <QElapsedTimer>
#include <QListWidget>
#include <QTableWidget>
#include <QTimer>

#include "RamaisTeste.h"
#include "console/forms/EscolheCentral.h"
#include "console/forms/FormAtualizaRamais.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormGrupos.h"

namespace {

struct AtualizaRamais : BaseRamais {
    // Runs VerificaAtualizacaoRamais as a caller does; counts the ticks of
    // a 50 ms timer meanwhile and how long it took.
    int ticks = 0;
    qint64 duracao = 0;
    void Verifica() {
        QTimer relogio;
        QObject::connect(&relogio, &QTimer::timeout, [&] { ++ticks; });
        relogio.start(50);
        QElapsedTimer t;
        t.start();
        VerificaAtualizacaoRamais(*ctx, 1);
        duracao = t.elapsed();
    }
};

}  // namespace

TEST_F(AtualizaRamais, FlagLigadaReescreveDiretorioGruposEFlag) {
    IniciaPABX();
    EstadoInicial();
    Verifica();
    EXPECT_TRUE(Mensagens().empty()) << ::testing::PrintToString(Mensagens());
    EXPECT_EQ(Linhas(false, "SELECT DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY 1"),
              (std::vector<std::string>{"1001|1001|Recepção d'Ana", "1002|1002|Vendas",
                                        "3001|3001|Portaria"}));
    // Names only: the permissions stay as they were, and were never asked for.
    EXPECT_EQ(Linhas(false, "SELECT RML_RAMAL FROM RMLPERMISS"),
              std::vector<std::string>{"Antigo"});
    for (const auto& q : sim->ReceivedFrames())
        EXPECT_NE(pabxsim::ParseRequest(q).block, 10) << pabxsim::Hex(q);
    EXPECT_EQ(Linhas(true, "SELECT RML_RAMAL, RML_NOME FROM GRPRAMAL"),
              std::vector<std::string>{"1001|Recepção d'Ana"});
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"0"});

    // Flag 0 now: nothing is shown or asked.
    const int sessoes = sim->SessionsAccepted();
    Verifica();
    EXPECT_EQ(sim->SessionsAccepted(), sessoes);
}

TEST_F(AtualizaRamais, CadaFalhaDeixaTudoComoEstava) {
    IniciaPABX();
    EstadoInicial();
    const std::vector<std::string> antes = Estado();
    struct Caso {
        const char* regra;  // fault rule, or a special case
        const char* mensagem;
    } casos[] = {
        {"params noreply", "Sem resposta ao pedido de parâmetros"},
        {"dnsnames noreply", "Sem resposta ao pedido de nomes de ramais"},
        {"dnsindexes drop", "Sem resposta ao pedido de indice de ramais"},
        {"agenda refuse", "Sem resposta ao pedido de agenda"},
        {"agenda wrongblock", "Sem resposta ao pedido de agenda"},
        {"senha", "Não foi possível conectar com KELV"},
        {"porta", "Não foi possível conectar com KELV"},
        {"gravacao", "Não foi possível gravar os ramais lidos do PABX"},
    };
    for (const Caso& c : casos) {
        const std::string regra = c.regra;
        sim->ClearFaults();
        if (regra == "senha")
            ApontaPara(sim->Port(), "errada");
        else if (regra == "porta")
            ApontaPara(1, "4321");  // nothing listens there
        else if (regra == "gravacao")
            FalhaNoDiretorio();
        else
            sim->AddFault(regra);
        const std::size_t vistas = ctx->mensagens.Mostradas().size();
        ticks = 0;
        Verifica();
        ASSERT_EQ(ctx->mensagens.Mostradas().size(), vistas + 1) << regra;
        EXPECT_EQ(Mensagens().back(), c.mensagem) << regra;
        EXPECT_EQ(Estado(), antes) << regra;
        // The waits left the event loop free: the timer kept its pace.
        EXPECT_GE(ticks, duracao / 50 / 3) << regra << " " << duracao << " ms";
        ApontaPara(sim->Port(), "4321");
    }
}

// The groups editor refreshes a flagged unit before it shows the unit's lists:
// the group's entry and the offered ones carry the names the PABX gave.
TEST_F(AtualizaRamais, EditorDeGruposAtualizaAUnidadeMarcada) {
    IniciaPABX();
    EstadoInicial();
    FormGrupos grupos(*ctx);
    FormEdGrupo* e = grupos.editor();
    e->LimpaTela();
    e->CodigoGrupo = 1;
    e->CarregaGrupo();
    EXPECT_TRUE(Mensagens().empty()) << ::testing::PrintToString(Mensagens());
    auto itens = [](const QListWidget* l) {
        std::vector<std::string> r;
        for (int i = 0; i < l->count(); ++i) r.push_back(l->item(i)->text().toStdString());
        return r;
    };
    EXPECT_EQ(itens(e->ListBoxRamSel), std::vector<std::string>{"1001 [Recepção d'Ana]"});
    EXPECT_EQ(itens(e->ListBoxRamDisp),
              (std::vector<std::string>{"1002 [Vendas]", "3001 [Portaria]"}));
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"0"});
}

// The main window's recordings button: a flagged unit chosen in the picker is
// refreshed before its database is connected; the other callers never ask.
TEST_F(AtualizaRamais, EscolhaDaCentralParaGravacoesAtualiza) {
    IniciaPABX();
    EstadoInicial();
    ctx->formBuscaCentral = std::make_unique<FormBuscaCentral>(*ctx);
    auto escolhe = [&](bool atualizaRamais) {
        AoAbrir("FormBuscaCentral", [](QWidget* w) {
            auto* picker = static_cast<FormBuscaCentral*>(w);
            picker->GridItens->selectRow(0);
            picker->btnOkClick();
        });
        int codigo = 0;
        std::string nome;
        EXPECT_EQ(EscolheCentral(*ctx, codigo, nome, atualizaRamais), TrocaCentral::Conectada);
        EXPECT_EQ(codigo, 1);
    };
    escolhe(false);
    EXPECT_EQ(sim->SessionsAccepted(), 0);
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"1"});
    escolhe(true);
    EXPECT_TRUE(Mensagens().empty()) << ::testing::PrintToString(Mensagens());
    EXPECT_EQ(Linhas(true, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Linhas(false, "SELECT DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY 1"),
              (std::vector<std::string>{"1001|Recepção d'Ana", "1002|Vendas", "3001|Portaria"}));
    EXPECT_TRUE(ctx->dados.BasePABXConectada());
}
