#pragma once
// The project's one date-time value: a broken-down local (or server) time with
// milliseconds. Server times, file times and the texts of logs and screens all
// pass through it. Plain value type; every function is thread-safe.

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

struct DataHora {
    int ano = 0;
    int mes = 0;
    int dia = 0;
    int hora = 0;
    int minuto = 0;
    int segundo = 0;
    int milissegundo = 0;

    auto operator<=>(const DataHora&) const = default;
    bool Vazia() const { return ano == 0; }
};

// Current local time.
DataHora Agora();
// Local time of a Unix instant, and back (mktime with the local zone).
DataHora DataHoraLocal(std::time_t instante, int milissegundo = 0);
std::time_t InstanteLocal(const DataHora& d);
// Calendar arithmetic without zones: whole days and seconds since 1970-01-01.
long long SegundosDesdeEpoca(const DataHora& d);
DataHora DataHoraDeSegundos(long long segundos, int milissegundo = 0);
// Unix seconds (signed 32-bit, as the PABX writes them) as a date-time, the
// same calendar arithmetic: no time-zone conversion.
DataHora UnixParaData(std::int32_t segundos);
DataHora SomaSegundos(const DataHora& d, long long segundos);
DataHora SomaDias(const DataHora& d, int dias);
// Only the date part (time 00:00:00.000).
DataHora SoData(const DataHora& d);
bool DataValida(const DataHora& d);

// Formats with the day-first tokens the programs use: "dd", "mm", "yy",
// "yyyy", "hh", "nn", "ss", "zzz"; any other character is copied.
// FormataDataHora(d, "dd/mm/yy hh:nn:ss zzz") gives "05/03/24 07:08:09 010".
std::string FormataDataHora(const DataHora& d, std::string_view formato);
