#include "common/gbak/vekExecApp.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

int CodigoShow(TShow modo) {
    switch (modo) {
    case TShow::SHOW: return 5;
    case TShow::HIDE: return 0;
    case TShow::MAXIMIZE: return 3;
    case TShow::MINIMIZE: return 6;
    case TShow::RESTORE: return 9;
    case TShow::SHOWDEFAULT: return 10;
    case TShow::SHOWMAXIMIZED: return 3;
    case TShow::SHOWMINIMIZED: return 2;
    case TShow::SHOWMINNOACTIVE: return 7;
    case TShow::SHOWNA: return 8;
    case TShow::SHOWNOACTIVATE: return 4;
    case TShow::SHOWNORMAL: return 1;
    }
    return 5;
}

namespace {

struct AcoesSpawn {
    posix_spawn_file_actions_t a;
    bool ok;
    AcoesSpawn() : ok(::posix_spawn_file_actions_init(&a) == 0) {}
    ~AcoesSpawn() {
        if (ok) ::posix_spawn_file_actions_destroy(&a);
    }
    AcoesSpawn(const AcoesSpawn&) = delete;
    AcoesSpawn& operator=(const AcoesSpawn&) = delete;
};

struct AtributosSpawn {
    posix_spawnattr_t a;
    bool ok;
    AtributosSpawn() : ok(::posix_spawnattr_init(&a) == 0) {}
    ~AtributosSpawn() {
        if (ok) ::posix_spawnattr_destroy(&a);
    }
    AtributosSpawn(const AtributosSpawn&) = delete;
    AtributosSpawn& operator=(const AtributosSpawn&) = delete;
};

int CodigoDeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 128;
}

}  // namespace

TVekExecApp::TVekExecApp() = default;

TVekExecApp::~TVekExecApp() {
    if (pid_ <= 0 || Colhe(false)) return;
    if (Wait) {
        Terminate();
        return;
    }
    // Left running on purpose; someone still has to collect its exit status,
    // or it would stay behind as a zombie for the life of our process.
    std::thread([pid = pid_] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

void TVekExecApp::SetShowWindow(TShow modo) { show_ = modo; }

bool TVekExecApp::Colhe(bool bloqueia) {
    if (pid_ <= 0) return true;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, bloqueia ? 0 : WNOHANG);
        if (r == pid_) {
            exitCode_ = CodigoDeStatus(status);
            pid_ = -1;
            return true;
        }
        if (r == 0) return false;
        if (errno == EINTR) continue;
        // Not our child any more (reaped elsewhere): nothing left to wait for.
        pid_ = -1;
        return true;
    }
}

bool TVekExecApp::EmExecucao() { return pid_ > 0 && !Colhe(false); }

bool TVekExecApp::Execute() {
    exitCode_ = SemCodigo;
    if (EmExecucao()) return false;
    erroSistema_ = 0;
    if (ApplicationName.empty()) {
        error_ = ErroSemPrograma;
        return false;
    }
    error_ = ErroInicio;

    AcoesSpawn acoes;
    AtributosSpawn atributos;
    if (!acoes.ok || !atributos.ok) {
        erroSistema_ = ENOMEM;
        return false;
    }
    int erro = ::posix_spawn_file_actions_addopen(&acoes.a, 0, "/dev/null", O_RDONLY, 0);
    if (erro == 0 && !ArquivoSaida.empty()) {
        erro = ::posix_spawn_file_actions_addopen(&acoes.a, 1, ArquivoSaida.c_str(),
                                                  O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (erro == 0) erro = ::posix_spawn_file_actions_adddup2(&acoes.a, 1, 2);
    }
    // Sockets, database attachments and lock files of ours stay ours.
    if (erro == 0) erro = ::posix_spawn_file_actions_addclosefrom_np(&acoes.a, 3);

    // Our programs block the stop signals in every thread and ignore SIGPIPE;
    // the child must not inherit either, or it could not be stopped.
    sigset_t vazio, padrao;
    sigemptyset(&vazio);
    sigemptyset(&padrao);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&padrao, s);
    if (erro == 0) erro = ::posix_spawnattr_setsigmask(&atributos.a, &vazio);
    if (erro == 0) erro = ::posix_spawnattr_setsigdefault(&atributos.a, &padrao);
    if (erro == 0)
        erro = ::posix_spawnattr_setflags(&atributos.a, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (erro != 0) {
        erroSistema_ = erro;
        return false;
    }

    std::vector<char*> argv;
    argv.reserve(Param.size() + 2);
    argv.push_back(ApplicationName.data());
    for (auto& p : Param) argv.push_back(p.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const bool procuraPath = ApplicationName.find('/') == std::string::npos;
    erro = procuraPath
               ? ::posix_spawnp(&pid, argv[0], &acoes.a, &atributos.a, argv.data(), environ)
               : ::posix_spawn(&pid, argv[0], &acoes.a, &atributos.a, argv.data(), environ);
    if (erro != 0) {
        erroSistema_ = erro;
        return false;
    }
    pid_ = pid;
    error_ = ErroNenhum;
    if (Wait) WaitForExit();
    return true;
}

void TVekExecApp::WaitForExit() {
    if (pid_ <= 0) return;
    if (!ProcessaMensagens) {
        Colhe(true);
        return;
    }
    // A pidfd lets each 100 ms slice end as soon as the program exits.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    while (!Colhe(false)) {
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, 100);
        } else {
            ::usleep(100'000);
        }
        if (pid_ > 0) ProcessaMensagens();
    }
    if (pidfd >= 0) ::close(pidfd);
}

void TVekExecApp::Terminate() {
    if (pid_ <= 0) return;
    const int codigo = exitCode_;
    ::kill(pid_, SIGKILL);
    Colhe(true);
    exitCode_ = codigo;
}
