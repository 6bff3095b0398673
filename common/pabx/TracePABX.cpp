#include "common/pabx/TracePABX.h"

#include <cstdio>
#include <fstream>
#include <mutex>

namespace {
// Serialises appends of whole records, so the two threads of a link (and the
// links of several units sharing a folder) never interleave inside a record.
std::mutex travaTrace;
}  // namespace

std::string RegistroTrace(const DataHora& quando, std::size_t contagem, std::string_view rotulo,
                          const std::uint8_t* bytes) {
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
            r += hex[bytes[i] >> 4];
            r += hex[bytes[i] & 0x0F];
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
                        std::string_view rotulo, const std::uint8_t* bytes) {
    const DataHora agora = Agora();
    const std::string registro = RegistroTrace(agora, contagem, rotulo, bytes);
    std::lock_guard trava(travaTrace);
    std::ofstream f(pasta / NomeArquivoTrace(agora), std::ios::binary | std::ios::app);
    if (f) f.write(registro.data(), static_cast<std::streamsize>(registro.size()));
}

void GravaArquivoDiagnostico(const std::filesystem::path& pasta, const std::string& nome,
                             const std::uint8_t* bytes, std::size_t n) {
    std::error_code erro;
    const auto destino = pasta / nome;
    auto temporario = destino;
    temporario += ".tmp";
    {
        std::ofstream f(temporario, std::ios::binary | std::ios::trunc);
        if (!f) return;
        f.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
        if (!f) {
            f.close();
            std::filesystem::remove(temporario, erro);
            return;
        }
    }
    std::filesystem::rename(temporario, destino, erro);
    if (erro) std::filesystem::remove(temporario, erro);
}
