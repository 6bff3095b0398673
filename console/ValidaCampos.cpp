#include "console/ValidaCampos.h"

#include "common/Texto.h"

namespace {

bool Controle(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

bool SoLatin1(std::string_view utf8) { return Latin1ParaUtf8(Utf8ParaLatin1(utf8)) == utf8; }

std::optional<long> LePorta(std::string_view texto) {
    const std::string t = Apara(texto);
    if (t.empty()) return std::nullopt;
    if (t.size() > 9) return -1;
    long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool ServidorValido(std::string_view servidor) {
    if (servidor.empty() || servidor.size() > 253) return false;
    for (char ch : servidor) {
        const auto c = static_cast<unsigned char>(ch);
        if (Controle(c) || c == ' ' || c == '/' || c == '\\' || c == '@' || c == '?' || c == '#' ||
            c >= 0x80)
            return false;
    }
    return true;
}

bool EmailValido(std::string_view endereco) {
    const auto arroba = endereco.find('@');
    if (arroba == std::string_view::npos || arroba == 0 || arroba + 1 == endereco.size() ||
        endereco.find('@', arroba + 1) != std::string_view::npos)
        return false;
    for (char ch : endereco) {
        const auto c = static_cast<unsigned char>(ch);
        if (Controle(c) || c == ' ' ||
            std::string_view("<>,;:\"()[]\\").find(ch) != std::string_view::npos)
            return false;
    }
    return true;
}
