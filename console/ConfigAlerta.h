#pragma once
// The logic of the alert settings window: loading the alert and SMTP columns
// of the CONFIG row, the enabling and port rules of its controls, the
// refusals and the one UPDATE that writes them back. The fields travel as
// EdicaoAlerta (UTF-8 texts) so the rules run without a display.
//
// Main thread only (it uses MDados). Nothing here throws.

#include <optional>
#include <string>

class MDados;
class Mensageiro;

struct EdicaoAlerta {
    bool alertaEspaco = false;  // CFG_ALMALERTA bit 0
    bool alertaFalha = false;   // CFG_ALMALERTA bit 1
    std::string para;
    std::string cc;
    std::string servidor;
    std::string porta = "25";
    std::string mail;
    bool auth = false;
    std::string usuario;
    std::string senha;  // deciphered
    int seguranca = 0;  // 0 "Não", 1 "TLS, se disponível", 2 "TLS", 3 "SSL"
    bool operator==(const EdicaoAlerta&) const = default;
};

struct HabilitacaoAlerta {
    bool enderecos;     // Para, CC, sender, server, port, cbAuth, secure connection
    bool autenticacao;  // user name and password
    bool operator==(const HabilitacaoAlerta&) const = default;
};

// The secure connection applies with or without authentication, so it is
// offered whenever alerts are on; the user and password only with cbAuth too.
HabilitacaoAlerta Habilitacao(const EdicaoAlerta& e);

// The port the secure connection choice sets: "465" for SSL, else "25".
std::string PortaPorSeguranca(int seguranca);

// Reads the row into `e`. False on a database error or when CONFIG has no
// row (`e` untouched): the window must not open over stale fields.
bool CarregaConfiguracaoAlerta(MDados& dados, EdicaoAlerta& e);

// The first refusal (translated), or nothing.
std::optional<std::string> ValidaAlerta(const EdicaoAlerta& e);

// Validates and writes the ten columns in one UPDATE with bound values. A
// refusal or a failure (also: no row changed) shows its message in an
// "Informação" box and gives false.
bool SalvaConfiguracaoAlerta(MDados& dados, Mensageiro& mensagens, const EdicaoAlerta& e);
