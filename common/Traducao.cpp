#include "common/Traducao.h"

#include "common/Configuracao.h"
#include "common/Texto.h"

#include <mutex>

namespace {

constexpr std::string_view kArquivo = "Veruzadu.LNG";

// Latin-1 codes that the key form drops (all within 32..191).
bool Simbolo(unsigned char b) {
    switch (b) {
        case ' ':
        case '!':
        case '"':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case '-':
        case '.':
        case '/':
        case ':':
        case '<':
        case '=':
        case '>':
        case '?':
        case '[':
        case ']':
        case '|':
        case 0xAA:  // ª
        case 0xBA:  // º
            return true;
        default: return false;
    }
}

std::string ChaveLatin1(std::string_view latin1) {
    std::string r;
    r.reserve(latin1.size());
    for (char c : latin1)
        if (!Simbolo(static_cast<unsigned char>(c))) r += RemoveAcento(c);
    return r;
}

// The INI key of a text. Line breaks are dropped as well: inside a key they
// would split the line and plant a broken entry in the file.
std::string ChaveDoTexto(std::string_view texto) {
    std::string chave = "L";
    for (char c : ChaveLatin1(Utf8ParaLatin1(texto)))
        if (c != '\r' && c != '\n') chave += c;
    return chave;
}

// A text as a value line: Latin-1, line breaks as "\n", quoted when the INI
// rules would otherwise trim or unquote it.
std::string ValorParaArquivo(std::string_view texto) {
    const std::string latin1 = Utf8ParaLatin1(texto);
    std::string v;
    v.reserve(latin1.size() + 2);
    for (std::size_t k = 0; k < latin1.size(); ++k) {
        if (latin1[k] == '\r') {
            if (k + 1 < latin1.size() && latin1[k + 1] == '\n') ++k;
            v += "\\n";
        } else if (latin1[k] == '\n') {
            v += "\\n";
        } else {
            v += latin1[k];
        }
    }
    const auto branco = [](char c) { return c == ' ' || c == '\t'; };
    const bool aspas =
        v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    if (!v.empty() && (branco(v.front()) || branco(v.back()) || aspas)) v = '"' + v + '"';
    return v;
}

std::string ValorDoArquivo(std::string_view latin1) {
    std::string v;
    v.reserve(latin1.size());
    for (std::size_t k = 0; k < latin1.size(); ++k) {
        if (latin1[k] == '\\' && k + 1 < latin1.size() && latin1[k + 1] == 'n') {
            v += '\n';
            ++k;
        } else {
            v += latin1[k];
        }
    }
    return Latin1ParaUtf8(v);
}

}  // namespace

char RemoveAcento(char latin1) {
    switch (static_cast<unsigned char>(latin1)) {
        case 192:
        case 193:
        case 194:
        case 195: return 'A';
        case 199: return 'C';
        case 201:
        case 202: return 'E';
        case 205:
        case 207: return 'I';
        case 211:
        case 212:
        case 213:
        case 214: return 'O';
        case 218:
        case 220: return 'U';
        case 224:
        case 225:
        case 226:
        case 227: return 'a';
        case 231: return 'c';
        case 233:
        case 234: return 'e';
        case 237:
        case 239: return 'i';
        case 243:
        case 244:
        case 245:
        case 246: return 'o';
        case 250:
        case 252: return 'u';
        default: return latin1;
    }
}

char32_t RemoveAcento(char32_t c) {
    if (c < 192 || c > 255) return c;
    return static_cast<unsigned char>(RemoveAcento(static_cast<char>(c)));
}

std::string RemoveAcentosESimbolos(std::string_view texto) {
    return Latin1ParaUtf8(ChaveLatin1(Utf8ParaLatin1(texto)));
}

ArquivoLNG::ArquivoLNG(std::filesystem::path arquivo)
    : ini_(std::move(arquivo)), usaLngOrigem_(ini_.ReadBool("Controle", "LngOrigem", true)),
      lingua_(Latin1ParaUtf8(ini_.ReadString("Controle", "Lingua", "PTB").substr(0, 3))),
      secao_("Labels_" + Utf8ParaLatin1(lingua_)) {}

std::string ArquivoLNG::TraduzLNG(std::string_view texto) {
    if (texto.empty()) return {};
    const std::string chave = ChaveDoTexto(texto);
    const std::string indice = Minusculas(chave);
    {
        std::shared_lock leitura(mutex_);
        if (auto it = valores_.find(indice); it != valores_.end()) return it->second;
    }
    std::unique_lock escrita(mutex_);
    if (auto it = valores_.find(indice); it != valores_.end()) return it->second;

    const std::string lido = ini_.ReadString(secao_, chave, "");
    if (!lido.empty()) {
        std::string valor = ValorDoArquivo(lido);
        valores_.emplace(indice, valor);
        return valor;
    }
    const bool existe = ini_.ValueExists(secao_, chave);
    // Missing or empty: the text becomes its own value, in the file and here.
    // A failed write (read-only folder) is not retried at every call.
    ini_.WriteString(secao_, chave, ValorParaArquivo(texto));
    valores_.emplace(indice, std::string(texto));
    if (existe) return "ST(" + std::string(texto) + ")";
    return usaLngOrigem_ ? std::string(texto) : "LA(" + std::string(texto) + ")";
}

std::string ArquivoLNG::Traduz(std::string_view texto) {
    std::string r = TraduzLNG(texto);
    if (const auto p = r.find('&'); p != std::string::npos) r.erase(p, 1);
    return r;
}

namespace {

// Never destroyed: a thread that logs while the process exits must still find
// the file object alive.
ArquivoLNG& ArquivoDoProcesso() {
    static ArquivoLNG* const arquivo =
        new ArquivoLNG(std::filesystem::path(PastaPrograma()) / kArquivo);
    return *arquivo;
}

}  // namespace

std::string TraduzLNG(std::string_view texto) {
    if (texto.empty()) return {};
    return ArquivoDoProcesso().TraduzLNG(texto);
}

std::string Traduz(std::string_view texto) {
    if (texto.empty()) return {};
    return ArquivoDoProcesso().Traduz(texto);
}
