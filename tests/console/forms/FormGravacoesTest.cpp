// The recordings and deletion windows offscreen against the real server: the
// search through the window's fields, tick rules, the reload after a filed
// recording, export and edit through the window, a unit that is not the
// connected one, and the deletion with its question, history and refusal
// while the main connection is down.

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>

#include "tests/console/TesteConsole.h"
#include "console/Gravacoes.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormApagaReg.h"
#include "console/forms/FormEdGrava.h"
#include "console/forms/FormGravacoes.h"

namespace fs = std::filesystem;

namespace {

DataHora Hoje(int h, int n = 0) {
    const QDate d = QDate::currentDate();
    return {d.year(), d.month(), d.day(), h, n, 0, 0};
}

struct BaseJanelas : ::testing::Test {
    ProgramaTeste p{
        std::string("fgr") + ::testing::UnitTest::GetInstance()->current_test_info()->name(), {1}};
    ContextoConsole ctx;
    std::unique_ptr<Attachment> unidade;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        std::string erro;
        ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
        ctx.dados.ConectaBasePABX(1);
        ctx.UsuarioCodigo = 1;
        ctx.UsuarioNome = "Administrador";
        ctx.UsuarioPerfil = 1;
        unidade = std::make_unique<Attachment>(p.Unidade(1));
    }
    void TearDown() override { unidade.reset(); }
    void Insere(int codigo, DataHora d, int tipo, const std::string& ramal, const std::string& fone,
                int temAudio = 1, const std::string& audio = "RIFF-audio") {
        Transaction tr(*unidade);
        Statement st(
            tr,
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, "
            "GRV_RAMGRAVADO, GRV_DESTINO, GRV_TEMAUDIO, GRV_DURACAO, GRV_BINDADOS) "
            "VALUES (?, 1, ?, ?, ?, ?, ?, ?, 75, ?)");
        st.SetInt(0, codigo).SetTimestamp(1, d).SetText(2, std::to_string(codigo)).SetInt(3, tipo);
        st.SetText(4, ramal).SetText(5, fone).SetInt(6, temAudio);
        if (!audio.empty()) st.SetBlob(7, audio);
        st.Executa();
        tr.Commit();
    }
    std::vector<std::pair<int, std::string>> Historico() {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, "SELECT LOG_OPERACAO, LOG_DETALHES FROM LOGHISTORY ORDER BY LOG_CODIGO");
        std::vector<std::pair<int, std::string>> r;
        for (Cursor c = st.Abre(); c.Proxima();) r.emplace_back(c.GetInt(0), c.GetText(1));
        return r;
    }
    int Conta(const std::string& sql) {
        Transaction tr(*unidade, true);
        Statement st(tr, sql);
        Cursor c = st.Abre();
        return c.Proxima() ? c.GetInt(0) : -1;
    }
};

}  // namespace

TEST_F(BaseJanelas, PesquisaMarcasRecargaEExportacao) {
    Insere(1, Hoje(8), 1, "201", "4830");
    Insere(2, Hoje(9), 2, "120", "4899", 0, "");
    Insere(3, Hoje(10), 1, "2000", "1130");
    FormGravacoes f(ctx);
    ASSERT_TRUE(f.DefineCentral(1, "Central 1"));
    f.show();
    EXPECT_EQ(f.meCentral->text(), "Central 1");
    EXPECT_EQ(f.hrFim->time(), QTime(23, 59, 59));
    EXPECT_EQ(f.Modelo().rowCount(), 0);  // nothing is searched at show
    EXPECT_FALSE(f.btnEditar->isEnabled());

    QTest::keyClicks(f.meRamal, "20");
    f.btnPesquisa->click();
    ModeloGravacoes& m = f.Modelo();
    ASSERT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.Linhas()[0].codigo, 3);
    EXPECT_TRUE(f.TimerEventos->isActive());
    f.meRamal->clear();
    f.btnPesquisa->click();
    ASSERT_EQ(m.rowCount(), 3);
    EXPECT_TRUE(m.data(m.index(m.LinhaDoCodigo(2), 5), ModeloGravacoes::PapelMarcador).toBool());

    // Ticking enables edit and export; clicking a row selects its code.
    m.setData(m.index(0, ModeloGravacoes::ColMarca), Qt::Checked, Qt::CheckStateRole);
    EXPECT_TRUE(f.btnEditar->isEnabled());
    EXPECT_TRUE(f.btnSalvar->isEnabled());
    EXPECT_EQ(f.LabelTrackFim->text(), "00:01:15");
    f.GridGrv->clicked(m.index(m.LinhaDoCodigo(1), ModeloGravacoes::ColTelefone));
    EXPECT_EQ(f.CodigoSelecionado(), 1);

    // A recording filed meanwhile shows after the event, the selection kept.
    Insere(4, Hoje(11), 0, "300", "");
    {
        Attachment outra = p.Principal();
        outra.Executa("EXECUTE BLOCK AS BEGIN POST_EVENT 'GRVGRAVACAO'; END");
    }
    ASSERT_TRUE(EsperaAte([&] { return m.rowCount() == 4; }));
    EXPECT_EQ(m.Linhas()[0].codigo, 4);
    EXPECT_EQ(f.GridGrv->currentIndex().row(), m.LinhaDoCodigo(1));

    // Export of the ticked rows (one without audio): one box, one history row.
    PastaTemporaria pasta;
    f.EscolhePastaExportacao = [&] { return pasta.Caminho().string(); };
    m.Marca(m.LinhaDoCodigo(1) + 1, true);
    m.Marca(m.LinhaDoCodigo(2) + 1, true);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnSalvar->click();
    ASSERT_FALSE(ctx.mensagens.Mostradas().empty());
    const QString caixa = ctx.mensagens.Mostradas().back().texto;
    EXPECT_TRUE(caixa.contains("exportadas: 1")) << caixa.toStdString();
    EXPECT_TRUE(caixa.contains("Sem áudio: 1")) << caixa.toStdString();
    const auto h = Historico();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].first, 22);
    EXPECT_EQ(h[0].second, FormataDataHora(Hoje(8), "dd/mm/yy hh:nn:ss") + " 201 4830");
    int arquivos = 0;
    for (const auto& e : fs::directory_iterator(pasta.Caminho())) arquivos += e.is_regular_file();
    EXPECT_EQ(arquivos, 1);
    f.reject();
}

// A recording filed while the folder is being chosen: the ticked rows are
// exported all the same (the list reloads after the export, not during it).
TEST_F(BaseJanelas, GravacaoArquivadaDuranteAEscolhaDaPastaNaoDesfazAExportacao) {
    Insere(1, Hoje(8), 1, "201", "4830");
    Insere(2, Hoje(9), 2, "202", "4899");
    FormGravacoes f(ctx);
    ASSERT_TRUE(f.DefineCentral(1, "Central 1"));
    f.show();
    f.btnPesquisa->click();
    ModeloGravacoes& m = f.Modelo();
    ASSERT_EQ(m.rowCount(), 2);
    m.Marca(m.LinhaDoCodigo(1) + 1, true);
    // The event's reload comes at once instead of within 5 s.
    f.TimerEventos->setInterval(10);
    ASSERT_TRUE(f.TimerEventos->isActive());
    PastaTemporaria pasta;
    f.EscolhePastaExportacao = [&] {
        // While the dialog is up its event loop runs: a recording is filed.
        Insere(3, Hoje(10), 1, "203", "1130");
        {
            Attachment outra = p.Principal();
            outra.Executa("EXECUTE BLOCK AS BEGIN POST_EVENT 'GRVGRAVACAO'; END");
        }
        EsperaAte([&] { return ctx.dados.EventoGravacao || m.rowCount() == 3; }, 5000);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
        return pasta.Caminho().string();
    };
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnSalvar->click();
    ASSERT_FALSE(ctx.mensagens.Mostradas().empty()) << "the export said nothing";
    const QString caixa = ctx.mensagens.Mostradas().back().texto;
    EXPECT_TRUE(caixa.contains("exportadas: 1")) << caixa.toStdString();
    int arquivos = 0;
    for (const auto& e : fs::directory_iterator(pasta.Caminho())) arquivos += e.is_regular_file();
    EXPECT_EQ(arquivos, 1);
    // Afterwards the list catches up.
    EXPECT_TRUE(f.TimerEventos->isActive());
    EXPECT_TRUE(EsperaAte([&] { return m.rowCount() == 3; }));
    f.reject();
}

TEST_F(BaseJanelas, CentralQueNaoEstaConectadaRecusaAcoes) {
    Insere(1, Hoje(8), 1, "201", "4830");
    FormGravacoes f(ctx);
    EXPECT_FALSE(f.DefineCentral(2, "Central 2"));  // unit 1 is the one connected
    f.show();
    EXPECT_TRUE(f.meCentral->text().isEmpty());
    f.btnPesquisa->click();
    EXPECT_EQ(f.Modelo().rowCount(), 0);
    EXPECT_FALSE(f.TimerEventos->isActive());
    EXPECT_FALSE(f.btnSalvar->isEnabled());
    EXPECT_FALSE(f.LabelIncompleta->isVisible());

    // A search that fails says the list is incomplete and leaves the reload off.
    ASSERT_TRUE(f.DefineCentral(1, "Central 1"));
    f.btnPesquisa->click();
    EXPECT_EQ(f.Modelo().rowCount(), 1);
    EXPECT_TRUE(f.TimerEventos->isActive());
    unidade->Executa(
        "ALTER PROCEDURE LISTAGRV (DTINI TIMESTAMP, DTFIM TIMESTAMP) RETURNS (X INTEGER) AS BEGIN "
        "X = 1 / 0; SUSPEND; END");
    f.btnPesquisa->click();
    EXPECT_FALSE(f.Modelo().Completo());
    EXPECT_TRUE(f.LabelIncompleta->isVisible());
    EXPECT_FALSE(f.TimerEventos->isActive());
    f.reject();
}

TEST_F(BaseJanelas, EdicaoCanceladaNaSegundaDeTres) {
    for (int i = 1; i <= 3; ++i)
        Insere(i, Hoje(8 + i), 1, "20" + std::to_string(i), "48" + std::to_string(i));
    FormGravacoes f(ctx);
    ASSERT_TRUE(f.DefineCentral(1, "Central 1"));
    f.show();
    f.btnPesquisa->click();
    ModeloGravacoes& m = f.Modelo();
    ASSERT_EQ(m.rowCount(), 3);
    for (int l = 1; l <= 3; ++l) m.Marca(l, true);
    std::vector<QString> vistos;
    auto segunda = std::make_shared<std::shared_ptr<bool>>();
    auto primeira = AoAbrir("FormEdGrava", [&, segunda](QWidget* w) {
        auto* ed = static_cast<FormEdGrava*>(w);
        vistos.push_back(ed->edRamal->text());
        ed->edCliente->setText("Cliente Novo");
        ed->edIdentificador->setText("id-1");
        ed->btnOk->click();
        *segunda = AoAbrir("FormEdGrava", [&](QWidget* w2) {
            auto* ed2 = static_cast<FormEdGrava*>(w2);
            vistos.push_back(ed2->edRamal->text());
            ed2->edCliente->setText("Nao salvo");
            ed2->btnCancelar->click();
        });
    });
    f.btnEditar->click();
    EXPECT_TRUE(*primeira);
    ASSERT_TRUE(*segunda && **segunda);
    EXPECT_EQ(vistos, (std::vector<QString>{"203", "202"}));  // newest first
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRAVACAO WHERE CLI_CODIGO <> 0"), 1);
    EXPECT_EQ(Conta("SELECT CLI_CODIGO FROM GRAVACAO WHERE GRV_CODIGO = 3"), 1);
    EXPECT_EQ(m.Linhas()[0].cliente, "Cliente Novo");
    EXPECT_EQ(m.Linhas()[1].cliente, "");
    const auto h = Historico();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].first, 21);
    EXPECT_TRUE(ctx.dados.EventosHabilitados());
    EXPECT_TRUE(f.TimerEventos->isActive());
    f.reject();
}

TEST_F(BaseJanelas, ApagarRegistrosPeloFormulario) {
    Insere(1, {2014, 3, 1, 10, 0, 0, 0}, 1, "201", "4830");
    Insere(2, {2014, 3, 2, 10, 0, 0, 0}, 1, "202", "4830");
    Insere(3, {2014, 3, 2, 11, 0, 0, 0}, 0, "202", "4830");
    FormApagaReg f(ctx);
    ASSERT_TRUE(f.DefineCentral(1, "Central 1"));
    f.CarregaGridInfo();
    f.show();
    EXPECT_EQ(f.gridInfo->item(0, 1)->text(), "01/03/2014");
    EXPECT_EQ(f.gridInfo->item(0, 3)->text(), "2");
    EXPECT_EQ(f.gridInfo->item(1, 1)->text(), "-");
    EXPECT_EQ(f.dtIni->date(), QDate(2014, 3, 1));  // the first day holding a recording
    EXPECT_EQ(f.QuantidadeOriginadas, 2);

    // Nothing ticked: the check's box, no question.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnApagar->click();
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 1u);
    EXPECT_EQ(ctx.mensagens.Mostradas()[0].texto, "Selecione um tipo de ligação");

    f.cbDelOri->setChecked(true);
    f.dtFim->setDate(QDate(2014, 3, 31));
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnApagar->click();
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 3u);
    EXPECT_EQ(ctx.mensagens.Mostradas()[1].caption, "Confirmação");
    EXPECT_EQ(ctx.mensagens.Mostradas()[2].texto, "Operação realizada. 2 registros removidos");
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRAVACAO"), 1);
    EXPECT_EQ(f.gridInfo->item(0, 3)->text(), "0");
    const auto h = Historico();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].first, 3);
    EXPECT_EQ(h[0].second, "2 registros 01/03/14 00:00:00 - 31/03/14 23:59:59");

    // With the main connection down nothing is asked and nothing deleted.
    f.cbDelInt->setChecked(true);
    std::int64_t id = 0;
    ctx.dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
        Cursor c = st.Abre();
        if (c.Proxima()) id = c.GetBigInt(0);
    });
    {
        Attachment adm = p.Admin();
        Transaction tr(adm);
        Statement st(tr, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ?");
        st.SetBigInt(0, id);
        st.Executa();
        tr.Commit();
    }
    ctx.ExecutaBD([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); });
    ASSERT_TRUE(ctx.dados.ConexaoPerdida());
    const std::size_t antes = ctx.mensagens.Mostradas().size();
    for (int i = 0; i < 3; ++i) ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnApagar->click();
    for (std::size_t i = antes; i < ctx.mensagens.Mostradas().size(); ++i)
        EXPECT_NE(ctx.mensagens.Mostradas()[i].caption, "Confirmação");
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRAVACAO"), 1);

    // Once the loss was announced, a click says the database is down, once.
    ctx.dados.LimpaAvisoConexaoPendente();
    const std::size_t depois = ctx.mensagens.Mostradas().size();
    for (int i = 0; i < 3; ++i) ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f.btnApagar->click();
    int avisos = 0;
    for (std::size_t i = depois; i < ctx.mensagens.Mostradas().size(); ++i) {
        EXPECT_NE(ctx.mensagens.Mostradas()[i].caption, "Confirmação");
        avisos += ctx.mensagens.Mostradas()[i].texto == "Base de dados não está conectada";
    }
    EXPECT_EQ(avisos, 1);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRAVACAO"), 1);
    f.reject();
}
