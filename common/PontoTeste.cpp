#include "common/PontoTeste.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace {

// Passes of the chosen point, for the value the variable had when counted.
struct Passagens {
    std::mutex trava;  // guards the members below
    std::string valor;
    long contagem = 0;
};

Passagens& ContagemPassagens() {
    static Passagens p;
    return p;
}

}  // namespace

void MorteNoPonto(const char* variavel, std::string_view ponto) {
    const char* v = std::getenv(variavel);
    if (!v || !*v) return;
    const std::string_view valor(v);
    const auto dois = valor.find(':');
    if (valor.substr(0, dois) != ponto) return;
    const long vez =
        dois == std::string_view::npos ? 1 : std::max(1L, std::strtol(v + dois + 1, nullptr, 10));
    Passagens& p = ContagemPassagens();
    std::lock_guard lock(p.trava);
    if (p.valor != valor) {
        p.valor = valor;
        p.contagem = 0;
    }
    if (++p.contagem == vez) ::raise(SIGKILL);
}

void PausaNoPonto(const char* variavel, std::string_view ponto) {
    namespace fs = std::filesystem;
    const char* pasta = std::getenv(variavel);
    if (!pasta || !*pasta) return;
    const fs::path marca = fs::path(pasta) / std::string(ponto);
    if (std::FILE* f = std::fopen(marca.c_str(), "w")) std::fclose(f);
    const fs::path segue = fs::path(marca.string() + ".segue");
    std::error_code ec;
    for (int i = 0; i < 3000 && !fs::exists(segue, ec); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
