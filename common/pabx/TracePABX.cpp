#include "common/pabx/TracePABX.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "common/LinhaLog.h"

namespace {
// Serialises appends of whole records, so the two threads of a link (and the
// links of several units sharing a folder) never interleave inside a record.
std::mutex travaTrace;
}  // namespace

std::string RegistroTrace(const DataHora& quando, std::size_t contagem, std::string_view rotulo,
                          const std::uint8_t* bytes, std::size_t ocultoDe) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(40 + rotulo.size() + contagem * 3 + contagem / 20 * 5);
    r += '\n';
    r += FormataDataHora(quando, "hh:nn:ss zzz");
    r += "  ";
    r += std::to_string(contagem);
    r += '\n';
    r += rotulo;
    r += ": ";
    if (bytes != nullptr) {
        for (std::size_t i = 0; i < contagem; ++i) {
            if (i >= ocultoDe) {
                r += "**";
            } else {
                r += hex[bytes[i] >> 4];
                r += hex[bytes[i] & 0x0F];
            }
            r += ' ';
            if ((i + 1) % 20 == 0) r += "\n    ";
        }
    }
    r += '\n';
    return r;
}

std::string NomeArquivoTrace(const DataHora& quando) {
    return "COM_" + FormataDataHora(quando, "ddmmyy") + ".TXT";
}

std::string NomeDumpPROG(std::uint16_t bloco, std::uint16_t indice) {
    char nome[32];
    std::snprintf(nome, sizeof nome, "S%03uB%03u.DAD", unsigned{bloco}, unsigned{indice});
    return nome;
}

void GravaRegistroTrace(const std::filesystem::path& pasta, std::size_t contagem,
                        std::string_view rotulo, const std::uint8_t* bytes, std::size_t ocultoDe) {
    const DataHora agora = Agora();
    const std::string registro = RegistroTrace(agora, contagem, rotulo, bytes, ocultoDe);
    std::lock_guard trava(travaTrace);
    AcrescentaAoArquivo(pasta / NomeArquivoTrace(agora), registro);
}

void GravaArquivoDiagnostico(const std::filesystem::path& pasta, const std::string& nome,
                             const std::uint8_t* bytes, std::size_t n) {
    std::error_code erro;
    const auto destino = pasta / nome;
    auto temporario = destino;
    temporario += ".tmp";
    {
        const int fd = ::open(temporario.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
        if (fd < 0) return;
        bool ok = true;
        for (std::size_t feito = 0; feito < n;) {
            const ssize_t k = ::write(fd, bytes + feito, n - feito);
            if (k < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            feito += static_cast<std::size_t>(k);
        }
        if (::close(fd) != 0) ok = false;
        if (!ok) {
            std::filesystem::remove(temporario, erro);
            return;
        }
    }
    std::filesystem::rename(temporario, destino, erro);
    if (erro) std::filesystem::remove(temporario, erro);
}
