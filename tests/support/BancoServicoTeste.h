#pragma once
// The scratch database with the installation's main schema (built from its
// script), and its login as the service is handed it.

#include <string>

#include "service/BancoServico.h"
#include "tests/support/BancoTeste.h"
#include "tests/support/PastaTemporaria.h"

class BancoServicoTeste : public BancoTemporario {
  public:
    explicit BancoServicoTeste(const std::string& nome)
        : BancoTemporario("svc-" + nome, LeTudo(std::string(VERUZADU_SOURCE_DIR) +
                                                "/common/db/sql/veruzadu.sql")) {}

    ParametrosBDServico Parametros() const {
        return {srv.host, conexao.banco, srv.usuario, srv.senha};
    }
};

// A place where no Firebird server answers: connections fail at once.
inline ParametrosBDServico ParametrosInalcancaveis(const ParametrosBDServico& p,
                                                   const std::string& arquivo) {
    ParametrosBDServico r = p;
    r.CaminhoBD = MontaStringConexao("127.0.0.1", 1, arquivo);
    r.ServidorBD = "127.0.0.1/1";
    return r;
}
