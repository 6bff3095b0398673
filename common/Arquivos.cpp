#include "common/Arquivos.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>

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
