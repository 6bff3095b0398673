#include "service/ListaThreads.h"

#include <algorithm>
#include <cstdio>

namespace {

// The last handle to a worker frees it only once its body has left; a body
// still running is left alone (its object stays valid for it).
struct Liberador {
    void operator()(ThreadServico* t) const {
        if (t->Encerra(std::chrono::milliseconds(0))) {
            delete t;
        } else {
            std::fprintf(stderr, "worker of PABX %d still running: left to end with the process\n",
                         t->CodigoPABX);
        }
    }
};

}  // namespace

ListaThreads::Item ListaThreads::Envolve(std::unique_ptr<ThreadServico> t) {
    return Item(t.release(), Liberador{});
}

ListaThreads::~ListaThreads() {
    EncerraTodas(std::chrono::steady_clock::now() + std::chrono::seconds(10));
}

bool ListaThreads::AdicionaSeAusente(std::unique_ptr<ThreadServico> t) {
    if (!t) return false;
    std::lock_guard<std::mutex> l(trava_);
    if (fechada_) return false;
    for (const auto& i : itens_)
        if (i->CodigoPABX == t->CodigoPABX) return false;
    itens_.push_back(Envolve(std::move(t)));
    return true;
}

bool ListaThreads::EstaNaLista(int codigoPABX) const {
    std::lock_guard<std::mutex> l(trava_);
    return std::any_of(itens_.begin(), itens_.end(),
                       [&](const auto& t) { return t->CodigoPABX == codigoPABX; });
}

std::size_t ListaThreads::Contagem() const {
    std::lock_guard<std::mutex> l(trava_);
    return itens_.size();
}

std::vector<int> ListaThreads::LiberaConcluidas() {
    std::vector<int> codigos;
    std::vector<Item> concluidas;
    {
        std::lock_guard<std::mutex> l(trava_);
        for (auto it = itens_.begin(); it != itens_.end();) {
            if ((*it)->EstadoThread() == 2) {
                codigos.push_back((*it)->CodigoPABX);
                concluidas.push_back(std::move(*it));
                it = itens_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // State 2 is set as the body's last step: the joins here are short.
    for (auto& t : concluidas) t->Encerra(std::chrono::seconds(10));
    return codigos;
}

std::size_t ListaThreads::IniciaNovas() {
    std::lock_guard<std::mutex> l(trava_);
    for (auto& t : itens_)
        if (t->EstadoThread() == 0) t->Resume();
    return itens_.size();
}

void ListaThreads::IniciaNovasAte(int limite) {
    std::lock_guard<std::mutex> l(trava_);
    int contador = 0;
    for (auto& t : itens_) {
        if (t->EstadoThread() != 0) {
            ++contador;
        } else if (contador < limite) {
            t->Resume();
            ++contador;
        }
    }
}

void ListaThreads::Fecha() {
    std::lock_guard<std::mutex> l(trava_);
    fechada_ = true;
}

void ListaThreads::TerminaTodas() {
    std::lock_guard<std::mutex> l(trava_);
    for (auto& t : itens_) t->Terminate();
}

std::size_t ListaThreads::EncerraTodas(std::chrono::steady_clock::time_point prazo) {
    std::vector<Item> todas;
    {
        std::lock_guard<std::mutex> l(trava_);
        todas = itens_;
    }
    for (auto& t : todas) t->Terminate();
    std::size_t restantes = 0;
    std::vector<ThreadServico*> paradas;
    for (auto& t : todas) {
        const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
            prazo - std::chrono::steady_clock::now());
        if (t->Encerra(std::max(resta, std::chrono::milliseconds(0))))
            paradas.push_back(t.get());
        else
            ++restantes;
    }
    {
        std::lock_guard<std::mutex> l(trava_);
        std::erase_if(itens_, [&](const Item& i) {
            return std::find(paradas.begin(), paradas.end(), i.get()) != paradas.end();
        });
    }
    return restantes;
}

void ListaThreads::ParaCada(const std::function<void(ThreadServico&)>& f) const {
    std::lock_guard<std::mutex> l(trava_);
    for (const auto& t : itens_) f(*t);
}
