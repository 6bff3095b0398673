#include "common/Processos.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "common/IniFile.h"
#include "tests/support/PastaTemporaria.h"

namespace fs = std::filesystem;

namespace {

TEST(ExecutaEAguarda, ArgumentsArriveByteForByte) {
    PastaTemporaria pasta;
    const std::string argumentos[] = {
        "dois  brancos e 'aspas' \"duplas\"",
        "$HOME `id` $(id) ; | & > < * ?",
        "\\barra \t tab",
        "",
    };
    for (const auto& arg : argumentos) {
        SCOPED_TRACE(arg);
        OpcoesProcesso op;
        op.saida = pasta / "saida.txt";
        const auto r = ExecutaProcesso({"printf", "[%s]", arg}, op);
        EXPECT_TRUE(r.Sucesso());
        EXPECT_EQ(LeTudo(op.saida), "[" + arg + "]");
    }
}

TEST(ExecutaEAguarda, ExitCodesAndFailures) {
    struct {
        std::vector<std::string> argumentos;
        int esperado;
    } casos[] = {
        {{"true"}, 0},
        {{"/bin/sh", "-c", "exit 7"}, 7},
        {{"sh", "-c", "exit 255"}, 255},
        {{"/nao/existe/programa"}, -1},
        {{"programa-que-nao-existe-em-path"}, -1},
        {{"/etc/hostname"}, -1},  // not executable
        {{}, -1},
        {{"sh", "-c", "kill -KILL $$"}, 128 + SIGKILL},  // killed: never 0
        {{"sh", "-c", "kill -TERM $$"}, 128 + SIGTERM},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.argumentos.empty() ? "(none)" : c.argumentos.back());
        EXPECT_EQ(ExecutaEAguarda(c.argumentos), c.esperado);
    }
}

TEST(ExecutaEAguarda, AChildReapedElsewhereIsNoSuccess) {
    // With SIGCHLD ignored the kernel reaps children itself: the outcome is unknown.
    struct sigaction ignora {
    }, antes{};
    ignora.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignora, &antes), 0);
    const int codigo = ExecutaEAguarda({"true"});
    ::sigaction(SIGCHLD, &antes, nullptr);
    EXPECT_EQ(codigo, -1);
}

TEST(ExecutaEAguarda, ChildGetsFolderEnvironmentAndNoneOfOurDescriptors) {
    PastaTemporaria pasta;
    OpcoesProcesso op;
    op.pasta = pasta.Caminho();
    op.ambiente = {"VERUZADU_X=a b $c", "HOME=/outra"};
    op.saida = pasta / "saida.txt";
    ASSERT_TRUE(
        ExecutaProcesso({"sh", "-c", "printf '%s|%s|%s' \"$VERUZADU_X\" \"$HOME\" \"$PWD\""}, op)
            .Sucesso());
    EXPECT_EQ(LeTudo(op.saida), "a b $c|/outra|" + pasta.Caminho().string());

    // A descriptor opened without close-on-exec still stays ours.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 3);
    const auto teste = "test -e /proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(ExecutaEAguarda({"sh", "-c", teste}), 1);
    ::close(fd);
}

TEST(ExecutaEAguarda, TimeLimitEndsChildEvenWhenWeBlockStopSignals) {
    // Our programs block SIGTERM in every thread; the child must not inherit it.
    sigset_t termo, antes;
    sigemptyset(&termo);
    sigaddset(&termo, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &termo, &antes), 0);
    OpcoesProcesso op;
    op.limite = std::chrono::milliseconds(200);
    const auto inicio = std::chrono::steady_clock::now();
    const auto r = ExecutaProcesso({"sleep", "30"}, op);
    const auto duracao = std::chrono::steady_clock::now() - inicio;
    pthread_sigmask(SIG_SETMASK, &antes, nullptr);

    EXPECT_TRUE(r.iniciado);
    EXPECT_TRUE(r.tempoEsgotado);
    EXPECT_EQ(r.sinal, SIGTERM);  // ended by the polite signal, not SIGKILL 2 s later
    EXPECT_FALSE(r.Sucesso());
    EXPECT_LT(duracao, std::chrono::seconds(10));
}

// Gone for good: not running and not left behind as a zombie.
bool Colhido(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

TEST(ProcessoFilho, WaitsEndsAndNeverLeavesAZombie) {
    ProcessoFilho falha({"/nao/existe/programa"});
    EXPECT_FALSE(falha.Iniciado());
    EXPECT_EQ(falha.Erro(), ENOENT);

    int status = 0;
    ProcessoFilho saida({"sh", "-c", "exit 4"});
    ASSERT_TRUE(saida.Iniciado());
    EXPECT_EQ(::getpgid(saida.Pid()), saida.Pid());  // a group of its own by default
    ASSERT_TRUE(saida.Aguarda(status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_EQ(saida.Pid(), -1);

    OpcoesProcesso op;
    op.grupoProprio = false;
    ProcessoFilho longo({"sleep", "30"}, op);
    ASSERT_TRUE(longo.Iniciado());
    const int pid = longo.Pid();
    EXPECT_EQ(::getpgid(pid), ::getpgrp());
    EXPECT_FALSE(longo.Terminou(status));
    EXPECT_FALSE(longo.Aguarda(std::chrono::milliseconds(100), status));
    longo.Termina();
    ASSERT_TRUE(longo.Terminou(status));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_TRUE(Colhido(pid));

    int esquecido = -1;
    {
        ProcessoFilho destruido({"sleep", "30"});
        esquecido = destruido.Pid();
        ASSERT_GT(esquecido, 0);
    }
    EXPECT_TRUE(Colhido(esquecido));
}

TEST(ProcessoFilho, ADetachedChildKeepsRunningAndIsStillCollected) {
    OpcoesProcesso op;
    op.novaSessao = true;
    int pid = -1;
    {
        ProcessoFilho filho({"sleep", "30"}, op);
        ASSERT_TRUE(filho.Iniciado());
        pid = filho.Pid();
        EXPECT_EQ(::getsid(pid), pid);
        filho.Solta();
        EXPECT_EQ(filho.Pid(), -1);
    }
    EXPECT_FALSE(Colhido(pid));  // still running after the object is gone
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    for (int i = 0; i < 500 && !Colhido(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Colhido(pid));
}

TEST(Processos, ComputerNameAndAddresses) {
    const auto nome = NomeComputador();
    EXPECT_FALSE(nome.empty());
    EXPECT_EQ(nome.find('.'), std::string::npos);
    EXPECT_TRUE(
        std::none_of(nome.begin(), nome.end(), [](char c) { return c >= 'a' && c <= 'z'; }));

    const auto ips = ListaIPs();
    ASSERT_FALSE(ips.empty());
    EXPECT_EQ(ips.back(), "127.0.0.1");  // loopback only after every real address
    for (size_t i = 0; i + 1 < ips.size(); ++i)
        if (ips[i].rfind("127.", 0) == 0) {
            EXPECT_EQ(ips[i + 1].rfind("127.", 0), 0u);
        }
    EXPECT_EQ(IPLocal(), ips.front());
}

}  // namespace
