#include "common/ArquivoSaida.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {
[[noreturn]] void Falha(const std::string& acao, const fs::path& arquivo, int erro) {
    throw std::runtime_error(acao + " " + arquivo.string() + ": " + std::strerror(erro));
}
}  // namespace

ArquivoSaida::ArquivoSaida(fs::path destino) : destino_(std::move(destino)) {
    const fs::path pasta = destino_.has_parent_path() ? destino_.parent_path() : fs::path(".");
    std::string modelo = (pasta / ("." + destino_.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkostemp(modelo.data(), O_CLOEXEC);
    if (fd_ < 0) Falha("Não foi possível criar", destino_, errno);
    temporario_ = modelo;
}

ArquivoSaida::~ArquivoSaida() {
    if (fd_ >= 0) ::close(fd_);
    if (!concluido_ && !temporario_.empty()) ::unlink(temporario_.c_str());
}

void ArquivoSaida::Escreve(const void* dados, std::size_t tamanho) {
    const auto* p = static_cast<const char*>(dados);
    while (tamanho > 0) {
        const ssize_t n = ::write(fd_, p, tamanho);
        if (n < 0) {
            if (errno == EINTR) continue;
            Falha("Erro ao gravar", destino_, errno);
        }
        p += n;
        tamanho -= static_cast<std::size_t>(n);
    }
}

void ArquivoSaida::Conclui() {
    // Files of the working folder are shared with the group like the others
    // the service writes there; mkostemp made it private.
    ::fchmod(fd_, 0644);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Falha("Erro ao gravar", destino_, errno);
    if (::rename(temporario_.c_str(), destino_.c_str()) != 0)
        Falha("Não foi possível renomear", destino_, errno);
    concluido_ = true;
}

ArquivoEntrada::ArquivoEntrada(const fs::path& caminho) : caminho_(caminho) {
    fd_ = ::open(caminho.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Falha("Não foi possível abrir", caminho, errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int e = errno;
        ::close(fd_);
        Falha("Não foi possível ler", caminho, e);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        Falha("Não foi possível ler", caminho, EISDIR);
    }
    tamanho_ = static_cast<std::uint64_t>(st.st_size);
}

ArquivoEntrada::~ArquivoEntrada() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t ArquivoEntrada::Le(void* destino, std::size_t capacidade) {
    for (;;) {
        const ssize_t n = ::read(fd_, destino, capacidade);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) Falha("Erro ao ler", caminho_, errno);
    }
}

void ArquivoEntrada::LeTudo(void* destino, std::size_t tamanho) {
    auto* p = static_cast<char*>(destino);
    while (tamanho > 0) {
        const std::size_t n = Le(p, tamanho);
        if (n == 0) Falha("Erro ao ler", caminho_, ENODATA);
        p += n;
        tamanho -= n;
    }
}
