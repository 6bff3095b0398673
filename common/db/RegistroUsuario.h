#pragma once
// Registration of the program's own database user with the server's
// administrator account, for when the server refuses the program's login
// (a server installed without our installation, or a new security database).
// The service tries once; the console asks the operator for other
// administrator credentials when the defaults are refused: the result tells
// the refused administrator login apart from every other failure.

#include "common/db/Firebird.h"

#include <string>
#include <string_view>

struct CredenciaisAdmin {
    std::string usuario = "VBXTME";
    std::string senha = "pulvenard";
};

enum class ResultadoRegistro {
    Registrado,
    AdminRecusado,  // the server refused the administrator's name or password
    Falhou,         // anything else (server unreachable, user exists, no rights, ...)
};

struct RegistroUsuarioBD {
    ResultadoRegistro resultado = ResultadoRegistro::Falhou;
    std::string mensagem;  // the server's message when it failed
};

// Adds `usuario` with `senha` (first name "Veruzadu", last name "Quorvanta")
// through the services manager of `servidor`: [BD] Server as configured
// ("\\host", "host" or "host/port"; leading backslashes are dropped).
RegistroUsuarioBD RegistraUsuarioBD(std::string_view servidor, std::string_view usuario,
                                    std::string_view senha, const CredenciaisAdmin& admin = {});

// The server part of [BD] Server without its leading backslashes.
std::string ServidorSemBarras(std::string_view servidor);

// Connects; when the server refuses the login (335544472), registers
// p.usuario/p.senha on `servidor` with `admin` and connects once more. A
// failed registration is thrown as the original refusal, with `registro`
// (when given) telling why.
Attachment ConectaRegistrando(const ParametrosConexao& p, std::string_view servidor,
                              const CredenciaisAdmin& admin = {},
                              RegistroUsuarioBD* registro = nullptr);
