#pragma once
// A locked list of worker threads, at most one per PABX code, in insertion
// order. The lock is held for every walk and change; a list is never locked
// while another list's lock is held. Freeing a finished worker joins it under
// the lock (a finished worker no longer touches the lists, so the wait is short).

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "service/ThreadServico.h"

class ListaThreads final {
public:
    ListaThreads() = default;
    ~ListaThreads();
    ListaThreads(const ListaThreads&) = delete;
    ListaThreads& operator=(const ListaThreads&) = delete;

    // Tests for a listed worker of the same PABX and adds this one, as one step.
    // False (and the worker is dropped unstarted) when one was listed already.
    bool AdicionaSeAusente(std::unique_ptr<ThreadServico> t);
    bool EstaNaLista(int codigoPABX) const;
    std::size_t Contagem() const;

    // Removes and frees every worker in state 2; gives their PABX codes in order.
    std::vector<int> LiberaConcluidas();

    // Starts every worker in state 0 (state := 1 before it runs) and gives the
    // count of listed workers seen.
    std::size_t IniciaNovas();
    // Starts workers in state 0 only while fewer than `limite` started or
    // finished-but-listed workers stand ahead of them; the rest stay new.
    void IniciaNovasAte(int limite);

    // Asks every worker to stop and waits for all of them, at most `limite` in
    // all. Joined workers are freed; true when none is left running.
    bool EncerraTodas(std::chrono::milliseconds limite);

    // Calls f on each listed worker under the lock.
    void ParaCada(const std::function<void(ThreadServico&)>& f) const;

private:
    mutable std::mutex trava_;  // guards itens_
    std::vector<std::unique_ptr<ThreadServico>> itens_;
};
