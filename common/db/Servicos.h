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
void AdicionaUsuario(const std::string& servidor, const std::string& usuarioAdmin, const std::string& senhaAdmin,
                     const NovoUsuario& novo);
