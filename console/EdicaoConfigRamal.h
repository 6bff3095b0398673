#pragma once
// Saving the recording configuration of one or several extensions of a unit
// in its own database (RMLPERMISS, RAMALGRAVA), and what the programming of
// the PABX needs from it: the unit's extension names and numbers (DNSPABX)
// and the list of its configured extensions.
//
// Main thread only (MDados). The per-PABX database must be connected for
// the unit. Errors: FirebirdError, ErroBasePABX and SemConexaoBD as MDados
// raises them, unless a function says otherwise.

#include <cstdint>
#include <string>
#include <vector>

#include "console/ProgramacaoRamal.h"

class MDados;

// Every DNS_NOME of the unit, sorted.
std::vector<std::string> LeRamaisPABX(MDados& dados, int codigo);
// DNS_INDICE of the unit's extension named `nome`; 0 when there is none.
int PegaIndiceDNS(MDados& dados, int codigo, const std::string& nome);
// The numbers (decimal) of the unit's configured extensions, each once, in
// order; numbers that are no extensions left out.
std::vector<std::string> LeListaRamaisConfigurados(MDados& dados, int codigo);

// What the editor saves.
struct EdicaoConfigRamal {
    int codigo = 0;
    std::string ramalEdicao;               // empty: new extensions
    std::vector<std::string> ramais;       // the chosen extensions (their names)
    std::uint16_t permissao = 0;           // bits 0-9
    std::vector<std::string> autorizados;  // names allowed to start its recordings
    bool todasPortas = false;              // bit 9: every other extension allowed (one row "Todos")
};

// What a save leaves for the programming.
struct ResultadoEdicao {
    std::vector<EntradaProgramacao> fila;    // one per saved extension, in order
    std::vector<std::string> autorizados;    // decimal numbers, the union for every entry
    std::vector<std::string> desconhecidos;  // chosen names the unit has no number for
};

// Writes the configuration of every chosen extension in one transaction
// (edit: the row's word, number and list replaced; new: rows added). An
// extension whose name has no number of the unit is neither saved nor
// queued but reported. A failure writes nothing and is raised.
ResultadoEdicao SalvaConfigRamais(MDados& dados, const EdicaoConfigRamal& e);
