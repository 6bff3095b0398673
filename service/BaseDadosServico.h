#pragma once
// The database work the service's start-up, main loop and stop call, as one
// interface: the service's own implementation talks to the Firebird server;
// tests of the host may hand in another.

#include <cstddef>
#include <memory>
#include <string>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "service/LacoPrincipal.h"

class LogServico;
class FilaMensagens;

class BaseDadosServico {
public:
    virtual ~BaseDadosServico() = default;
    // Connects to the main database (registering the program's database user
    // when refused), publishes the service's address in CONTROLE and checks the
    // schema. False when the main database cannot be read; `codigoErro` then
    // holds the server's error code (0 when there was none).
    virtual bool BDCarregaControle(const ConfiguracaoServico& cfg, long& codigoErro) = 0;
    virtual bool BDCarregaConfiguracaoGeral(const ConfiguracaoServico& cfg) = 0;
    // Sets the server-side folder of the main database; false on failure.
    virtual bool UsuariosConectados(const ConfiguracaoServico& cfg) = 0;
    virtual void BDRegistraControle(const ConfiguracaoServico& cfg, ModoRegistroControle modo) = 0;
    // Writes one history row now (start and stop rows).
    virtual void GravaMensagemLogBD(const ConfiguracaoServico& cfg, int operacao,
                                    const std::string& texto) = 0;
    // Writes the oldest queued history row.
    virtual void GravaLogEmBancoDados(const ConfiguracaoServico& cfg, FilaMensagens& fila) = 0;
};

// Why the database server is not there, from the error code of the failed
// connection: empty when it runs (or is not installed on this computer).
std::string VerificaEstadoFirebird(long codigoErro);
