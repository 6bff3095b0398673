#pragma once
// Codes of new contacts. A deleted contact's recordings keep its code, so a
// code is never given twice: codes come from the generator GEN_CLI_ID, and
// are also kept above every stored code (rows written by an older console
// that still took "highest plus one").
//
// Any thread that owns the transaction. Throws FirebirdError, and
// std::overflow_error when no code is left.

#include <cstdint>

class Transaction;

// The code for one new contact.
std::int32_t NovoCodigoCliente(Transaction& tr);
// The first of `quantidade` consecutive codes for new contacts (at least 1).
std::int32_t ReservaCodigosCliente(Transaction& tr, std::int32_t quantidade);
