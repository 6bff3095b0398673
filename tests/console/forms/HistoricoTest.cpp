// The history of operations against the real server: the console's writer
// beside a second writer numbering the same table, the period bounds, the
// filters and order of the search, and the window's reload on the event.

#include <QComboBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTableView>
#include <atomic>
#include <thread>

#include "tests/console/MensageiroTeste.h"
#include "tests/console/TesteConsole.h"
#include "common/db/Esquema.h"
#include "console/Historico.h"
#include "console/MDados.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormHistorico.h"

namespace {

void InsereLinha(Attachment& att, int codigo, const DataHora& quando, int op, int usuario,
                 const std::string& nome, const std::string& detalhe = "") {
    Transaction tr(att);
    Statement st(tr, "INSERT INTO LOGHISTORY VALUES (?, ?, ?, ?, ?, ?)");
    st.SetInt(0, codigo).SetTimestamp(1, quando).SetInt(2, op).SetInt(3, usuario);
    st.SetText(4, nome).SetText(5, detalhe);
    st.Executa();
    tr.Commit();
}

struct BaseHistorico : ::testing::Test {
    ProgramaTeste p{"historico"};
    RelogioTeste relogio;
    MensageiroTeste msg;
    std::unique_ptr<MDados> dados;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        p.Principal().Executa("DELETE FROM LOGHISTORY");
        dados = std::make_unique<MDados>(msg, relogio.Funcao());
        std::string erro;
        ASSERT_TRUE(dados->ConectaBancoDados(erro)) << erro;
    }
    std::vector<int> Codigos(const FiltroHistorico& f) {
        ModeloHistorico m(*dados);
        EXPECT_TRUE(m.Pesquisa(f));
        while (m.canFetchMore({})) m.fetchMore({});
        std::vector<int> r;
        for (const auto& l : m.Linhas()) r.push_back(l.codigo);
        return r;
    }
};

FiltroHistorico Periodo(DataHora ini, DataHora fim) {
    FiltroHistorico f;
    f.inicio = ini;
    f.fim = fim;
    return f;
}

}  // namespace

TEST(Historico, TextosECodigos) {
    EXPECT_EQ(DescricaoOperacao(101), "Usuário iniciou veruzadu");
    EXPECT_EQ(DescricaoOperacao(24), "Removido: central");
    EXPECT_EQ(DescricaoOperacao(2), "");
    EXPECT_EQ(CodigoOperacao("Erro do veruzadu"), 104);
    EXPECT_EQ(CodigoOperacao("Inserido: central"), 0);  // 22-25 are not searched by text
    EXPECT_EQ(CodigoOperacao(""), 0);
    const auto ops = OperacoesFiltro();
    EXPECT_EQ(ops.size(), 23u);
    EXPECT_TRUE(std::is_sorted(ops.begin(), ops.end()));
    for (const auto& [t, c] : ops) EXPECT_FALSE(c >= 22 && c <= 25) << t;
}

TEST_F(BaseHistorico, GravaUmaLinhaPorOperacaoComCortes) {
    // The console's clock is far off: the rows take the server's time.
    relogio.agora = {2001, 2, 3, 10, 11, 12, 0};
    for (int op : {101, 102, 23, 24, 25})
        EXPECT_TRUE(RegistraHistorico(*dados, 7, "Ana", op, "central X"));
    EXPECT_TRUE(
        RegistraHistorico(*dados, 7, std::string(40, 'n'), 13, std::string(200, 'd') + "ł"));
    EXPECT_TRUE(RegistraHistorico(*dados, 7, "Łukasz", 13, "Zażółć"));
    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(tr,
                 "SELECT LOG_CODIGO, LOG_OPERACAO, USR_CODIGO, LOG_USUARIO, LOG_DETALHES, "
                 "CAST(DATEDIFF(SECOND FROM LOG_DATARG TO CAST('NOW' AS TIMESTAMP)) AS INTEGER) "
                 "FROM LOGHISTORY ORDER BY LOG_CODIGO");
    auto c = st.Abre();
    std::vector<int> ops;
    std::vector<std::string> nomes, detalhes;
    while (c.Proxima()) {
        EXPECT_EQ(c.GetInt(0), static_cast<int>(ops.size()) + 1);  // an empty table starts at 1
        ops.push_back(c.GetInt(1));
        EXPECT_EQ(c.GetInt(2), 7);
        nomes.push_back(c.GetText(3));
        detalhes.push_back(c.GetText(4));
        const int idade = c.GetInt(5);
        EXPECT_TRUE(idade >= 0 && idade < 120) << idade << " s before the server's time";
    }
    EXPECT_EQ(ops, (std::vector<int>{101, 102, 23, 24, 25, 13, 13}));
    EXPECT_EQ(nomes[5], std::string(30, 'n'));
    EXPECT_EQ(detalhes[5], std::string(120, 'd'));
    EXPECT_EQ(nomes[6], "?ukasz");
    EXPECT_EQ(detalhes[6], "Za?ó??");
}

TEST_F(BaseHistorico, ConsoleEOutroEscritorAoMesmoTempo) {
    constexpr int N = 500;
    std::atomic<int> falhas{0};
    std::thread outro([&] {
        try {
            Attachment att = p.Principal();
            for (int i = 0; i < N; ++i) {
                Transaction tr(att);
                InsereComProximoCodigo(
                    tr, "LOGHISTORY", "LOG_CODIGO", [](Transaction& t, std::int32_t n) {
                        Statement st(
                            t, "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_DATARG, LOG_OPERACAO, "
                               "USR_CODIGO) VALUES (?, CURRENT_TIMESTAMP, 104, 65535)");
                        st.SetInt(0, n);
                        st.Executa();
                    });
                tr.Commit();
            }
        } catch (...) {
            ++falhas;
        }
    });
    int gravadas = 0;
    for (int i = 0; i < N; ++i) gravadas += RegistraHistorico(*dados, 3, "Ana", 20, "");
    outro.join();
    EXPECT_EQ(falhas, 0);
    EXPECT_EQ(gravadas, N);
    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(tr, "SELECT COUNT(*), COUNT(DISTINCT LOG_CODIGO) FROM LOGHISTORY");
    auto c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetInt(0), 2 * N);
    EXPECT_EQ(c.GetInt(1), 2 * N);
}

TEST_F(BaseHistorico, LimitesDoPeriodoEFiltros) {
    {
        Attachment att = p.Principal();
        InsereLinha(att, 1, {2026, 1, 30, 23, 59, 59, 999}, 20, 3,
                    "Ana");                                                // the millisecond before
        InsereLinha(att, 2, {2026, 1, 31, 0, 0, 0, 0}, 20, 3, "Ana");      // start
        InsereLinha(att, 3, {2026, 2, 1, 12, 0, 0, 0}, 104, 65535, "");    // the service
        InsereLinha(att, 4, {2026, 2, 1, 23, 59, 59, 999}, 22, 4, "Bia");  // end
        InsereLinha(att, 5, {2026, 2, 2, 0, 0, 0, 0}, 20, 3, "Ana");       // the day after
        InsereLinha(att, 6, {2026, 1, 31, 18, 0, 0, 0}, 101, 3, "Ana");    // console's start row
    }
    const auto f = Periodo({2026, 1, 31}, {2026, 2, 1});
    EXPECT_EQ(Codigos(f), (std::vector<int>{2, 6, 3, 4}));  // time order across the month end
    auto porUsuario = f;
    porUsuario.usuario = 3;
    EXPECT_EQ(Codigos(porUsuario), (std::vector<int>{2, 6}));
    auto servico = f;
    servico.usuario = CodigoUsuarioServico;
    EXPECT_EQ(Codigos(servico), (std::vector<int>{3}));
    auto op = f;
    op.operacao = 101;
    EXPECT_EQ(Codigos(op), (std::vector<int>{6}));

    ModeloHistorico m(*dados);
    ASSERT_TRUE(m.Pesquisa(f));
    // "Veruzadu" only for the service's rows; the console's 101 row shows its user.
    EXPECT_EQ(m.data(m.index(1, 2), Qt::DisplayRole).toString(), "Ana");
    EXPECT_EQ(m.data(m.index(2, 2), Qt::DisplayRole).toString(), "Veruzadu");
    EXPECT_EQ(m.data(m.index(3, 3), Qt::DisplayRole).toString(), "Exportado: gravação");
    EXPECT_EQ(m.data(m.index(0, 1), Qt::DisplayRole).toString(), "31/01/2026 00:00:00");
    // Each column sorts by its value: the code as a number, the date by its time.
    m.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(m.Linhas().front().codigo, 6);
    m.sort(1, Qt::DescendingOrder);
    EXPECT_EQ(m.Linhas().front().codigo, 4);
    m.sort(2, Qt::AscendingOrder);
    EXPECT_EQ(m.Linhas().front().codigo, 3);  // the service's row has no user name
}

TEST_F(BaseHistorico, DuzentasMilLinhasAbremEmPaginas) {
    p.Principal().Executa(
        "EXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN WHILE (i <= 200000) DO BEGIN "
        "INSERT INTO LOGHISTORY VALUES (:i, DATEADD(:i MILLISECOND TO TIMESTAMP '2026-03-10 "
        "00:00:00'), "
        "20, 3, 'Ana', ''); i = i + 1; END END");
    ModeloHistorico m(*dados);
    ASSERT_TRUE(m.Pesquisa(Periodo({2026, 3, 10}, {2026, 3, 10})));
    EXPECT_EQ(m.rowCount(), ModeloHistorico::TamanhoPagina);
    EXPECT_TRUE(m.canFetchMore({}));
    m.fetchMore({});
    EXPECT_EQ(m.rowCount(), 2 * ModeloHistorico::TamanhoPagina);
    EXPECT_EQ(m.Linhas().back().codigo, 2 * ModeloHistorico::TamanhoPagina);
}

TEST_F(BaseHistorico, JanelaPesquisaERecarregaComOEvento) {
    ContextoConsole ctx(relogio.Funcao());
    relogio.agora = Agora();
    std::string erro;
    ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
    ctx.UsuarioCodigo = 3;
    ctx.UsuarioNome = "Ana";
    ASSERT_TRUE(ctx.RegistraHistorico(25, "central A"));
    FormHistorico f(ctx);
    f.show();
    EXPECT_EQ(f.cbUsuario->itemText(1), "Veruzadu");
    EXPECT_EQ(f.cbOperacao->itemText(0), "");
    EXPECT_EQ(f.Modelo().rowCount(), 0);
    f.btnPesquisar->click();
    ASSERT_EQ(f.Modelo().rowCount(), 1);
    EXPECT_TRUE(f.TimerEventos->isActive());
    // Another console writes: the event brings it within the timer's 5 s.
    {
        Attachment outra = p.Principal();
        Transaction tr(outra);
        InsereComProximoCodigo(tr, "LOGHISTORY", "LOG_CODIGO", [](Transaction& t, std::int32_t n) {
            Statement st(
                t, "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_DATARG, LOG_OPERACAO, USR_CODIGO) "
                   "VALUES (?, CURRENT_TIMESTAMP, 102, 65535)");
            st.SetInt(0, n);
            st.Executa();
        });
        tr.Commit();
    }
    EXPECT_TRUE(EsperaAte([&] { return f.Modelo().rowCount() == 2; }));
    f.close();
    EXPECT_FALSE(f.TimerEventos->isActive());
}
