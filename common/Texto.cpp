#include "common/Texto.h"

#include <array>
#include <cstdint>
#include <utility>

namespace {

constexpr char32_t kInvalido = 0xFFFFFFFF;

struct Decodificado {
    char32_t codigo;  // kInvalido for a malformed byte
    std::size_t tamanho;
};

// Strict UTF-8 (RFC 3629): rejects over-long forms, surrogates and code points
// above U+10FFFF. A malformed sequence consumes one byte, so the caller
// resynchronises on the next byte.
Decodificado DecodificaUtf8(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {b0, 1};
    std::size_t n;
    char32_t cp;
    char32_t minimo;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1F, minimo = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0F, minimo = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07, minimo = 0x10000;
    } else {
        return {kInvalido, 1};
    }
    if (i + n > s.size()) return {kInvalido, 1};
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return {kInvalido, 1};
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kInvalido, 1};
    return {cp, n};
}

void AcrescentaUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 bytes 0x80-0x9F. The unassigned codes keep their C1 value.
constexpr std::array<char16_t, 32> kWin1252Alto = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

int CodigoWin1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (std::size_t k = 0; k < kWin1252Alto.size(); ++k)
        if (kWin1252Alto[k] == cp) return static_cast<int>(0x80 + k);
    return -1;
}

}  // namespace

std::string Latin1ParaUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() + latin1.size() / 4);
    for (char c : latin1) AcrescentaUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string Utf8ParaLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto d = DecodificaUtf8(utf8, i);
        out += d.codigo <= 0xFF ? static_cast<char>(d.codigo) : '?';
        i += d.tamanho;
    }
    return out;
}

std::string Win1252ParaUtf8(std::string_view win1252) {
    std::string out;
    out.reserve(win1252.size() + win1252.size() / 4);
    for (char c : win1252) {
        const auto b = static_cast<unsigned char>(c);
        AcrescentaUtf8(out, b >= 0x80 && b < 0xA0 ? kWin1252Alto[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string Utf8ParaWin1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto d = DecodificaUtf8(utf8, i);
        const int b = d.codigo == kInvalido ? -1 : CodigoWin1252(d.codigo);
        out += b < 0 ? '?' : static_cast<char>(b);
        i += d.tamanho;
    }
    return out;
}

std::size_t ContaCaracteresUtf8(std::string_view utf8) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < utf8.size(); i += DecodificaUtf8(utf8, i).tamanho) ++n;
    return n;
}

std::string CortaUtf8(std::string_view utf8, std::size_t maximo) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < maximo && i < utf8.size(); ++n)
        i += DecodificaUtf8(utf8, i).tamanho;
    return std::string(utf8.substr(0, i));
}

std::string Maiusculas(std::string_view texto) {
    std::string r(texto);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string Minusculas(std::string_view texto) {
    std::string r(texto);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool IgualSemCaixa(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

namespace {

template <typename Branco> std::string_view AparaPor(std::string_view s, Branco branco) {
    while (!s.empty() && branco(s.front())) s.remove_prefix(1);
    while (!s.empty() && branco(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string Apara(std::string_view texto) { return std::string(AparaVista(texto)); }

std::string_view AparaVista(std::string_view texto) {
    return AparaPor(texto, [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string_view AparaBrancos(std::string_view s) {
    return AparaPor(s, [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    });
}

std::string_view AparaEspacos(std::string_view s) {
    return AparaPor(s, [](char c) { return c == ' ' || c == '\t'; });
}

std::string ComBarra(std::string pasta) {
    if (!pasta.empty() && pasta.back() != '/') pasta += '/';
    return pasta;
}

std::string ComBarraOuRaiz(std::string caminho) {
    if (caminho.empty() || caminho.back() != '/') caminho += '/';
    return caminho;
}

std::string ComBarraTrocaContrabarra(std::string pasta) {
    if (!pasta.empty() && pasta.back() == '\\') pasta.back() = '/';
    return ComBarra(std::move(pasta));
}

std::string SemBarraFinal(std::string caminho) {
    while (caminho.size() > 1 && caminho.back() == '/') caminho.pop_back();
    return caminho;
}

std::size_t SequenciaUtf8(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned minimo;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        minimo = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        minimo = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        minimo = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    unsigned ponto = c & (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        ponto = (ponto << 6) | (b(i + k) & 0x3F);
    }
    if (ponto < minimo || ponto > 0x10FFFF || (ponto >= 0xD800 && ponto <= 0xDFFF)) return 0;
    return n;
}

bool Utf8Valido(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = SequenciaUtf8(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string RemoveBarrasIniciais(std::string_view texto) {
    for (int i = 0; i < 2 && !texto.empty() && texto.front() == '\\'; ++i) texto.remove_prefix(1);
    return std::string(texto);
}
