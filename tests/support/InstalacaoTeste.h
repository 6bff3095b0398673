#pragma once
// A private installation of the databases for one test process: its own data
// folder and its own alias on the test server, removed again at the end.

#include "common/Processos.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"
#include "tests/support/ServidorTeste.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <unistd.h>

// The server's alias file belongs to root. A test run by a user with sudo
// (scripts/test as a developer without root) installs and removes through
// the installer program under sudo; as root, or with the file writable, in
// process. Both give the installer's lines and throw std::runtime_error (or
// FirebirdError in process) on failure.
inline bool AliasesPorSudo(const std::filesystem::path& aliases) {
#ifdef VERUZADU_INSTALL_BIN
    return ::geteuid() != 0 && ::access(aliases.c_str(), W_OK) != 0;
#else
    (void)aliases;
    return false;
#endif
}

inline std::vector<std::string> ExecutaInstaladorComSudo(std::vector<std::string> args,
                                                         std::vector<std::string> ambiente) {
#ifdef VERUZADU_INSTALL_BIN
    std::string nomes;
    for (const auto& a : ambiente) nomes += (nomes.empty() ? "" : ",") + a.substr(0, a.find('='));
    std::vector<std::string> linha = {"sudo", "-n"};
    if (!nomes.empty()) linha.push_back("--preserve-env=" + nomes);
    linha.push_back(VERUZADU_INSTALL_BIN);
    linha.insert(linha.end(), args.begin(), args.end());
    char modelo[] = "/tmp/veruzadu-instalador.XXXXXX";
    const int fd = ::mkstemp(modelo);
    if (fd >= 0) ::close(fd);
    OpcoesProcesso op;
    op.ambiente = std::move(ambiente);
    op.saida = modelo;
    op.limite = std::chrono::minutes(3);
    const auto r = ExecutaProcesso(linha, op);
    std::vector<std::string> linhas;
    std::string tudo;
    {
        std::ifstream in(modelo);
        for (std::string l; std::getline(in, l);) {
            tudo += l + "\n";
            if (l.rfind("nada a fazer", 0) != 0) linhas.push_back(l);
        }
    }
    ::unlink(modelo);
    if (!r.Sucesso()) throw std::runtime_error("veruzadu-install (sudo): " + tudo);
    return linhas;
#else
    (void)args;
    (void)ambiente;
    throw std::logic_error("no installer program in this test");
#endif
}

inline std::vector<std::string> InstalaParaTeste(const OpcoesInstalacao& o) {
    if (!AliasesPorSudo(o.arquivoAliases)) return InstalaBancos(o);
    std::vector<std::string> args = {"--server",
                                     o.servidor,
                                     "--port",
                                     std::to_string(o.porta),
                                     "--admin-user",
                                     o.adminUsuario,
                                     "--data",
                                     o.pastaDados.string(),
                                     "--aliases",
                                     o.arquivoAliases.string(),
                                     "--alias",
                                     o.alias,
                                     "--program-user",
                                     o.usuario,
                                     "--program-password-env",
                                     "VZT_SENHA_PROGRAMA"};
    for (int u : o.unidades) {
        args.push_back("--unit");
        args.push_back(std::to_string(u));
    }
    return ExecutaInstaladorComSudo(
        args, {"VERUZADU_FB_PASSWORD=" + o.adminSenha, "VZT_SENHA_PROGRAMA=" + o.senha});
}

inline void RemoveAliasParaTeste(const std::filesystem::path& aliases, const std::string& alias) {
    if (!AliasesPorSudo(aliases)) {
        RemoveAlias(aliases, alias);
        return;
    }
    ExecutaInstaladorComSudo({"--aliases", aliases.string(), "--remove-alias", alias}, {});
}

class InstalacaoTeste {
  public:
    // `nome` keeps the folders and aliases of tests apart; units on request.
    explicit InstalacaoTeste(const std::string& nome, std::vector<int> unidades = {}) {
        if (auto s = ServidorTeste::DoAmbiente()) Instala(*s, nome, std::move(unidades), {});
    }
    // On another server than the environment's (e.g. a test's private one),
    // with that server's alias file.
    InstalacaoTeste(const ServidorTeste& s, const std::filesystem::path& aliases,
                    const std::string& nome, std::vector<int> unidades) {
        Instala(s, nome, std::move(unidades), aliases);
    }
    void Instala(const ServidorTeste& s, const std::string& nome, std::vector<int> unidades,
                 const std::filesystem::path& aliases) {
        srv = s;
        opcoes.servidor = srv.host;
        opcoes.porta = srv.porta;
        opcoes.adminUsuario = srv.usuario;
        opcoes.adminSenha = srv.senha;
        opcoes.alias = "VZT_" + nome + "_" + std::to_string(::getpid());
        opcoes.pastaDados = std::filesystem::path(srv.pasta) /
                            ("esquema-" + nome + "-" + std::to_string(::getpid()));
        opcoes.unidades = std::move(unidades);
        if (!aliases.empty())
            opcoes.arquivoAliases = aliases;
        else if (const char* a = std::getenv("VERUZADU_FB_ALIASES"))
            opcoes.arquivoAliases = a;
        std::filesystem::create_directories(opcoes.pastaDados);
        // The server writes there as user firebird.
        std::filesystem::permissions(opcoes.pastaDados, std::filesystem::perms::all);
        primeira = InstalaParaTeste(opcoes);
        pronta = true;
    }
    ~InstalacaoTeste() {
        if (!pronta) return;
        try {
            RemoveAliasParaTeste(opcoes.arquivoAliases, opcoes.alias);
        } catch (...) {
        }
    }
    bool Pronta() const { return pronta; }

    ParametrosConexao Principal(bool admin = false) const {
        return {MontaStringConexao(srv.host, srv.porta, opcoes.alias),
                admin ? srv.usuario : opcoes.usuario, admin ? srv.senha : opcoes.senha};
    }
    ParametrosConexao Unidade(int codigo) const {
        return {MontaStringConexao(srv.host, srv.porta,
                                   (opcoes.pastaDados / NomeArquivoBancoPABX(codigo)).string()),
                opcoes.usuario, opcoes.senha};
    }

    ServidorTeste srv;
    OpcoesInstalacao opcoes;
    std::vector<std::string> primeira;
    bool pronta = false;
};

#define EXIGE_SERVIDOR(inst)                                                                       \
    if (!(inst).Pronta()) SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)"
