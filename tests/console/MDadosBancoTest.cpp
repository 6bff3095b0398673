// The data module against the real server: structure checks of old
// databases, the per-PABX procedures, events, and which errors mean a lost
// connection.

#include "MensageiroTeste.h"
#include "TesteConsole.h"
#include "common/db/Esquema.h"
#include "console/MDados.h"
#include "console/UtilConsole.h"
#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

int FormatoTabela(Attachment& att, const std::string& tabela) {
    Transaction tr(att);
    Statement st(tr, "SELECT RDB$FORMAT FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?");
    st.SetText(0, tabela);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

int Tamanho(Attachment& att, const std::string& tabela, const std::string& campo) {
    Transaction tr(att);
    return TamanhoCampo(tr, tabela, campo);
}

bool Campo(Attachment& att, const std::string& tabela, const std::string& campo) {
    Transaction tr(att);
    return CampoExiste(tr, tabela, campo);
}

std::string LogDoMes() {
    const DataHora agora = Agora();
    return LeTudo(std::filesystem::path(PastaPrograma()) / NomeLogConsole(agora.ano, agora.mes));
}

// GRPRAMAL as an older version made it.
void RecriaGrpRamal(Attachment& att, const std::string& colunas) {
    att.Executa("DROP TABLE GRPRAMAL");
    att.Executa("CREATE TABLE GRPRAMAL (GRP_CODIGO INTEGER NOT NULL, " + colunas +
                ", PAB_CODIGO INTEGER NOT NULL)");
}

}  // namespace

TEST(MDadosBanco, BancoAntigoGanhaCamposUmaVez) {
    ProgramaTeste p("antigo");
    EXIGE_SERVIDOR(p.inst);
    {
        Attachment att = p.Principal();
        att.Executa("ALTER TABLE CONTROLE DROP CRL_COMPBD");
        for (const char* c : {"PAB_SDCARDTOTAL", "PAB_SDCARDFREE", "PAB_SDCARDUSED",
                              "PAB_ULTVERIFSDC", "PAB_ULTALERTSDC", "PAB_DNSUPDATE"})
            att.Executa(std::string("ALTER TABLE PABX DROP ") + c);
        RecriaGrpRamal(att, "RML_RAMAL VARCHAR(20) NOT NULL");
        att.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (21, 'A')");
        att.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (22, 'B')");
    }
    MensageiroTeste msg;
    MDados dados(msg);
    int atualizacoes = 0;
    dados.VerificaAtualizacaoBD = [&] { ++atualizacoes; };
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
    EXPECT_EQ(atualizacoes, 1);
    EXPECT_TRUE(msg.mostradas.empty());
    EXPECT_EQ(dados.PastaDadosBD(), p.inst.opcoes.pastaDados.string() + "/");
    EXPECT_EQ(p.Ini().ReadString("BD", "Path", ""), dados.PastaDadosBD());
    EXPECT_FALSE(dados.VersaoServidorBD().empty());

    Attachment att = p.Principal();
    EXPECT_TRUE(Campo(att, "CONTROLE", "CRL_COMPBD"));
    for (const char* c : {"PAB_SDCARDTOTAL", "PAB_SDCARDFREE", "PAB_SDCARDUSED", "PAB_ULTVERIFSDC",
                          "PAB_ULTALERTSDC"})
        EXPECT_TRUE(Campo(att, "PABX", c)) << c;
    EXPECT_EQ(Tamanho(att, "GRPRAMAL", "RML_RAMAL"), 30);
    EXPECT_EQ(Tamanho(att, "GRPRAMAL", "RML_NOME"), 30);
    {
        Transaction tr(att);
        Statement st(tr, "SELECT COUNT(*) FROM PABX WHERE PAB_DNSUPDATE IS DISTINCT FROM 1");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), 0);
    }

    // A second connection finds everything in place and alters nothing.
    const int antes[] = {FormatoTabela(att, "PABX"), FormatoTabela(att, "GRPRAMAL"),
                         FormatoTabela(att, "CONTROLE")};
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    const int depois[] = {FormatoTabela(att, "PABX"), FormatoTabela(att, "GRPRAMAL"),
                          FormatoTabela(att, "CONTROLE")};
    EXPECT_EQ(std::vector<int>(antes, antes + 3), std::vector<int>(depois, depois + 3));
    EXPECT_EQ(atualizacoes, 2);
}

TEST(MDadosBanco, ComandoDeEstruturaRecusadoSoVaiAoLog) {
    ProgramaTeste p("recusado");
    EXIGE_SERVIDOR(p.inst);
    {
        Attachment att = p.Principal();
        // A name column wider than the width the check narrows it to: the server refuses.
        RecriaGrpRamal(att, "RML_RAMAL VARCHAR(20) NOT NULL, RML_NOME VARCHAR(40)");
    }
    p.Ini().WriteBool("Log", "Servico", true);
    DefineLogConsoleAtivo(true);
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    DefineLogConsoleAtivo(false);
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
    EXPECT_FALSE(dados.ConexaoPerdida());
    EXPECT_FALSE(dados.AvisoConexaoPendente());
    EXPECT_TRUE(msg.mostradas.empty());
    const std::string log = LogDoMes();
    EXPECT_NE(log.find("ALTER TABLE GRPRAMAL ALTER COLUMN RML_NOME TYPE VARCHAR(30): "),
              std::string::npos)
        << log;
    // The connection is still usable.
    EXPECT_NO_THROW(
        dados.Executa([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); }));
}

TEST(MDadosBanco, ProcedimentosDaCentralEMarcador) {
    ProgramaTeste p("unidade", {1});
    EXIGE_SERVIDOR(p.inst);
    {
        Attachment u = p.Unidade(1);
        u.Executa("ALTER TABLE PABX DROP PAB_UPDSCRIPT");
    }
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    ASSERT_NO_THROW(dados.ConectaBasePABX(1));
    EXPECT_TRUE(dados.BasePABXConectada());
    // Another attachment's structure changes wait for ours to let go of the procedures.
    dados.FechaBasePABX();
    {
        Attachment u = p.Unidade(1);
        EXPECT_TRUE(Campo(u, "PABX", "PAB_UPDSCRIPT"));
        // A unit whose search procedure cannot be made: its table has other columns.
        u.Executa("ALTER TABLE PABX DROP PAB_UPDSCRIPT");
        u.Executa("DROP PROCEDURE LISTAGRV");
        u.Executa("DROP TABLE TMP_CLIENTE");
        u.Executa("CREATE GLOBAL TEMPORARY TABLE TMP_CLIENTE (X INTEGER) ON COMMIT DELETE ROWS");
    }
    ASSERT_NO_THROW(dados.ConectaBasePABX(1));
    dados.FechaBasePABX();
    {
        Attachment u = p.Unidade(1);
        EXPECT_FALSE(Campo(u, "PABX", "PAB_UPDSCRIPT")) << "marker set although a script failed";
        u.Executa("DROP TABLE TMP_CLIENTE");
    }
    // Unmarked, so the next connection tries again, and now succeeds.
    ASSERT_NO_THROW(dados.ConectaBasePABX(1));
    {
        Attachment u = p.Unidade(1);
        EXPECT_TRUE(Campo(u, "PABX", "PAB_UPDSCRIPT"));
        Transaction tr(u);
        Statement st(tr,
                     "SELECT COUNT(*) FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME IN ('LISTAGRV', "
                     "'LISTARAMGRUPO')");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), 2);
    }

    // A unit without a database.
    try {
        dados.ConectaBasePABX(7);
        ADD_FAILURE() << "unit 7 connected";
    } catch (const ErroBasePABX& e) {
        EXPECT_STREQ(e.what(), "Não foi possível conectar base de dados GRVPAB007");
        EXPECT_FALSE(e.detalhe.empty());
    }
    EXPECT_FALSE(dados.BasePABXConectada());
    // The main connection is not touched by a unit's failure.
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
}

TEST(MDadosBanco, ChaveDuplicadaChegaAoChamadorEConexaoFica) {
    ProgramaTeste p("duplicada");
    EXIGE_SERVIDOR(p.inst);
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    auto insere = [](Transaction& tr) {
        Statement st(tr, "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (?, ?)");
        st.SetInt(0, 31).SetText(1, "Central");
        st.Executa();
    };
    dados.Executa(insere);
    try {
        dados.Executa(insere);
        ADD_FAILURE() << "duplicate accepted";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.ChaveDuplicada()) << e.what();
    }
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
    EXPECT_FALSE(dados.ConexaoPerdida());
    EXPECT_TRUE(dados.BaseConectada());
    EXPECT_NO_THROW(
        dados.Executa([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 1"); }));
}

TEST(MDadosBanco, EventosMarcamFlagsTambemDepoisDeReabrir) {
    ProgramaTeste p("eventos");
    EXIGE_SERVIDOR(p.inst);
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    ASSERT_TRUE(dados.EventosHabilitados());
    auto posta = [&](const char* evento) {
        Attachment outra = p.Principal();
        outra.Executa(std::string("EXECUTE BLOCK AS BEGIN POST_EVENT '") + evento + "'; END");
    };
    posta("GRVCADASTRO");
    EXPECT_TRUE(EsperaAte([&] { return dados.EventoCadastro; }));
    EXPECT_FALSE(dados.EventoGravacao);

    // The upgrade closed the connection: the next work reopens it with its events.
    dados.FechaConexaoPrincipal();
    EXPECT_FALSE(dados.EventosHabilitados());
    dados.Executa([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); });
    EXPECT_TRUE(dados.EventosHabilitados());
    posta("GRVGRAVACAO");
    EXPECT_TRUE(EsperaAte([&] { return dados.EventoGravacao; }));
}

TEST(MDadosBanco, ConexaoDerrubadaEPerdaUmaVez) {
    ProgramaTeste p("perda");
    EXIGE_SERVIDOR(p.inst);
    RelogioTeste relogio;
    MensageiroTeste msg;
    MDados dados(msg, relogio.Funcao());
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    std::int64_t id = 0;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        id = c.GetBigInt(0);
    });
    {
        Attachment admin = p.Admin();
        Transaction tr(admin);
        Statement st(tr, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ?");
        st.SetBigInt(0, id);
        st.Executa();
        tr.Commit();
    }
    relogio.Avanca(5);
    const DataHora horaPerda = relogio.agora;
    try {
        dados.Executa([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); });
        ADD_FAILURE() << "work on a killed attachment succeeded";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.ConexaoPerdida()) << e.what();
    }
    EXPECT_EQ(dados.EstadoConexao(), ConexaoPerdidaBD);
    EXPECT_TRUE(dados.ConexaoPerdida());
    EXPECT_TRUE(dados.AvisoConexaoPendente());
    EXPECT_EQ(dados.HoraConexaoPerdida(), horaPerda);

    // While lost, work fails at once and does not move the loss's time.
    relogio.Avanca(20);
    EXPECT_THROW(dados.Executa([](Transaction&) {}), SemConexaoBD);
    EXPECT_EQ(dados.HoraConexaoPerdida(), horaPerda);
    // The guard stays silent while the notice is still to come, then warns.
    EXPECT_FALSE(dados.BaseConectada());
    EXPECT_TRUE(msg.mostradas.empty());
    dados.LimpaAvisoConexaoPendente();
    EXPECT_FALSE(dados.BaseConectada());
    ASSERT_EQ(msg.mostradas.size(), 1u);
    EXPECT_EQ(msg.mostradas[0].first, TipoMensagem::Aviso);
    EXPECT_EQ(msg.mostradas[0].second, "Base de dados não está conectada");

    // A new attempt connects again and clears the flags.
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    EXPECT_FALSE(dados.ConexaoPerdida());
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
}

TEST(MDadosBanco, RamaisDosGruposSeguemADiretoriaDaCentral) {
    ProgramaTeste p("ramais", {1});
    EXIGE_SERVIDOR(p.inst);
    {
        Attachment att = p.Principal();
        att.Executa(
            "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DNSUPDATE) VALUES (1, 'Central', 1)");
        // By number, by name, and one the PABX no longer lists.
        att.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '1001', "
            "'velho', 1)");
        att.Executa("INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, "
                    "'Caixa', '', 1)");
        att.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '1999', "
            "'Sumiu', 1)");
        Attachment u = p.Unidade(1);
        u.Executa(
            "INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NUMERO, DNS_NOME) VALUES (1, 1, "
            "'1001', 'Recepção')");
        u.Executa(
            "INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NUMERO, DNS_NOME) VALUES (1, 2, "
            "'1002', 'Caixa')");
    }
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    ASSERT_NO_THROW(dados.ConectaBasePABX(1));
    dados.AtualizaRamaisGrupos(1);
    dados.LimpaDNSUpdate(1);

    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(
        tr, "SELECT RML_RAMAL, RML_NOME FROM GRPRAMAL WHERE PAB_CODIGO = 1 ORDER BY RML_RAMAL");
    auto c = st.Abre();
    std::vector<std::string> linhas;
    while (c.Proxima()) linhas.push_back(c.GetText(0) + "=" + c.GetText(1));
    EXPECT_EQ(linhas, (std::vector<std::string>{"1001=Recepção", "1002=Caixa", "1999=Sumiu"}));
    Statement dns(tr, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1");
    auto d = dns.Abre();
    ASSERT_TRUE(d.Proxima());
    EXPECT_EQ(d.GetInt(0), 0);
}

TEST(MDadosBanco, ConexaoSimplesParaAMigracao) {
    ProgramaTeste p("simples");
    EXIGE_SERVIDOR(p.inst);
    MensageiroTeste msg;
    MDados dados(msg);
    EXPECT_TRUE(dados.ConectaBaseVeruzadu());
    EXPECT_TRUE(msg.mostradas.empty());
    // No checks, no events, no change of state.
    EXPECT_EQ(dados.EstadoConexao(), NaoConectado);
    EXPECT_FALSE(dados.EventosHabilitados());

    p.Ini().WriteString("BD", "Server", "\\\\127.0.0.1/1");
    EXPECT_FALSE(dados.ConectaBaseVeruzadu());
    ASSERT_EQ(msg.mostradas.size(), 1u);
    EXPECT_EQ(msg.mostradas[0].first, TipoMensagem::Aviso);
    EXPECT_EQ(msg.mostradas[0].second, "Não foi possível conectar base de dados VERUZADU");
}

// The unit's search procedure, rebuilt at connection, reaches the main
// database on the port [BD] Server names (written out here even when it is
// the default one), as the unit's database was made to.
TEST(MDadosBanco, ProcedimentoDaCentralGuardaAPortaDoServidor) {
    for (const auto& [conexao, vista] : std::vector<std::pair<std::string, std::string>>{
             {"SRV/3051:VERUZADU", "localhost/3051:VERUZADU"},
             {"SRV:VERUZADU", "localhost:VERUZADU"},
             {"10.0.0.5/3050:/dados/VERUZADU.FDB", "localhost/3050:/dados/VERUZADU.FDB"}})
        EXPECT_EQ(PrincipalVistaDoServidor(conexao), vista) << conexao;

    ProgramaTeste p("porta", {1});
    EXIGE_SERVIDOR(p.inst);
    const std::string porta = std::to_string(p.inst.srv.porta);
    p.Ini().WriteString("BD", "Server", "\\\\" + p.inst.srv.host + "/" + porta);
    {
        Attachment u = p.Unidade(1);
        u.Executa("ALTER TABLE PABX DROP PAB_UPDSCRIPT");
        Attachment att = p.Principal();
        att.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '2001', "
            "'Ana', 1)");
    }
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    ASSERT_NO_THROW(dados.ConectaBasePABX(1));
    dados.FechaBasePABX();
    Attachment u = p.Unidade(1);
    EXPECT_TRUE(Campo(u, "PABX", "PAB_UPDSCRIPT"));
    Transaction tr(u);
    {
        Statement st(tr,
                     "SELECT RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = "
                     "'LISTARAMGRUPO'");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        const std::string fonte = c.ReadBlob(0);
        EXPECT_NE(fonte.find("ON EXTERNAL 'localhost/" + porta + ":"), std::string::npos) << fonte;
    }
    Statement st(tr, "SELECT RML_RAMAL, RML_NOME FROM LISTARAMGRUPO(1)");
    auto c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetText(0), "2001");
}

// No wait on the server is without limit. A row another program holds: the
// console's write gives up after its lock time-out with the server's error,
// and keeps its connection. Work that keeps the window waiting past the
// limit of waits is cancelled, and the connection counts as lost (notice and
// reconnection follow, as for a dropped connection).
TEST(MDadosBanco, EsperasNoServidorTemLimite) {
    ProgramaTeste p("esperas");
    EXIGE_SERVIDOR(p.inst);
    MensageiroTeste msg;
    MDados dados(msg);
    std::string erro;
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;

    // Another program holds the control row until told, or for 40 s at most.
    std::mutex m;
    std::condition_variable cv;
    bool solta = false, segura = false;
    std::thread outro([&] {
        Attachment outra = p.Principal();
        Transaction tr(outra);
        tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 5");
        std::unique_lock lk(m);
        segura = true;
        cv.notify_all();
        cv.wait_for(lk, std::chrono::seconds(40), [&] { return solta; });
        lk.unlock();
        tr.Commit();
    });
    {
        std::unique_lock lk(m);
        ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(30), [&] { return segura; }));
    }
    const auto escreve = [](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 6"); };

    dados.TempoEsperaTrava = 1;
    QElapsedTimer t;
    t.start();
    try {
        dados.Executa(escreve);
        ADD_FAILURE() << "the write waited for the other program";
    } catch (const FirebirdError& e) {
        EXPECT_FALSE(e.ConexaoPerdida()) << e.what();
    }
    EXPECT_LT(t.elapsed(), 20000);
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
    EXPECT_FALSE(dados.ConexaoPerdida());

    // A longer lock wait than the window may wait: cancelled, connection lost.
    dados.TempoEsperaTrava = 60;
    dados.DefineTempoLimiteComando(1);
    t.start();
    EXPECT_THROW(dados.Executa(escreve), SemConexaoBD);
    EXPECT_LT(t.elapsed(), 20000);
    EXPECT_TRUE(dados.ConexaoPerdida());
    EXPECT_TRUE(dados.AvisoConexaoPendente());
    EXPECT_EQ(dados.EstadoConexao(), ConexaoPerdidaBD);
    {
        std::lock_guard lk(m);
        solta = true;
    }
    cv.notify_all();
    outro.join();

    // The start-up sequence connects again as after any loss.
    ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    EXPECT_NO_THROW(dados.Executa(escreve));
}
