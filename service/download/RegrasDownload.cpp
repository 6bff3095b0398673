#include "service/download/RegrasDownload.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "common/Configuracao.h"

namespace {

std::vector<std::string_view> Partes(std::string_view v) {
    std::vector<std::string_view> r;
    std::size_t ini = 0;
    for (;;) {
        const std::size_t p = v.find('.', ini);
        r.push_back(v.substr(ini, p == std::string_view::npos ? std::string_view::npos : p - ini));
        if (p == std::string_view::npos) break;
        ini = p + 1;
    }
    return r;
}

// Digits only, not empty, and short enough not to overflow.
std::optional<long long> Numero(std::string_view s) {
    if (s.empty() || s.size() > 15) return std::nullopt;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool Bissexto(int a) { return (a % 4 == 0 && a % 100 != 0) || a % 400 == 0; }

int DiasNoMes(int ano, int mes) {
    static const int dias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return mes == 2 && Bissexto(ano) ? 29 : dias[mes - 1];
}

}  // namespace

int ComparaVersao(std::string_view a, std::string_view b) {
    const std::string ta = Apara(a), tb = Apara(b);
    const auto pa = Partes(ta), pb = Partes(tb);
    const std::size_t n = std::max(pa.size(), pb.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view x = i < pa.size() ? pa[i] : "0";
        const std::string_view y = i < pb.size() ? pb[i] : "0";
        const auto nx = Numero(x), ny = Numero(y);
        if (nx && ny) {
            if (*nx != *ny) return *nx < *ny ? -1 : 1;
        } else if (nx || ny) {
            return nx ? -1 : 1;
        } else if (const int c = x.compare(y); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return 0;
}

std::string LinhaConsolePABX(int codigoPABX, std::string_view texto) {
    std::string_view resto = texto;
    if (resto.substr(0, 4) == "PABX") {
        const std::size_t p = resto.find(':');
        if (p != std::string_view::npos) resto.remove_prefix(p + 1);
    }
    return "LOG;PABX" + CodigoTresDigitos(codigoPABX) + ";" + std::string(resto);
}

DataHora SomaMeses(const DataHora& d, int meses) {
    DataHora r = d;
    const int total = d.ano * 12 + (d.mes - 1) + meses;
    r.ano = total / 12;
    r.mes = total % 12 + 1;
    r.dia = std::min(d.dia, DiasNoMes(r.ano, r.mes));
    return r;
}

std::optional<int> LeHoraMinuto(std::string_view texto) {
    const std::string t = Apara(texto);
    const std::size_t p = t.find(':');
    if (p == std::string::npos || p == 0 || p > 2 || t.size() - p - 1 == 0 || t.size() - p - 1 > 2)
        return std::nullopt;
    const auto h = Numero(std::string_view(t).substr(0, p));
    const auto m = Numero(std::string_view(t).substr(p + 1));
    if (!h || !m || *h > 23 || *m > 59) return std::nullopt;
    return static_cast<int>(*h * 60 + *m);
}

std::optional<DataHora> LeDataDiaPrimeiro(std::string_view texto) {
    const std::string t = Apara(texto);
    DataHora d;
    char resto = 0;
    int lidos = std::sscanf(t.c_str(), "%2d/%2d/%4d %2d:%2d:%2d%c", &d.dia, &d.mes, &d.ano, &d.hora,
                            &d.minuto, &d.segundo, &resto);
    if (lidos != 3 && lidos != 6) return std::nullopt;
    if (lidos == 3 && t.find(' ') != std::string::npos) return std::nullopt;
    if (d.ano < 1 || d.mes < 1 || d.mes > 12 || d.dia < 1 || d.dia > DiasNoMes(d.ano, d.mes) ||
        d.hora < 0 || d.hora > 23 || d.minuto < 0 || d.minuto > 59 || d.segundo < 0 ||
        d.segundo > 59)
        return std::nullopt;
    return d;
}
