#pragma once
// The server's services manager, as far as the programs need it: registering
// a database user with the server administrator's credentials.

#include "common/db/FirebirdError.h"

#include <string>

struct NovoUsuario {
    std::string nome;
    std::string senha;
    std::string primeiroNome;
    std::string ultimoNome;
};

// Attaches to "<servidor>:service_mgr" (servidor may carry "/port") as the
// administrator and adds the user. Throws FirebirdError: 335544472 when the
// administrator's login is refused, 335544754 (among others) when the user
// exists already.
void AdicionaUsuario(const std::string& servidor, const std::string& usuarioAdmin,
                     const std::string& senhaAdmin, const NovoUsuario& novo);

// Single-user shutdown of a database (`caminho` is its path on the server)
// through the services manager: refused (FirebirdError) while any other
// attachment exists; afterwards the server lets in one attachment at a time,
// and only of the owner or SYSDBA. Used to keep everyone out while a database
// file is replaced.
void DesligaBancoExclusivo(const std::string& servidor, const std::string& usuario,
                           const std::string& senha, const std::string& caminho);
// Brings a shut-down database back online. A database that is online already
// is left as it is (no error); other failures throw FirebirdError.
void ReligaBanco(const std::string& servidor, const std::string& usuario, const std::string& senha,
                 const std::string& caminho);
