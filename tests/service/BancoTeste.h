#pragma once
// A main database of its own for one test, created on the test server from the
// installation's schema script and dropped at the end. Tests connect as the
// server's administrator.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "service/BancoServico.h"
#include "tests/ServidorTeste.h"
#include "tests/service/TestePasta.h"

class BancoTeste {
  public:
    explicit BancoTeste(const std::string& nome) {
        auto s = ServidorTeste::DoAmbiente();
        if (!s) return;
        srv = *s;
        static std::atomic<int> contador{0};
        arquivo = srv.pasta + "/svc-" + nome + "-" + std::to_string(::getpid()) + "-" +
                  std::to_string(++contador) + ".fdb";
        conexao = {MontaStringConexao(srv.host, srv.porta, arquivo), srv.usuario, srv.senha};
        Attachment att = Attachment::Cria(conexao, "WIN1252");
        ExecutaScript(att,
                      LeArquivo(std::string(VERUZADU_SOURCE_DIR) + "/common/db/sql/veruzadu.sql"));
        att.Desconecta();
        pronto = true;
    }
    ~BancoTeste() {
        if (!pronto) return;
        try {
            Attachment att = Attachment::Conecta(conexao);
            att.ApagaBanco();
        } catch (...) {
        }
    }
    bool Pronto() const { return pronto; }

    ParametrosBDServico Parametros() const {
        return {srv.host, conexao.banco, srv.usuario, srv.senha};
    }
    Attachment Conecta() const { return Attachment::Conecta(conexao); }
    // Runs statements, each committed on its own.
    void Executa(std::initializer_list<std::string> sqls) const {
        Attachment att = Conecta();
        for (const auto& s : sqls) att.Executa(s);
        att.Desconecta();
    }

    ServidorTeste srv;
    std::string arquivo;
    ParametrosConexao conexao;
    bool pronto = false;
};

#define EXIGE_BANCO(b)                                                                             \
    if (!(b).Pronto()) SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)"

// A place where no Firebird server answers: connections fail at once.
inline ParametrosBDServico ParametrosInalcancaveis(const ParametrosBDServico& p,
                                                   const std::string& arquivo) {
    ParametrosBDServico r = p;
    r.CaminhoBD = MontaStringConexao("127.0.0.1", 1, arquivo);
    r.ServidorBD = "127.0.0.1/1";
    return r;
}
