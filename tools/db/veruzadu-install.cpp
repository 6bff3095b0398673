// veruzadu-install: prepares a running Firebird server for Veruzadu and
// Pelmoran. Creates the program's database user, the alias of the main
// database, the main database and the template of the unit databases (and
// unit databases on request), owned by the program's user. Run it again and
// it changes nothing.
//
// The administrator's password is read from the environment variable named by
// --admin-password-env (default VERUZADU_FB_PASSWORD) or from
// --admin-password-file (its first line, or its ISC_PASSWORD= line as in
// Debian's /etc/firebird/3.0/SYSDBA.password, which is also read when neither
// is given); never from the command line, which every user of the machine can
// read.
//
// --first-admin-password-env VAR or --first-admin-password-file FILE (its
// first line) add the console's first administrator, login "ADMIN", when the
// installation has no user yet; the password, too, never comes from the
// command line.

#include "common/db/FirebirdError.h"
#include "common/db/Instalacao.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

const char* const ArquivoSenhaDebian = "/etc/firebird/3.0/SYSDBA.password";

// The first line, or the value of an ISC_PASSWORD= line (quotes removed).
bool LeSenha(const std::string& arquivo, std::string& senha) {
    std::ifstream in(arquivo);
    if (!in) return false;
    std::string linha, primeira;
    bool temPrimeira = false;
    while (std::getline(in, linha)) {
        if (!temPrimeira) {
            primeira = linha;
            temPrimeira = true;
        }
        if (linha.rfind("ISC_PASSWORD=", 0) == 0) {
            senha = linha.substr(13);
            if (senha.size() >= 2 && (senha.front() == '"' || senha.front() == '\'') &&
                senha.back() == senha.front())
                senha = senha.substr(1, senha.size() - 2);
            return true;
        }
    }
    senha = primeira;
    return temPrimeira;
}

void Uso() {
    std::cerr << "uso: veruzadu-install [--server HOST] [--port N] [--admin-user USER]\n"
                 "         [--admin-password-env VAR | --admin-password-file FILE]\n"
                 "         [--data DIR] [--aliases FILE] [--alias NAME] [--unit N]...\n"
                 "         [--program-user NAME] [--program-password-env VAR]\n"
                 "         [--first-admin-password-env VAR | --first-admin-password-file FILE]\n"
                 "       veruzadu-install --remove-alias NAME [--aliases FILE]\n";
}

}  // namespace

int main(int argc, char** argv) {
    OpcoesInstalacao o;
    std::string varSenha = "VERUZADU_FB_PASSWORD";
    std::string arquivoSenha;
    std::string removeAlias;
    std::string varSenhaAdmin, arquivoSenhaAdmin;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto valor = [&]() -> std::string {
            if (i + 1 >= argc) {
                Uso();
                std::exit(2);
            }
            return argv[++i];
        };
        try {
            if (a == "--server")
                o.servidor = valor();
            else if (a == "--port")
                o.porta = std::stoi(valor());
            else if (a == "--admin-user")
                o.adminUsuario = valor();
            else if (a == "--admin-password-env")
                varSenha = valor();
            else if (a == "--admin-password-file")
                arquivoSenha = valor();
            else if (a == "--data")
                o.pastaDados = valor();
            else if (a == "--aliases")
                o.arquivoAliases = valor();
            else if (a == "--alias")
                o.alias = valor();
            else if (a == "--unit")
                o.unidades.push_back(std::stoi(valor()));
            else if (a == "--program-user")
                o.usuario = valor();
            else if (a == "--program-password-env") {
                const char* s = std::getenv(valor().c_str());
                if (!s || !*s) {
                    std::cerr
                        << "veruzadu-install: --program-password-env names an empty variable\n";
                    return 2;
                }
                o.senha = s;
            } else if (a == "--remove-alias")
                removeAlias = valor();
            else if (a == "--first-admin-password-env")
                varSenhaAdmin = valor();
            else if (a == "--first-admin-password-file")
                arquivoSenhaAdmin = valor();
            else {
                Uso();
                return 2;
            }
        } catch (const std::logic_error&) {
            Uso();
            return 2;
        }
    }
    try {
        if (!removeAlias.empty()) {
            if (RemoveAlias(o.arquivoAliases, removeAlias))
                std::cout << "alias " << removeAlias << " removido de " << o.arquivoAliases.string()
                          << "\n";
            return 0;
        }
        if (!arquivoSenha.empty()) {
            if (!LeSenha(arquivoSenha, o.adminSenha)) {
                std::cerr << "veruzadu-install: não foi possível ler " << arquivoSenha << "\n";
                return 1;
            }
        } else if (const char* s = std::getenv(varSenha.c_str())) {
            o.adminSenha = s;
        } else {
            LeSenha(ArquivoSenhaDebian, o.adminSenha);
        }
        const auto feito = InstalaBancos(o);
        for (const auto& l : feito) std::cout << l << "\n";
        std::string senhaAdmin;
        bool querAdmin = false;
        if (!arquivoSenhaAdmin.empty()) {
            std::ifstream in(arquivoSenhaAdmin);
            if (!in || !std::getline(in, senhaAdmin)) {
                std::cerr << "veruzadu-install: não foi possível ler " << arquivoSenhaAdmin << "\n";
                return 1;
            }
            querAdmin = true;
        } else if (!varSenhaAdmin.empty()) {
            const char* s = std::getenv(varSenhaAdmin.c_str());
            if (!s) {
                std::cerr << "veruzadu-install: variável " << varSenhaAdmin << " não definida\n";
                return 1;
            }
            senhaAdmin = s;
            querAdmin = true;
        }
        bool nada = feito.empty();
        if (querAdmin) {
            const std::string conexao = MontaStringConexao(o.servidor, o.porta, o.alias);
            if (CriaPrimeiroAdministrador({conexao, o.usuario, o.senha}, senhaAdmin)) {
                std::cout << "administrador ADMIN criado\n";
                nada = false;
            }
        }
        if (nada) std::cout << "nada a fazer: tudo instalado\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "veruzadu-install: " << e.what() << "\n";
        return 1;
    }
}
