#pragma once
// What the database server dialog does, without the dialog: the name it
// starts with, and accepting a typed server (written to VERUZADU.INI before
// the connection is tried, then proved by a whole connection that is closed
// again). Main thread only.

#include <string>

class MDados;
class Mensageiro;

// [BD] Server without its leading backslashes; this computer's name in upper
// case when the key is missing.
std::string ServidorInicialDialogo();

// The Ok button: an empty name gives "Erro" and nothing is written; otherwise
// [BD] Adv = 0 and [BD] Server = "\\" + the name trimmed and in upper case,
// then ConectaBancoDados. True when it connected (the connection is closed
// again); a failure shows "Erro" with the server's message.
bool AplicaServidorBD(const std::string& digitado, MDados& dados, Mensageiro& mensagens);
