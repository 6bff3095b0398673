#pragma once
// A private installation of the databases for one test process: its own data
// folder and its own alias on the test server, removed again at the end.

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

struct ServidorEsquemaTeste {
    std::string host, usuario, senha;
    int porta = 0;
    std::filesystem::path dados;

    // False when the test server's variables are missing (run without scripts/test).
    static bool Le(ServidorEsquemaTeste& s) {
        auto env = [](const char* n) {
            const char* v = std::getenv(n);
            return std::string(v ? v : "");
        };
        s.host = env("VERUZADU_FB_HOST");
        s.usuario = env("VERUZADU_FB_USER");
        s.senha = env("VERUZADU_FB_PASSWORD");
        s.dados = env("VERUZADU_FB_DATA");
        const std::string porta = env("VERUZADU_FB_PORT");
        s.porta = porta.empty() ? 0 : std::stoi(porta);
        return !s.host.empty() && !s.dados.empty();
    }
};

class InstalacaoTeste {
public:
    // `nome` keeps the folders and aliases of tests apart; units on request.
    explicit InstalacaoTeste(const std::string& nome, std::vector<int> unidades = {}) {
        if (!ServidorEsquemaTeste::Le(srv))
            return;
        opcoes.servidor = srv.host;
        opcoes.porta = srv.porta;
        opcoes.adminUsuario = srv.usuario;
        opcoes.adminSenha = srv.senha;
        opcoes.alias = "VZT_" + nome + "_" + std::to_string(::getpid());
        opcoes.pastaDados = srv.dados / ("esquema-" + nome + "-" + std::to_string(::getpid()));
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

    ServidorEsquemaTeste srv;
    OpcoesInstalacao opcoes;
    std::vector<std::string> primeira;
    bool pronta = false;
};

#define EXIGE_SERVIDOR(inst)                                                                                           \
    if (!(inst).Pronta())                                                                                              \
    GTEST_SKIP() << "no test server (run through scripts/test)"
