#pragma once
// The service's snapshot of the CONFIG row: the row with its texts trimmed,
// what the service derives from it at load (the backup FTP password
// deciphered) and the area code from VERUZADU.INI. Readers on any thread take
// an immutable snapshot through BancoServico::Configuracao() and keep it for
// as long as they need consistent values; a reload publishes a new record,
// never edits one. The SMTP columns come along but are not used from here:
// the alert mail reads them from the row at every send.

#include <string>

#include "common/db/LinhaConfig.h"

struct ConfiguracaoGeral : LinhaConfig {
    std::string SenhaFTP;  // CFG_FTPPASS deciphered
    std::string DDD;       // [Norvika] DDD, at most 4 characters; kept by reloads
};
