#include "service/MensagemEmail.h"

#include <ctime>

#include "common/Texto.h"

namespace {

bool Controle(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string Base64(std::string_view dados) {
    static const char tabela[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string r;
    std::size_t i = 0;
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(dados[k]); };
    for (; i + 2 < dados.size(); i += 3) {
        const unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
        r += tabela[(v >> 18) & 63];
        r += tabela[(v >> 12) & 63];
        r += tabela[(v >> 6) & 63];
        r += tabela[v & 63];
    }
    if (i + 1 == dados.size()) {
        const unsigned v = b(i) << 16;
        r += tabela[(v >> 18) & 63];
        r += tabela[(v >> 12) & 63];
        r += "==";
    } else if (i + 2 == dados.size()) {
        const unsigned v = (b(i) << 16) | (b(i + 1) << 8);
        r += tabela[(v >> 18) & 63];
        r += tabela[(v >> 12) & 63];
        r += tabela[(v >> 6) & 63];
        r += '=';
    }
    return r;
}

// UTF-8 "B" encoded words, each holding whole characters and at most 45
// bytes (60 base64 characters, 72 with the framing).
std::string PalavrasCodificadas(std::string_view utf8) {
    std::string r;
    std::size_t inicio = 0;
    while (inicio < utf8.size()) {
        std::size_t fim = inicio;
        while (fim < utf8.size()) {
            std::size_t n = SequenciaUtf8(utf8, fim);
            if (n == 0) n = 1;
            if (fim + n - inicio > 45) break;
            fim += n;
        }
        if (!r.empty()) r += ' ';
        r += "=?UTF-8?B?" + Base64(utf8.substr(inicio, fim - inicio)) + "?=";
        inicio = fim;
    }
    return r;
}

bool AsciiImprimivel(std::string_view s) {
    for (const unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Characters a display name may carry without quoting or encoding.
bool NomeSimples(std::string_view s) {
    for (const char c : s) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') ||
                        std::string_view(" !#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string SemControles(std::string_view texto) {
    std::string r;
    r.reserve(texto.size());
    for (const char c : texto)
        if (!Controle(static_cast<unsigned char>(c))) r += c;
    return r;
}

std::string LinhaUtf8(std::string_view linha) {
    return Utf8Valido(linha) ? std::string(linha) : Latin1ParaUtf8(linha);
}

std::string TextoCabecalho(std::string_view texto) {
    const std::string limpo = SemControles(LinhaUtf8(texto));
    // "=?" in plain text would read as the start of an encoded word.
    if (AsciiImprimivel(limpo) && limpo.find("=?") == std::string::npos) return limpo;
    return PalavrasCodificadas(limpo);
}

std::string EnderecoCabecalho(std::string_view nome, std::string_view endereco) {
    const std::string n = Apara(SemControles(LinhaUtf8(nome)));
    const std::string e = "<" + SemControles(endereco) + ">";
    if (n.empty()) return e;
    return (NomeSimples(n) ? n : PalavrasCodificadas(n)) + " " + e;
}

std::vector<std::string> SeparaEnderecos(std::string_view lista) {
    std::vector<std::string> r;
    std::size_t inicio = 0;
    for (;;) {
        const std::size_t fim = lista.find(';', inicio);
        std::string item = Apara(SemControles(lista.substr(
            inicio, fim == std::string_view::npos ? std::string_view::npos : fim - inicio)));
        if (!item.empty()) r.push_back(std::move(item));
        if (fim == std::string_view::npos) break;
        inicio = fim + 1;
    }
    return r;
}

std::string RemovePrimeiroError(std::string_view mensagem) {
    std::string r(mensagem);
    const auto p = r.find("Error:");
    if (p != std::string::npos) r.erase(p, 6);
    return r;
}

std::string CorpoEmail(const std::vector<std::string>& linhas) {
    std::string corpo;
    for (const auto& linha : linhas) {
        const std::string texto = LinhaUtf8(linha);
        for (std::size_t i = 0; i < texto.size(); ++i) {
            const char c = texto[i];
            if (c == '\r') {
                if (i + 1 < texto.size() && texto[i + 1] == '\n') ++i;
                corpo += "\r\n";
            } else if (c == '\n') {
                corpo += "\r\n";
            } else {
                corpo += c;
            }
        }
        corpo += "\r\n";
    }
    return corpo;
}

std::string DataCabecalho(long long instante) {
    static const char* const dias[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const meses[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(instante);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long fuso = tm.tm_gmtoff / 60;
    const long absoluto = fuso < 0 ? -fuso : fuso;
    char texto[64];
    std::snprintf(texto, sizeof texto, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  dias[tm.tm_wday], tm.tm_mday, meses[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, fuso < 0 ? '-' : '+', absoluto / 60, absoluto % 60);
    return texto;
}
