// Registration of the program's database user, and the events the consoles
// listen to on the main database.

#include "tests/support/InstalacaoTeste.h"

#include "common/db/Eventos.h"
#include "common/db/FirebirdError.h"
#include "common/db/RegistroUsuario.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

TEST(Registro, LoginRecusadoRegistraEConecta) {
    InstalacaoTeste inst("registro");
    EXIGE_SERVIDOR(inst);
    Attachment admin = Attachment::Conecta(inst.Principal(true));
    // The test server's administrator is not the default one.
    const CredenciaisAdmin sysdba{inst.srv.usuario, inst.srv.senha};
    const std::string usuario = "VZREG" + std::to_string(::getpid());
    struct Remove {
        Attachment& a;
        std::string u;
        ~Remove() {
            try {
                a.Executa("DROP USER " + u);
            } catch (const FirebirdError&) {
            }
        }
    } remove{admin, usuario};

    ParametrosConexao p = inst.Principal();
    p.usuario = usuario;
    p.senha = "s3nh@'x";

    // A refused administrator (here the default one, unknown to this server)
    // is told apart from other failures.
    RegistroUsuarioBD r = RegistraUsuarioBD("\\\\" + inst.srv.Servidor(), usuario, p.senha);
    EXPECT_EQ(r.resultado, ResultadoRegistro::AdminRecusado) << r.mensagem;
    try {
        ConectaRegistrando(p, inst.srv.Servidor(), {sysdba.usuario, "errada"}, &r);
        ADD_FAILURE() << "connected without the user";
    } catch (const FirebirdError& e) {
        EXPECT_TRUE(e.LoginRecusado()) << e.what();
        EXPECT_EQ(r.resultado, ResultadoRegistro::AdminRecusado);
    }

    // The refused login registers the user, then connects.
    r = {};
    Attachment att = ConectaRegistrando(p, "\\\\" + inst.srv.Servidor(), sysdba, &r);
    EXPECT_EQ(r.resultado, ResultadoRegistro::Registrado) << r.mensagem;
    {
        Transaction tr(att, true);
        Statement st(tr, "SELECT CURRENT_USER FROM RDB$DATABASE");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), usuario);
    }
    {
        Transaction tr(admin, true);
        Statement st(tr,
                     "SELECT SEC$FIRST_NAME, SEC$LAST_NAME FROM SEC$USERS WHERE SEC$USER_NAME = ?");
        st.SetText(0, usuario);
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), "Veruzadu");
        EXPECT_EQ(c.GetText(1), "Quorvanta");
    }

    // An administrator other than SYSDBA, holding the admin role, as on
    // servers set up with the default administrator.
    const std::string outroAdmin = "VZADM" + std::to_string(::getpid());
    admin.Executa("CREATE USER " + outroAdmin + " PASSWORD 'pulvenard' GRANT ADMIN ROLE");
    Remove removeAdmin{admin, outroAdmin};
    const std::string outroUsuario = usuario + "B";
    Remove removeOutro{admin, outroUsuario};
    r = RegistraUsuarioBD(inst.srv.Servidor(), outroUsuario, "x", {outroAdmin, "pulvenard"});
    EXPECT_EQ(r.resultado, ResultadoRegistro::Registrado) << r.mensagem;

    // Registering a user that exists is a failure, not a refused administrator.
    r = RegistraUsuarioBD(inst.srv.Servidor(), usuario, "outra", sysdba);
    EXPECT_EQ(r.resultado, ResultadoRegistro::Falhou);
    EXPECT_FALSE(r.mensagem.empty());
}

TEST(Eventos, CadaEventoChegaComSuaMudanca) {
    InstalacaoTeste inst("eventos", {1});
    EXIGE_SERVIDOR(inst);
    Attachment principal = Attachment::Conecta(inst.Principal());
    Attachment unidade = Attachment::Conecta(inst.Unidade(1));
    Attachment escritor = Attachment::Conecta(inst.Principal());
    EventListener ouvinte(principal, {"GRVGRAVACAO", "GRVHISTORY", "GRVCONFIG", "GRVCADASTRO"});
    ouvinte.Aguarda(300ms);  // nothing is pending yet

    struct Caso {
        const char* evento;
        Attachment* banco;
        const char* sql;
    };
    const Caso casos[] = {
        {"GRVHISTORY", &escritor,
         "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_DATARG, LOG_OPERACAO, USR_CODIGO) VALUES (1, "
         "'NOW', 101, 65535)"},
        {"GRVCONFIG", &escritor, "UPDATE CONFIG SET CFG_ALMALERTA = 3"},
        {"GRVCADASTRO", &escritor, "INSERT INTO GRUPO VALUES (1, 'Vendas')"},
        {"GRVCADASTRO", &escritor,
         "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (1, 'Matriz')"},
        // Changes in a unit's database reach the main database's listeners.
        {"GRVGRAVACAO", &unidade,
         "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE) "
         "VALUES (GEN_ID(GEN_GRV_ID, 1), 1, '2024-01-01 10:00:00', 'a')"},
        {"GRVGRAVACAO", &unidade, "DELETE FROM GRAVACAO"},
        {"GRVCADASTRO", &unidade, "INSERT INTO DNSPABX VALUES (1, 1000, '1000', 'Recepcao')"},
    };
    for (const auto& c : casos) {
        c.banco->Executa(c.sql);
        auto contagens = ouvinte.Aguarda(5s);
        if (contagens.size() == 1 && contagens.count(c.evento) == 0)
            contagens = ouvinte.Aguarda(5s);
        EXPECT_EQ(contagens.count(c.evento), 1u) << c.sql;
        EXPECT_EQ(contagens.size(), 1u) << c.sql;
    }

    // A filing that is rolled back tells nobody.
    {
        Transaction tr(unidade);
        tr.Executa("INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE) "
                   "VALUES (GEN_ID(GEN_GRV_ID, 1), 1, '2024-01-01 11:00:00', 'b')");
        tr.Rollback();
    }
    EXPECT_TRUE(ouvinte.Aguarda(1s).empty());
}

// An import batch relays once at its end, however many recordings it filed
// in commits of their own; outside a batch each commit relays.
TEST(Eventos, LoteDeArquivamentosAvisaUmaVezNoFim) {
    InstalacaoTeste inst("eventos-lote", {1});
    EXIGE_SERVIDOR(inst);
    Attachment principal = Attachment::Conecta(inst.Principal());
    Attachment unidade = Attachment::Conecta(inst.Unidade(1));
    EventListener ouvinte(principal, {"GRVGRAVACAO"});
    ouvinte.Aguarda(300ms);
    auto arquiva = [&](int n) {
        unidade.Executa("INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE) "
                        "VALUES (GEN_ID(GEN_GRV_ID, 1), 1, '2024-02-01 10:00:00', 'lote" +
                        std::to_string(n) + "')");
    };
    {
        AvisoEmLote lote(unidade);
        for (int i = 0; i < 5; ++i) arquiva(i);
        EXPECT_TRUE(ouvinte.Aguarda(1s).empty());  // nothing relayed during the batch
        lote.Encerra();
    }
    std::map<std::string, unsigned long> contagens;
    for (int i = 0; i < 6 && contagens.empty(); ++i) contagens = ouvinte.Aguarda(5s);
    EXPECT_EQ(contagens["GRVGRAVACAO"], 1u);
    EXPECT_TRUE(ouvinte.Aguarda(1s).empty());

    // A batch that filed nothing relays nothing.
    { AvisoEmLote vazio(unidade); }
    EXPECT_TRUE(ouvinte.Aguarda(1s).empty());

    // Outside a batch, a commit relays by itself again.
    arquiva(99);
    contagens.clear();
    for (int i = 0; i < 6 && contagens.empty(); ++i) contagens = ouvinte.Aguarda(5s);
    EXPECT_EQ(contagens["GRVGRAVACAO"], 1u);
}
