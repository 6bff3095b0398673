#pragma once
// Test points: named places in the programs where a test, through an
// environment variable, has the process killed (SIGKILL, as a power cut would
// end it) or held until it lets it go, to prove what a restart or a step run
// meanwhile finds there. Each program names its variable; without it set, a
// point does nothing and costs one look-up of the environment.
//
// The variable is read at every pass, as tests set and clear it in their own
// process between cases (before the code under test starts its threads). Any
// thread may call; nothing is thrown.

#include <string_view>

// `variavel` holds "name" (the first pass of that point kills) or "name:n"
// (its n-th pass kills; passes are counted while the variable keeps that
// value). Kills the process when `ponto` is that name and its pass has come.
void MorteNoPonto(const char* variavel, std::string_view ponto);

// When `variavel` names a folder: creates the file <folder>/<ponto> and waits,
// for at most five minutes, until <folder>/<ponto>.segue exists.
void PausaNoPonto(const char* variavel, std::string_view ponto);
