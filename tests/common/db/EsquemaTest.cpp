// The schema on the real server: installation, the search procedure, the
// unique keys, the structure checks and the "highest plus one" insert.

#include "tests/support/InstalacaoTeste.h"

#include "common/db/Esquema.h"
#include "common/db/FirebirdError.h"
#include "common/db/Script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <tuple>
#include <optional>
#include <thread>

namespace {

DataHora Dh(int a, int m, int d, int h, int n, int s) { return DataHora{a, m, d, h, n, s, 0}; }

void InsereGravacao(Transaction& tr, int pabx, const std::string& ramal, const DataHora& quando,
                    const std::string& idFile, int cliente = 0) {
    Statement st(
        tr, "INSERT INTO GRAVACAO "
            "(GRV_CODIGO,PAB_CODIGO,GRV_ESTADO,GRV_COMANDA,GRV_RAMGRAVADO,GRV_DESTINO,"
            "GRV_CODCONTA,GRV_DATARG,GRV_DATAGRV,GRV_CONTROLE,GRV_IDFILE,GRV_TPFILE,GRV_TPLIGA,CLI_"
            "CODIGO,"
            "GRV_DURACAO,GRV_TEMAUDIO) VALUES (GEN_ID(GEN_GRV_ID,1),?,0,'DEVICE',?,'4833334444','',"
            "'NOW',?,'',?,1,2,?,10,0)");
    st.SetInt(0, pabx).SetText(1, ramal).SetTimestamp(2, quando).SetText(3, idFile).SetInt(4,
                                                                                           cliente);
    st.Executa();
}

struct LinhaLista {
    int codigo;
    std::string ramal;
    std::optional<std::string> grupo;
    std::optional<std::string> cliente;
};

std::vector<LinhaLista> ListaGrv(Attachment& att, const DataHora& ini, const DataHora& fim) {
    Transaction tr(att, true);
    Statement st(tr, "SELECT * FROM LISTAGRV(?, ?)");
    st.SetTimestamp(0, ini).SetTimestamp(1, fim);
    std::vector<LinhaLista> r;
    auto c = st.Abre();
    while (c.Proxima()) {
        LinhaLista l{c.GetInt(0), c.GetText(1), std::nullopt, std::nullopt};
        if (!c.IsNull(11)) l.grupo = c.GetText(11);
        if (!c.IsNull(9)) l.cliente = c.GetText(9);
        r.push_back(l);
    }
    return r;
}

}  // namespace

TEST(Instalacao, CriaBancosDoUsuarioDoProgramaESegundaExecucaoNaoMudaNada) {
    InstalacaoTeste inst("instala");
    EXIGE_SERVIDOR(inst);
    ASSERT_EQ(inst.primeira.size(), 3u);  // alias, main database, template
    EXPECT_EQ(CaminhoDoAlias(inst.opcoes.arquivoAliases, inst.opcoes.alias),
              (inst.opcoes.pastaDados / "QUVVERUZADU.FDB").string());

    auto alteracao = std::filesystem::last_write_time(inst.opcoes.pastaDados / "GRVPAB000.FDB");
    EXPECT_TRUE(InstalaParaTeste(inst.opcoes).empty());
    EXPECT_EQ(std::filesystem::last_write_time(inst.opcoes.pastaDados / "GRVPAB000.FDB"),
              alteracao);

    // Owned by the program's user, so its own upgrades may alter them.
    for (const auto& p : {inst.Principal(), inst.Unidade(0)}) {
        Attachment att = Attachment::Conecta(p);
        Transaction tr(att, true);
        Statement st(tr, "SELECT MON$OWNER FROM MON$DATABASE");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), inst.opcoes.usuario);
    }

    // A unit asked for later is added; an alias that names another file is refused.
    inst.opcoes.unidades = {7};
    auto feito = InstalaParaTeste(inst.opcoes);
    ASSERT_EQ(feito.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(inst.opcoes.pastaDados / "GRVPAB007.FDB"));
    auto outra = inst.opcoes;
    outra.pastaDados = inst.opcoes.pastaDados / "outra";
    EXPECT_THROW(InstalaParaTeste(outra), std::runtime_error);
}

TEST(Instalacao, LinhasUnicasEChaves) {
    InstalacaoTeste inst("chaves", {1});
    EXIGE_SERVIDOR(inst);
    Attachment att = Attachment::Conecta(inst.Principal());
    // CONFIG and CONTROLE have their row, and no second one.
    for (const char* tabela : {"CONFIG", "CONTROLE"}) {
        Transaction tr(att);
        Statement st(tr, std::string("SELECT COUNT(*) FROM ") + tabela);
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetBigInt(0), 1) << tabela;
        EXPECT_THROW(tr.Executa(std::string("INSERT INTO ") + tabela + " DEFAULT VALUES"),
                     FirebirdError)
            << tabela;
        EXPECT_THROW(tr.Executa(std::string("DELETE FROM ") + tabela), FirebirdError) << tabela;
    }
    // Logins are unique whatever their case.
    {
        Transaction tr(att);
        tr.Executa("INSERT INTO USUARIO (USR_CODIGO, USR_LOGIN) VALUES (1, 'Maria')");
        try {
            tr.Executa("INSERT INTO USUARIO (USR_CODIGO, USR_LOGIN) VALUES (2, 'MARIA')");
            ADD_FAILURE() << "second login accepted";
        } catch (const FirebirdError& e) {
            EXPECT_TRUE(e.ChaveDuplicada()) << e.what();
        }
    }
    // Filing one recording twice is refused with a unique-key code; another
    // file at the same time, or the same path at another time, is not.
    Attachment unidade = Attachment::Conecta(inst.Unidade(1));
    Transaction tr(unidade);
    InsereGravacao(tr, 1, "201", Dh(2024, 5, 2, 10, 0, 0), "GR240502\\X0001010\\R0001.WAV");
    InsereGravacao(tr, 1, "202", Dh(2024, 5, 2, 10, 0, 0), "GR240502\\X0001011\\R0001.WAV");
    InsereGravacao(tr, 1, "201", Dh(2024, 5, 2, 11, 0, 0), "GR240502\\X0001010\\R0001.WAV");
    tr.Commit();
    Transaction tr2(unidade);
    try {
        InsereGravacao(tr2, 1, "201", Dh(2024, 5, 2, 10, 0, 0), "GR240502\\X0001010\\R0001.WAV");
        ADD_FAILURE() << "second filing accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.Tem(fbcodigo::UniqueKey) || e.Tem(fbcodigo::NoDup)) << e.what();
    }
}

TEST(ListaGrv, ColunasPeriodoGruposEContatos) {
    InstalacaoTeste inst("listagrv", {3});
    EXIGE_SERVIDOR(inst);
    const std::string trinta = "Ramal de nome bem comprido 30c";
    ASSERT_EQ(trinta.size(), 30u);
    {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        tr.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
        tr.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
        tr.Executa("INSERT INTO GRPRAMAL VALUES (1, '201', 'Ana', 3)");
        tr.Executa("INSERT INTO GRPRAMAL VALUES (2, '201', 'Ana', 3)");
        tr.Executa("INSERT INTO GRPRAMAL VALUES (9, '204', 'Sem grupo', 3)");  // group 9 is gone
        tr.Executa("INSERT INTO GRPRAMAL VALUES (1, '205', 'Outra unidade', 4)");
        Statement st(tr, "INSERT INTO GRPRAMAL VALUES (2, '3000', ?, 3)");
        st.SetText(0, trinta).Executa();
        tr.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR) VALUES (5, "
                   "'Cliente Cinco', '123')");
        tr.Commit();
    }
    Attachment att = Attachment::Conecta(inst.Unidade(3));
    {
        Transaction tr(att);
        InsereGravacao(tr, 3, "201", Dh(2024, 3, 10, 9, 0, 0), "a", 5);  // two groups
        InsereGravacao(tr, 3, "202", Dh(2024, 3, 10, 10, 0, 0), "b");    // no group
        InsereGravacao(tr, 3, trinta.substr(0, 20), Dh(2024, 3, 10, 11, 0, 0), "c");
        tr.Executa("UPDATE GRAVACAO SET GRV_RAMGRAVADO = '3000' WHERE GRV_IDFILE = 'c'");
        InsereGravacao(tr, 3, "Ana", Dh(2024, 3, 10, 12, 0, 0), "d");  // by the extension's name
        InsereGravacao(tr, 3, "204", Dh(2024, 3, 10, 13, 0, 0), "e");  // group row without group
        InsereGravacao(tr, 3, "205", Dh(2024, 3, 10, 14, 0, 0),
                       "f");  // grouped on another unit only
        InsereGravacao(tr, 3, "201", Dh(2024, 3, 10, 23, 59, 59), "g");  // exactly at the end
        InsereGravacao(tr, 3, "201", Dh(2024, 3, 11, 0, 0, 0), "h");     // after it
        tr.Commit();
    }

    // Columns and their order.
    {
        Transaction tr(att, true);
        Statement st(tr, "SELECT * FROM LISTAGRV(?, ?)");
        const std::vector<std::string> esperadas{
            "GRV_CODIGO",        "GRV_RAMGRAVADO", "GRV_DESTINO", "GRV_CONTROLE", "GRV_DATAGRV",
            "GRV_TPLIGA",        "GRV_IDENTIFICA", "GRV_DURACAO", "CLI_CODIGO",   "CLI_DESCRICAO",
            "CLI_IDENTIFICADOR", "GRP_DESCRICAO",  "GRV_TEMAUDIO"};
        ASSERT_EQ(st.NumeroColunas(), esperadas.size());
        for (unsigned i = 0; i < esperadas.size(); ++i) EXPECT_EQ(st.NomeColuna(i), esperadas[i]);
    }

    auto linhas = ListaGrv(att, Dh(2024, 3, 10, 0, 0, 0), Dh(2024, 3, 10, 23, 59, 59));
    std::vector<std::pair<std::string, std::string>> vistos;
    for (const auto& l : linhas) vistos.emplace_back(l.ramal, l.grupo.value_or("<null>"));
    // Ordered by time; an extension in two groups comes twice (in either
    // order), one without a group once with a NULL group.
    ASSERT_EQ(linhas.size(), 10u);
    auto par = [&](std::size_t i) {
        std::vector<std::string> g{vistos[i].second, vistos[i + 1].second};
        std::sort(g.begin(), g.end());
        return std::make_pair(vistos[i].first, g);
    };
    const std::vector<std::string> ambos{"Suporte", "Vendas"};
    EXPECT_EQ(par(0), std::make_pair(std::string("201"), ambos));
    EXPECT_EQ(linhas[0].cliente, std::optional<std::string>("Cliente Cinco"));
    EXPECT_FALSE(linhas[2].cliente.has_value());
    EXPECT_EQ(vistos[2], std::make_pair(std::string("202"), std::string("<null>")));
    // A group row with a 30-character name does not abort the search.
    EXPECT_EQ(vistos[3], std::make_pair(std::string("3000"), std::string("Suporte")));
    EXPECT_EQ(par(4), std::make_pair(std::string("Ana"), ambos));  // matched by the name
    EXPECT_EQ(vistos[6], std::make_pair(std::string("204"), std::string("<null>")));
    EXPECT_EQ(vistos[7], std::make_pair(std::string("205"), std::string("<null>")));
    EXPECT_EQ(par(8), std::make_pair(std::string("201"), ambos));  // exactly at DTFIM: included

    // ... and LISTARAMGRUPO gives that name whole.
    {
        Transaction tr(att, true);
        Statement st(tr, "SELECT RML_NOME FROM LISTARAMGRUPO(3) WHERE RML_RAMAL = '3000'");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), trinta);
    }

    // The period is found through its index: no recording is read in sequence.
    {
        auto sequenciais = [&] {
            Transaction tr(att, true);
            Statement st(tr,
                         "SELECT COALESCE(SUM(s.MON$RECORD_SEQ_READS), 0) FROM MON$TABLE_STATS t "
                         "JOIN MON$RECORD_STATS s ON s.MON$STAT_ID = t.MON$RECORD_STAT_ID "
                         "JOIN MON$ATTACHMENTS a ON a.MON$STAT_ID = t.MON$STAT_ID "
                         "WHERE t.MON$STAT_GROUP = 1 AND t.MON$TABLE_NAME = 'GRAVACAO' "
                         "AND a.MON$ATTACHMENT_ID = CURRENT_CONNECTION");
            auto c = st.Abre();
            c.Proxima();
            return c.GetBigInt(0);
        };
        const auto antes = sequenciais();
        ListaGrv(att, Dh(2024, 3, 10, 0, 0, 0), Dh(2024, 3, 10, 23, 59, 59));
        EXPECT_EQ(sequenciais(), antes);
    }

    // DTINI after DTFIM gives nothing; one second wide gives just that second.
    EXPECT_TRUE(ListaGrv(att, Dh(2024, 3, 11, 0, 0, 0), Dh(2024, 3, 10, 0, 0, 0)).empty());
    EXPECT_EQ(ListaGrv(att, Dh(2024, 3, 10, 10, 0, 0), Dh(2024, 3, 10, 10, 0, 0)).size(), 1u);

    // Two searches open at once in one transaction do not disturb each other.
    {
        Transaction tr(att, true);
        Statement a(
            tr, "SELECT GRV_CODIGO FROM LISTAGRV('2024-03-10 00:00:00', '2024-03-10 23:59:59')");
        Statement b(
            tr, "SELECT GRV_CODIGO FROM LISTAGRV('2024-03-10 00:00:00', '2024-03-11 00:00:00')");
        auto ca = a.Abre();
        ASSERT_TRUE(ca.Proxima());
        auto cb = b.Abre();
        int nb = 0;
        while (cb.Proxima()) ++nb;
        int na = 1;
        while (ca.Proxima()) ++na;
        EXPECT_EQ(na, 10);
        EXPECT_EQ(nb, 12);
    }

    // The deletion window's filters name CLIENTE and GRPRAMAL here.
    {
        Transaction tr(att);
        EXPECT_EQ(
            tr.Executa(
                "DELETE FROM GRAVACAO g WHERE g.CLI_CODIGO IN (SELECT c.CLI_CODIGO FROM CLIENTE c "
                "WHERE c.CLI_DESCRICAO='Cliente Cinco')"),
            1u);
        EXPECT_EQ(tr.Executa("DELETE FROM GRAVACAO g WHERE g.GRV_RAMGRAVADO IN (SELECT r.rml_ramal "
                             "FROM grpramal r "
                             "WHERE r.grp_codigo=2)"),
                  3u);  // 201 twice (g, h) and 3000
        tr.Rollback();
    }
}

TEST(ListaGrv, LinhasEOrdemDaJuncaoComContatosEGrupos) {
    // LISTAGRV looks contacts up in batches as its rows go out; its rows must
    // stay those of the plain join of the recordings with the contacts and
    // the group rows of the main database, in time order. The reference join
    // is computed here from the tables themselves. 3,000 recordings, so the
    // lookups come in several batches: contacts linked, unlinked, linked to a
    // contact that is gone, with one or several phones, several recordings
    // at one time, extensions in two groups, by name, in none.
    InstalacaoTeste inst("listagrvcontatos", {3});
    EXIGE_SERVIDOR(inst);
    struct Contato {
        std::string descricao, identificador;
    };
    std::map<int, Contato> contatos;
    std::vector<std::tuple<std::string, std::string, std::optional<std::string>>>
        grupos;  // ramal, nome, grupo
    {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        tr.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
        tr.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
        const std::vector<std::tuple<int, std::string, std::string, int>> linhas{
            {1, "201", "Ana", 3},
            {2, "201", "Ana", 3},
            {2, "202", "Bia", 3},
            {9, "203", "Caio", 3},
            {1, "204", "Duda", 4}};
        for (const auto& [g, r, n, u] : linhas) {
            Statement st(tr, "INSERT INTO GRPRAMAL VALUES (?, ?, ?, ?)");
            st.SetInt(0, g).SetText(1, r).SetText(2, n).SetInt(3, u).Executa();
            if (u == 3)
                grupos.emplace_back(r, n,
                                    g == 1   ? std::optional<std::string>("Vendas")
                                    : g == 2 ? std::optional<std::string>("Suporte")
                                             : std::nullopt);
        }
        for (int c = 1; c <= 60; ++c) {
            if (c == 13) continue;  // gone
            Contato k{"Contato " + std::to_string(c), c % 7 == 0 ? "" : std::to_string(1000 + c)};
            Statement st(tr, "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR) "
                             "VALUES (?, ?, ?)");
            st.SetInt(0, c).SetText(1, k.descricao);
            if (k.identificador.empty())
                st.SetNull(2);
            else
                st.SetText(2, k.identificador);
            st.Executa();
            for (int f = 0; f < 1 + c % 3; ++f) {
                Statement tel(
                    tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
                tel.SetInt(0, c)
                    .SetText(1, "48" + std::to_string(c * 10 + f))
                    .SetInt(2, f)
                    .Executa();
            }
            contatos[c] = k;
        }
        tr.Commit();
    }
    struct Rec {
        int codigo;
        std::string ramal;
        DataHora data;
        int cliente;
    };
    const std::vector<std::string> ramais{"201", "202", "203", "204", "205", "Ana", "Bia"};
    std::vector<Rec> recs;
    Attachment att = Attachment::Conecta(inst.Unidade(3));
    {
        Transaction tr(att);
        for (int i = 0; i < 3000; ++i) {
            // Two recordings every third second; contacts come in runs and
            // gaps, some of them gone or never there (13, 61).
            const DataHora quando = SomaSegundos(Dh(2024, 3, 10, 0, 0, 0), (i / 2) * 3);
            const int cliente = (i / 400) % 2 ? 0 : (i % 4 == 0 ? 0 : 1 + (i * 7) % 61);
            InsereGravacao(tr, 3, ramais[static_cast<std::size_t>(i) % ramais.size()], quando,
                           "r" + std::to_string(i), cliente);
        }
        tr.Commit();
        Transaction l(att, true);
        Statement st(l, "SELECT GRV_CODIGO, GRV_RAMGRAVADO, GRV_DATAGRV, CLI_CODIGO FROM GRAVACAO");
        auto c = st.Abre();
        while (c.Proxima())
            recs.push_back({c.GetInt(0), c.GetText(1), c.GetTimestamp(2), c.GetInt(3)});
    }
    struct LinhaLista {
        int codigo;
        std::optional<int> cliente;
        std::optional<std::string> descricao, identificador, grupo;
        bool operator<(const LinhaLista& o) const {
            return std::tie(codigo, grupo, descricao) < std::tie(o.codigo, o.grupo, o.descricao);
        }
        bool operator==(const LinhaLista& o) const {
            return std::tie(codigo, cliente, descricao, identificador, grupo) ==
                   std::tie(o.codigo, o.cliente, o.descricao, o.identificador, o.grupo);
        }
    };
    auto esperado = [&](const DataHora& ini, const DataHora& fim) {
        std::vector<Rec> p;
        for (const auto& r : recs)
            if (!(r.data < ini) && !(fim < r.data)) p.push_back(r);
        std::sort(p.begin(), p.end(), [](const Rec& a, const Rec& b) {
            return a.data != b.data ? a.data < b.data : a.codigo < b.codigo;
        });
        std::vector<LinhaLista> out;
        for (const auto& r : p) {
            LinhaLista l{r.codigo, r.cliente, std::nullopt, std::nullopt, std::nullopt};
            if (auto k = contatos.find(r.cliente); k != contatos.end()) {
                l.descricao = k->second.descricao;
                if (!k->second.identificador.empty()) l.identificador = k->second.identificador;
            }
            bool algum = false;
            for (const auto& [ramal, nome, grupo] : grupos)
                if (ramal == r.ramal || nome == r.ramal) {
                    LinhaLista g = l;
                    g.grupo = grupo;
                    out.push_back(g);
                    algum = true;
                }
            if (!algum) out.push_back(l);
        }
        return out;
    };
    auto obtido = [&](const DataHora& ini, const DataHora& fim) {
        Transaction tr(att, true);
        Statement st(
            tr, "SELECT GRV_CODIGO, CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, GRP_DESCRICAO "
                "FROM LISTAGRV(?, ?)");
        st.SetTimestamp(0, ini).SetTimestamp(1, fim);
        std::vector<LinhaLista> out;
        auto c = st.Abre();
        auto texto = [&](unsigned i) {
            return c.IsNull(i) ? std::nullopt : std::optional<std::string>(c.GetText(i));
        };
        while (c.Proxima())
            out.push_back({c.GetInt(0),
                           c.IsNull(1) ? std::nullopt : std::optional<int>(c.GetInt(1)), texto(2),
                           texto(3), texto(4)});
        return out;
    };
    // Rows of one recording (one per group row) may come in any order among
    // themselves; everything else is compared as it comes.
    auto normaliza = [](std::vector<LinhaLista> v) {
        for (std::size_t i = 0; i < v.size();) {
            std::size_t j = i;
            while (j < v.size() && v[j].codigo == v[i].codigo) ++j;
            std::sort(v.begin() + static_cast<long>(i), v.begin() + static_cast<long>(j));
            i = j;
        }
        return v;
    };
    const struct {
        const char* nome;
        DataHora ini, fim;
    } periodos[] = {
        {"whole", Dh(2024, 3, 10, 0, 0, 0), Dh(2024, 3, 10, 23, 59, 59)},
        {"middle", Dh(2024, 3, 10, 0, 30, 0), Dh(2024, 3, 10, 1, 40, 0)},
        {"unlinked run only", Dh(2024, 3, 10, 0, 10, 0), Dh(2024, 3, 10, 0, 19, 57)},
        {"one second", Dh(2024, 3, 10, 0, 0, 3), Dh(2024, 3, 10, 0, 0, 3)},
        {"reversed", Dh(2024, 3, 10, 23, 0, 0), Dh(2024, 3, 10, 0, 0, 0)},
    };
    for (const auto& p : periodos) {
        const auto e = esperado(p.ini, p.fim);
        if (std::string(p.nome) == "whole") {
            ASSERT_GT(e.size(), 3000u);
        }
        EXPECT_EQ(normaliza(obtido(p.ini, p.fim)), normaliza(e)) << p.nome;
    }
}

TEST(ListaGrv, UpdatePabxTrazALinhaDaUnidade) {
    InstalacaoTeste inst("updatepabx", {2});
    EXIGE_SERVIDOR(inst);
    {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        tr.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVPORTA) VALUES (2, "
                   "'Matriz', 60000)");
        tr.Commit();
    }
    Attachment att = Attachment::Conecta(inst.Unidade(2));
    for (const char* nome : {"Matriz", "Filial"}) {
        if (std::string(nome) == "Filial") {
            Attachment p = Attachment::Conecta(inst.Principal());
            p.Executa("UPDATE PABX SET PAB_DESCRICAO = 'Filial' WHERE PAB_CODIGO = 2");
        }
        att.Executa("EXECUTE PROCEDURE UPDATEPABX (2)");
        Transaction tr(att, true);
        Statement st(tr, "SELECT PAB_DESCRICAO, PAB_KELVPORTA, (SELECT COUNT(*) FROM PABX) FROM "
                         "PABX WHERE PAB_CODIGO = 2");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), nome);
        EXPECT_EQ(c.GetInt(1), 60000);
        EXPECT_EQ(c.GetBigInt(2), 1);
    }
}

TEST(Estrutura, VerificacoesEAlteracoes) {
    InstalacaoTeste inst("estrutura", {1});
    EXIGE_SERVIDOR(inst);
    // A unit's upgrade re-creates both search procedures over what is there.
    {
        Attachment unidade = Attachment::Conecta(inst.Unidade(1));
        const std::string conexao = "localhost:" + inst.opcoes.alias;
        ExecutaScript(unidade, "SET TERM ^ ;\n" + ScriptLISTARAMGRUPO(conexao) +
                                   ScriptLISTAGRV(conexao) + "SET TERM ; ^\n");
        Transaction tr(unidade, true);
        Statement st(tr,
                     "SELECT COUNT(*) FROM LISTAGRV('2024-01-01 00:00:00', '2024-12-31 23:59:59')");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetBigInt(0), 0);
        EXPECT_FALSE(ListaGrvDesatualizada(tr));
        EXPECT_THROW(ScriptLISTARAMGRUPO("x'; DROP"), std::invalid_argument);
    }
    // A unit whose search predates the group rows by key is found out of date,
    // and its upgrade brings it up to date.
    {
        Attachment unidade = Attachment::Conecta(inst.Unidade(1));
        ExecutaScript(unidade, "SET TERM ^ ;\nCREATE OR ALTER PROCEDURE LISTAGRV (DTINI TIMESTAMP, "
                               "DTFIM TIMESTAMP) RETURNS (GRV_CODIGO INTEGER) AS BEGIN END^\n"
                               "SET TERM ; ^\nDROP TABLE TMP_GRUPOCHAVE;\n");
        {
            Transaction tr(unidade, true);
            EXPECT_TRUE(ListaGrvDesatualizada(tr));
        }
        ExecutaScript(unidade, "SET TERM ^ ;\n" + ScriptLISTAGRV("localhost:" + inst.opcoes.alias) +
                                   "SET TERM ; ^\n");
        Transaction tr(unidade, true);
        EXPECT_FALSE(ListaGrvDesatualizada(tr));
    }
    Attachment att = Attachment::Conecta(inst.Principal());
    {
        Transaction tr(att, true);
        EXPECT_TRUE(TabelaExiste(tr, "DWNHISTORY"));
        EXPECT_FALSE(TabelaExiste(tr, "NAOEXISTE"));
        EXPECT_TRUE(CampoExiste(tr, "PABX", "PAB_SDCARDUSED"));
        EXPECT_FALSE(CampoExiste(tr, "PABX", "PAB_UPDSCRIPT"));
        EXPECT_FALSE(CampoExiste(tr, "pabx", "PAB_SDCARDUSED"));  // catalogue names are upper case
        EXPECT_EQ(TamanhoCampo(tr, "GRPRAMAL", "RML_RAMAL"), 30);
        EXPECT_EQ(TamanhoCampo(tr, "LOGHISTORY", "LOG_DETALHES"), 120);
        EXPECT_EQ(TamanhoCampo(tr, "GRPRAMAL", "NAOEXISTE"), 0);
        EXPECT_EQ(CodigoTipoCampo(tr, "DWNHISTORY", "DWN_ARQBAIXAR"), 8);
        EXPECT_EQ(CodigoTipoCampo(tr, "DWNHISTORY", "DWN_BYTESBAIXAR"), 16);
        EXPECT_EQ(CodigoTipoCampo(tr, "CONTROLE", "CRL_COMPBD"), 7);
        EXPECT_EQ(CodigoTipoCampo(tr, "GRAVACAO", "GRV_BINDADOS"), 261);
        EXPECT_EQ(CodigoTipoCampo(tr, "CONTROLE", "NAOEXISTE"), -1);
        EXPECT_TRUE(TipoCampoIgual(tr, "DWNHISTORY", "DWN_ARQBAIXAR", "integer"));
        EXPECT_FALSE(TipoCampoIgual(tr, "DWNHISTORY", "DWN_ARQBAIXAR", "SMALLINT"));
    }

    // An older layout: counters SMALLINT, no SD-card columns, short extension columns.
    att.Executa("CREATE TABLE VELHA (RML_RAMAL VARCHAR(20), DWN_ARQBAIXAR SMALLINT)");
    for (const auto& sql : {SqlAlteraTamanhoCampo("VELHA", "RML_RAMAL", 30),
                            SqlAlteraTipoCampo("VELHA", "DWN_ARQBAIXAR", "INTEGER"),
                            SqlAdicionaCampo("VELHA", "PAB_DNSUPDATE", "SMALLINT")})
        att.Executa(sql);
    {
        Transaction tr(att, true);
        EXPECT_EQ(TamanhoCampo(tr, "VELHA", "RML_RAMAL"), 30);
        EXPECT_TRUE(TipoCampoIgual(tr, "VELHA", "DWN_ARQBAIXAR", "INTEGER"));
        EXPECT_TRUE(CampoExiste(tr, "VELHA", "PAB_DNSUPDATE"));
    }
    // The service's series on an installed database: widening to the same types works.
    for (const auto& sql : AlteracoesDWNHISTORY()) att.Executa(sql);
    ASSERT_EQ(AlteracoesDWNHISTORY().size(), 12u);
    EXPECT_EQ(AlteracoesDWNHISTORY().front(),
              "ALTER TABLE DWNHISTORY ALTER DWN_ARQBAIXAR TYPE INTEGER");
    EXPECT_EQ(AlteracoesPABX().back(), "ALTER TABLE PABX ADD PAB_ULTALERTSDC TIMESTAMP");

    // Names cannot be parameters: anything but a plain identifier is refused.
    EXPECT_THROW(SqlAlteraTamanhoCampo("PABX; DROP TABLE PABX", "X", 30), std::invalid_argument);
    EXPECT_THROW(SqlAdicionaCampo("PABX", "X", "INTEGER; DROP TABLE PABX"), std::invalid_argument);
    EXPECT_EQ(NomeArquivoBancoPABX(7), "GRVPAB007.FDB");
    EXPECT_EQ(NomeArquivoBancoPABX(123), "GRVPAB123.FDB");
}

TEST(ProximoCodigo, EscritoresSimultaneosGuardamTodasAsLinhas) {
    InstalacaoTeste inst("proximo");
    EXIGE_SERVIDOR(inst);
    constexpr int porEscritor = 40;
    std::atomic<int> falhas{0};
    auto escritor = [&](int id) {
        try {
            Attachment att = Attachment::Conecta(inst.Principal());
            for (int i = 0; i < porEscritor; ++i) {
                Transaction tr(att);
                InsereComProximoCodigo(
                    tr, "GRUPO", "GRP_CODIGO", [&](Transaction& t, std::int32_t codigo) {
                        Statement st(t,
                                     "INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (?, ?)");
                        st.SetInt(0, codigo)
                            .SetText(1, "g" + std::to_string(id) + "-" + std::to_string(i))
                            .Executa();
                    });
                tr.Commit();
            }
        } catch (const std::exception& e) {
            ++falhas;
            ADD_FAILURE() << e.what();
        }
    };
    std::thread a(escritor, 1), b(escritor, 2);
    a.join();
    b.join();
    EXPECT_EQ(falhas.load(), 0);
    Attachment att = Attachment::Conecta(inst.Principal());
    {
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*), MIN(GRP_CODIGO), MAX(GRP_CODIGO) FROM GRUPO");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetBigInt(0), 2 * porEscritor);
        EXPECT_EQ(c.GetInt(1), 1);
        EXPECT_EQ(c.GetInt(2), 2 * porEscritor);
    }
    // A violation of another key is thrown at once, not retried away.
    Transaction tr(att);
    tr.Executa("INSERT INTO USUARIO (USR_CODIGO, USR_LOGIN) VALUES (1, 'ana')");
    int chamadas = 0;
    try {
        InsereComProximoCodigo(
            tr, "USUARIO", "USR_CODIGO", [&](Transaction& t, std::int32_t codigo) {
                ++chamadas;
                Statement st(t, "INSERT INTO USUARIO (USR_CODIGO, USR_LOGIN) VALUES (?, 'ANA')");
                st.SetInt(0, codigo).Executa();
            });
        ADD_FAILURE() << "duplicate login accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.ChaveDuplicada());
    }
    EXPECT_EQ(chamadas, 2);
    // The transaction is still usable after the undone attempts.
    EXPECT_EQ(InsereComProximoCodigo(
                  tr, "USUARIO", "USR_CODIGO",
                  [](Transaction& t, std::int32_t codigo) {
                      Statement st(t,
                                   "INSERT INTO USUARIO (USR_CODIGO, USR_LOGIN) VALUES (?, 'bia')");
                      st.SetInt(0, codigo).Executa();
                  }),
              2);
    tr.Commit();
}

TEST(ProximoCodigo, OutraExcecaoDesfazATentativaECodigosEsgotadosSaoRecusados) {
    InstalacaoTeste inst("proximo-excecao");
    EXIGE_SERVIDOR(inst);
    Attachment att = Attachment::Conecta(inst.Principal());
    Transaction tr(att);
    tr.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'antes')");
    // An exception of the caller's own, after its insert went through.
    EXPECT_THROW(InsereComProximoCodigo(
                     tr, "GRUPO", "GRP_CODIGO",
                     [](Transaction& t, std::int32_t codigo) {
                         Statement st(
                             t, "INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (?, 'x')");
                         st.SetInt(0, codigo).Executa();
                         throw std::runtime_error("falha do chamador");
                     }),
                 std::runtime_error);
    auto conta = [&] {
        Statement st(tr, "SELECT COUNT(*) FROM GRUPO");
        auto c = st.Abre();
        c.Proxima();
        return c.GetBigInt(0);
    };
    EXPECT_EQ(conta(), 1);  // the attempt is undone, the row before it kept
    // The savepoint is gone: a later savepoint rollback in the caller works.
    EXPECT_NO_THROW(tr.Executa("SAVEPOINT DEPOIS"));
    EXPECT_NO_THROW(tr.Executa("ROLLBACK TO SAVEPOINT DEPOIS"));

    tr.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (2147483647, 'ultimo')");
    int chamadas = 0;
    EXPECT_THROW(InsereComProximoCodigo(tr, "GRUPO", "GRP_CODIGO",
                                        [&](Transaction&, std::int32_t) { ++chamadas; }),
                 std::overflow_error);
    EXPECT_EQ(chamadas, 0);
    EXPECT_EQ(conta(), 2);
    tr.Commit();
}
