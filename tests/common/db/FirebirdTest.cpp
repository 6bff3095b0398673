#include "tests/support/BancoTeste.h"

#include "common/db/Eventos.h"
#include "common/db/Script.h"
#include "common/db/Servicos.h"

#include <gmock/gmock.h>

#include <chrono>
#include <limits>
#include <memory>
#include <random>
#include <sstream>

namespace {

class FirebirdTest : public BancoTeste {};

TEST_F(FirebirdTest, ParametrosDeCadaTipoIdaEVolta) {
    Db().Executa(
        "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, TX VARCHAR(40), CH CHAR(5), I INTEGER, "
        "B BIGINT, S SMALLINT, TS TIMESTAMP, BL BLOB)");
    struct Caso {
        const char* texto;
        std::int32_t i;
        std::int64_t b;
        std::int16_t s;
        DataHora ts;
    };
    const Caso casos[] = {
        // Latin-1 letters go through UTF-8 on the wire and WIN1252 in the column.
        {"Ação às 7h: çÇãõÁÉÍÓÚüÿ ªº°",
         std::numeric_limits<std::int32_t>::max(),
         std::numeric_limits<std::int64_t>::max(),
         std::numeric_limits<std::int16_t>::max(),
         {2024, 2, 29, 23, 59, 59, 999}},
        {"",
         std::numeric_limits<std::int32_t>::min(),
         std::numeric_limits<std::int64_t>::min(),
         std::numeric_limits<std::int16_t>::min(),
         {1900, 1, 1, 0, 0, 0, 0}},
        {"it's \"quoted\"", 0, 5'000'000'000LL, -1, {2012, 1, 1, 12, 30, 15, 7}},
    };
    {
        Transaction tr(Db());
        Statement ins(
            tr, "INSERT INTO T (ID, TX, CH, I, B, S, TS, BL) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        int id = 0;
        for (const Caso& c : casos) {
            ins.SetInt(0, ++id)
                .SetText(1, c.texto)
                .SetText(2, "ÁB")
                .SetInt(3, c.i)
                .SetBigInt(4, c.b);
            ins.SetSmallInt(5, c.s).SetTimestamp(6, c.ts).SetBlob(7, std::string(c.texto) + '\0' +
                                                                         "x");
            EXPECT_EQ(ins.Executa(), 1u);
        }
        // A row of NULLs: every setter left unset or set to NULL.
        ins.SetInt(0, 99);
        for (unsigned i = 1; i < 8; ++i) ins.SetNull(i);
        ins.Executa();
        tr.Commit();
    }
    Transaction tr(Db(), true);
    Statement sel(tr, "SELECT TX, CH, I, B, S, TS, BL FROM T WHERE ID = ?");
    int id = 0;
    for (const Caso& c : casos) {
        sel.SetInt(0, ++id);
        Cursor cur = sel.Abre();
        ASSERT_TRUE(cur.Proxima());
        EXPECT_EQ(cur.GetText(0), c.texto);
        EXPECT_EQ(cur.GetText(1), "ÁB");
        EXPECT_EQ(cur.GetInt(2), c.i);
        EXPECT_EQ(cur.GetBigInt(3), c.b);
        EXPECT_EQ(cur.GetSmallInt(4), c.s);
        EXPECT_EQ(cur.GetTimestamp(5), c.ts);
        EXPECT_EQ(cur.ReadBlob(6), std::string(c.texto) + '\0' + "x");
        EXPECT_FALSE(cur.IsNull(0));
        EXPECT_FALSE(cur.Proxima());
    }
    sel.SetInt(0, 99);
    Cursor cur = sel.Abre();
    ASSERT_TRUE(cur.Proxima());
    for (unsigned i = 0; i < 7; ++i) EXPECT_TRUE(cur.IsNull(i)) << "column " << i;
    EXPECT_EQ(cur.GetText(0), "");
    EXPECT_EQ(cur.GetInt(2), 0);
    EXPECT_TRUE(cur.GetTimestamp(5).Vazia());
    EXPECT_EQ(cur.ReadBlob(6), "");
    EXPECT_EQ(cur.IndiceColuna("ts"), 5);
}

TEST_F(FirebirdTest, ServidorConverteEntreTiposEContaLinhasAfetadas) {
    Db().Executa("CREATE TABLE N (K INTEGER, B BIGINT, TS TIMESTAMP, V VARCHAR(10))");
    Transaction tr(Db());
    Statement ins(tr, "INSERT INTO N (K, B, TS, V) VALUES (?, ?, ?, ?)");
    for (int k = 1; k <= 3; ++k)
        ins.SetSmallInt(0, std::int16_t(k))
            .SetInt(1, k * 10)
            .SetText(2, "2024-03-05 07:08:09")
            .SetInt(3, k)
            .Executa();
    EXPECT_EQ(tr.Executa("UPDATE N SET B = B + 1 WHERE K >= 2"), 2u);
    Statement upd(tr, "DELETE FROM N WHERE V = ?");
    EXPECT_EQ(upd.SetText(0, "3").Executa(), 1u);
    EXPECT_EQ(upd.SetText(0, "nenhum").Executa(), 0u);

    Statement sel(tr, "SELECT K, B, TS, V FROM N ORDER BY K");
    Cursor c = sel.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetText(0), "1");
    EXPECT_EQ(c.GetTimestamp(2), (DataHora{2024, 3, 5, 7, 8, 9, 0}));
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetBigInt(1), 21);
    EXPECT_EQ(c.GetInt(3), 2);
    EXPECT_FALSE(c.Proxima());
}

TEST_F(FirebirdTest, TextoLongoDemaisERecusadoNaoCortado) {
    Db().Executa("CREATE TABLE L (V VARCHAR(5))");
    Transaction tr(Db());
    Statement ins(tr, "INSERT INTO L (V) VALUES (?)");
    ins.SetText(0, "ççççç").Executa();  // five characters, ten bytes: fits
    try {
        ins.SetText(0, "123456").Executa();
        FAIL() << "over-long text accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.Tem(fbcodigo::StringTruncation)) << e.what();
        EXPECT_THAT(e.what(), ::testing::HasSubstr("INSERT INTO L"));
    }
}

TEST_F(FirebirdTest, Blob5MBByteAByteEmSegmentos) {
    Db().Executa("CREATE TABLE G (ID INTEGER, DADOS BLOB SUB_TYPE 0)");
    std::string dados(5 * 1024 * 1024 + 123, '\0');
    std::mt19937 gerador(42);
    for (char& c : dados) c = static_cast<char>(gerador());
    {
        Transaction tr(Db());
        Statement ins(tr, "INSERT INTO G (ID, DADOS) VALUES (?, ?)");
        std::istringstream origem(dados);
        ins.SetInt(0, 1).SetBlob(1, origem).Executa();
        ins.SetInt(0, 2).SetBlob(1, std::string_view(dados)).Executa();
        tr.Commit();
    }
    Transaction tr(Db(), true);
    Statement sel(tr, "SELECT DADOS FROM G ORDER BY ID");
    Cursor c = sel.Abre();
    ASSERT_TRUE(c.Proxima());
    std::string lido;
    std::size_t maiorPedaco = 0;
    const auto total = c.ReadBlob(0, [&](const char* p, std::size_t n) {
        maiorPedaco = std::max(maiorPedaco, n);
        lido.append(p, n);
    });
    EXPECT_EQ(total, dados.size());
    EXPECT_LE(maiorPedaco, TamanhoSegmentoBlob);
    EXPECT_TRUE(lido == dados) << "streamed BLOB differs";
    ASSERT_TRUE(c.Proxima());
    EXPECT_TRUE(c.ReadBlob(0) == dados) << "BLOB written from memory differs";
}

TEST_F(FirebirdTest, ChaveDuplicadaReconhecidaPeloCodigo) {
    Db().Executa("CREATE TABLE U (K INTEGER NOT NULL PRIMARY KEY, X VARCHAR(10) UNIQUE)");
    Transaction tr(Db());
    Statement ins(tr, "INSERT INTO U (K, X) VALUES (?, ?)");
    ins.SetInt(0, 1).SetText(1, "a").Executa();
    for (auto [k, x] : {std::pair{1, "b"}, std::pair{2, "a"}}) {
        try {
            ins.SetInt(0, k).SetText(1, x).Executa();
            FAIL() << "duplicate accepted";
        } catch (const FirebirdError& e) {
            EXPECT_TRUE(e.ChaveDuplicada()) << e.what();
            EXPECT_TRUE(e.Tem(fbcodigo::UniqueKey) || e.Tem(fbcodigo::NoDup));
            EXPECT_FALSE(e.LoginRecusado());
            EXPECT_EQ(e.what(), std::string(e.what()).substr(0, std::string(e.what()).find('\n')));
        }
    }
    // The transaction is still usable after the failed statements.
    ins.SetInt(0, 2).SetText(1, "b").Executa();
    tr.Commit();
}

// The codes of an error, for a failure message.
std::string CodigosDe(const FirebirdError& e) {
    std::string r;
    for (const auto c : e.Codigos()) r += std::to_string(c) + " ";
    return r + e.what();
}

TEST_F(FirebirdTest, ConflitoDeAtualizacaoReconhecido) {
    Db().Executa("CREATE TABLE C (K INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
    Db().Executa("INSERT INTO C (K, V) VALUES (1, 0)");
    const auto atualiza = [](Transaction& tr) {
        Statement st(tr, "UPDATE C SET V = V + 1 WHERE K = ?");
        st.SetInt(0, 1).Executa();
    };
    // A snapshot that updates a row another transaction changed and committed
    // after the snapshot began.
    {
        Transaction antiga(Db(), false, Isolamento::Instantaneo);
        {
            Transaction outra(Db());
            atualiza(outra);
            outra.Commit();
        }
        try {
            atualiza(antiga);
            FAIL() << "update over a newer version accepted";
        } catch (const FirebirdError& e) {
            EXPECT_TRUE(e.ConflitoAtualizacao()) << CodigosDe(e);
            EXPECT_FALSE(e.ChaveDuplicada());
        }
    }
    // A row held by an open transaction past a lock wait limit of a second:
    // the server reports it as the same conflict.
    {
        Transaction dona(Db());
        atualiza(dona);
        Attachment outraConexao = NovaConexao();
        Transaction espera(outraConexao, false, Isolamento::LeituraConfirmada, 1);
        try {
            atualiza(espera);
            FAIL() << "update of a held row accepted";
        } catch (const FirebirdError& e) {
            EXPECT_TRUE(e.ConflitoAtualizacao()) << CodigosDe(e);
        }
    }
    // Other errors are none.
    try {
        Db().Executa("INSERT INTO C (K, V) VALUES (1, 0)");
        FAIL() << "duplicate accepted";
    } catch (const FirebirdError& e) {
        EXPECT_FALSE(e.ConflitoAtualizacao()) << CodigosDe(e);
    }
}

TEST_F(FirebirdTest, LoginRecusadoEServidorAusenteReconhecidos) {
    ParametrosConexao errado = params_;
    errado.senha = "senha-errada";
    try {
        Attachment::Conecta(errado);
        FAIL() << "wrong password accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.LoginRecusado()) << e.what();
        EXPECT_EQ(e.Codigo(), fbcodigo::Login);
    }
    ParametrosConexao semServidor = params_;
    semServidor.banco = MontaStringConexao("127.0.0.1", 1, arquivo_);  // nothing listens on port 1
    try {
        Attachment::Conecta(semServidor);
        FAIL() << "connected without a server";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.ConexaoPerdida()) << e.what();
        EXPECT_TRUE(e.Tem(fbcodigo::NetworkError)) << e.what();
        EXPECT_FALSE(e.LoginRecusado());
    }
}

TEST_F(FirebirdTest, InformacoesDoBancoEContagemDeConexoes) {
    EXPECT_EQ(Db().NomeArquivoServidor(), arquivo_);
    EXPECT_EQ(Db().ContaConexoesUsuarios(), 1);
    {
        Attachment outra = NovaConexao();
        EXPECT_EQ(Db().ContaConexoesUsuarios(), 2);
        EXPECT_EQ(outra.ContaConexoesUsuarios(), 2);
    }
    EXPECT_EQ(Db().ContaConexoesUsuarios(), 1);
}

TEST_F(FirebirdTest, ScriptComSetTermCriaProcedimento) {
    const char* script = R"(
-- tables first; the procedure's body keeps its own semicolons
SET SQL DIALECT 3;
CREATE TABLE R (A INTEGER, NOME VARCHAR(20));
INSERT INTO R VALUES (1, 'um; dois');   /* a ; inside quotes and comments */
INSERT INTO R VALUES (2, 'it''s');
COMMIT WORK;
SET TERM ^ ;
CREATE OR ALTER PROCEDURE LISTAR (MINIMO INTEGER)
RETURNS (A INTEGER, NOME VARCHAR(20))
AS
BEGIN
  FOR SELECT A, NOME FROM R WHERE A >= :MINIMO ORDER BY A INTO :A, :NOME DO
  BEGIN
    SUSPEND;
  END
END^
SET TERM ; ^
INSERT INTO R VALUES (3, 'três');
)";
    ExecutaScript(Db(), script);
    Transaction tr(Db(), true);
    Statement st(tr, "SELECT A, NOME FROM LISTAR(?)");
    st.SetInt(0, 2);
    Cursor c = st.Abre();
    std::vector<std::string> nomes;
    while (c.Proxima()) nomes.push_back(c.GetText(1));
    EXPECT_THAT(nomes, ::testing::ElementsAre("it's", "três"));
}

TEST(DivideScript, TerminadoresAspasEComentarios) {
    struct Caso {
        const char* script;
        std::vector<std::string> esperado;
    };
    const Caso casos[] = {
        {"SELECT 1 FROM X;SELECT 2 FROM Y", {"SELECT 1 FROM X", "SELECT 2 FROM Y"}},
        {"INSERT INTO X VALUES (';');", {"INSERT INTO X VALUES (';')"}},
        {"-- a;b\nA; /* c;d */ B;", {"-- a;b\nA", "/* c;d */ B"}},
        {"set term !! ;\nA; B!!\nset term ; !!\nC;", {"A; B", "C"}},
        {"  ;\n ; -- only comments\n", {}},
        {"SELECT \"a;b\" FROM X;", {"SELECT \"a;b\" FROM X"}},
    };
    for (const Caso& c : casos) EXPECT_EQ(DivideScript(c.script), c.esperado) << c.script;
}

TEST_F(FirebirdTest, ScriptParaNoPrimeiroErroEDesfazOResto) {
    EXPECT_THROW(
        ExecutaScript(
            Db(),
            "CREATE TABLE S (A INTEGER);\nINSERT INTO S VALUES (1);\nINSERT INTO NADA VALUES (2);"),
        FirebirdError);
    Transaction tr(Db(), true);
    Statement st(tr, "SELECT COUNT(*) FROM S");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetInt(0), 0);  // the DDL was committed on its own; the insert was not
}

TEST_F(FirebirdTest, UsuarioAdicionadoPeloGerenciadorDeServicosConecta) {
    static int n = 0;
    const std::string nome = "VZTESTE" + std::to_string(getpid()) + "_" + std::to_string(n++);
    AdicionaUsuario(servidor_.Servidor(), servidor_.usuario, servidor_.senha,
                    NovoUsuario{nome, "s3nh@ longa", "Veruzadu", "Quorvanta"});
    {
        Attachment a = Attachment::Conecta(ParametrosConexao{params_.banco, nome, "s3nh@ longa"});
        Transaction tr(a, true);
        Statement st(tr, "SELECT CURRENT_USER FROM RDB$DATABASE");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), nome);
    }
    {
        Transaction tr(Db(), true);
        Statement st(tr,
                     "SELECT SEC$FIRST_NAME, SEC$LAST_NAME FROM SEC$USERS WHERE SEC$USER_NAME = ?");
        Cursor c = st.SetText(0, nome).Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), "Veruzadu");
        EXPECT_EQ(c.GetText(1), "Quorvanta");
    }
    // Adding the same user again is an error, and so is a refused administrator.
    try {
        AdicionaUsuario(servidor_.Servidor(), servidor_.usuario, servidor_.senha,
                        NovoUsuario{nome, "x", "", ""});
        ADD_FAILURE() << "second add accepted";
    } catch (const FirebirdError& e) {
        EXPECT_FALSE(e.Codigos().empty()) << e.what();
    }
    try {
        AdicionaUsuario(servidor_.Servidor(), servidor_.usuario, "senha-errada",
                        NovoUsuario{nome + "X", "x", "", ""});
        ADD_FAILURE() << "refused administrator accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.LoginRecusado()) << e.what();
    }
    Db().Executa("DROP USER " + nome);
}

}  // namespace

namespace {

class FirebirdMovimento : public BancoTeste {};

// What was made from an attachment keeps working when the Attachment object
// that owns the connection is moved elsewhere (as into a container).
TEST_F(FirebirdMovimento, TransacaoEEventosSobrevivemAoMovimentoDaConexao) {
    Db().Executa("CREATE TABLE M (ID INTEGER)");
    auto origem = std::make_unique<Attachment>(NovaConexao());
    std::optional<Attachment> destino;  // outlives what was made from the connection
    Transaction tr(*origem);
    EventListener ouvinte(*origem, {"EV_MOVIMENTO"});
    destino.emplace(std::move(*origem));
    origem.reset();  // the moved-from object is gone altogether
    Statement(tr, "INSERT INTO M (ID) VALUES (1)").Executa();
    tr.Executa("EXECUTE BLOCK AS BEGIN POST_EVENT 'EV_MOVIMENTO'; END");
    tr.Commit();
    EXPECT_EQ(ouvinte.Aguarda(std::chrono::seconds(30))["EV_MOVIMENTO"], 1u);
    Transaction leitura(*destino, true);
    Statement st(leitura, "SELECT COUNT(*) FROM M");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetBigInt(0), 1);
}

// A statement that carries a secret never shows it in its error, whether the
// server refuses it at prepare or at run time, alone or inside a script.
TEST_F(FirebirdMovimento, SegredoFicaForaDasMensagensDeErro) {
    const std::string segredo = "S3gr3do-Xq9";
    auto mensagem = [](auto&& f) -> std::string {
        try {
            f();
        } catch (const FirebirdError& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string preparo = mensagem([&] {
        Db().Executa("CREATE USER VZT_NUNCA PASSWORD '" + segredo + "' FIRSTNAME",
                     TextoSecreto{segredo});
    });
    EXPECT_THAT(preparo, ::testing::Not(::testing::HasSubstr(segredo)));
    EXPECT_THAT(preparo, ::testing::HasSubstr("withheld"));
    const std::string execucao = mensagem([&] {
        Transaction tr(Db());
        tr.Executa("EXECUTE BLOCK AS BEGIN EXCEPTION ZZ_NAO_EXISTE '" + segredo + "'; END",
                   TextoSecreto{segredo});
    });
    EXPECT_THAT(execucao, ::testing::Not(::testing::HasSubstr(segredo)));
    const std::string script = mensagem([&] {
        ExecutaScript(
            Db(), "CREATE TABLE S1 (ID INTEGER);\nSELECT '" + segredo + "' FROM TABELA_AUSENTE;\n",
            TextoSecreto{segredo});
    });
    EXPECT_THAT(script, ::testing::Not(::testing::HasSubstr(segredo)));
    // Statements without a secret keep their text in the error, for diagnosis.
    const std::string comum = mensagem([&] { Db().Executa("SELECT X FROM TABELA_AUSENTE"); });
    EXPECT_THAT(comum, ::testing::HasSubstr("SELECT X FROM TABELA_AUSENTE"));
}

}  // namespace
