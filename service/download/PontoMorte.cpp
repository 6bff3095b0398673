#include "service/download/PontoMorte.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

namespace {

struct Escolha {
    std::string nome;
    long vez = 1;
    std::atomic<long> passagens{0};
};

// Read once: the environment does not change under a running service.
Escolha* Escolhida() {
    static Escolha* e = []() -> Escolha* {
        const char* v = std::getenv("VERUZADU_PONTO_MORTE");
        if (!v || !*v) return nullptr;
        auto* r = new Escolha;
        const std::string t(v);
        const auto dois = t.find(':');
        r->nome = t.substr(0, dois);
        if (dois != std::string::npos)
            r->vez = std::max(1L, std::strtol(t.c_str() + dois + 1, nullptr, 10));
        return r;
    }();
    return e;
}

}  // namespace

void PontoMorte(std::string_view nome) {
    Escolha* e = Escolhida();
    if (!e || e->nome != nome) return;
    if (e->passagens.fetch_add(1) + 1 == e->vez) ::raise(SIGKILL);
}
