#include "common/Processos.h"
#include "common/Texto.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

std::string NomeComputador() {
    char nome[256] = {};
    if (::gethostname(nome, sizeof nome - 1) != 0) return {};
    std::string s(nome);
    if (const auto ponto = s.find('.'); ponto != std::string::npos) s.resize(ponto);
    return Maiusculas(s);
}

std::vector<std::string> ListaIPs() {
    ifaddrs* lista = nullptr;
    if (::getifaddrs(&lista) != 0) return {};
    std::vector<std::string> externos, locais;
    for (const ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
        char texto[INET_ADDRSTRLEN] = {};
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (!::inet_ntop(AF_INET, &a->sin_addr, texto, sizeof texto)) continue;
        auto& destino = (i->ifa_flags & IFF_LOOPBACK) ? locais : externos;
        bool repetido = false;
        for (const auto& s : destino) repetido = repetido || s == texto;
        if (!repetido) destino.emplace_back(texto);
    }
    ::freeifaddrs(lista);
    externos.insert(externos.end(), locais.begin(), locais.end());
    return externos;
}

std::string IPLocal() {
    const auto ips = ListaIPs();
    return ips.empty() ? "127.0.0.1" : ips.front();
}

namespace {

class AcoesSpawn final {
  public:
    AcoesSpawn() { ok_ = ::posix_spawn_file_actions_init(&a_) == 0; }
    ~AcoesSpawn() {
        if (ok_) ::posix_spawn_file_actions_destroy(&a_);
    }
    AcoesSpawn(const AcoesSpawn&) = delete;
    AcoesSpawn& operator=(const AcoesSpawn&) = delete;
    bool ok_ = false;
    posix_spawn_file_actions_t a_;
};

class AtributosSpawn final {
  public:
    AtributosSpawn() { ok_ = ::posix_spawnattr_init(&a_) == 0; }
    ~AtributosSpawn() {
        if (ok_) ::posix_spawnattr_destroy(&a_);
    }
    AtributosSpawn(const AtributosSpawn&) = delete;
    AtributosSpawn& operator=(const AtributosSpawn&) = delete;
    bool ok_ = false;
    posix_spawnattr_t a_;
};

// The child's environment: ours with the given entries set or replaced.
std::vector<std::string> Ambiente(const std::vector<std::string>& extra) {
    std::vector<std::string> r;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view atual(*e);
        const auto nome = atual.substr(0, atual.find('='));
        bool substituido = false;
        for (const auto& x : extra)
            substituido = substituido || std::string_view(x).substr(0, x.find('=')) == nome;
        if (!substituido) r.emplace_back(atual);
    }
    r.insert(r.end(), extra.begin(), extra.end());
    return r;
}

// Fills the spawn actions and attributes; 0 or the errno of the failure.
int PreparaSpawn(posix_spawn_file_actions_t* a, posix_spawnattr_t* atributos,
                 const OpcoesProcesso& opcoes) {
    int erro = opcoes.entrada >= 0
                   ? ::posix_spawn_file_actions_adddup2(a, opcoes.entrada, 0)
                   : ::posix_spawn_file_actions_addopen(a, 0, "/dev/null", O_RDONLY, 0);
    if (erro == 0 && !opcoes.saida.empty()) {
        erro = ::posix_spawn_file_actions_addopen(a, 1, opcoes.saida.c_str(),
                                                  O_WRONLY | O_CREAT | O_TRUNC,
                                                  static_cast<mode_t>(opcoes.modoSaida));
        if (erro == 0) erro = ::posix_spawn_file_actions_adddup2(a, 1, 2);
    }
    if (erro == 0 && opcoes.saidaPadrao >= 0)
        erro = ::posix_spawn_file_actions_adddup2(a, opcoes.saidaPadrao, 1);
    // Sockets, database handles and lock files of ours stay ours.
    if (erro == 0) erro = ::posix_spawn_file_actions_addclosefrom_np(a, 3);
    if (erro == 0 && !opcoes.pasta.empty())
        erro = ::posix_spawn_file_actions_addchdir_np(a, opcoes.pasta.c_str());

    // Our programs block the stop signals in every thread and ignore SIGPIPE;
    // the child must inherit neither, or it could not be stopped.
    sigset_t vazio, padrao;
    sigemptyset(&vazio);
    sigemptyset(&padrao);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) sigaddset(&padrao, s);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // A session leader already leads its own group (and may not join another).
    if (opcoes.novaSessao)
        flags |= POSIX_SPAWN_SETSID;
    else if (opcoes.grupoProprio)
        flags |= POSIX_SPAWN_SETPGROUP;
    if (erro == 0) erro = ::posix_spawnattr_setsigmask(atributos, &vazio);
    if (erro == 0) erro = ::posix_spawnattr_setsigdefault(atributos, &padrao);
    if (erro == 0 && (flags & POSIX_SPAWN_SETPGROUP))
        erro = ::posix_spawnattr_setpgroup(atributos, 0);
    if (erro == 0) erro = ::posix_spawnattr_setflags(atributos, flags);
    return erro;
}

void Interpreta(int status, ResultadoProcesso& r) {
    if (status == ProcessoFilho::StatusPerdido) {
        r.codigoSaida = -1;
    } else if (WIFEXITED(status)) {
        r.codigoSaida = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.sinal = WTERMSIG(status);
        r.codigoSaida = -1;
    }
}

}  // namespace

ProcessoFilho::ProcessoFilho(const std::vector<std::string>& argumentos,
                             const OpcoesProcesso& opcoes) {
    if (argumentos.empty() || argumentos.front().empty()) {
        erro_ = ENOENT;
        return;
    }
    AcoesSpawn acoes;
    AtributosSpawn atributos;
    if (!acoes.ok_ || !atributos.ok_) {
        erro_ = ENOMEM;
        return;
    }
    erro_ = PreparaSpawn(&acoes.a_, &atributos.a_, opcoes);
    if (erro_ != 0) return;

    std::vector<char*> argv;
    argv.reserve(argumentos.size() + 1);
    for (const auto& s : argumentos) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    const auto ambiente = Ambiente(opcoes.ambiente);
    std::vector<char*> envp;
    envp.reserve(ambiente.size() + 1);
    for (const auto& s : ambiente) envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    const bool procuraPath = argumentos.front().find('/') == std::string::npos;
    erro_ = procuraPath
                ? ::posix_spawnp(&pid, argv[0], &acoes.a_, &atributos.a_, argv.data(), envp.data())
                : ::posix_spawn(&pid, argv[0], &acoes.a_, &atributos.a_, argv.data(), envp.data());
    if (erro_ != 0) return;
    pid_ = pid;
    iniciado_ = true;
    grupo_ = opcoes.novaSessao || opcoes.grupoProprio;
}

ProcessoFilho::~ProcessoFilho() { Descarta(); }

ProcessoFilho::ProcessoFilho(ProcessoFilho&& outro) noexcept
    : pid_(std::exchange(outro.pid_, -1)), pidfd_(std::exchange(outro.pidfd_, -1)),
      status_(outro.status_), erro_(outro.erro_), iniciado_(outro.iniciado_), grupo_(outro.grupo_) {
}

ProcessoFilho& ProcessoFilho::operator=(ProcessoFilho&& outro) noexcept {
    if (this != &outro) {
        Descarta();
        pid_ = std::exchange(outro.pid_, -1);
        pidfd_ = std::exchange(outro.pidfd_, -1);
        status_ = outro.status_;
        erro_ = outro.erro_;
        iniciado_ = outro.iniciado_;
        grupo_ = outro.grupo_;
    }
    return *this;
}

void ProcessoFilho::Descarta() {
    if (pid_ > 0 && !Colhe(false)) Termina();
    if (pidfd_ >= 0) ::close(pidfd_);
    pidfd_ = -1;
}

bool ProcessoFilho::Colhe(bool bloqueia) {
    if (pid_ <= 0) return true;
    for (;;) {
        int status = 0;
        const pid_t p = ::waitpid(pid_, &status, bloqueia ? 0 : WNOHANG);
        if (p == 0) return false;
        if (p != pid_) {
            if (errno == EINTR) continue;
            // Not our child any more (reaped elsewhere): nothing left to wait for.
            status = StatusPerdido;
        }
        status_ = status;
        pid_ = -1;
        if (pidfd_ >= 0) ::close(pidfd_);
        pidfd_ = -1;
        return true;
    }
}

bool ProcessoFilho::Terminou(int& status) {
    if (!Colhe(false)) return false;
    status = status_;
    return true;
}

bool ProcessoFilho::Aguarda(int& status) {
    Colhe(true);
    status = status_;
    return true;
}

bool ProcessoFilho::Aguarda(std::chrono::milliseconds limite, int& status) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    // A pidfd turns the wait into a poll with a deadline, ending as soon as
    // the child does.
    if (pid_ > 0 && pidfd_ < 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    for (;;) {
        if (Terminou(status)) return true;
        const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
            fim - std::chrono::steady_clock::now());
        if (resta.count() <= 0) return false;
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<long long>(resta.count(), 1000)));
        } else {
            std::this_thread::sleep_for(std::min(resta, std::chrono::milliseconds(20)));
        }
    }
}

bool ProcessoFilho::Sinaliza(int sinal) {
    if (pid_ <= 0) return false;
    return ::kill(grupo_ ? -pid_ : pid_, sinal) == 0;
}

void ProcessoFilho::Termina() {
    if (pid_ <= 0) return;
    // A child that left its group is still ours to end.
    if (!Sinaliza(SIGKILL)) ::kill(pid_, SIGKILL);
    Colhe(true);
}

void ProcessoFilho::Solta() {
    if (pid_ <= 0 || Colhe(false)) return;
    if (pidfd_ >= 0) ::close(pidfd_);
    pidfd_ = -1;
    std::thread([pid = std::exchange(pid_, -1)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

ResultadoProcesso ExecutaProcesso(const std::vector<std::string>& argumentos,
                                  const OpcoesProcesso& opcoes) {
    ResultadoProcesso r;
    ProcessoFilho filho(argumentos, opcoes);
    if (!filho.Iniciado()) return r;
    r.iniciado = true;

    int status = 0;
    if (opcoes.limite.count() <= 0) {
        filho.Aguarda(status);
    } else if (!filho.Aguarda(opcoes.limite, status)) {
        r.tempoEsgotado = true;
        filho.Sinaliza(SIGTERM);
        if (!filho.Aguarda(std::chrono::seconds(2), status)) {
            filho.Termina();
            filho.Terminou(status);
        }
    }
    Interpreta(status, r);
    return r;
}

int ExecutaEAguarda(const std::vector<std::string>& argumentos) {
    const auto r = ExecutaProcesso(argumentos);
    if (!r.iniciado) return -1;
    if (r.sinal != 0) return 128 + r.sinal;
    return r.codigoSaida;
}
