#include "service/ListaThreads.h"

#include <algorithm>

ListaThreads::~ListaThreads() {
    // Workers still running at this point would use what their owner frees next.
    EncerraTodas(std::chrono::seconds(30));
    std::lock_guard<std::mutex> l(trava_);
    for (auto& t : itens_) {
        // One that never left its body is abandoned rather than freed under it.
        if (t && !t->AguardaFim(std::chrono::milliseconds(0))) (void)t.release();
    }
}

bool ListaThreads::AdicionaSeAusente(std::unique_ptr<ThreadServico> t) {
    std::lock_guard<std::mutex> l(trava_);
    for (const auto& i : itens_)
        if (i->CodigoPABX == t->CodigoPABX) return false;
    itens_.push_back(std::move(t));
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
    std::lock_guard<std::mutex> l(trava_);
    for (auto it = itens_.begin(); it != itens_.end();) {
        if ((*it)->EstadoThread == 2) {
            (*it)->AguardaFim(std::chrono::hours(1));
            (*it)->Junta();
            codigos.push_back((*it)->CodigoPABX);
            it = itens_.erase(it);
        } else {
            ++it;
        }
    }
    return codigos;
}

std::size_t ListaThreads::IniciaNovas() {
    std::lock_guard<std::mutex> l(trava_);
    for (auto& t : itens_) {
        if (t->EstadoThread == 0) {
            t->EstadoThread = 1;
            t->Resume();
        }
    }
    return itens_.size();
}

void ListaThreads::IniciaNovasAte(int limite) {
    std::lock_guard<std::mutex> l(trava_);
    int contador = 0;
    for (auto& t : itens_) {
        if (t->EstadoThread != 0) {
            ++contador;
        } else if (contador < limite) {
            t->EstadoThread = 1;
            t->Resume();
            ++contador;
        }
    }
}

bool ListaThreads::EncerraTodas(std::chrono::milliseconds limite) {
    const auto prazo = std::chrono::steady_clock::now() + limite;
    std::lock_guard<std::mutex> l(trava_);
    for (auto& t : itens_) t->Terminate();
    bool todas = true;
    for (auto it = itens_.begin(); it != itens_.end();) {
        const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
            prazo - std::chrono::steady_clock::now());
        if ((*it)->AguardaFim(std::max(resta, std::chrono::milliseconds(0)))) {
            (*it)->Junta();
            it = itens_.erase(it);
        } else {
            todas = false;
            ++it;
        }
    }
    return todas;
}

void ListaThreads::ParaCada(const std::function<void(ThreadServico&)>& f) const {
    std::lock_guard<std::mutex> l(trava_);
    for (const auto& t : itens_) f(*t);
}
