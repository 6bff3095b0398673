#include "common/Sistema.h"
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

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "common/Configuracao.h"
#include "common/IniFile.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

DataHora DeTimespec(std::int64_t segundos, std::int64_t nanos) {
    return DataHoraDeSegundos(segundos, static_cast<int>(nanos / 1000000));
}

}  // namespace

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

std::string RemoveBarrasIniciais(std::string_view texto) {
    for (int i = 0; i < 2 && !texto.empty() && texto.front() == '\\'; ++i) texto.remove_prefix(1);
    return std::string(texto);
}

bool ApagaPasta(const fs::path& pasta) {
    std::error_code ec;
    const auto st = fs::symlink_status(pasta, ec);
    if (st.type() == fs::file_type::not_found) return true;
    return ApagaPastaShell(pasta);
}

bool ApagaPastaShell(const fs::path& pasta) {
    std::error_code ec;
    const auto st = fs::symlink_status(pasta, ec);
    if (ec || !fs::exists(st)) return false;
    // A link to a folder is removed itself; what it points at is not ours.
    fs::remove_all(pasta, ec);
    return !ec;
}

namespace {

// A free name beside `destino`: "name (2).ext", "name (3).ext", ...
fs::path NomeLivre(const fs::path& destino, int n) {
    return destino.parent_path() / (destino.stem().string() + " (" + std::to_string(n) + ")" +
                                    destino.extension().string());
}

// Moves `temp` to `destino` only when no file has that name; the rename that
// refuses to replace is atomic, so a file that appears meanwhile is kept.
bool RenomeiaSemSubstituir(const fs::path& temp, const fs::path& destino) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, destino.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) return false;
    // File systems without that rename (some network shares): a hard link
    // also refuses an existing name; failing that, test then rename.
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        if (::link(temp.c_str(), destino.c_str()) == 0) {
            ::unlink(temp.c_str());
            return true;
        }
        if (errno == EEXIST) return false;
        std::error_code ec;
        if (fs::exists(destino, ec)) {
            errno = EEXIST;
            return false;
        }
        return ::rename(temp.c_str(), destino.c_str()) == 0;
    }
    return false;
}

}  // namespace

bool CopiaArquivo(const fs::path& origem, const fs::path& destinoPedido, bool sobrescreve) {
    std::error_code ec;
    if (!fs::is_regular_file(origem, ec)) return false;
    fs::path destino = destinoPedido;
    if (fs::is_directory(destino, ec)) destino /= origem.filename();
    const auto pasta = destino.has_parent_path() ? destino.parent_path() : fs::path(".");
    std::string modelo = (pasta / ("." + destino.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(modelo.data(), O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    const fs::path temp(modelo);
    bool ok = fs::copy_file(origem, temp, fs::copy_options::overwrite_existing, ec) && !ec;
    if (ok) {
        // Keep the source's permissions and last write time, as a copy does.
        fs::permissions(temp, fs::status(origem, ec).permissions(), ec);
        fs::last_write_time(temp, fs::last_write_time(origem, ec), ec);
        if (sobrescreve) {
            ok = ::rename(temp.c_str(), destino.c_str()) == 0;
        } else {
            ok = false;
            for (int n = 1; n < 10000 && !ok; ++n) {
                ok = RenomeiaSemSubstituir(temp, n == 1 ? destino : NomeLivre(destino, n));
                if (!ok && errno != EEXIST) break;  // a real failure, not a taken name
            }
        }
    }
    if (!ok) fs::remove(temp, ec);
    return ok;
}

bool FileTimeParaData(fs::file_time_type tempo, DataHora& data) {
    try {
        const auto sys = std::chrono::file_clock::to_sys(tempo);
        const auto ms =
            std::chrono::floor<std::chrono::milliseconds>(sys).time_since_epoch().count();
        long long s = ms / 1000, resto = ms % 1000;
        if (resto < 0) {
            resto += 1000;
            --s;
        }
        data = DataHoraDeSegundos(s, static_cast<int>(resto));
        return true;
    } catch (...) {
        return false;
    }
}

bool DatasArquivo(const fs::path& arquivo, DataHora& criacao, DataHora& acesso, DataHora& escrita) {
    struct statx st {};
    if (::statx(AT_FDCWD, arquivo.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return false;
    if (!S_ISREG(st.stx_mode) && !S_ISDIR(st.stx_mode)) return false;
    const auto& nasc = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    criacao = DeTimespec(nasc.tv_sec, nasc.tv_nsec);
    acesso = DeTimespec(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    escrita = DeTimespec(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    return true;
}

bool AjustaDataArquivo(const fs::path& arquivo, const DataHora& data) {
    if (!DataValida(data)) return false;
    const std::time_t instante = InstanteLocal(data);
    if (instante == static_cast<std::time_t>(-1)) return false;
    timespec tempos[2];
    tempos[0].tv_sec = 0;
    tempos[0].tv_nsec = UTIME_OMIT;
    tempos[1].tv_sec = instante;
    tempos[1].tv_nsec = static_cast<long>(data.milissegundo) * 1000000L;
    return ::utimensat(AT_FDCWD, arquivo.c_str(), tempos, 0) == 0;
}

namespace {

// Mount tables escape blanks and a few other bytes as \ooo.
std::string DesfazOctal(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            r += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            r += s[i];
        }
    }
    return r;
}

std::string Normaliza(const std::string& caminho) {
    return SemBarraFinal(fs::path(caminho).lexically_normal().string());
}

// Mount points listed in fstab (second field) or mountinfo (fifth field).
bool Lista(const fs::path& tabela, size_t campo, const std::string& alvo) {
    std::ifstream f(tabela);
    std::string linha;
    while (std::getline(f, linha)) {
        if (linha.empty() || linha.front() == '#') continue;
        std::istringstream ss(linha);
        std::string c;
        for (size_t i = 0; i < campo && ss >> c; ++i) {
        }
        if (ss && Normaliza(DesfazOctal(c)) == alvo) return true;
    }
    return false;
}

}  // namespace

bool DiscoPronto(const std::string& unidade, const fs::path& fstab, const fs::path& mountinfo) {
    if (unidade.empty()) return false;
    std::error_code ec;
    const std::string alvo = Normaliza(fs::absolute(unidade, ec).string());
    if (ec || !fs::is_directory(alvo, ec)) return false;
    if (Lista(fstab, 2, alvo) && !Lista(mountinfo, 5, alvo)) return false;
    // Reading its entries is what the copy will do; a dead medium fails here.
    fs::directory_iterator it(alvo, ec);
    return !ec;
}

bool DiscoPronto(const std::string& unidade) {
    return DiscoPronto(unidade, "/etc/fstab", "/proc/self/mountinfo");
}

std::string PastaEspecial(int numero) {
    const char* home = std::getenv("HOME");
    const std::string casa = ComBarra(home && *home ? home : "/root");
    const auto xdg = [&](const char* var, const char* padrao) {
        const char* v = std::getenv(var);
        return ComBarra(v && *v == '/' ? std::string(v) : casa + padrao);
    };
    const char* tmp = std::getenv("TMPDIR");
    switch (numero) {
        case 0: return casa + "Desktop/";
        case 1:
        case 2: return xdg("XDG_DATA_HOME", ".local/share") + "applications/";
        case 3: return xdg("XDG_CONFIG_HOME", ".config") + "autostart/";
        case 4: return casa;
        case 5: return xdg("XDG_CONFIG_HOME", ".config");
        case 6: return xdg("XDG_DATA_HOME", ".local/share") + "fonts/";
        case 10: return xdg("XDG_CACHE_HOME", ".cache");
        case 15: return casa + "Templates/";
        case 16: return xdg("XDG_DATA_HOME", ".local/share");
        case 17:
        case 20: return "/";
        case 18: return "/usr/lib/";
        case 19: return ComBarra(tmp && *tmp == '/' ? tmp : "/tmp");
        case 21: return "/opt/";
        case 22: return "/usr/share/";
        case 23: return "/etc/";
        default: return {};
    }
}

std::string PastaBinFirebird(const IniFile& ini) {
    const std::string pasta = ini.ReadString("Firebird", "Bin", "");
    return pasta.empty() ? std::string("/usr/bin/") : ComBarra(pasta);
}

std::string PastaBinFirebird() { return PastaBinFirebird(IniFile(ArquivoVeruzaduIni())); }

DataHora UnixParaData(std::int32_t segundos) { return DataHoraDeSegundos(segundos); }

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

bool PastaVazia(const fs::path& pasta) {
    std::error_code ec;
    fs::directory_iterator it(pasta, ec);
    return !ec && it == fs::directory_iterator();
}

void ListaPastasVazias(std::vector<std::string>& lista, const fs::path& pasta, bool recursivo) {
    if (PastaVazia(pasta)) lista.push_back(ComBarra(pasta.string()));
    if (!recursivo) return;
    std::error_code ec;
    std::vector<fs::path> filhas;
    for (fs::directory_iterator it(pasta, ec), fim; !ec && it != fim; it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) filhas.push_back(it->path());
    std::sort(filhas.begin(), filhas.end());
    for (const auto& f : filhas) ListaPastasVazias(lista, f, true);
}

void ApagaPastasVazias(const fs::path& pasta) {
    std::error_code ec;
    if (fs::is_symlink(pasta, ec) || !fs::is_directory(pasta, ec)) return;
    std::vector<fs::path> filhas;
    for (fs::directory_iterator it(pasta, ec), fim; !ec && it != fim; it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) filhas.push_back(it->path());
    for (const auto& f : filhas) ApagaPastasVazias(f);
    if (PastaVazia(pasta)) fs::remove(pasta, ec);
}
