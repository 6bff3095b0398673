#pragma once
// The steps of pabx-probe: connect, log in and read what a session reads
// (version, model, SD-card volume, extension names), writing one line per
// value. Used by the tool and by its tests.
#include <ostream>
#include <string>

struct OpcoesSonda {
    std::string host;
    unsigned porta = 0;
    std::string senha;
    std::string pastaTrace;  // empty: no trace
    int tempoLimite = 0;     // seconds; 0 keeps the link's default
};

// Runs every step in order and writes the values to `saida`. Returns 0, or 2
// after writing the failing step's message to `erros`.
int ExecutaSonda(const OpcoesSonda& opcoes, std::ostream& saida, std::ostream& erros);
