// The recording service control of the console: the state display and the
// rights as tables, and start and stop of the real service (pelmoran,
// pid-file backend) from the main window's items, with their history rows.

#include <unistd.h>

#include <atomic>
#include <thread>

#include <QAction>
#include <QLabel>

#include "tests/console/TesteConsole.h"
#include "console/ServicoConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormMain.h"
#include "console/forms/ServicoMain.h"

namespace {

int LinhasDoUsuario(const ProgramaTeste& p, int operacao, int usuario) {
    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(tr, "SELECT COUNT(*) FROM LOGHISTORY WHERE LOG_OPERACAO = ? AND USR_CODIGO = ?");
    st.SetInt(0, operacao).SetInt(1, usuario);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

struct BaseServico : ::testing::Test {
    ProgramaTeste p{"servico"};
    std::unique_ptr<ContextoConsole> ctx;
    std::unique_ptr<FormMain> main;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        IniFile ini = p.Ini();
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteInteger("Veruzadu", "Porta", 52000 + ::getpid() % 1000);
        ctx = std::make_unique<ContextoConsole>();
        ctx->ExecutaLogin = [](QWidget*) { return ResultadoLogin::Cancelado; };
        main = std::make_unique<FormMain>(*ctx);
        std::string erro;
        ASSERT_TRUE(ctx->dados.ConectaBancoDados(erro)) << erro;
        ctx->UsuarioCodigo = 7;
        ctx->UsuarioNome = "Ana";
    }
    void TearDown() override {
        main.reset();
        ctx.reset();
    }
    void Instala(const std::filesystem::path& exe) {
        InstalaServicoMain(*ctx, std::make_unique<ServiceControlPidFile>(exe, p.pasta.Caminho()),
                           "pidfile");
        ctx->servico->PodeControlar = [] { return true; };
    }
    bool Mostra(const char* texto) {
        return EsperaAte([&] {
            ctx->AtualizaEstadoServico();
            return main->LabelStatus->text() == texto;
        });
    }
    QAction* Item(const char* nome) { return main->findChild<QAction*>(nome); }
};

}  // namespace

TEST(ServicoConsole, ExibicaoEDireitos) {
    struct Caso {
        EstadoServico e;
        const char* texto;
        bool iniciar, parar;
    } casos[] = {{EstadoServico::Executando, "Em execução", false, true},
                 {EstadoServico::NaoInstalado, "Não instalado", false, false},
                 {EstadoServico::Parado, "Parado", true, false},
                 {EstadoServico::Iniciando, "Parado", true, false},
                 {EstadoServico::Parando, "Parado", true, false}};
    for (const Caso& c : casos) {
        const ExibicaoServico x = ExibeEstadoServico(c.e);
        EXPECT_EQ(x.texto, c.texto);
        EXPECT_EQ(x.iniciar, c.iniciar) << c.texto;
        EXPECT_EQ(x.parar, c.parar) << c.texto;
    }
    struct Direito {
        unsigned uid;
        std::vector<std::string> grupos;
        std::string grupo;
        bool pode;
    } direitos[] = {{0, {}, "", true},
                    {1000, {"users", "veruzadu"}, "veruzadu", true},
                    {1000, {"users"}, "veruzadu", false},
                    {1000, {"users", ""}, "", false}};
    for (const Direito& d : direitos)
        EXPECT_EQ(PodeControlarServico(d.uid, d.grupos, d.grupo), d.pode)
            << d.uid << " " << d.grupo;
    EXPECT_FALSE(GruposDoProcesso().empty());
}

TEST_F(BaseServico, SemExecutavelNaoInstalado) {
    Instala(p.pasta.Caminho() / "nao-existe");
    ASSERT_TRUE(Mostra("Não instalado"));
    EXPECT_FALSE(Item("IniciarServioGravaoNorvika1")->isEnabled());
    EXPECT_FALSE(Item("PararServioGravacoNorvika1")->isEnabled());
}

TEST_F(BaseServico, IniciaEParaOServicoReal) {
    Instala(PELMORAN_EXE);
    ASSERT_TRUE(Mostra("Parado"));
    EXPECT_TRUE(Item("IniciarServioGravaoNorvika1")->isEnabled());

    // Without the right: the request to run with rights, from both items, and the real state.
    ctx->servico->PodeControlar = [] { return false; };
    ctx->mensagens.ProximaResposta(RespostaMensagem::Ok);
    ctx->mensagens.ProximaResposta(RespostaMensagem::Ok);
    ctx->acoes["IniciarServioGravaoNorvika1"]();
    ctx->acoes["PararServioGravacoNorvika1"]();
    ASSERT_EQ(ctx->mensagens.Mostradas().size(), 2u);
    for (const auto& m : ctx->mensagens.Mostradas())
        EXPECT_EQ(m.texto, "Execute este programa como administrador para realizar esta operação.");
    ctx->servico->PodeControlar = [] { return true; };

    ctx->acoes["IniciarServioGravaoNorvika1"]();
    EXPECT_FALSE(Item("IniciarServioGravaoNorvika1")->isEnabled());  // off while it starts
    ASSERT_TRUE(Mostra("Em execução"));
    ASSERT_TRUE(EsperaAte([&] { return LinhasDoUsuario(p, 101, 7) == 1; }));
    EXPECT_TRUE(Item("PararServioGravacoNorvika1")->isEnabled());

    ctx->acoes["PararServioGravacoNorvika1"]();
    ASSERT_TRUE(Mostra("Parado"));
    ASSERT_TRUE(EsperaAte([&] { return LinhasDoUsuario(p, 102, 7) == 1; }));
    EXPECT_EQ(LinhasDoUsuario(p, 101, 7), 1);
    EXPECT_EQ(ctx->mensagens.Mostradas().size(), 2u);

    // Killed from outside: shown stopped at the next reading.
    ctx->acoes["IniciarServioGravaoNorvika1"]();
    ASSERT_TRUE(Mostra("Em execução"));
    const int pid = LeArquivoPid(p.pasta.Caminho());
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(Mostra("Parado"));
}

namespace {

// A start that takes as long as the test says (no real service can be made
// to end exactly while the console closes).
struct ServicoLento final : ServiceControl {
    std::shared_ptr<std::atomic<bool>> iniciando = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> libera = std::make_shared<std::atomic<bool>>(false);
    EstadoServico Consulta() override { return EstadoServico::Parado; }
    bool Inicia(std::string&) override {
        *iniciando = true;
        for (int i = 0; i < 1000 && !*libera; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    }
    bool Para(std::string& erro) override { return Inicia(erro); }
};

}  // namespace

// The console closes while a start runs: whichever side lets go last, the
// controller ends on the main thread, after its worker.
TEST(ServicoConsole, InicioQueTerminaNoEncerramento) {
    PastaTemporaria home;
    ::setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    {
        ContextoConsole ctx;
        auto backend = std::make_unique<ServicoLento>();
        auto iniciando = backend->iniciando;
        auto libera = backend->libera;
        InstalaServicoMain(ctx, std::move(backend), "teste");
        ctx.servico->PodeControlar = [] { return true; };
        ctx.RegistraHistorico = [](int, const std::string&) { return true; };
        // The start is offered once the first reading has told the state (on
        // a busy machine that reading may come after the first look).
        ASSERT_TRUE(
            EsperaAte([&] { return ctx.servico->controle->Estado() == EstadoServico::Parado; }));
        ctx.acoes["IniciarServioGravaoNorvika1"]();
        ASSERT_TRUE(EsperaAte([&] { return iniciando->load(); }));
        // The start ends a moment after the console let go of the control.
        std::thread solta([libera] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            *libera = true;
        });
        ctx.servico.reset();
        solta.join();
        // Time for a worker that would end the controller itself.
        EsperaAte([] { return false; }, 1000);
    }
    ::unsetenv("VERUZADU_HOME");
}
