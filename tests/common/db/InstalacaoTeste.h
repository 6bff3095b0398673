#pragma once
// A private installation of the databases for one test process: its own data
// folder and its own alias on the test server, removed again at the end.

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"
#include "tests/ServidorTeste.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class InstalacaoTeste {
public:
    // `nome` keeps the folders and aliases of tests apart; units on request.
    explicit InstalacaoTeste(const std::string& nome, std::vector<int> unidades = {}) {
        auto s = ServidorTeste::DoAmbiente();
        if (!s)
            return;
        srv = *s;
        opcoes.servidor = srv.host;
        opcoes.porta = srv.porta;
        opcoes.adminUsuario = srv.usuario;
        opcoes.adminSenha = srv.senha;
        opcoes.alias = "VZT_" + nome + "_" + std::to_string(::getpid());
        opcoes.pastaDados = std::filesystem::path(srv.pasta) / ("esquema-" + nome + "-" + std::to_string(::getpid()));
        opcoes.unidades = std::move(unidades);
        if (const char* a = std::getenv("VERUZADU_FB_ALIASES"))
            opcoes.arquivoAliases = a;
        std::filesystem::create_directories(opcoes.pastaDados);
        // The server writes there as user firebird.
        std::filesystem::permissions(opcoes.pastaDados, std::filesystem::perms::all);
        primeira = InstalaBancos(opcoes);
        pronta = true;
    }
    ~InstalacaoTeste() {
        if (!pronta)
            return;
        try {
            RemoveAlias(opcoes.arquivoAliases, opcoes.alias);
        } catch (...) {
        }
    }
    bool Pronta() const { return pronta; }

    ParametrosConexao Principal(bool admin = false) const {
        return {MontaStringConexao(srv.host, srv.porta, opcoes.alias), admin ? srv.usuario : opcoes.usuario,
                admin ? srv.senha : opcoes.senha};
    }
    ParametrosConexao Unidade(int codigo) const {
        return {MontaStringConexao(srv.host, srv.porta, (opcoes.pastaDados / NomeArquivoBancoPABX(codigo)).string()),
                opcoes.usuario, opcoes.senha};
    }

    ServidorTeste srv;
    OpcoesInstalacao opcoes;
    std::vector<std::string> primeira;
    bool pronta = false;
};

#define EXIGE_SERVIDOR(inst)                                                                                           \
    if (!(inst).Pronta())                                                                                              \
    SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)"
