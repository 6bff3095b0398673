// pabx-probe HOST PORT [--trace DIR] [--timeout SECONDS]
// The password comes from the environment (PABX_SENHA) or, when that is not
// set, from the first line of standard input: never from the command line,
// where every user of the computer could read it.
// Connects to a unit's control interface, logs in and prints its version,
// model, agenda kind, SD-card volume and extension names, one per line; exits
// non-zero with the failing step's message otherwise. An installer's check of
// a unit before registering it.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "common/pabx/PABX.h"
#include "tools/pabx-probe/Sonda.h"

namespace {
int Uso() {
    std::cerr << "uso: pabx-probe HOST PORTA [--trace PASTA] [--timeout SEGUNDOS]\n"
                 "A senha vem de PABX_SENHA ou da primeira linha da entrada padrão.\n";
    return 1;
}

bool Numero(std::string_view texto, unsigned& valor) {
    const auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    return erro == std::errc() && fim == texto.data() + texto.size();
}
}  // namespace

int main(int argc, char** argv) {
    OpcoesSonda opcoes;
    int posicional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--trace" && i + 1 < argc) {
            opcoes.pastaTrace = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            unsigned segundos = 0;
            if (!Numero(argv[++i], segundos) || segundos == 0) return Uso();
            opcoes.tempoLimite = static_cast<int>(segundos);
        } else if (arg.starts_with("--")) {
            return Uso();
        } else if (posicional == 0) {
            opcoes.host = arg;
            ++posicional;
        } else if (posicional == 1) {
            if (!Numero(arg, opcoes.porta) || opcoes.porta == 0 || opcoes.porta > 65535)
                return Uso();
            ++posicional;
        } else if (posicional == 2 && arg == "-") {
            ++posicional;  // the earlier spelling of "from standard input"
        } else if (posicional == 2) {
            std::cerr << "pabx-probe: a senha não é aceita na linha de comando (use PABX_SENHA ou "
                         "a entrada padrão)\n";
            return 1;
        } else {
            return Uso();
        }
    }
    if (posicional < 2) return Uso();
    if (const char* senha = std::getenv("PABX_SENHA"); senha != nullptr) {
        opcoes.senha = senha;
    } else if (!std::getline(std::cin, opcoes.senha)) {
        std::cerr << "pabx-probe: sem senha (PABX_SENHA ou a entrada padrão)\n";
        return 1;
    }
    if (!opcoes.senha.empty() && opcoes.senha.back() == '\r') opcoes.senha.pop_back();
    return ExecutaSonda(opcoes, std::cout, std::cerr);
}
