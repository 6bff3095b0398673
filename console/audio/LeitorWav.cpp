#include "console/audio/LeitorWav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::uint32_t U32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

[[noreturn]] void Invalido(const std::string& detalhe) {
    throw ErroAudio("Arquivo WAV inválido: " + detalhe);
}

// The PCM sub-format GUID of the extensible header, after its first two bytes.
constexpr unsigned char SubformatoPCM[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

LeitorWav::LeitorWav(const std::filesystem::path& arquivo) {
    fd_ = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw ErroAudio("Não foi possível abrir o arquivo de áudio: " +
                        std::string(std::strerror(errno)));
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw ErroAudio(std::strerror(errno));
        const std::uint64_t tamanho = static_cast<std::uint64_t>(st.st_size);

        unsigned char riff[12];
        if (!LeEm(0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
            std::memcmp(riff + 8, "WAVE", 4) != 0)
            Invalido("sem cabeçalho RIFF/WAVE");

        bool temFormato = false;
        std::uint64_t pos = 12;
        for (;;) {
            unsigned char cab[8];
            if (!LeEm(pos, cab, sizeof cab)) Invalido("sem bloco de dados");
            const std::uint32_t tam = U32(cab + 4);
            const std::uint64_t corpo = pos + 8;
            if (std::memcmp(cab, "fmt ", 4) == 0) {
                unsigned char f[40] = {};
                if (tam < 16 || !LeEm(corpo, f, std::min<std::size_t>(tam, sizeof f)))
                    Invalido("bloco de formato curto");
                std::uint16_t tag = U16(f);
                if (tag == 0xFFFE) {
                    if (tam < 40 || std::memcmp(f + 26, SubformatoPCM, sizeof SubformatoPCM) != 0)
                        Invalido("formato extensível sem PCM");
                    tag = U16(f + 24);
                }
                formato_.canais = U16(f + 2);
                formato_.taxa = static_cast<int>(U32(f + 4));
                formato_.bits = U16(f + 14);
                if (tag != 1)
                    throw ErroAudio("Formato de áudio não suportado (WAV " + std::to_string(tag) +
                                    ")");
                if (formato_.bits != 8 && formato_.bits != 16)
                    throw ErroAudio("Formato de áudio não suportado (" +
                                    std::to_string(formato_.bits) + " bits)");
                if (formato_.canais < 1 || formato_.canais > 8 || formato_.taxa < 1000 ||
                    formato_.taxa > 384000)
                    Invalido("canais ou taxa de amostragem");
                temFormato = true;
            } else if (std::memcmp(cab, "data", 4) == 0) {
                if (!temFormato) Invalido("dados antes do formato");
                inicio_ = corpo;
                const std::uint64_t disponivel = tamanho > corpo ? tamanho - corpo : 0;
                total_ = std::min<std::uint64_t>(tam, disponivel) /
                         static_cast<std::uint64_t>(formato_.BytesPorQuadro());
                break;
            }
            pos = corpo + tam + (tam & 1u);
            if (pos >= tamanho) Invalido("sem bloco de dados");
        }
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

LeitorWav::~LeitorWav() {
    if (fd_ >= 0) ::close(fd_);
}

bool LeitorWav::LeEm(std::uint64_t offset, void* destino, std::size_t n) {
    auto* p = static_cast<char*>(destino);
    while (n > 0) {
        const ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw ErroAudio("Erro ao ler o arquivo de áudio: " + std::string(std::strerror(errno)));
        }
        if (r == 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        offset += static_cast<std::uint64_t>(r);
    }
    return true;
}

std::size_t LeitorWav::Le(std::uint8_t* destino, std::size_t quadros) {
    const std::uint64_t resta = total_ - posicao_;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(quadros, resta));
    if (n == 0) return 0;
    const std::size_t bq = static_cast<std::size_t>(formato_.BytesPorQuadro());
    if (!LeEm(inicio_ + posicao_ * bq, destino, n * bq))
        throw ErroAudio("Erro ao ler o arquivo de áudio: o arquivo foi encurtado");
    posicao_ += n;
    return n;
}

void LeitorWav::Posiciona(std::uint64_t amostra) { posicao_ = std::min(amostra, total_); }
