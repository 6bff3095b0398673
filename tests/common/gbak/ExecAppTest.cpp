// The process runner with real programs from the base system.

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/gbak/vekExecApp.h"

namespace {

bool Vivo(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

TEST(ExecApp, CodigoDeSaidaEErrosDeInicio) {
    TVekExecApp app;
    EXPECT_FALSE(app.Execute());
    EXPECT_EQ(app.Error(), TVekExecApp::ErroSemPrograma);
    EXPECT_EQ(app.ExitCode(), TVekExecApp::SemCodigo);

    app.ApplicationName = "/nao/existe/programa";
    EXPECT_FALSE(app.Execute());
    EXPECT_EQ(app.Error(), TVekExecApp::ErroInicio);
    EXPECT_EQ(app.ErroSistema(), ENOENT);

    app.ApplicationName = "sh";  // bare name: looked up in PATH
    app.Param = {"-c", "exit 3"};
    app.Wait = true;
    EXPECT_TRUE(app.Execute());
    EXPECT_EQ(app.Error(), TVekExecApp::ErroNenhum);
    EXPECT_EQ(app.ExitCode(), 3);
}

TEST(ExecApp, ArgumentosChegamIntactosESaidaVaiParaOArquivo) {
    const auto saida =
        std::filesystem::temp_directory_path() / ("execapp-" + std::to_string(::getpid()) + ".txt");
    TVekExecApp app;
    app.ApplicationName = "/bin/sh";
    // Quotes, blanks and a dollar sign would all be mangled by a shell line.
    app.Param = {"-c",    R"(printf '%s|' "$@"; echo erro >&2; read x || echo sem-entrada)",
                 "sh",    "a b",
                 "\"c\"", "$HOME"};
    app.Wait = true;
    app.ArquivoSaida = saida;
    ASSERT_TRUE(app.Execute());
    EXPECT_EQ(app.ExitCode(), 0);
    std::ifstream in(saida);
    std::string texto((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(texto, "a b|\"c\"|$HOME|erro\nsem-entrada\n");
    EXPECT_EQ(std::filesystem::status(saida).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(saida);
}

TEST(ExecApp, SemEsperaTerminateEDestrutor) {
    TVekExecApp app;
    app.ApplicationName = "/bin/sleep";
    app.Param = {"30"};
    ASSERT_TRUE(app.Execute());
    const pid_t pid = app.ProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(app.EmExecucao());
    EXPECT_FALSE(app.Execute());  // the first one still runs
    app.Terminate();
    EXPECT_FALSE(app.EmExecucao());
    EXPECT_FALSE(Vivo(pid));
    EXPECT_EQ(app.ExitCode(), TVekExecApp::SemCodigo);

    pid_t outro = -1;
    {
        TVekExecApp comEspera;
        comEspera.ApplicationName = "/bin/sleep";
        comEspera.Param = {"30"};
        ASSERT_TRUE(comEspera.Execute());
        outro = comEspera.ProcessId();
        comEspera.Wait = true;  // a waiting runner ends what it started
    }
    EXPECT_FALSE(Vivo(outro));
}

// Our programs block the stop signals; the child must still obey them.
TEST(ExecApp, FilhoNaoHerdaSinaisBloqueados) {
    sigset_t bloqueio, antes;
    sigemptyset(&bloqueio);
    sigaddset(&bloqueio, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &bloqueio, &antes), 0);
    TVekExecApp app;
    app.ApplicationName = "/bin/sleep";
    app.Param = {"30"};
    ASSERT_TRUE(app.Execute());
    ::kill(app.ProcessId(), SIGTERM);
    app.WaitForExit();
    EXPECT_EQ(app.ExitCode(), 128 + SIGTERM);
    ::pthread_sigmask(SIG_SETMASK, &antes, nullptr);
}

TEST(ExecApp, EsperaChamaProcessaMensagens) {
    TVekExecApp app;
    app.ApplicationName = "/bin/sleep";
    app.Param = {"0.35"};
    app.Wait = true;
    int chamadas = 0;
    app.ProcessaMensagens = [&] { ++chamadas; };
    ASSERT_TRUE(app.Execute());
    EXPECT_EQ(app.ExitCode(), 0);
    EXPECT_GE(chamadas, 2);
    EXPECT_LE(chamadas, 5);
}

TEST(ExecApp, CodigosShow) {
    const std::pair<TShow, int> tabela[] = {
        {TShow::SHOW, 5},          {TShow::HIDE, 0},           {TShow::MAXIMIZE, 3},
        {TShow::MINIMIZE, 6},      {TShow::RESTORE, 9},        {TShow::SHOWDEFAULT, 10},
        {TShow::SHOWMAXIMIZED, 3}, {TShow::SHOWMINIMIZED, 2},  {TShow::SHOWMINNOACTIVE, 7},
        {TShow::SHOWNA, 8},        {TShow::SHOWNOACTIVATE, 4}, {TShow::SHOWNORMAL, 1},
    };
    for (auto [modo, codigo] : tabela) EXPECT_EQ(CodigoShow(modo), codigo);
}

}  // namespace
