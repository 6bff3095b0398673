// Login, permissions, password change and the operator's extension list
// against the real server.

#include <QLineEdit>
#include <QPushButton>
#include <thread>

#include "tests/console/MensageiroTeste.h"
#include "tests/console/TesteConsole.h"
#include "common/CifraTexto.h"
#include "common/db/Instalacao.h"
#include "console/Acesso.h"
#include "console/MDados.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormAcesso.h"

namespace {

void InsereUsuario(Attachment& att, int codigo, const char* nome, const char* login,
                   const std::string& senha, std::optional<int> perfil,
                   const std::string& grupo = "") {
    Transaction tr(att);
    Statement st(tr, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, USR_PERFIL, "
                     "USR_GRUPO) VALUES (?, ?, ?, ?, ?, ?)");
    st.SetInt(0, codigo).SetText(1, nome).SetText(2, login).SetText(3, CriptografaTexto(senha));
    if (perfil)
        st.SetInt(4, *perfil);
    else
        st.SetNull(4);
    st.SetText(5, grupo);
    st.Executa();
    tr.Commit();
}

struct BaseAcesso : ::testing::Test {
    ProgramaTeste p{"acesso"};
    MensageiroTeste msg;
    MDados dados{msg};
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        Attachment att = p.Principal();
        att.Executa("DELETE FROM USUARIO");
        InsereUsuario(att, 1, "Administrador", "ADMIN", "senha12345", 1);
        InsereUsuario(att, 2, "Ana Lima", "Ana", "ana123", 2, "Vendas");
        InsereUsuario(att, 3, "Sem perfil", "nulo", "x1", std::nullopt);
        InsereUsuario(att, 4, "Perfil zero", "zero", "x2", 0);
        InsereUsuario(att, 5, "Perfil tres", "tres", "x3", 3);
        InsereUsuario(att, 6, "Ramal", "ramal", "x4", 2, "Ramal 2001");
        InsereUsuario(att, 7, "Sem grupo", "semgrupo", "x5", 2, "Inexistente");
        InsereUsuario(att, 8, "Aspas", "aspas", "x6", 2, "O'Brien");
        std::string erro;
        ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    }
    std::string Senha(int codigo) {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, "SELECT USR_SENHA FROM USUARIO WHERE USR_CODIGO = ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        return c.Proxima() ? c.GetText(0) : "";
    }
};

}  // namespace

TEST(Permissao, NiveisPorPerfil) {
    struct Caso {
        int nivel, perfil;
        bool pode;
    } casos[] = {{1, 1, true},  {2, 1, true},  {1, 2, false}, {2, 2, true},  {1, 0, false},
                 {2, 0, false}, {1, 3, false}, {2, 3, false}, {2, -1, false}};
    for (const Caso& c : casos)
        EXPECT_EQ(PossuiAutorizacao(c.nivel, c.perfil), c.pode) << c.nivel << "/" << c.perfil;
    MensageiroTeste msg;
    EXPECT_FALSE(VerificaPermissao(1, 0, 1, msg));
    EXPECT_TRUE(msg.mostradas.empty());
    EXPECT_FALSE(VerificaPermissao(1, 2, 2, msg));
    ASSERT_EQ(msg.mostradas.size(), 1u);
    EXPECT_EQ(msg.mostradas[0].second, "Usuário não possui autorização de acesso à esta função");
    EXPECT_TRUE(VerificaPermissao(2, 2, 2, msg));
}

TEST(Permissao, ChecagensDaNovaSenha) {
    EXPECT_EQ(VerificaNovaSenha(" ", "a"), "Informe a nova senha");
    EXPECT_EQ(VerificaNovaSenha("a", ""), "Informe a confirmação de senha");
    EXPECT_EQ(VerificaNovaSenha("a", "b"), "Senha e confirmação da senha são diferentes");
    EXPECT_EQ(VerificaNovaSenha(" abc ", "abc"), "");
}

TEST_F(BaseAcesso, TabelaDeLogins) {
    struct Caso {
        std::string login, senha;
        std::string mensagem;  // empty: logged in
        int codigo;
    } casos[] = {
        {"ADMIN", "senha12345", "", 1},
        {"admin", "senha12345", "", 1},
        {" ADMIN ", " senha12345 ", "", 1},
        {"Ana", "ana123", "", 2},
        {"ana", "ana123", "Login inexistente ou senha incorreta", 0},
        {"ADMIN", "errada", "Login inexistente ou senha incorreta", 0},
        {"ninguem", "x", "Login inexistente ou senha incorreta", 0},
        {"", "x", "Informe o login do usuário", 0},
        {"ADMIN", "  ", "Informe a senha do usuário", 0},
        {"' OR '1'='1", "senha12345", "Login inexistente ou senha incorreta", 0},
        {"ADMIN", "' OR '1'='1", "Login inexistente ou senha incorreta", 0},
        {"ADMIN' --", "x", "Login inexistente ou senha incorreta", 0},
        {"ADMIN", "ADMIN' --", "Login inexistente ou senha incorreta", 0},
        {std::string(25, 'A'), "x", "Login inexistente ou senha incorreta", 0},
        {"ADMIN", std::string(25, 'a'), "Login inexistente ou senha incorreta", 0},
        {"ł", "x", "Login inexistente ou senha incorreta", 0},
        {"ADMIN", "ł", "Login inexistente ou senha incorreta", 0},
    };
    for (const Caso& c : casos) {
        Acesso a(dados, msg);
        msg.mostradas.clear();
        const bool ok = a.VerificaUsuario(c.login, c.senha);
        EXPECT_EQ(ok, c.mensagem.empty()) << c.login;
        EXPECT_EQ(a.CodigoConfirmado, c.codigo) << c.login;
        if (c.mensagem.empty())
            EXPECT_TRUE(msg.mostradas.empty()) << c.login;
        else {
            ASSERT_EQ(msg.mostradas.size(), 1u) << c.login;
            EXPECT_EQ(msg.mostradas[0].second, c.mensagem) << c.login;
        }
        EXPECT_EQ(dados.EstadoConexao(), Conectado) << c.login;
    }
}

TEST_F(BaseAcesso, PerfisDesconhecidosEntramSemPermissao) {
    for (const char* login : {"nulo", "zero", "tres"}) {
        Acesso a(dados, msg);
        const std::string senha = std::string("x") + (login[0] == 'n'   ? "1"
                                                      : login[0] == 'z' ? "2"
                                                                        : "3");
        ASSERT_TRUE(a.VerificaUsuario(login, senha)) << login;
        EXPECT_FALSE(PossuiAutorizacao(1, a.PerfilConfirmado)) << login;
        EXPECT_FALSE(PossuiAutorizacao(2, a.PerfilConfirmado)) << login;
    }
}

TEST_F(BaseAcesso, TrocaDeSenha) {
    Acesso a(dados, msg);
    ASSERT_TRUE(a.VerificaUsuario("ADMIN", "senha12345"));
    ASSERT_TRUE(a.TrocaSenha(" nova-senha "));
    EXPECT_TRUE(a.VerificaUsuario("ADMIN", "nova-senha"));
    EXPECT_FALSE(a.VerificaUsuario("ADMIN", "senha12345"));
    // The cipher of a known password, as stored.
    ASSERT_TRUE(a.VerificaUsuario("ADMIN", "nova-senha"));
    ASSERT_TRUE(a.TrocaSenha(" senha12345 "));
    EXPECT_EQ(Senha(1), "/jvmPHkmJeWMcg==");
    // The longest password the dialog admits still fits the column.
    ASSERT_TRUE(a.TrocaSenha(std::string(TamanhoMaximoSenha, 'z')));
    EXPECT_TRUE(a.VerificaUsuario("ADMIN", std::string(TamanhoMaximoSenha, 'z')));
}

TEST_F(BaseAcesso, TrocaQueFalhaMostraErroESenhaAntigaVale) {
    Acesso a(dados, msg);
    ASSERT_TRUE(a.VerificaUsuario("Ana", "ana123"));
    // Another connection changes the row first: the update waits for it and
    // then fails with the conflict.
    {
        Attachment outra = p.Principal();
        Transaction tr(outra);
        tr.Executa("UPDATE USUARIO SET USR_NOME = 'x' WHERE USR_CODIGO = 2");
        std::thread t([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            tr.Commit();
        });
        msg.mostradas.clear();
        EXPECT_FALSE(a.TrocaSenha("outra1"));
        t.join();
        ASSERT_EQ(msg.mostradas.size(), 1u);
        EXPECT_EQ(msg.mostradas[0].first, TipoMensagem::Erro);
    }
    EXPECT_TRUE(a.VerificaUsuario("Ana", "ana123"));
    // Row removed meanwhile.
    p.Principal().Executa("DELETE FROM USUARIO WHERE USR_CODIGO = 2");
    msg.mostradas.clear();
    EXPECT_FALSE(a.TrocaSenha("outra1"));
    ASSERT_EQ(msg.mostradas.size(), 1u);
    EXPECT_EQ(dados.EstadoConexao(), Conectado);
}

TEST_F(BaseAcesso, ListaDeRamaisDoUsuario) {
    {
        Attachment att = p.Principal();
        att.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'Vendas')");
        att.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (2, 'O''Brien')");
        att.Executa("INSERT INTO GRPRAMAL VALUES (1, '2001', '2001', 5)");
        att.Executa("INSERT INTO GRPRAMAL VALUES (1, '2002', ' Maria ', 5)");
        att.Executa("INSERT INTO GRPRAMAL VALUES (1, '3001', 'Outra', 6)");
        att.Executa("INSERT INTO GRPRAMAL VALUES (2, '4001', '', 5)");
    }
    Acesso a(dados, msg);
    using V = std::vector<std::string>;
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(1, 5), V{"*"});
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(6, 5), V{"2001"});
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(2, 5), (V{"2001", "2002", "Maria"}));
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(2, 7), V{""});  // group without rows for the unit
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(7, 5), V{});    // unknown group
    EXPECT_EQ(a.CarregaListaRamaisUsuarios(8, 5), V{"4001"});
}

TEST_F(BaseAcesso, DialogoDeLoginDescartaAspasEEntra) {
    ContextoConsole ctx;
    std::string erro;
    ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
    FormAcesso f(ctx);
    auto feito = AoAbrir("FormAcesso", [&](QWidget*) {
        QTest::keyClicks(f.edLogin, "AD'MI\"N");
        EXPECT_EQ(f.edLogin->text(), "ADMIN");
        EXPECT_TRUE(f.btnTrocar->isEnabled());
        QTest::keyClick(f.edLogin, Qt::Key_Return);
        QTest::keyClicks(f.edSenha, "senha12345");
        QTest::keyClick(f.edSenha, Qt::Key_Return);
    });
    EXPECT_EQ(f.ExecutaLogin(), ResultadoLogin::Entrou);
    EXPECT_TRUE(*feito);
    EXPECT_EQ(ctx.UsuarioCodigo, 1);
    EXPECT_EQ(ctx.UsuarioNome, "Administrador");
    EXPECT_EQ(ctx.UsuarioPerfil, 1);

    // A wrong password keeps the dialog with the message; Escape cancels.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    feito = AoAbrir("FormAcesso", [&](QWidget*) {
        f.edLogin->setText("ADMIN");
        f.edSenha->setText("errada");
        f.btnOk->click();
        EXPECT_TRUE(f.isVisible());
        QTest::keyClick(&f, Qt::Key_Escape);
    });
    EXPECT_EQ(f.ExecutaLogin(), ResultadoLogin::Cancelado);
    ASSERT_FALSE(ctx.mensagens.Mostradas().empty());
    EXPECT_EQ(ctx.mensagens.Mostradas().back().texto, "Login inexistente ou senha incorreta");
}

TEST_F(BaseAcesso, DialogoDeTrocaDeSenha) {
    ContextoConsole ctx;
    std::string erro;
    ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
    FormAcesso f(ctx);
    auto troca = std::make_shared<bool>(false);
    auto feito = AoAbrir("FormAcesso", [&](QWidget*) {
        f.edLogin->setText("Ana");
        f.edSenha->setText("ana123");
        AoAbrir("FormTrocaSenha", [&](QWidget* w) {
            auto* t = static_cast<FormTrocaSenha*>(w);
            EXPECT_EQ(t->edNovaSenha->maxLength(), TamanhoMaximoSenha);
            ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
            t->edNovaSenha->setText("nova99");
            t->edNovaSenhaConf->setText("nova98");
            t->btnOk->click();  // differ: stays
            EXPECT_TRUE(t->isVisible());
            t->edNovaSenhaConf->setText("nova99");
            *troca = true;
            t->btnOk->click();
        });
        f.btnTrocar->click();
    });
    EXPECT_EQ(f.ExecutaLogin(), ResultadoLogin::Entrou);
    EXPECT_TRUE(*troca);
    EXPECT_EQ(ctx.UsuarioCodigo, 2);
    EXPECT_EQ(ctx.mensagens.Mostradas().back().texto,
              "Senha e confirmação da senha são diferentes");
    Acesso a(dados, msg);
    EXPECT_TRUE(a.VerificaUsuario("Ana", "nova99"));
}

TEST_F(BaseAcesso, PrimeiroAdministradorDaInstalacao) {
    p.Principal().Executa("DELETE FROM USUARIO");
    EXPECT_THROW(CriaPrimeiroAdministrador(p.inst.Principal(), std::string(22, 'a')),
                 std::invalid_argument);
    EXPECT_THROW(CriaPrimeiroAdministrador(p.inst.Principal(), ""), std::invalid_argument);
    EXPECT_TRUE(CriaPrimeiroAdministrador(p.inst.Principal(), "Pr1meira"));
    EXPECT_FALSE(CriaPrimeiroAdministrador(p.inst.Principal(), "outra"));  // users exist: nothing
    Acesso a(dados, msg);
    ASSERT_TRUE(a.VerificaUsuario("admin", "Pr1meira"));
    EXPECT_EQ(a.PerfilConfirmado, 1);
    EXPECT_FALSE(a.VerificaUsuario("ADMIN", "outra"));
}
