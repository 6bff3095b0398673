#pragma once
// A worker thread that polls a step machine at a fixed period and hands the
// steps that must run on the main thread (requests, database work, widget
// changes) to it, waiting for each before it polls again.
//
// Verifica runs on the worker; Envia and AoTerminar run on the main thread
// (the thread that made the object, reached through a queued call, PostaEm;
// what is handed over travels under the object's mutex). The worker
// never holds a lock while the main thread works, and the destructor (main
// thread) cancels a pending hand-over and joins the worker, so destroying
// the object while a step is queued neither deadlocks nor runs the step
// afterwards. Each poll waits at most one period; every wait ends when the
// object is cancelled. AoTerminar runs inside a call queued on this object:
// it must not destroy the object (destroy it later, e.g. at the next start).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

class TrabalhadorPassos final {
  public:
    enum class Acao { Aguarda, EnviaNaPrincipal, Termina };

    TrabalhadorPassos(std::function<Acao()> verifica, std::function<void()> envia,
                      std::function<void()> aoTerminar,
                      std::chrono::milliseconds periodo = std::chrono::milliseconds(100));
    ~TrabalhadorPassos();
    TrabalhadorPassos(const TrabalhadorPassos&) = delete;
    TrabalhadorPassos& operator=(const TrabalhadorPassos&) = delete;

    void Inicia();
    // True from Inicia until AoTerminar has run.
    bool Executando() const { return executando_; }

  private:
    enum class Pedido { Nenhum, Envio, Fim };

    void Corpo();
    // Asks the main thread for a step (or the end) and wakes it.
    void Pede(Pedido pedido);
    // Runs Envia on the main thread and waits for it; false when cancelled.
    bool NaPrincipal();
    // Main thread: what the worker asked for.
    void Atende();

    std::function<Acao()> verifica_;
    std::function<void()> envia_;
    std::function<void()> aoTerminar_;
    std::chrono::milliseconds periodo_;
    // Lives on the main thread; the worker's requests are queued calls on it.
    std::unique_ptr<QObject> receptor_;
    std::mutex trava_;  // guards cancelado_, feito_, pedido_
    std::condition_variable sinal_;
    bool cancelado_ = false;
    bool feito_ = false;
    Pedido pedido_ = Pedido::Nenhum;
    bool executando_ = false;  // main thread only
    std::thread worker_;
};
