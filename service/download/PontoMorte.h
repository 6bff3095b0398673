#pragma once
// Test seam for the kill tests: named points of the filing and removal where
// a test can have the whole process killed (SIGKILL, as a power cut would end
// it) to prove that a restart neither loses nor duplicates a recording.
//
// The point is chosen by the environment variable VERUZADU_PONTO_MORTE as
// "name" (the first pass kills) or "name:n" (the n-th pass kills). Without the
// variable every point is a single relaxed atomic load: nothing changes for
// the service's normal runs. Any thread may call.

#include <string_view>

// Kills the process when `nome` is the chosen point and its pass has come.
void PontoMorte(std::string_view nome);
