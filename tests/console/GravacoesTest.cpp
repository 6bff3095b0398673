// The recordings list, export and edit against the real server: the paged
// search newest first over LISTAGRV with its filters and the user's view,
// the exported files and the contact edit.

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "MensageiroTeste.h"
#include "TesteConsole.h"
#include "common/ArquivoCriptografado.h"
#include "common/CifraTexto.h"
#include "console/ArquivoAudio.h"
#include "console/ExportaGravacoes.h"
#include "console/Gravacoes.h"
#include "console/MDados.h"

namespace fs = std::filesystem;

namespace {

struct Gravacao {
    int codigo;
    DataHora data;
    int tipo = 1;
    std::string ramal = "201";
    std::string destino = "4830001111";
    int temAudio = 1;
    int duracao = 60;
    std::string audio = "";
    int tpFile = 1;
    std::string controle = "";
    int cliente = 0;
    std::string identifica = "";
};

void Insere(Attachment& att, const Gravacao& g) {
    Transaction tr(att);
    Statement st(tr,
                 "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, "
                 "GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_TEMAUDIO, GRV_DURACAO, GRV_BINDADOS, "
                 "GRV_TPFILE, GRV_CONTROLE, CLI_CODIGO, GRV_IDENTIFICA) "
                 "VALUES (?, 1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    st.SetInt(0, g.codigo).SetText(1, g.ramal).SetText(2, g.destino).SetTimestamp(3, g.data);
    st.SetText(4, "R" + std::to_string(g.codigo) + ".WAV").SetInt(5, g.tipo).SetInt(6, g.temAudio);
    st.SetInt(7, g.duracao);
    if (!g.audio.empty()) st.SetBlob(8, g.audio);
    st.SetInt(9, g.tpFile).SetText(10, g.controle).SetInt(11, g.cliente).SetText(12, g.identifica);
    st.Executa();
    tr.Commit();
}

DataHora D(int a, int m, int d, int h = 12, int n = 0, int s = 0) { return {a, m, d, h, n, s, 0}; }

struct BaseGravacoes : ::testing::Test {
    // One installation per test: rows, contacts and triggers never meet.
    ProgramaTeste p{
        std::string("grv") + ::testing::UnitTest::GetInstance()->current_test_info()->name(), {1}};
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
    }
    void TearDown() override {
        unidade.reset();
        if (dados) dados->Desconecta();
    }
    std::vector<int> Codigos(const FiltroGravacoes& f, VisaoUsuario v = {true, {}}) {
        ModeloGravacoes m(*dados);
        EXPECT_TRUE(m.Pesquisa(f, v));
        while (m.canFetchMore({})) m.fetchMore({});
        EXPECT_TRUE(m.Completo());
        std::vector<int> r;
        for (const auto& l : m.Linhas()) r.push_back(l.codigo);
        return r;
    }
};

FiltroGravacoes Periodo(DataHora ini, DataHora fim) {
    FiltroGravacoes f;
    f.inicio = ini;
    f.fim = fim;
    return f;
}

}  // namespace

TEST(Gravacoes, TextosDasCelulasENomes) {
    EXPECT_EQ(TipoLigacaoAbrev(0), "Int");
    EXPECT_EQ(TipoLigacaoAbrev(1), "Ori");
    EXPECT_EQ(TipoLigacaoAbrev(2), "Rec");
    EXPECT_EQ(TipoLigacaoAbrev(3), "");
    EXPECT_EQ(SegundosParaHora(0), "00:00:00");
    EXPECT_EQ(SegundosParaHora(3723), "01:02:03");
    EXPECT_EQ(SegundosParaHora(360000), "100:00:00");
    EXPECT_LE(ContaCaracteresUtf8(MarcaSemAudio()), 20u);
    const struct {
        std::string ramal, destino;
        int tipo;
        std::string nome;
    } casos[] = {
        {"201", "555", 0x81, "GRV_201_20140301101530_555.DAD"},
        {" 201 ", "", 1, "GRV_201_20140301101530_.WAV"},
        {"../x", "a/b", 2, "GRV_.._x_20140301101530_a_b.OGG"},
        {"..", std::string("1\n2\0", 4), 1, "GRV____20140301101530_1_2.WAV"},
    };
    for (const auto& c : casos)
        EXPECT_EQ(NomeArquivoExportado(c.ramal, D(2014, 3, 1, 10, 15, 30), c.destino, c.tipo),
                  c.nome);
}

TEST_F(BaseGravacoes, FiltrosEPeriodoComValoresLigados) {
    Attachment adm = p.Admin();
    adm.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
    adm.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
    adm.Executa("INSERT INTO GRPRAMAL VALUES (1, '201', 'Ana', 1)");
    adm.Executa("INSERT INTO GRPRAMAL VALUES (2, '201', 'Ana', 1)");
    adm.Executa("INSERT INTO GRPRAMAL VALUES (2, '120', NULL, 1)");
    adm.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR) VALUES (7, "
                "'D''Ávila', '123')");
    const DataHora dia = D(2026, 3, 10);
    Insere(*unidade, {1, D(2026, 3, 10, 8), 0, "20", "4830"});
    Insere(*unidade, {2, D(2026, 3, 10, 9), 1, "201", "4899"});
    Insere(*unidade, {3, D(2026, 3, 10, 10), 2, "2000", "1130"});
    Insere(*unidade, {4, D(2026, 3, 10, 11), 2, "120", "4830", 0});
    Insere(*unidade, {5, D(2026, 3, 10, 12), 1, "%1", "%", 2, 60, "", 1, "", 7, "ABC"});
    Insere(*unidade, {6, D(2026, 3, 11, 0, 0, 0), 1, "201"});
    auto f = [&](auto muda) {
        FiltroGravacoes x = Periodo(SoData(dia), D(2026, 3, 10, 23, 59, 59));
        muda(x);
        return x;
    };
    using V = std::vector<int>;
    const struct {
        const char* nome;
        FiltroGravacoes filtro;
        V esperado;
    } casos[] = {
        {"period", f([](auto&) {}), V{5, 4, 3, 2, 1}},
        {"start after end", f([](auto& x) { x.inicio = D(2026, 3, 11); }), V{}},
        {"bounds inclusive", Periodo(D(2026, 3, 10, 9), D(2026, 3, 10, 10)), V{3, 2}},
        {"internal", f([](auto& x) { x.tipoLigacao = 0; }), V{1}},
        {"received", f([](auto& x) { x.tipoLigacao = 2; }), V{4, 3}},
        {"ramal prefix", f([](auto& x) { x.ramal = " 20 "; }), V{3, 2, 1}},
        {"percent is a character", f([](auto& x) { x.ramal = "%"; }), V{5}},
        {"underscore is a character", f([](auto& x) { x.ramal = "2_"; }), V{}},
        {"telefone", f([](auto& x) { x.telefone = "4830"; }), V{4, 1}},
        {"telefone %", f([](auto& x) { x.telefone = "%"; }), V{5}},
        {"grupo prefix", f([](auto& x) { x.grupo = "Sup"; }), V{4, 2}},
        {"identificador exact", f([](auto& x) { x.identificador = "AB"; }), V{}},
        {"identificador", f([](auto& x) { x.identificador = "ABC"; }), V{5}},
        {"apostrophe", f([](auto& x) { x.cliente = "D'Ávila"; }), V{5}},
        {"cnpj", f([](auto& x) { x.cnpj = "123"; }), V{5}},
        {"type and ramal", f([](auto& x) {
             x.tipoLigacao = 2;
             x.ramal = "20";
         }),
         V{3}},
    };
    for (const auto& c : casos) {
        // 201 lies in two groups: one row per group row, unless a group is asked for.
        V esperado = c.esperado;
        if (std::string(c.nome) == "period" || std::string(c.nome) == "ramal prefix" ||
            std::string(c.nome) == "bounds inclusive")
            esperado.insert(std::find(esperado.begin(), esperado.end(), 2), 2);
        EXPECT_EQ(Codigos(c.filtro), esperado) << c.nome;
    }

    // What an operator sees: his extensions by number or name in any case.
    ModeloGravacoes m(*dados);
    ASSERT_TRUE(m.Pesquisa(f([](auto&) {}), VisaoUsuario{false, {"2000", "ANA"}}));
    EXPECT_EQ(m.rowCount(), 1);  // "Ana" is a name, not a stored extension
    Insere(*unidade, {7, D(2026, 3, 10, 13), 1, "ana"});
    ASSERT_TRUE(m.Pesquisa(f([](auto&) {}), VisaoUsuario{false, {"2000", "ANA"}}));
    EXPECT_EQ(m.rowCount(), 2);
    ASSERT_TRUE(m.Pesquisa(f([](auto&) {}), VisaoUsuario{false, {}}));
    EXPECT_EQ(m.rowCount(), 0);
    // Cells and markers.
    ASSERT_TRUE(m.Pesquisa(f([](auto&) {}), VisaoUsuario{true, {}}));
    const int l4 = m.LinhaDoCodigo(4), l5 = m.LinhaDoCodigo(5);
    EXPECT_EQ(
        m.data(m.index(l4, ModeloGravacoes::ColDuracao), Qt::DisplayRole).toString().toStdString(),
        MarcaSemAudio());
    EXPECT_TRUE(m.data(m.index(l4, 3), ModeloGravacoes::PapelMarcador).toBool());
    EXPECT_EQ(
        m.data(m.index(l5, ModeloGravacoes::ColDuracao), Qt::DisplayRole).toString().toStdString(),
        MarcaSemArquivo());
    EXPECT_EQ(m.data(m.index(l5, ModeloGravacoes::ColData), Qt::DisplayRole).toString(),
              "10/03/26 12:00:00");
    EXPECT_EQ(m.data(m.index(l5, ModeloGravacoes::ColContato), Qt::DisplayRole).toString(),
              "D'Ávila");
    EXPECT_EQ(m.data(m.index(0, ModeloGravacoes::ColDuracao), Qt::DisplayRole).toString(),
              "00:01:00");
}

TEST_F(BaseGravacoes, OperadorVeOMesmoQueOFiltroDoPrograma) {
    // The server narrows an operator's search to his extensions; what he sees
    // must be exactly the administrator's rows that VisaoUsuario::Ve keeps,
    // whatever the case, blanks, accents or control characters on either side.
    // Enough rows that the walk crosses several windows.
    const std::vector<std::string> ramais{"201", "2010",     " 202 ",    "Ana",   "ana",
                                          "ANA", "Recepção", "RECEPÇÃO", "\t203", "203\n",
                                          "",    "*",        "3000",     "x"};
    std::vector<Gravacao> gs;
    for (int i = 0; i < 700; ++i) {
        Gravacao g{i + 1, SomaSegundos(D(2026, 3, 1, 0, 0, 0), i * 1800LL)};
        g.ramal = ramais[static_cast<std::size_t>(i) % ramais.size()];
        gs.push_back(g);
    }
    {
        Transaction tr(*unidade);
        for (const auto& g : gs) {
            Statement st(
                tr, "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, "
                    "GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_TEMAUDIO, GRV_DURACAO) "
                    "VALUES (?, 1, ?, '4830', ?, ?, 1, 1, 60)");
            st.SetInt(0, g.codigo).SetText(1, g.ramal).SetTimestamp(2, g.data);
            st.SetText(3, "R" + std::to_string(g.codigo) + ".WAV").Executa();
        }
        tr.Commit();
    }
    const FiltroGravacoes mes = Periodo(D(2026, 3, 1, 0, 0, 0), D(2026, 3, 31, 23, 59, 59));
    ModeloGravacoes todas(*dados);
    ASSERT_TRUE(todas.Pesquisa(mes, {true, {}}));
    while (todas.canFetchMore({})) todas.fetchMore({});
    ASSERT_EQ(todas.Linhas().size(), gs.size());
    const std::vector<std::vector<std::string>> visoes{
        {"201"},
        {"ana"},
        {" ANA "},
        {"recepção"},
        {"RECEPÇÃO"},
        {"203"},
        {""},
        {"  "},
        {"*"},
        {"202"},
        {"2010", std::string(40, 'y')},
        {"201", "201", "x"},
        {"Recepção", "Ana", "3000", "201"},
        {"nenhum"},
    };
    for (const auto& v : visoes) {
        const VisaoUsuario visao{false, v};
        std::vector<int> esperado;
        for (const auto& l : todas.Linhas())
            if (visao.Ve(l.ramal)) esperado.push_back(l.codigo);
        std::string nome;
        for (const auto& e : v) nome += "[" + e + "]";
        EXPECT_EQ(Codigos(mes, visao), esperado) << nome;
    }
    EXPECT_TRUE(Codigos(mes, {false, {}}).empty());
}

TEST_F(BaseGravacoes, NovasPrimeiroAtravesDeMesesEAnosSemRepetirNemPular) {
    // Rows at month and year ends and one every hour on the windows' bounds
    // (hh:59:59, counted back from the period's end), so the walk crosses
    // windows of several sizes and meets rows on each bound.
    std::vector<Gravacao> gs;
    int codigo = 1;
    for (DataHora d :
         {D(2025, 12, 31, 23, 59, 59), D(2026, 1, 1, 0, 0, 0), D(2026, 1, 31, 23, 59, 59),
          D(2026, 2, 1, 0, 0, 0), D(2026, 2, 28, 17, 59, 59), D(2026, 2, 28, 11, 59, 59),
          D(2026, 2, 28, 23, 59, 59)})
        gs.push_back({codigo++, d});
    for (int i = 0; i < 1200; ++i)
        gs.push_back({codigo++, SomaSegundos(D(2026, 1, 1, 0, 59, 59), i * 3600LL)});
    {
        Transaction tr(*unidade);
        Statement st(
            tr,
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_TEMAUDIO) "
            "VALUES (?, 1, ?, ?, 1)");
        for (const auto& g : gs) {
            st.SetInt(0, g.codigo).SetTimestamp(1, g.data).SetText(2, std::to_string(g.codigo));
            st.Executa();
        }
        tr.Commit();
    }
    std::stable_sort(gs.begin(), gs.end(), [](const Gravacao& a, const Gravacao& b) {
        return a.data != b.data ? a.data > b.data : a.codigo > b.codigo;
    });
    std::vector<int> esperado;
    for (const auto& g : gs) esperado.push_back(g.codigo);

    ModeloGravacoes m(*dados);
    ASSERT_TRUE(
        m.Pesquisa(Periodo(D(2025, 12, 1, 0, 0, 0), D(2026, 2, 28, 23, 59, 59)), {true, {}}));
    EXPECT_GE(m.rowCount(), ModeloGravacoes::TamanhoPagina);
    EXPECT_LT(m.rowCount(), static_cast<int>(esperado.size()));
    EXPECT_TRUE(m.canFetchMore({}));
    while (m.canFetchMore({})) m.fetchMore({});
    std::vector<int> lidos;
    for (const auto& l : m.Linhas()) lidos.push_back(l.codigo);
    EXPECT_EQ(lidos, esperado);

    // A reload reads at least what was shown and keeps the selection findable.
    m.CodigoSelecionado = esperado.back();
    Insere(*unidade, {99999, D(2026, 2, 28, 23, 0, 0)});
    ASSERT_TRUE(m.Recarrega());
    EXPECT_EQ(m.rowCount(), static_cast<int>(esperado.size()) + 1);
    EXPECT_GE(m.LinhaDoCodigo(esperado.back()), 0);
    EXPECT_EQ(m.Linhas()[0].codigo, esperado[0]);
}

TEST_F(BaseGravacoes, MarcasEProximaLinha) {
    for (int i = 1; i <= 10; ++i) Insere(*unidade, {i, D(2026, 3, 10, 12, i)});
    ModeloGravacoes m(*dados);
    ASSERT_TRUE(m.Pesquisa(Periodo(D(2026, 3, 10, 0), D(2026, 3, 10, 23)), {true, {}}));
    std::vector<int> avisadas;
    m.AoMarcar = [&](int l) { avisadas.push_back(l); };
    for (int l : {9, 2, 5})
        EXPECT_TRUE(m.setData(m.index(l - 1, 1), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(avisadas, (std::vector<int>{9, 2, 5}));
    EXPECT_EQ(m.LinhasMarcadas(), (std::vector<int>{2, 5, 9}));
    EXPECT_EQ(m.ProximaLinhaSelecionada(0), 2);
    EXPECT_EQ(m.ProximaLinhaSelecionada(2), 5);
    EXPECT_EQ(m.ProximaLinhaSelecionada(5), 9);
    EXPECT_EQ(m.ProximaLinhaSelecionada(9), 0);
    m.DefineLinhaTocando(5);
    EXPECT_TRUE(m.data(m.index(4, 3), ModeloGravacoes::PapelTocando).toBool());
    EXPECT_FALSE(m.data(m.index(3, 3), ModeloGravacoes::PapelTocando).toBool());
}

TEST_F(BaseGravacoes, PesquisaQueFalhaFicaIncompleta) {
    Insere(*unidade, {1, D(2026, 3, 10)});
    ModeloGravacoes m(*dados);
    dados->FechaBasePABX();
    EXPECT_FALSE(m.Pesquisa(Periodo(D(2026, 3, 10, 0), D(2026, 3, 10, 23)), {true, {}}));
    EXPECT_FALSE(m.Completo());
    EXPECT_FALSE(m.canFetchMore({}));
}

TEST_F(BaseGravacoes, CemMilLinhasPrimeiraPaginaLogo) {
    unidade->Executa(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 100000) DO BEGIN "
        "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_TEMAUDIO) "
        "VALUES "
        "(:I + 1, 1, TIMESTAMP '2026-03-01 00:00:00' + CAST(:I AS DOUBLE PRECISION) * 26 / 86400, "
        "'R' || :I, 1); I = I + 1; END END");
    ModeloGravacoes m(*dados);
    ASSERT_TRUE(m.Pesquisa(Periodo(D(2026, 3, 1, 0), D(2026, 3, 31, 23, 59, 59)), {true, {}}));
    EXPECT_TRUE(m.canFetchMore({}));
    EXPECT_GE(m.rowCount(), ModeloGravacoes::TamanhoPagina);
    EXPECT_LT(m.rowCount(), 10000);
    EXPECT_EQ(m.Linhas()[0].codigo, 100000);
}

TEST_F(BaseGravacoes, ExportaCadaTipo) {
    const std::string wav = "RIFF....WAVEfmt dados-de-audio";
    const std::string ogg = "OggS-dados";
    const std::string chave = CriptografaBytes("segredo");
    const std::string dad = CriptografaBytesDad(wav, "segredo");
    Insere(*unidade, {1, D(2014, 3, 1, 10, 15, 30), 1, "201", "555", 1, 60, wav, 1});
    Insere(*unidade, {2, D(2014, 3, 1, 10, 15, 31), 1, "201", "", 1, 60, ogg, 2});
    Insere(*unidade, {3, D(2014, 3, 1, 10, 15, 32), 1, "201", "555", 1, 60, dad, 0x81, chave});
    Insere(*unidade, {4, D(2014, 3, 1, 10, 15, 33), 1, "../x", "9", 1, 60, wav, 1});
    Insere(*unidade, {5, D(2014, 3, 1, 10, 15, 34), 1, "201", "555", 2, 0, "", 1});
    Insere(*unidade, {6, D(2014, 3, 1, 10, 15, 35), 1, "201", "555", 1, 60, dad, 0x81,
                      CriptografaBytes("outra")});
    PastaTemporaria pasta;
    const fs::path fora = pasta / "fora.txt";
    std::ofstream(fora) << "intacto";
    const fs::path destino = pasta / "exp";
    fs::create_directory(destino);
    // A symlink at an export name is replaced, never written through.
    fs::create_symlink(fora, destino / "GRV_201_20140301101530_555.WAV");

    std::vector<std::string> historico;
    const std::vector<ItemExportacao> itens{{1, "00:01:00", "h1"},    {2, "00:01:00", "h2"},
                                            {3, "00:01:00", "h3"},    {4, "00:01:00", "h4"},
                                            {5, "Sem arquivo", "h5"}, {1, "00:01:00", "h1"},
                                            {7, "00:00:00", "h7"}};
    const ResultadoExportacao r = ExportaGravacoes(
        *dados, itens, destino, [&](const std::string& h) { historico.push_back(h); });
    EXPECT_EQ(r.exportadas, 4);
    EXPECT_EQ(r.semAudio, 1);
    EXPECT_EQ(r.falhas, 0);
    EXPECT_EQ(r.duracaoZero, 1);
    EXPECT_EQ(historico, (std::vector<std::string>{"h1", "h2", "h3", "h4"}));
    EXPECT_FALSE(fs::is_symlink(destino / "GRV_201_20140301101530_555.WAV"));
    EXPECT_EQ(LeTudo(destino / "GRV_201_20140301101530_555.WAV"), wav);
    EXPECT_EQ(LeTudo(fora), "intacto");
    EXPECT_EQ(LeTudo(destino / "GRV_201_20140301101531_.OGG"), ogg);
    EXPECT_EQ(LeTudo(destino / "GRV_201_20140301101532_555.DAD"), dad);
    EXPECT_EQ(LeTudo(destino / "GRV_201_20140301101532_555.WAV"), wav);
    EXPECT_EQ(LeTudo(destino / "GRV_.._x_20140301101533_9.WAV"), wav);
    std::set<std::string> nomes;
    for (const auto& e : fs::directory_iterator(destino))
        nomes.insert(e.path().filename().string());
    EXPECT_EQ(nomes.size(), 5u);  // no file for the empty BLOB, no temporary left

    // A key that does not decipher and a folder that cannot be written: each
    // fails, the walk goes on, the first reason is kept.
    const ResultadoExportacao r2 = ExportaGravacoes(
        *dados, {{6, "00:01:00", "h6"}, {1, "00:01:00", "h1"}}, pasta / "nao-existe", {});
    EXPECT_EQ(r2.falhas, 2);
    EXPECT_FALSE(r2.primeiroErro.empty());
    EXPECT_NE(r2.Mensagem().find(r2.primeiroErro), std::string::npos);
}

TEST_F(BaseGravacoes, DescriptografaSemDeixarArquivoParcial) {
    const std::string wav(10001, 'w');
    PastaTemporaria pasta;
    const fs::path dad = pasta / "G57.DAD";
    std::ofstream(dad, std::ios::binary) << CriptografaBytesDad(wav, "segredo");
    EXPECT_TRUE(DescriptografaArquivo(0x81, CriptografaBytes("segredo"), dad));
    EXPECT_EQ(LeTudo(pasta / "G57.WAV"), wav);
    EXPECT_TRUE(fs::exists(dad));
    std::ofstream(pasta / "G58.DAD", std::ios::binary) << "curto";
    std::string erro;
    EXPECT_FALSE(
        DescriptografaArquivo(0x82, CriptografaBytes("segredo"), pasta / "G58.DAD", &erro));
    EXPECT_FALSE(erro.empty());
    EXPECT_FALSE(fs::exists(pasta / "G58.OGG"));
}

TEST_F(BaseGravacoes, EdicaoLigaOuCriaContato) {
    Attachment adm = p.Admin();
    adm.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO) VALUES (4, 'Loja')");
    Insere(*unidade, {1, D(2026, 3, 10)});
    Insere(*unidade, {2, D(2026, 3, 10)});
    std::string erro;
    ASSERT_TRUE(SalvaEdicaoGravacao(*dados, 1, " Loja ", "4830", " id1 ", erro)) << erro;
    ASSERT_TRUE(SalvaEdicaoGravacao(*dados, 2, "Nova d'Ela", "4899", "", erro)) << erro;
    auto linha = [&](int codigo) {
        Transaction tr(*unidade, true);
        Statement st(tr, "SELECT CLI_CODIGO, GRV_IDENTIFICA FROM GRAVACAO WHERE GRV_CODIGO = ?");
        st.SetInt(0, codigo);
        Cursor c = st.Abre();
        c.Proxima();
        return std::make_pair(c.GetInt(0), c.GetText(1));
    };
    EXPECT_EQ(linha(1), std::make_pair(4, std::string("id1")));
    EXPECT_EQ(linha(2), std::make_pair(5, std::string()));
    {
        Transaction tr(adm, true);
        Statement st(tr, "SELECT c.CLI_DESCRICAO, t.TEL_NUMERO, t.TEL_TIPO FROM CLIENTE c "
                         "JOIN TELEFONE t ON t.CLI_CODIGO = c.CLI_CODIGO WHERE c.CLI_CODIGO = 5");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), "Nova d'Ela");
        EXPECT_EQ(c.GetText(1), "4899");
        EXPECT_EQ(c.GetInt(2), 1);
        EXPECT_FALSE(c.Proxima());
    }
    // A deleted contact's code is never given again: recording 2 still holds 5.
    adm.Executa("DELETE FROM TELEFONE WHERE CLI_CODIGO = 5");
    adm.Executa("DELETE FROM CLIENTE WHERE CLI_CODIGO = 5");
    Insere(*unidade, {3, D(2026, 3, 10)});
    ASSERT_TRUE(SalvaEdicaoGravacao(*dados, 3, "Terceira", "4801", "", erro)) << erro;
    EXPECT_EQ(linha(3).first, 6);
    // An empty contact unlinks.
    ASSERT_TRUE(SalvaEdicaoGravacao(*dados, 1, "  ", "4830", "id1", erro));
    EXPECT_EQ(linha(1).first, 0);

    // A refused phone leaves no contact behind, and the recording unchanged.
    adm.Executa("CREATE EXCEPTION EX_TESTE 'telefone recusado'");
    adm.Executa(
        "CREATE TRIGGER TR_TESTE FOR TELEFONE BEFORE INSERT AS BEGIN EXCEPTION EX_TESTE; END");
    EXPECT_FALSE(SalvaEdicaoGravacao(*dados, 1, "Outra", "4800", "x", erro));
    EXPECT_NE(erro.find("telefone recusado"), std::string::npos) << erro;
    {
        Transaction tr(adm, true);
        Statement st(tr, "SELECT COUNT(*) FROM CLIENTE WHERE CLI_DESCRICAO = 'Outra'");
        Cursor c = st.Abre();
        c.Proxima();
        EXPECT_EQ(c.GetInt(0), 0);
    }
    EXPECT_EQ(linha(1), std::make_pair(0, std::string("id1")));
}

TEST_F(BaseGravacoes, DoisConsolesCriamContatosAoMesmoTempo) {
    // Two consoles, each linking recordings to new contacts at once: every
    // contact is kept with its own code and its one phone.
    constexpr int PorConsole = 15;
    auto console = [&](char letra) {
        Attachment att = p.Principal();
        for (int i = 0; i < PorConsole; ++i) {
            Transaction tr(att);
            CodigoClienteParaEdicao(tr, std::string(1, letra) + std::to_string(i),
                                    "48" + std::to_string(i));
            tr.Commit();
        }
    };
    std::thread a(console, 'A'), b(console, 'B');
    a.join();
    b.join();
    Attachment adm = p.Admin();
    Transaction tr(adm, true);
    Statement st(tr, "SELECT COUNT(DISTINCT c.CLI_CODIGO), COUNT(t.CLI_CODIGO) FROM CLIENTE c "
                     "LEFT JOIN TELEFONE t ON t.CLI_CODIGO = c.CLI_CODIGO");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetInt(0), 2 * PorConsole);
    EXPECT_EQ(c.GetInt(1), 2 * PorConsole);
}
