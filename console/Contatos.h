#pragma once
// Contacts (CLIENTE) and their phones (TELEFONE) as the contact list and the
// contact editor handle them: the list, one contact with its phones, the
// check that a number is free, the save and the removal, each save or
// removal one transaction with its history row, and the local area code the
// contact files need.
//
// Messages go through the Mensageiro handed in; a lost main connection shows
// nothing here (the main window gives that notice). Main thread only
// (MDados' main connection).

#include <optional>
#include <string>
#include <vector>

#include "common/DataHora.h"
#include "console/AgendaArquivo.h"

class MDados;
class Mensageiro;

// The contact list's row.
struct ItemCliente {
    int codigo = 0;
    std::string descricao;      // trimmed
    std::string identificador;  // trimmed
};

// Who writes the history row (stamped with the server's time).
struct AutorHistorico {
    int codigo = 0;
    std::string nome;
};

// "Celular", "Comercial", "Residencial" (translated) for 0, 1, 2; other codes
// give the empty text.
std::string DescricaoTipoFone(int tipo);
// The translated "Comercial" 1, "Residencial" 2, anything else 0.
int CodigoTipoFone(const std::string& texto);

// The states offered for CLI_UF, the empty item first.
const std::vector<std::string>& UFsCliente();
// The area codes the area-code dialog offers, the empty item first.
const std::vector<std::string>& CodigosDDD();

// --- Local area code ([Veruzadu] DDD of VERUZADU.INI, "00" for none) --------

// The stored value, trimmed and cut to 2; nullopt when there is none yet.
// "00" reads as the empty text (no area code).
std::optional<std::string> LeDDDLocal();
// Stores the dialog's choice: the empty item as "00". Returns what DDDLocal
// becomes (empty for none).
std::string GravaDDDLocal(const std::string& escolhido);

// --- Reading (throws SemConexaoBD and FirebirdError) ----------------------

std::vector<ItemCliente> CarregaClientes(MDados& dados);
// The contact with its phones in TEL_NUMERO order (texts trimmed); false
// when there is no such contact.
bool CarregaCliente(MDados& dados, int codigo, ClienteAgenda& cliente);
// The other contact (not `codigo`) that holds the number, 0 when none.
int DonoTelefone(MDados& dados, const std::string& numero, int codigo);

// --- Writing ----------------------------------------------------------------

// The editor's checks, in order: the translated message of the first that
// fails, or the empty text.
std::string ValidaCliente(const ClienteAgenda& cliente);

// Writes the contact, its phones (rows with an empty number skipped) and the
// history row (14 with the name for a new one, 16 with `nomeAnterior` for an
// edit) in one transaction. A new contact (codigo 0) gets its code from
// NovoCodigoCliente, set in `cliente` only once saved. A number held by
// another contact, a contact removed meanwhile, or a server error rolls
// everything back and shows "Erro" with the reason; false then.
bool SalvaCliente(MDados& dados, Mensageiro& mensagens, ClienteAgenda& cliente,
                  const AutorHistorico& autor, const std::string& nomeAnterior);

// Removes the contact and its phones with history row 15 (the listed name)
// in one transaction; the recordings keep its code. False with "Erro" shown
// when refused (nothing removed then).
bool RemoveCliente(MDados& dados, Mensageiro& mensagens, int codigo, const std::string& nome,
                   const AutorHistorico& autor);
