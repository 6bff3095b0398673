#pragma once
// The one line form of every log file of both programs, and the append that
// writes it. Pure and thread-safe.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/DataHora.h"

// "dd/mm/yy hh:nn:ss zzz", two blanks, the text (CR/LF replaced), CR LF.
std::string LinhaLog(const DataHora& quando, std::string_view texto);

// Appends the bytes with one write to the file, created (0640: logs may name
// hosts, users and numbers, so they are for the owner and group) when missing;
// the file is opened and closed for every call, so a line is on disk when it
// returns and an outside rotation never leaves a stale handle. False on error.
bool AcrescentaAoArquivo(const std::filesystem::path& arquivo, std::string_view linha);
