// The structure upgrade at the end of a main connection, against the real
// server: packages applied once per database through the ledger, applied
// twice, failing half-way, a unit down, hostile and newer packages, the
// area-code fix-ups.

#include <gtest/gtest.h>

#include "MensageiroTeste.h"
#include "PacoteTeste.h"
#include "TesteConsole.h"
#include "common/db/Instalacao.h"
#include "console/AtualizacaoBD.h"
#include "console/MDados.h"

namespace {

bool Tabela(Attachment att, const std::string& nome) {
    Transaction tr(att);
    Statement st(tr, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?");
    st.SetText(0, nome);
    return st.Abre().Proxima();
}

bool Coluna(Attachment att, const std::string& tabela, const std::string& campo) {
    Transaction tr(att);
    Statement st(tr, "SELECT 1 FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = ? AND "
                     "RDB$FIELD_NAME = ?");
    st.SetText(0, tabela).SetText(1, campo);
    return st.Abre().Proxima();
}

// Ledger rows as "name=sha-prefix" in name order; empty without the table.
std::vector<std::string> LeLedger(Attachment att) {
    std::vector<std::string> v;
    Transaction tr(att);
    Statement ex(tr, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'ATUALIZACAO'");
    if (!ex.Abre().Proxima()) return v;
    Statement st(tr, "SELECT ATU_SCRIPT, ATU_SHA256 FROM ATUALIZACAO ORDER BY ATU_SCRIPT");
    auto c = st.Abre();
    while (c.Proxima()) v.push_back(c.GetText(0) + "=" + c.GetText(1).substr(0, 8));
    return v;
}

std::string Texto(Attachment att, const std::string& sql) {
    Transaction tr(att);
    Statement st(tr, sql);
    auto c = st.Abre();
    std::string r;
    while (c.Proxima()) r += (c.IsNull(0) ? "<null>" : c.GetText(0)) + ";";
    return r;
}

// The console's connection with the upgrade step, as ContextoConsole wires it.
struct Console {
    MensageiroTeste msg;
    MDados dados{msg};
    AtualizacaoBD atualizacao{dados, msg};
    Console() {
        dados.VerificaAtualizacaoBD = [this] { atualizacao.VerificaAtualizacaoBD(); };
    }
    void Conecta() {
        std::string erro;
        ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
        dados.Desconecta();
    }
};

const std::vector<std::pair<std::string, std::string>> ScriptsBasicos = {
    {"quv_1.sql", "CREATE TABLE NOVA_PRINCIPAL (NP_CODIGO INTEGER NOT NULL);\n"
                  "INSERT INTO NOVA_PRINCIPAL VALUES (1);\n"},
    {"grvest_1.sql", "ALTER TABLE PABX ADD PAB_EXTRA_TESTE INTEGER;\n"},
    {"grvpab_1.sql",
     "SET TERM ^ ;\nCREATE OR ALTER PROCEDURE P_TESTE RETURNS (R INTEGER) AS\n"
     "BEGIN R = 1; SUSPEND; END^\nSET TERM ; ^\nCREATE TABLE NOVA_UNIDADE (NU INTEGER);\n"},
};

void CadastraUnidade(ProgramaTeste& p, int codigo, const std::string& ddd) {
    Attachment att = p.Admin();
    Transaction tr(att);
    Statement st(tr, "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DDDCODIGO) "
                     "VALUES (?, 'U', ?) MATCHING (PAB_CODIGO)");
    st.SetInt(0, codigo).SetText(1, ddd);
    st.Executa();
    tr.Commit();
}

}  // namespace

TEST(AtualizacaoBD, PacoteAplicadoUmaVezEmCadaBase) {
    ProgramaTeste p("atupac", {1, 2});
    EXIGE_SERVIDOR(p.inst);
    CadastraUnidade(p, 1, "");
    CadastraUnidade(p, 2, "021");
    {
        Attachment u = p.Unidade(1, true);
        u.Executa("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DDDCODIGO) "
                  "VALUES (1, 'U', '') MATCHING (PAB_CODIGO)");
    }
    p.Ini().WriteString("Veruzadu", "DDD", " 0119 ");
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp", ScriptsBasicos));

    Console c;
    c.Conecta();
    EXPECT_TRUE(c.msg.mostradas.empty()) << c.msg.mostradas.front().second;
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
    EXPECT_FALSE(std::filesystem::exists(ArquivoLogUpgrade())) << LeTudo(ArquivoLogUpgrade());

    EXPECT_TRUE(Tabela(p.Principal(), "NOVA_PRINCIPAL"));
    EXPECT_FALSE(Coluna(p.Principal(), "PABX", "PAB_EXTRA_TESTE"));
    for (int u : {0, 1, 2}) EXPECT_TRUE(Coluna(p.Unidade(u), "PABX", "PAB_EXTRA_TESTE")) << u;
    EXPECT_FALSE(Tabela(p.Unidade(0), "NOVA_UNIDADE"));
    EXPECT_TRUE(Tabela(p.Unidade(1), "NOVA_UNIDADE"));
    EXPECT_TRUE(Tabela(p.Unidade(2), "NOVA_UNIDADE"));
    const auto principal = LeLedger(p.Principal());
    ASSERT_EQ(principal.size(), 1u);
    EXPECT_EQ(principal[0].substr(0, 10), "quv_1.sql=");
    EXPECT_EQ(LeLedger(p.Unidade(0)).size(), 1u);
    const auto u1 = LeLedger(p.Unidade(1));
    EXPECT_EQ(u1.size(), 2u);
    // Area codes: the main database's empty one gets the first 3 characters,
    // every row of a unit's copy gets them.
    EXPECT_EQ(Texto(p.Principal(), "SELECT PAB_DDDCODIGO FROM PABX WHERE PAB_CODIGO IN (1, 2) "
                                   "ORDER BY PAB_CODIGO"),
              "011;021;");
    EXPECT_EQ(Texto(p.Unidade(1), "SELECT DISTINCT PAB_DDDCODIGO FROM PABX"), "011;");

    // The same package again, and a second console: nothing changes, nothing said.
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp", ScriptsBasicos));
    Console c2, c3;
    c2.Conecta();
    c3.Conecta();
    EXPECT_TRUE(c2.msg.mostradas.empty());
    EXPECT_TRUE(c3.msg.mostradas.empty());
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
    EXPECT_FALSE(std::filesystem::exists(ArquivoLogUpgrade()));
    EXPECT_EQ(LeLedger(p.Principal()), principal);
    EXPECT_EQ(LeLedger(p.Unidade(1)), u1);
    EXPECT_EQ(Texto(p.Principal(), "SELECT COUNT(*) FROM NOVA_PRINCIPAL"), "1;");
}

TEST(AtualizacaoBD, ScriptQueFalhaNoMeioFicaParaAProximaConexao) {
    ProgramaTeste p("atufalha", {1});
    EXIGE_SERVIDOR(p.inst);
    CadastraUnidade(p, 1, "011");
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp",
                                 {{"quv_1.sql", "CREATE TABLE META (M INTEGER);\n"
                                                "INSERT INTO NAO_EXISTE VALUES (1);\n"},
                                  {"quv_2.sql", "CREATE TABLE OUTRA (O INTEGER);\n"}}));
    for (int vez = 0; vez < 2; ++vez) {
        SCOPED_TRACE(vez);
        Console c;
        c.Conecta();
        ASSERT_EQ(c.msg.mostradas.size(), 1u);
        EXPECT_EQ(c.msg.mostradas[0].first, TipoMensagem::Aviso);
        EXPECT_NE(c.msg.mostradas[0].second.find("não foi concluída"), std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
        EXPECT_TRUE(Tabela(p.Principal(), "META"));     // the first change is kept
        EXPECT_EQ(LeLedger(p.Principal()).size(), 1u);  // quv_2 only
        const std::string log = LeTudo(ArquivoLogUpgrade());
        EXPECT_NE(log.find(" -> quv_1.sql-> VERUZADU: "), std::string::npos) << log;
    }
    // A fixed package takes the failed name over; both packages go.
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts2.gkp",
                                 {{"quv_1.sql", "INSERT INTO META VALUES (1);\n"}}));
    Console c;
    c.Conecta();
    EXPECT_TRUE(c.msg.mostradas.empty());
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts2.gkp"));
    EXPECT_EQ(LeLedger(p.Principal()).size(), 2u);
    EXPECT_EQ(Texto(p.Principal(), "SELECT COUNT(*) FROM META"), "1;");
}

TEST(AtualizacaoBD, UnidadeForaDoArEAtualizadaDepois) {
    ProgramaTeste p("atudown", {1});
    EXIGE_SERVIDOR(p.inst);
    CadastraUnidade(p, 1, "011");
    CadastraUnidade(p, 7, "011");
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp", ScriptsBasicos));
    {
        Console c;
        c.Conecta();
        ASSERT_EQ(c.msg.mostradas.size(), 2u);
        EXPECT_NE(c.msg.mostradas[0].second.find("GRVPAB007"), std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
        EXPECT_TRUE(Coluna(p.Unidade(1), "PABX", "PAB_EXTRA_TESTE"));
    }
    OpcoesInstalacao o = p.inst.opcoes;
    o.unidades = {1, 7};
    InstalaParaTeste(o);
    Console c;
    c.Conecta();
    EXPECT_TRUE(c.msg.mostradas.empty());
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
    EXPECT_TRUE(Tabela(p.Unidade(7), "NOVA_UNIDADE"));
    EXPECT_EQ(LeLedger(p.Unidade(7)).size(), 2u);
    EXPECT_EQ(LeLedger(p.Unidade(1)).size(), 2u);
}

TEST(AtualizacaoBD, PacotesRecusadosENovosNaoTocamNada) {
    ProgramaTeste p("atuhostil", {1});
    EXIGE_SERVIDOR(p.inst);
    ASSERT_TRUE(FazPacote(p.pasta / "scripts1.gkp",
                          {{"PACOTE.INI", 'f', ManifestoTeste},
                           {"quv_1.sql", 'f', "CREATE TABLE NAO_DEVE (X INTEGER);\n"},
                           {"quv_2.sql", 'l', "VERUZADU.INI"}}));
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts2.gkp",
                                 {{"quv_3.sql", "CREATE TABLE NEM_ESTA (X INTEGER);\n"}},
                                 "[Pacote]\nFormato=1\nVersao=99.0\n"));
    Console c;
    c.atualizacao.versaoPrograma = "1.0.0";
    c.Conecta();
    ASSERT_EQ(c.msg.mostradas.size(), 2u);
    EXPECT_EQ(c.msg.mostradas[0].first, TipoMensagem::Erro);
    EXPECT_NE(c.msg.mostradas[0].second.find("scripts1.gkp (quv_2.sql)"), std::string::npos);
    EXPECT_EQ(c.msg.mostradas[1].first, TipoMensagem::Aviso);
    EXPECT_NE(c.msg.mostradas[1].second.find("99.0 > 1.0.0"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(p.pasta / "scripts1.gkp.recusado"));
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "scripts1.gkp"));
    EXPECT_TRUE(std::filesystem::exists(p.pasta / "scripts2.gkp"));
    const std::string log = LeTudo(ArquivoLogUpgrade());
    EXPECT_NE(log.find("scripts1.gkp: quv_2.sql: "), std::string::npos) << log;
    EXPECT_NE(log.find("scripts2.gkp (99.0 > 1.0.0)"), std::string::npos) << log;
    EXPECT_FALSE(Tabela(p.Principal(), "NAO_DEVE"));
    EXPECT_FALSE(Tabela(p.Principal(), "NEM_ESTA"));
    EXPECT_TRUE(LeLedger(p.Principal()).empty());
    EXPECT_FALSE(std::filesystem::exists(p.pasta / "quv_1.sql"));
}

namespace {

// The user part of a database's catalogue as text: columns (type, length,
// nullability), constraints, indexes with their columns, triggers and
// procedures with their source.
std::string Catalogo(Attachment att) {
    std::string r;
    r += Texto(std::move(att), R"(
        SELECT 'C ' || TRIM(rf.RDB$RELATION_NAME) || '.' || TRIM(rf.RDB$FIELD_NAME) || ' ' ||
               f.RDB$FIELD_TYPE || ' ' || f.RDB$FIELD_LENGTH || ' ' || COALESCE(rf.RDB$NULL_FLAG, 0)
          FROM RDB$RELATION_FIELDS rf JOIN RDB$FIELDS f ON f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE
         WHERE rf.RDB$SYSTEM_FLAG = 0
        UNION ALL
        SELECT 'K ' || TRIM(c.RDB$CONSTRAINT_NAME) || ' ' || TRIM(c.RDB$CONSTRAINT_TYPE) || ' ' ||
               TRIM(c.RDB$RELATION_NAME) FROM RDB$RELATION_CONSTRAINTS c
         WHERE c.RDB$CONSTRAINT_TYPE IN ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY')
        UNION ALL
        SELECT 'I ' || TRIM(i.RDB$INDEX_NAME) || ' ' || TRIM(i.RDB$RELATION_NAME) || ' ' ||
               COALESCE(i.RDB$UNIQUE_FLAG, 0) || ' ' || TRIM(s.RDB$FIELD_NAME) || ' ' || s.RDB$FIELD_POSITION
          FROM RDB$INDICES i JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = i.RDB$INDEX_NAME
         WHERE COALESCE(i.RDB$SYSTEM_FLAG, 0) = 0
        UNION ALL
        SELECT 'T ' || TRIM(t.RDB$TRIGGER_NAME) || ' ' || COALESCE(TRIM(t.RDB$RELATION_NAME), '') || ' ' ||
               t.RDB$TRIGGER_TYPE || ' ' || CAST(t.RDB$TRIGGER_SOURCE AS VARCHAR(4000))
          FROM RDB$TRIGGERS t WHERE COALESCE(t.RDB$SYSTEM_FLAG, 0) = 0
        UNION ALL
        SELECT 'P ' || TRIM(p.RDB$PROCEDURE_NAME) || ' ' || CAST(p.RDB$PROCEDURE_SOURCE AS VARCHAR(8000))
          FROM RDB$PROCEDURES p WHERE COALESCE(p.RDB$SYSTEM_FLAG, 0) = 0
        ORDER BY 1)");
    return r;
}

}  // namespace

// A unit database of an older form (no unique key on GRAVACAO, no event
// trigger) brought up to date by a guarded package: its catalogue equals a
// fresh unit's, and the connection checks change nothing afterwards.
TEST(AtualizacaoBD, UnidadeAntigaFicaIgualAUmaNova) {
    ProgramaTeste p("atucat", {1, 2});
    EXIGE_SERVIDOR(p.inst);
    CadastraUnidade(p, 1, "011");
    CadastraUnidade(p, 2, "011");
    const std::string nova = Catalogo(p.Unidade(2));
    {
        Attachment u = p.Unidade(1, true);
        u.Executa("ALTER TABLE GRAVACAO DROP CONSTRAINT UNQ_GRAVACAO_ARQUIVO");
        u.Executa("DROP TRIGGER GRAVACAO_EVENTO");
    }
    ASSERT_NE(Catalogo(p.Unidade(1)), nova);
    const std::string script =
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS\nBEGIN\n"
        "  IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_CONSTRAINTS\n"
        "                  WHERE RDB$CONSTRAINT_NAME = 'UNQ_GRAVACAO_ARQUIVO')) THEN\n"
        "    EXECUTE STATEMENT 'ALTER TABLE GRAVACAO ADD CONSTRAINT UNQ_GRAVACAO_ARQUIVO\n"
        "      UNIQUE (PAB_CODIGO, GRV_IDFILE, GRV_DATAGRV)';\n"
        "END^\n"
        "CREATE OR ALTER TRIGGER GRAVACAO_EVENTO FOR GRAVACAO AFTER INSERT OR UPDATE OR DELETE "
        "POSITION 10 AS\n"
        "DECLARE R INTEGER;\n"
        "BEGIN\n"
        "  POST_EVENT 'GRVGRAVACAO';\n"
        "  R = RDB$SET_CONTEXT('USER_TRANSACTION', 'VERUZADU_GRVGRAVACAO', '1');\n"
        "END^\n"
        "SET TERM ; ^\n";
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp", {{"grvpab_gravacao.sql", script}}));
    Console c;
    c.Conecta();
    EXPECT_TRUE(c.msg.mostradas.empty());
    EXPECT_FALSE(std::filesystem::exists(ArquivoLogUpgrade())) << LeTudo(ArquivoLogUpgrade());
    EXPECT_EQ(Catalogo(p.Unidade(1)), nova);
    EXPECT_EQ(Catalogo(p.Unidade(2)), nova);
    Console c2;
    c2.Conecta();
    c2.dados.ConectaBasePABX(1);
    c2.dados.FechaBasePABX();
    EXPECT_EQ(Catalogo(p.Unidade(1)), nova);
}

TEST(AtualizacaoBD, LinhaDoLogDeAtualizacao) {
    PastaTemporaria d;
    ::setenv("VERUZADU_HOME", d.Caminho().c_str(), 1);
    GravaLogUpgrade("quv_1.sql-> erro", DataHora{2026, 3, 5, 7, 8, 9, 10});
    GravaLogUpgrade("segunda", DataHora{2026, 12, 31, 23, 59, 58, 0});
    EXPECT_EQ(LeTudo(d / "Veruzadu.log"),
              "05/03/26 07:08:09 -> quv_1.sql-> erro\n31/12/26 23:59:58 -> segunda\n");
    ::unsetenv("VERUZADU_HOME");
}
