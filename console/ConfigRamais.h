#pragma once
// The unit's extension recording configuration in its own database
// (RMLPERMISS, RAMALGRAVA) and extension directory (DNSPABX): the rows the
// permissions list shows with their column texts, a configuration's removal,
// the link settings of a unit, and the write-back of a read-out from the
// PABX in one transaction.
//
// Main thread only (MDados). The per-PABX database must be connected for
// the unit (MDados::ConectaBasePABX). Errors: FirebirdError, ErroBasePABX
// and SemConexaoBD as MDados raises them, unless a function says otherwise.

#include <cstdint>
#include <string>
#include <vector>

#include "console/LeituraRamais.h"

class MDados;

// One row of the permissions list.
struct LinhaConfigRamal {
    std::string ramal;  // RML_RAMAL
    std::uint16_t permissao = 0;
    std::vector<std::string> permitidos;  // trimmed RML_RMLGRAVA of its RAMALGRAVA rows
};

// The bits of RML_PERMISSAO.
inline constexpr int BitAtendedor = 15;
inline constexpr int BitTodasPortas = 9;

// Texts of the list's columns 1-4 for a permission word: 1 "Sim"/"Não" by
// bit 15; 2, 3, 4 the groups of bits 0-2, 3-5, 6-8 as "Int", "Ori", "Rec"
// joined by "," for the bits set (translated). Other columns: empty.
std::string DescricaoPermissaoRamal(int coluna, std::uint16_t permissao);
// Column 5: "Todos" when bit 9 is set, else the permitted extensions joined by ",".
std::string DescricaoRamaisPermitidos(const LinhaConfigRamal& linha);

// The unit's configured extensions in RML_RAMAL order.
std::vector<LinhaConfigRamal> LeConfiguracaoRamais(MDados& dados, int codigo);
// Removes an extension's configuration (both tables, one transaction).
void RemoveConfigRamal(MDados& dados, int codigo, const std::string& ramal);

// Whether the unit's PABX row asks for its extension directory to be read
// again (PAB_DNSUPDATE = 1, main database). Throws when it cannot be read.
bool RamaisDesatualizados(MDados& dados, int codigo);

// Address, port and password of the unit's control link from its PABX row
// (the password deciphered). Throws when the row cannot be read.
DadosLinkPABX LeDadosLinkPABX(MDados& dados, int codigo);

// Writes what a read-out brought, in one transaction on the unit's
// database: DNSPABX rewritten from the directory, and unless `soNomes` the
// unit's RMLPERMISS and RAMALGRAVA replaced by the configuration read. A
// failure writes nothing (the transaction rolls back) and is raised.
void GravaLeituraPABX(MDados& dados, int codigo, const LeituraPABX& leitura, bool soNomes);
