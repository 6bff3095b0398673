// pabx-probe HOST PORT PASSWORD [--trace DIR] [--timeout SECONDS]
// PASSWORD "-" reads it from the first line of standard input, which keeps it
// out of the process list.
// Connects to a unit's control interface, logs in and prints its version,
// model, agenda kind, SD-card volume and extension names, one per line; exits
// non-zero with the failing step's message otherwise. An installer's check of
// a unit before registering it.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "common/pabx/PABX.h"
#include "tools/pabx-probe/Sonda.h"

namespace {
int Uso() {
    std::cerr << "uso: pabx-probe HOST PORTA SENHA [--trace PASTA] [--timeout SEGUNDOS]\n";
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
            PABXTimeOut = static_cast<int>(segundos);
        } else if (arg.starts_with("--")) {
            return Uso();
        } else if (posicional == 0) {
            opcoes.host = arg;
            ++posicional;
        } else if (posicional == 1) {
            if (!Numero(arg, opcoes.porta) || opcoes.porta == 0 || opcoes.porta > 65535) return Uso();
            ++posicional;
        } else if (posicional == 2) {
            opcoes.senha = arg;
            ++posicional;
        } else {
            return Uso();
        }
    }
    if (posicional != 3) return Uso();
    if (opcoes.senha == "-" && !std::getline(std::cin, opcoes.senha)) return Uso();
    return ExecutaSonda(opcoes, std::cout, std::cerr);
}
