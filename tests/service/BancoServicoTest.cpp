#include "service/BancoServico.h"

#include <gtest/gtest.h>

#include "common/CifraTexto.h"
#include "common/IniFile.h"
#include "tests/support/BancoServicoTeste.h"

namespace {

int TipoColuna(Attachment& att, const std::string& tabela, const std::string& coluna) {
    Transaction tr(att, true);
    Statement st(tr, "SELECT F.RDB$FIELD_TYPE FROM RDB$RELATION_FIELDS R JOIN RDB$FIELDS F"
                     " ON R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME"
                     " WHERE R.RDB$RELATION_NAME = ? AND R.RDB$FIELD_NAME = ?");
    st.SetText(0, tabela).SetText(1, coluna);
    Cursor c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

// Every ALTER of a table raises its format number: a start that changes
// nothing leaves it as it was.
int FormatoTabela(Attachment& att, const std::string& tabela) {
    Transaction tr(att, true);
    Statement st(tr, "SELECT RDB$FORMAT FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?");
    st.SetText(0, tabela);
    Cursor c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

struct Servico {
    PastaTemporaria pasta;
    LogServico log{pasta.Caminho()};
    std::unique_ptr<BancoServico> banco;
    explicit Servico(const ParametrosBDServico& p) {
        log.DefineMascara(31);
        banco = std::make_unique<BancoServico>(log, p);
        banco->DefineFonteIP([](std::string*) { return std::string("10.1.2.3"); });
    }
    std::string Registro() const { return LeTudo(log.ArquivoDoMes(Agora())); }
};

constexpr int SMALLINT = 7, INTEGER = 8, BIGINT = 16, TIMESTAMP = 35;

// DWNHISTORY as older installations created it: every counter SMALLINT
// except those listed in `jaLargas`.
std::string DwnhistoryAntiga(const std::set<std::string>& jaLargas) {
    std::string sql =
        "CREATE TABLE DWNHISTORY (PAB_CODIGO INTEGER NOT NULL, DWN_DTINIDOWN TIMESTAMP NOT NULL,"
        " DWN_RESULTADO INTEGER, DWN_OPERATUAL INTEGER, DWN_TIMEOUT INTEGER";
    for (const auto& a : ColunasDWNHISTORY)
        sql +=
            std::string(", ") + a.coluna + " " + (jaLargas.count(a.coluna) ? a.tipo : "SMALLINT");
    sql += ", DWN_DTFIMDOWN TIMESTAMP, DWN_DTFIMIMP TIMESTAMP,"
           " CONSTRAINT PK_DWNHISTORY PRIMARY KEY (PAB_CODIGO, DWN_DTINIDOWN))";
    return sql;
}

void EsperaFormaAtual(Attachment& att) {
    for (const auto& a : ColunasDWNHISTORY)
        EXPECT_EQ(TipoColuna(att, "DWNHISTORY", a.coluna),
                  std::string(a.tipo) == "BIGINT" ? BIGINT : INTEGER)
            << a.coluna;
    for (const auto& a : ColunasPABX)
        EXPECT_EQ(TipoColuna(att, "PABX", a.coluna),
                  std::string(a.tipo) == "BIGINT" ? BIGINT : TIMESTAMP)
            << a.coluna;
}

}  // namespace

TEST(BancoServico, TextoDoComandoNaLinhaDeErro) {
    EXPECT_EQ(TextoComando("SELECT 1"), "\"SELECT 1\"");
    EXPECT_EQ(TextoComando("X"), "X");
    EXPECT_EQ(TextoComando("a,\"b\""), "\"a,\"\"b\"\"\"");
    EXPECT_EQ(LinhaErroBD("LOADCFG", std::runtime_error("falhou (SELECT 1)"), "SELECT 1"),
              "LOADCFG: falhou (\"SELECT 1\")");
}

// An old main database: the start widens each counter and adds each SD-card
// column, publishes the service in CONTROLE, and a second start changes
// nothing.
TEST(BancoServico, BancoAntigoAtualizadoColunaPorColuna) {
    BancoServicoTeste b("antigo");
    EXIGE_BANCO(b);
    b.Executa({"DROP TABLE DWNHISTORY", DwnhistoryAntiga({}),
               "ALTER TABLE PABX DROP PAB_SDCARDTOTAL, DROP PAB_SDCARDFREE, DROP PAB_SDCARDUSED,"
               " DROP PAB_ULTVERIFSDC, DROP PAB_ULTALERTSDC"});
    Servico s(b.Parametros());
    s.banco->DefineNomeComputador([] { return std::string(40, 'H'); });

    std::string erro;
    ASSERT_TRUE(s.banco->BDCarregaControle(51051, erro)) << s.Registro();
    EXPECT_EQ(erro, "");
    EXPECT_EQ(s.banco->AlteracoesExecutadas().size(), 17u);
    EXPECT_EQ(s.banco->IPConectado(), "10.1.2.3");
    EXPECT_TRUE(s.banco->UltimoBackupBD().Vazia());  // the installation's 01/01/2012

    Attachment att = b.Conecta();
    EsperaFormaAtual(att);
    {
        Transaction tr(att, true);
        Statement st(tr, "SELECT CRL_GRVSERVER, CRL_GRVIP, CRL_GRVPORTA FROM CONTROLE");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), std::string(30, 'H'));
        EXPECT_EQ(c.GetText(1), "10.1.2.3");
        EXPECT_EQ(c.GetInt(2), 51051);
    }
    const int formatoDwn = FormatoTabela(att, "DWNHISTORY");
    const int formatoPabx = FormatoTabela(att, "PABX");

    ASSERT_TRUE(s.banco->BDCarregaControle(51052, erro));
    EXPECT_TRUE(s.banco->AlteracoesExecutadas().empty());
    EXPECT_EQ(FormatoTabela(att, "DWNHISTORY"), formatoDwn);
    EXPECT_EQ(FormatoTabela(att, "PABX"), formatoPabx);
    EXPECT_EQ(s.Registro().find("AlterField"), std::string::npos);
}

// A database an earlier start left half done (the first counter already
// INTEGER, PAB_SDCARDUSED already there) is completed, not skipped.
TEST(BancoServico, BancoParcialmenteAtualizadoEhCompletado) {
    BancoServicoTeste b("parcial");
    EXIGE_BANCO(b);
    b.Executa({"DROP TABLE DWNHISTORY",
               DwnhistoryAntiga({"DWN_ARQBAIXAR", "DWN_ARQBAIXADO", "DWN_BYTESBAIXAR"}),
               "ALTER TABLE PABX DROP PAB_ULTVERIFSDC, DROP PAB_ULTALERTSDC"});
    Servico s(b.Parametros());
    std::string erro;
    ASSERT_TRUE(s.banco->BDCarregaControle(51051, erro)) << s.Registro();
    EXPECT_EQ(s.banco->AlteracoesExecutadas().size(), 9u + 2u);
    Attachment att = b.Conecta();
    EsperaFormaAtual(att);
}

TEST(BancoServico, UltimoBackupRegistradoELido) {
    BancoServicoTeste b("backup");
    EXIGE_BANCO(b);
    Servico s(b.Parametros());
    struct Caso {
        const char* valor;
        DataHora esperado;
    };
    const Caso casos[] = {
        {"'2012-01-01 15:30:00'", {}},
        {"NULL", {}},
        {"'2024-05-06 07:08:09'", {2024, 5, 6, 7, 8, 9, 0}},
    };
    std::string erro;
    for (const auto& c : casos) {
        b.Executa({std::string("UPDATE CONTROLE SET CRL_ULTBACKUPBD=") + c.valor});
        ASSERT_TRUE(s.banco->BDCarregaControle(51051, erro));
        EXPECT_EQ(s.banco->UltimoBackupBD(), c.esperado) << c.valor;
    }

    const DataHora servidor = s.banco->BDPegaDataServidor();
    EXPECT_GE(servidor.ano, 2024);
    ASSERT_TRUE(s.banco->BDRegistraControle(true, false));
    const DataHora ultimo = s.banco->UltimoBackupBD();
    EXPECT_LE(std::llabs(SegundosDesdeEpoca(ultimo) - SegundosDesdeEpoca(servidor)), 60);

    b.Executa({"UPDATE CONTROLE SET CRL_COMPBD=1"});
    ASSERT_TRUE(s.banco->BDRegistraControle(false, true));
    Attachment att = b.Conecta();
    Transaction tr(att, true);
    Statement st(tr, "SELECT CRL_COMPBD, CRL_ULTBACKUPBD FROM CONTROLE");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetInt(0), 0);
    EXPECT_EQ(c.GetTimestamp(1), ultimo);  // compaction leaves the backup time alone
}

TEST(BancoServico, ServidorInalcancavel) {
    BancoServicoTeste b("inalcancavel");
    EXIGE_BANCO(b);
    PastaTemporaria pasta;
    const DataHora local{2030, 1, 2, 3, 4, 5, 6};
    LogServico log(pasta.Caminho(), [&] { return local; });
    log.DefineMascara(31);
    BancoServico banco(log, ParametrosInalcancaveis(b.Parametros(), b.arquivo));
    banco.DefineFonteIP([](std::string*) { return std::string("10.1.2.3"); });

    std::string erro;
    EXPECT_FALSE(banco.BDCarregaControle(51051, erro));
    EXPECT_FALSE(erro.empty());
    const auto codigos = banco.CodigosUltimaFalhaConexao();
    EXPECT_NE(std::find(codigos.begin(), codigos.end(), fbcodigo::NetworkError), codigos.end());
    EXPECT_EQ(banco.BDPegaDataServidor(), local);
    EXPECT_FALSE(banco.BDRegistraControle(true, false));
    std::string pastaServidor = "inalterada";
    EXPECT_EQ(banco.UsuariosConectados("QUVVERUZADU.FDB", pastaServidor), 0);
    EXPECT_EQ(pastaServidor, "inalterada");

    const std::string registro = LeTudo(log.ArquivoDoMes(local));
    for (const char* texto :
         {"Carregando configurações", "Não foi possível ler configurações",
          "SELDTH: ", "UPDWAT: ", "Não foi possível obter caminho da restauração do servidor"})
        EXPECT_NE(registro.find(texto), std::string::npos) << texto;
}

// CONFIG into the record: texts trimmed, the FTP password deciphered, the area
// code kept; a reader's snapshot never changes under it, and a failed reload
// leaves the published record as it was.
TEST(BancoServico, ConfiguracaoIdaEVolta) {
    BancoServicoTeste b("config");
    EXIGE_BANCO(b);
    {
        Attachment att = b.Conecta();
        Transaction tr(att);
        Statement st(tr, "UPDATE CONFIG SET CFG_CRIPTOGRAFIA=?, CFG_CONVERTOGG=?, CFG_CRIPTOKEY=?,"
                         " CFG_FTPBACKUP=?, CFG_FTPHOST=?, CFG_FTPPORT=?, CFG_FTPUSER=?,"
                         " CFG_FTPPASS=?, CFG_FTPSECURITY=?, CFG_FTPDSTPATH=?, CFG_NETBACKUP=?,"
                         " CFG_NETDSTPATH=?, CFG_ALMALERTA=?, CFG_ALMMAILTO=?, CFG_ALMMAILCC=?,"
                         " CFG_DBBACKUP=?, CFG_DBDSTPATH=?");
        st.SetInt(0, 1).SetInt(1, 1).SetText(2, CriptografaTexto("frase secreta"));
        st.SetInt(3, 2).SetText(4, "  ftp.exemplo.com.br ").SetInt(5, 2121).SetText(6, "backup");
        st.SetText(7, CriptografaTexto("s3nh@ ção")).SetInt(8, 3).SetText(9, "/gravacoes/");
        st.SetInt(10, 1).SetText(11, "/mnt/rede/").SetInt(12, 3).SetText(13, "a@x.br;b@x.br");
        st.SetText(14, "c@x.br").SetInt(15, 2).SetText(16, "/var/backup ");
        st.Executa();
        tr.Commit();
    }
    Servico s(b.Parametros());
    s.banco->DefineDDD("01134");
    const auto antes = s.banco->Configuracao();
    EXPECT_EQ(antes->DDD, "0113");

    ASSERT_TRUE(s.banco->BDCarregaConfiguracaoGeral());
    const auto c = s.banco->Configuracao();
    EXPECT_EQ(antes->CFG_FTPHOST, "");  // the old snapshot stays as it was
    EXPECT_EQ(c->CFG_CRIPTOGRAFIA, 1);
    EXPECT_EQ(c->CFG_CONVERTOGG, 1);
    EXPECT_EQ(c->CFG_CRIPTOKEY, CriptografaTexto("frase secreta"));
    EXPECT_EQ(c->CFG_FTPBACKUP, 2);
    EXPECT_EQ(c->CFG_FTPHOST, "ftp.exemplo.com.br");
    EXPECT_EQ(c->CFG_FTPPORT, 2121);
    EXPECT_EQ(c->CFG_FTPUSER, "backup");
    EXPECT_EQ(c->CFG_FTPPASS, CriptografaTexto("s3nh@ ção"));
    EXPECT_EQ(c->SenhaFTP, "s3nh@ ção");
    EXPECT_EQ(c->CFG_FTPSECURITY, 3);
    EXPECT_EQ(c->CFG_FTPDSTPATH, "/gravacoes/");
    EXPECT_EQ(c->CFG_NETBACKUP, 1);
    EXPECT_EQ(c->CFG_NETDSTPATH, "/mnt/rede/");
    EXPECT_EQ(c->CFG_ALMALERTA, 3);
    EXPECT_EQ(c->CFG_ALMMAILTO, "a@x.br;b@x.br");
    EXPECT_EQ(c->CFG_ALMMAILCC, "c@x.br");
    EXPECT_EQ(c->CFG_DBBACKUP, 2);
    EXPECT_EQ(c->CFG_DBDSTPATH, "/var/backup");
    EXPECT_EQ(c->DDD, "0113");

    b.Executa({"UPDATE CONFIG SET CFG_FTPPASS=''"});
    ASSERT_TRUE(s.banco->BDCarregaConfiguracaoGeral());
    EXPECT_EQ(s.banco->Configuracao()->SenhaFTP, "");

    const auto publicada = s.banco->Configuracao();
    s.banco->DefineParametros(ParametrosInalcancaveis(b.Parametros(), b.arquivo));
    EXPECT_FALSE(s.banco->BDCarregaConfiguracaoGeral());
    EXPECT_EQ(s.banco->Configuracao(), publicada);
}

TEST(BancoServico, UsuariosConectadosDeUmParaDois) {
    BancoServicoTeste b("conectados");
    EXIGE_BANCO(b);
    Servico s(b.Parametros());
    std::string pasta;
    EXPECT_EQ(s.banco->UsuariosConectados("QUVVERUZADU.FDB", pasta), 1);
    EXPECT_EQ(pasta, b.srv.pasta + "/");

    Attachment outra = b.Conecta();
    s.banco->DefinePastaBaseDadosServidor(pasta);
    auto p = b.Parametros();
    p.ServidorBD = b.srv.Servidor();
    s.banco->DefineParametros(p);
    std::string pasta2;
    const std::string arquivo = std::filesystem::path(b.arquivo).filename().string();
    EXPECT_EQ(s.banco->UsuariosConectados(arquivo, pasta2), 2);
    EXPECT_EQ(pasta2, pasta);

    std::string intocada = "x";
    EXPECT_EQ(s.banco->UsuariosConectados("../" + arquivo, intocada), 0);
    EXPECT_EQ(intocada, "x");
}

// A refused login registers the program's user with the administrator account
// and connects again; a refused administrator asks for the console.
TEST(BancoServico, LoginRecusadoRegistraOUsuario) {
    BancoServicoTeste b("registro");
    EXIGE_BANCO(b);
    b.Executa({"GRANT ALL ON CONTROLE TO PUBLIC", "GRANT ALL ON CONFIG TO PUBLIC",
               "GRANT ALL ON DWNHISTORY TO PUBLIC", "GRANT ALL ON PABX TO PUBLIC"});
    const std::string usuario = "VZSVC" + std::to_string(::getpid());
    auto p = b.Parametros();
    p.UsuarioBD = usuario;
    p.SenhaBD = "s3nhaSvc";

    struct Caso {
        bool adminCerto;
        bool iniVazio;
    };
    for (const Caso caso : {Caso{false, false}, Caso{true, true}}) {
        SCOPED_TRACE(caso.adminCerto ? "administrador certo" : "administrador recusado");
        Servico s(p);
        const auto ini = s.pasta.Caminho() / "VERUZADU.INI";
        const std::string servidor = b.srv.Servidor();
        if (!caso.iniVazio) IniFile(ini).WriteString("BD", "Server", "\\\\" + servidor);
        s.banco->DefineArquivoIni(ini);
        s.banco->DefineNomeComputador([&] { return servidor; });
        s.banco->DefineCredenciaisAdmin(
            {b.srv.usuario, caso.adminCerto ? b.srv.senha : std::string("errada")});

        std::string erro;
        EXPECT_EQ(s.banco->BDCarregaControle(51051, erro), caso.adminCerto) << s.Registro();
        const std::string registro = s.Registro();
        EXPECT_NE(registro.find("Registrando usuário"), std::string::npos);
        EXPECT_EQ(registro.find("Execute o aplicativo Veruzadu") != std::string::npos,
                  !caso.adminCerto);
        EXPECT_EQ(IniFile(ini).ReadString("BD", "Server", ""), "\\\\" + servidor);
        EXPECT_EQ(registro.find(p.SenhaBD), std::string::npos);  // no secret in the log
    }
    b.Executa({"DROP USER " + usuario});
}

// A table the server will not change any more (it has used up its 255
// format versions): its ALTERs fail and are logged, and the other table's
// changes still run.
TEST(BancoServico, AlteracaoRecusadaNaoImpedeAsOutras) {
    BancoServicoTeste b("recusa");
    EXIGE_BANCO(b);
    b.Executa(
        {"DROP TABLE DWNHISTORY", DwnhistoryAntiga({}), "ALTER TABLE PABX DROP PAB_ULTVERIFSDC"});
    {
        Attachment att = b.Conecta();
        for (int i = 0; FormatoTabela(att, "DWNHISTORY") < 255 && i < 300; ++i)
            att.Executa(i % 2 == 0 ? "ALTER TABLE DWNHISTORY ADD X_FORMATO INTEGER"
                                   : "ALTER TABLE DWNHISTORY DROP X_FORMATO");
        ASSERT_GE(FormatoTabela(att, "DWNHISTORY"), 255);
    }
    Servico s(b.Parametros());
    std::string erro;
    ASSERT_TRUE(s.banco->BDCarregaControle(51051, erro)) << s.Registro();
    EXPECT_EQ(s.banco->AlteracoesExecutadas().size(), 1u) << s.Registro();
    EXPECT_NE(s.Registro().find("AlterField"), std::string::npos);
    Attachment att = b.Conecta();
    EXPECT_EQ(TipoColuna(att, "PABX", "PAB_ULTVERIFSDC"), TIMESTAMP);
    EXPECT_EQ(TipoColuna(att, "DWNHISTORY", "DWN_ARQBAIXAR"), SMALLINT);
}
