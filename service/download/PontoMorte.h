#pragma once
// Kill points of the filing and removal of recordings, for the kill tests: a
// test has the whole process killed there to prove that a restart neither
// loses nor duplicates a recording. The point is chosen by the environment
// variable VERUZADU_PONTO_MORTE as "name" or "name:n" (see PontoTeste.h).

#include <string_view>

#include "common/PontoTeste.h"

inline void PontoMorte(std::string_view nome) { MorteNoPonto("VERUZADU_PONTO_MORTE", nome); }
