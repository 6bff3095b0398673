#include "console/ArquivoAudio.h"

#include <system_error>

#include "common/ArquivoCriptografado.h"
#include "common/CifraTexto.h"
#include "common/Texto.h"

namespace fs = std::filesystem;

namespace {

// The deciphered passphrase, wiped however the scope is left.
struct SenhaTemporaria {
    std::string bytes;
    ~SenhaTemporaria() {
        volatile char* p = bytes.data();
        for (std::size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
    }
};

}  // namespace

std::string ExtensaoArquivoAudio(int tipo) { return ExtensaoTipoArquivo(tipo); }

bool DescriptografaArquivo(int tipo, std::string_view chave, const fs::path& caminho,
                           std::string* erro) {
    fs::path destino = caminho;
    destino.replace_extension(ExtensaoArquivoAudio(tipo & 0x7F));
    try {
        SenhaTemporaria senha{DescriptografaBytes(CortaUtf8(chave, 30))};
        // The core writes under a temporary name and renames, so the plain
        // name holds either the whole file or what it held before; an old
        // plain copy from an earlier run must not pass for this one.
        std::error_code ec;
        fs::remove(destino, ec);
        DescriptografaArquivoDad(caminho, destino, senha.bytes);
        return true;
    } catch (const std::exception& e) {
        if (erro) *erro = e.what();
        return false;
    }
}

std::string ParteNomeArquivo(std::string_view parte) {
    std::string r(Apara(parte));
    for (char& c : r)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    if (!r.empty() && r.find_first_not_of('.') == std::string::npos) r.assign(r.size(), '_');
    return r;
}

std::string NomeArquivoExportado(std::string_view ramal, const DataHora& data,
                                 std::string_view destino, int tipo) {
    return "GRV_" + ParteNomeArquivo(ramal) + "_" + FormataDataHora(data, "yyyymmddhhnnss") + "_" +
           ParteNomeArquivo(destino) + ExtensaoArquivoAudio(tipo);
}
