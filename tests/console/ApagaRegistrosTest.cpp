// Deletion of recordings by period against the real server: the checks and
// the question, the statistics, each filter with the rows it must and must not
// remove, counts by affected rows, and a failing statement rolled back.

#include "MensageiroTeste.h"
#include "TesteConsole.h"
#include "console/ApagaRegistros.h"
#include "console/MDados.h"

namespace {

DataHora D(int a, int m, int d, int h = 12, int n = 0, int s = 0) { return {a, m, d, h, n, s, 0}; }

struct BaseApaga : ::testing::Test {
    ProgramaTeste p{
        std::string("apg") + ::testing::UnitTest::GetInstance()->current_test_info()->name(), {1}};
    MensageiroTeste msg;
    std::unique_ptr<MDados> dados;
    std::unique_ptr<Attachment> unidade;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        dados = std::make_unique<MDados>(msg);
        std::string erro;
        ASSERT_TRUE(dados->ConectaBancoDados(erro)) << erro;
        dados->ConectaBasePABX(1);
        unidade = std::make_unique<Attachment>(p.Unidade(1));
        Attachment adm = p.Admin();
        adm.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
        adm.Executa("INSERT INTO GRUPO VALUES (2, 'Outra central')");
        adm.Executa("INSERT INTO GRPRAMAL VALUES (1, '201', 'Ana', 1)");
        // Another unit's group holds 202: its name must not delete this unit's 202.
        adm.Executa("INSERT INTO GRPRAMAL VALUES (2, '202', NULL, 2)");
        adm.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR) VALUES (7, "
                    "'D''Ávila', '99')");
        // Codes: 1-4 in March (types 1, 2, 0, 1), 5 in April.
        Insere(1, D(2014, 3, 1, 0, 0, 0), 1, "201", "4830", 0);
        Insere(2, D(2014, 3, 15), 2, "202", "4899", 7);
        Insere(3, D(2014, 3, 31, 23, 59, 59), 0, "2010", "%48", 0);
        Insere(4, D(2014, 3, 20), 1, "202", "1148", 7);
        Insere(5, D(2014, 4, 1, 0, 0, 0), 1, "201", "4830", 0);
    }
    void TearDown() override {
        unidade.reset();
        if (dados) dados->Desconecta();
    }
    void Insere(int codigo, DataHora d, int tipo, const std::string& ramal, const std::string& fone,
                int cliente) {
        Transaction tr(*unidade);
        Statement st(
            tr,
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, "
            "GRV_RAMGRAVADO, GRV_DESTINO, CLI_CODIGO) VALUES (?, 1, ?, ?, ?, ?, ?, ?)");
        st.SetInt(0, codigo).SetTimestamp(1, d).SetText(2, std::to_string(codigo)).SetInt(3, tipo);
        st.SetText(4, ramal).SetText(5, fone).SetInt(6, cliente);
        st.Executa();
        tr.Commit();
    }
    std::vector<int> Restantes() {
        Transaction tr(*unidade, true);
        Statement st(tr, "SELECT GRV_CODIGO FROM GRAVACAO ORDER BY 1");
        std::vector<int> r;
        for (Cursor c = st.Abre(); c.Proxima();) r.push_back(c.GetInt(0));
        return r;
    }
};

PedidoApagamento Marco(bool ori, bool rec, bool inte, FiltroApagamento f = FiltroApagamento::Nenhum,
                       std::string item = "") {
    PedidoApagamento p;
    p.originadas = ori;
    p.recebidas = rec;
    p.internas = inte;
    p.inicio = D(2014, 3, 1, 0, 0, 0);
    p.fim = D(2014, 3, 31, 23, 59, 59);
    p.filtro = f;
    p.item = std::move(item);
    p.palavraFiltro = "Grupo";
    return p;
}

}  // namespace

TEST(ApagaRegistros, VerificacoesEPergunta) {
    PedidoApagamento p = Marco(false, false, false);
    EXPECT_EQ(VerificaPedido(p), "Selecione um tipo de ligação");
    p.internas = true;
    EXPECT_EQ(VerificaPedido(p), "");
    p.fim = p.inicio;  // equal is allowed
    EXPECT_EQ(VerificaPedido(p), "");
    // Compared as times, not as "dd/mm/yy" text: 31/01 lies before 01/02.
    p.inicio = D(2014, 1, 31, 0, 0, 0);
    p.fim = D(2014, 2, 1, 0, 0, 0);
    EXPECT_EQ(VerificaPedido(p), "");
    std::swap(p.inicio, p.fim);
    EXPECT_EQ(VerificaPedido(p), "Data de início deve ser anterior à data de fim");
    p = Marco(true, false, false, FiltroApagamento::Grupo, "  ");
    EXPECT_EQ(VerificaPedido(p), "Selecione o Grupo para o qual deseja remover as gravações");

    p = Marco(false, false, true, FiltroApagamento::Grupo, " Vendas ");
    EXPECT_EQ(
        TextoConfirmacao(p),
        "Confirma a remoção das gravações selecionadas  do Grupo \"Vendas\" do período de "
        "01/03/14 00:00:00 a 31/03/14 23:59:59 ?\n\nATENÇÃO: as informações apagadas NÃO poderão "
        "ser recuperadas");
    EXPECT_EQ(ResultadoApagamento::Detalhe(2, p),
              "2 registros 01/03/14 00:00:00 - 31/03/14 23:59:59 Vendas");
    // An item typed without a filter is not part of the deletion, nor of its detail.
    p.filtro = FiltroApagamento::Nenhum;
    EXPECT_EQ(ResultadoApagamento::Detalhe(2, p),
              "2 registros 01/03/14 00:00:00 - 31/03/14 23:59:59");
}

TEST_F(BaseApaga, ResumoPorTipo) {
    const auto r = CarregaResumoRegistros(*dados);
    EXPECT_EQ(r[0].primeiro, "01/03/2014");
    EXPECT_EQ(r[0].ultimo, "01/04/2014");
    EXPECT_EQ(r[0].quantidade, "3");
    EXPECT_EQ(r[1].quantidade, "1");
    EXPECT_EQ(r[2].primeiro, "31/03/2014");
    EXPECT_EQ(ConsultaResumoRegistros(*dados, 2, "MIN"), "15/03/2014");
    EXPECT_EQ(ConsultaResumoRegistros(*dados, 2, "COUNT"), "1");
    EXPECT_EQ(ConsultaResumoRegistros(*dados, 5, "MAX"), "-");
    EXPECT_EQ(ConsultaResumoRegistros(*dados, 5, "COUNT"), "0");
    EXPECT_EQ(DataInicialApagamento(r, D(2026, 1, 1)), D(2014, 3, 1, 0, 0, 0));
    EXPECT_EQ(DataInicialApagamento({}, D(2026, 1, 1, 15)), D(2026, 1, 1, 0, 0, 0));
}

TEST_F(BaseApaga, CadaFiltroApagaSoOQueDeve) {
    using V = std::vector<int>;
    using C = std::array<long long, 3>;
    const struct {
        const char* nome;
        PedidoApagamento pedido;
        C removidas;
        V restantes;
    } casos[] = {
        {"telefone % is a character", Marco(true, true, true, FiltroApagamento::Telefone, "%"),
         C{0, 0, 0}, V{1, 2, 4, 5}},
        {"ramal exact", Marco(true, true, true, FiltroApagamento::Ramal, "201"), C{1, 0, 0},
         V{2, 4, 5}},
        {"other unit's group", Marco(true, true, true, FiltroApagamento::Grupo, "Outra central"),
         C{0, 0, 0}, V{2, 4, 5}},
        {"cliente", Marco(false, true, false, FiltroApagamento::Cliente, "D'Ávila"), C{0, 1, 0},
         V{4, 5}},
        {"telefone prefix", Marco(true, true, true, FiltroApagamento::Telefone, "11"), C{1, 0, 0},
         V{5}},
    };
    Insere(6, D(2014, 3, 2), 0, "x", "%48", 0);  // "%48" itself, deleted by the first case
    for (const auto& c : casos) {
        const ResultadoApagamento r = ApagaRegistros(*dados, 1, c.pedido);
        EXPECT_TRUE(r.ok) << c.nome << ": " << r.erro;
        if (std::string(c.nome) == "telefone % is a character") {
            EXPECT_EQ(r.removidas, (C{0, 0, 2})) << c.nome;
            continue;
        }
        EXPECT_EQ(r.removidas, c.removidas) << c.nome;
        EXPECT_EQ(Restantes(), c.restantes) << c.nome;
    }
}

TEST_F(BaseApaga, TiposPeriodoEGrupoDestaCentral) {
    ResultadoApagamento r = ApagaRegistros(*dados, 1, Marco(false, false, true));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.removidas, (std::array<long long, 3>{0, 0, 1}));
    EXPECT_EQ(Restantes(), (std::vector<int>{1, 2, 4, 5}));

    // An unknown group deletes nothing and says so.
    r = ApagaRegistros(*dados, 1, Marco(true, true, true, FiltroApagamento::Grupo, "Nenhum"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.erro.find("Nenhum"), std::string::npos);
    EXPECT_EQ(Restantes(), (std::vector<int>{1, 2, 4, 5}));

    r = ApagaRegistros(*dados, 1, Marco(true, true, true, FiltroApagamento::Grupo, "Vendas"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.Total(), 1);
    EXPECT_EQ(Restantes(), (std::vector<int>{2, 4, 5}));

    r = ApagaRegistros(*dados, 1, Marco(true, true, false, FiltroApagamento::CNPJ, "99"));
    EXPECT_EQ(r.removidas, (std::array<long long, 3>{1, 1, 0}));
    EXPECT_EQ(Restantes(), (std::vector<int>{5}));
}

TEST_F(BaseApaga, ComandoQueFalhaNaoApagaNada) {
    Attachment adm = p.Unidade(1, true);
    adm.Executa("CREATE EXCEPTION EX_TESTE 'apagar recusado'");
    adm.Executa("CREATE TRIGGER TR_TESTE FOR GRAVACAO BEFORE DELETE AS BEGIN "
                "IF (OLD.GRV_CODIGO = 3) THEN EXCEPTION EX_TESTE; END");
    const ResultadoApagamento r = ApagaRegistros(*dados, 1, Marco(true, true, true));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.erro.find("apagar recusado"), std::string::npos) << r.erro;
    EXPECT_EQ(r.Total(), 0);
    EXPECT_EQ(Restantes(), (std::vector<int>{1, 2, 3, 4, 5}));
}
