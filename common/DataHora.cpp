#include "common/DataHora.h"

#include <chrono>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long DiasDesdeEpoca(int ano, int mes, int dia) {
    ano -= mes <= 2;
    const long long era = (ano >= 0 ? ano : ano - 399) / 400;
    const unsigned ade = static_cast<unsigned>(ano - era * 400);
    const unsigned doy = (153 * (mes + (mes > 2 ? -3 : 9)) + 2) / 5 + dia - 1;
    const unsigned doe = ade * 365 + ade / 4 - ade / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void DataDeDias(long long z, int& ano, int& mes, int& dia) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    dia = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    mes = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    ano = static_cast<int>(y + (mes <= 2));
}

void Dois(std::string& s, int v) {
    s += static_cast<char>('0' + (v / 10) % 10);
    s += static_cast<char>('0' + v % 10);
}

}  // namespace

DataHora DataHoraLocal(std::time_t instante, int milissegundo) {
    std::tm t{};
    localtime_r(&instante, &t);
    return DataHora{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,   t.tm_hour,
                    t.tm_min,         t.tm_sec,     milissegundo};
}

DataHora Agora() {
    const auto agora = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(agora.time_since_epoch()).count();
    return DataHoraLocal(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

std::time_t InstanteLocal(const DataHora& d) {
    std::tm t{};
    t.tm_year = d.ano - 1900;
    t.tm_mon = d.mes - 1;
    t.tm_mday = d.dia;
    t.tm_hour = d.hora;
    t.tm_min = d.minuto;
    t.tm_sec = d.segundo;
    t.tm_isdst = -1;
    return mktime(&t);
}

long long SegundosDesdeEpoca(const DataHora& d) {
    return DiasDesdeEpoca(d.ano, d.mes, d.dia) * 86400LL + d.hora * 3600LL + d.minuto * 60LL +
           d.segundo;
}

DataHora DataHoraDeSegundos(long long segundos, int milissegundo) {
    long long dias = segundos / 86400;
    long long resto = segundos % 86400;
    if (resto < 0) {
        resto += 86400;
        --dias;
    }
    DataHora d;
    DataDeDias(dias, d.ano, d.mes, d.dia);
    d.hora = static_cast<int>(resto / 3600);
    d.minuto = static_cast<int>(resto / 60 % 60);
    d.segundo = static_cast<int>(resto % 60);
    d.milissegundo = milissegundo;
    return d;
}

DataHora UnixParaData(std::int32_t segundos) { return DataHoraDeSegundos(segundos); }

DataHora SomaSegundos(const DataHora& d, long long segundos) {
    return DataHoraDeSegundos(SegundosDesdeEpoca(d) + segundos, d.milissegundo);
}

DataHora SomaDias(const DataHora& d, int dias) { return SomaSegundos(d, dias * 86400LL); }

DataHora SoData(const DataHora& d) { return DataHora{d.ano, d.mes, d.dia, 0, 0, 0, 0}; }

bool DataValida(const DataHora& d) {
    if (d.mes < 1 || d.mes > 12 || d.dia < 1 || d.hora < 0 || d.hora > 23 || d.minuto < 0 ||
        d.minuto > 59 || d.segundo < 0 || d.segundo > 59 || d.milissegundo < 0 ||
        d.milissegundo > 999)
        return false;
    int a, m, dd;
    DataDeDias(DiasDesdeEpoca(d.ano, d.mes, d.dia), a, m, dd);
    return a == d.ano && m == d.mes && dd == d.dia;
}

std::string FormataDataHora(const DataHora& d, std::string_view f) {
    std::string s;
    s.reserve(f.size() + 4);
    for (size_t i = 0; i < f.size();) {
        auto tem = [&](std::string_view t) { return f.substr(i, t.size()) == t; };
        if (tem("yyyy")) {
            Dois(s, d.ano / 100);
            Dois(s, d.ano % 100);
            i += 4;
        } else if (tem("yy")) {
            Dois(s, d.ano % 100);
            i += 2;
        } else if (tem("dd")) {
            Dois(s, d.dia);
            i += 2;
        } else if (tem("mm")) {
            Dois(s, d.mes);
            i += 2;
        } else if (tem("hh")) {
            Dois(s, d.hora);
            i += 2;
        } else if (tem("nn")) {
            Dois(s, d.minuto);
            i += 2;
        } else if (tem("ss")) {
            Dois(s, d.segundo);
            i += 2;
        } else if (tem("zzz")) {
            s += static_cast<char>('0' + d.milissegundo / 100 % 10);
            Dois(s, d.milissegundo % 100);
            i += 3;
        } else {
            s += f[i++];
        }
    }
    return s;
}
