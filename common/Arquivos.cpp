#include "common/Arquivos.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Texto.h"

namespace fs = std::filesystem;

TravaArquivo::TravaArquivo(const fs::path& arquivo, mode_t modo) {
    fd_ = ::open(arquivo.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, modo);
    if (fd_ < 0) {
        erro_ = errno;
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            erro_ = errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

TravaArquivo::~TravaArquivo() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

bool EscreveTudo(int fd, std::string_view s) {
    while (!s.empty()) {
        const auto n = ::write(fd, s.data(), s.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        s.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool SubstituiArquivo(const fs::path& destino, std::string_view bytes, OpcoesSubstituicao opcoes) {
    const auto pasta = destino.has_parent_path() ? destino.parent_path() : fs::path(".");
    std::string modelo = (pasta / ("." + destino.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(modelo.data(), O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool existia = ::stat(destino.c_str(), &st) == 0;
    mode_t modo = opcoes.modoNovo;
    if (existia) {
        modo = st.st_mode & 07777;
        // Only root can give the file back to its owner; others keep theirs.
        if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not fatal: the content is right, only the owner differs.
        }
    }
    bool ok = ::fchmod(fd, modo) == 0 && EscreveTudo(fd, bytes);
    if (ok && existia && opcoes.avancaHora) {
        struct timespec tempos[2];
        tempos[0].tv_sec = 0;
        tempos[0].tv_nsec = UTIME_OMIT;
        tempos[1].tv_sec = std::max<time_t>(::time(nullptr), st.st_mtim.tv_sec + 1);
        tempos[1].tv_nsec = 0;
        ok = ::futimens(fd, tempos) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    int erro = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        erro = errno;
    }
    if (ok && ::rename(modelo.c_str(), destino.c_str()) != 0) {
        ok = false;
        erro = errno;
    }
    if (!ok) {
        ::unlink(modelo.c_str());
        errno = erro;
        return false;
    }
    const int dfd = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

namespace {

DataHora DeTimespec(std::int64_t segundos, std::int64_t nanos) {
    return DataHoraDeSegundos(segundos, static_cast<int>(nanos / 1000000));
}

}  // namespace

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
