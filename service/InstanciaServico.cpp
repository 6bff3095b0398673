#include "service/InstanciaServico.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/ServiceControl.h"

std::string TextoJaEmExecucao(int pid) {
    return "O serviço já está em execução (pid " + std::to_string(pid) + ")";
}

TravaInstancia::~TravaInstancia() {
    if (fd_ >= 0) close(fd_);
}

bool TravaInstancia::Adquire(const std::filesystem::path& pasta, std::string& erro) {
    const auto caminho = pasta / kArquivoTrava;
    const int fd = open(caminho.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        erro = "Não foi possível abrir " + caminho.string() + ": " + std::strerror(errno);
        return false;
    }
    // A record lock rather than flock: another process can ask who holds it
    // (F_GETLK) without taking it, so a query never makes a start fail.
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &l) != 0) {
        const int e = errno;
        close(fd);
        if (e == EACCES || e == EAGAIN) {
            const int dono = PidDonoTrava(pasta);
            erro = TextoJaEmExecucao(dono);
        } else {
            erro = "Não foi possível travar " + caminho.string() + ": " + std::strerror(e);
        }
        return false;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    return true;
}

bool GravaArquivoPid(const std::filesystem::path& pasta, std::string& erro) {
    const auto destino = pasta / kArquivoPid;
    const auto temp = destino.string() + ".tmp" + std::to_string(getpid());
    const auto falha = [&](int e) {
        erro = "Não foi possível gravar " + destino.string() + ": " + std::strerror(e);
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return false;
    };
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return falha(errno);
    const std::string texto = std::to_string(getpid()) + "\n";
    const bool escrito =
        write(fd, texto.data(), texto.size()) == static_cast<ssize_t>(texto.size());
    const int e = errno;
    if (close(fd) != 0 || !escrito) return falha(escrito ? errno : (e ? e : EIO));
    if (rename(temp.c_str(), destino.c_str()) != 0) return falha(errno);
    return true;
}

void RemoveArquivoPid(const std::filesystem::path& pasta) {
    if (LeArquivoPid(pasta) == getpid()) {
        std::error_code ec;
        std::filesystem::remove(pasta / kArquivoPid, ec);
    }
}
