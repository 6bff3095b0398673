#pragma once
// A locked list of worker threads, at most one per PABX code, in insertion
// order. The lock guards the list itself and is never held while waiting for
// a worker: walks take shared handles under the lock and wait after releasing
// it, so callers such as the status server's EstaNaLista never block behind a
// stop. A list is never locked while another list's lock is held.
//
// Ownership: the list owns its workers. A worker leaves the list only once its
// body has left (finished, or stopped and joined); one that never stops is
// kept, never freed under its body (see EncerraTodas). Once Fecha has run, the
// list takes no new worker.
//
// Thread-safety: every member may be called from any thread.

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
    // Stops what is still listed (briefly); a worker that will not stop is
    // left running rather than freed under its body. The service never gets
    // here with one: it ends the process instead (see pelmoran's main).
    ~ListaThreads();
    ListaThreads(const ListaThreads&) = delete;
    ListaThreads& operator=(const ListaThreads&) = delete;

    // Tests for a listed worker of the same PABX and adds this one, as one step.
    // False (and the worker is dropped unstarted) when one was listed already
    // or the list is closed.
    bool AdicionaSeAusente(std::unique_ptr<ThreadServico> t);
    bool EstaNaLista(int codigoPABX) const;
    std::size_t Contagem() const;

    // Removes and frees every finished worker (state 2); gives their PABX
    // codes in order.
    std::vector<int> LiberaConcluidas();

    // Starts every worker in state 0 and gives the count of listed workers seen.
    std::size_t IniciaNovas();
    // Starts workers in state 0 only while fewer than `limite` started or
    // finished-but-listed workers stand ahead of them; the rest stay new.
    void IniciaNovasAte(int limite);

    // No worker is added from now on (the stop work's first step).
    void Fecha();
    // Asks every worker to stop, without waiting.
    void TerminaTodas();
    // Asks every worker to stop and waits for all of them until `prazo`.
    // Joined workers are freed; gives how many are left running.
    std::size_t EncerraTodas(std::chrono::steady_clock::time_point prazo);

    // Calls f on each listed worker under the lock (f must not wait).
    void ParaCada(const std::function<void(ThreadServico&)>& f) const;

  private:
    using Item = std::shared_ptr<ThreadServico>;
    static Item Envolve(std::unique_ptr<ThreadServico> t);

    mutable std::mutex trava_;  // guards itens_, fechada_
    std::vector<Item> itens_;
    bool fechada_ = false;
};
