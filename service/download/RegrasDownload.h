#pragma once
// Pure rules of the download run that tests drive without a PABX or a
// database: version order, the console form of a thread log line, calendar
// months and the texts of dates and times the run reads. Thread-safe.

#include "common/Texto.h"
#include <optional>
#include <string>
#include <string_view>

#include "common/DataHora.h"

// Orders two version texts ("3.16.50", "1.06.11", "10.00.00") part by part
// as numbers: <0, 0 or >0. A missing part counts as 0; a part that is not a
// number compares as text after every number.
int ComparaVersao(std::string_view a, std::string_view b);

// The console line of a download run's log text: a text starting with
// "PABX" loses everything up to and including its first ':' (a text without
// one is kept whole), then "LOG;PABX" + the code in three digits + ";" leads.
std::string LinhaConsolePABX(int codigoPABX, std::string_view texto);

// The same day and time `meses` months later; a day the target month lacks
// becomes its last day (31/01 + 1 month = 28/02 or 29/02).
DataHora SomaMeses(const DataHora& d, int meses);

// "hh:nn" with hh 0-23 and nn 0-59 (one or two digits each, blanks around
// allowed); minutes since midnight, or empty for any other text.
std::optional<int> LeHoraMinuto(std::string_view texto);

// "dd/mm/yyyy" optionally followed by " hh:nn:ss"; empty when the text is not
// a valid date.
std::optional<DataHora> LeDataDiaPrimeiro(std::string_view texto);
