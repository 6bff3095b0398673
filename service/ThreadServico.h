#pragma once
// Base of the service's worker threads (download runs and SD-card checks).
//
// A worker is created suspended and listed by the scheduler; only the main loop
// starts it (Resume). Its state is kept by this base alone: 0 created, not
// started; 1 started; 2 the body has left Execute (set after it returned or
// threw). Terminate asks a running body to stop at its next check of
// Terminated().
//
// Lifetime: the body runs on its own thread through a wrapper of this base.
// Whoever frees a worker stops and joins it first (Encerra), so the derived
// part is never destroyed under a running body; ListaThreads does that for its
// workers. The base destructor joins as a last resort only.
//
// Thread-safety: every member may be called from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class ThreadServico {
  public:
    explicit ThreadServico(int codigoPABX) : CodigoPABX(codigoPABX) {}
    virtual ~ThreadServico();
    ThreadServico(const ThreadServico&) = delete;
    ThreadServico& operator=(const ThreadServico&) = delete;

    const int CodigoPABX;

    // 0 created, 1 started, 2 finished.
    int EstadoThread() const { return estado_; }
    // Starts the body on its own thread (state := 1 before it runs); a second
    // call does nothing.
    void Resume();
    void Terminate() { terminado_ = true; }
    bool Terminated() const { return terminado_; }
    // Waits until the body has left (or was never started); false on time-out.
    bool AguardaFim(std::chrono::milliseconds limite);
    // Asks the body to stop, waits at most `limite` and joins it. True when no
    // body runs any more (the object may then be freed).
    bool Encerra(std::chrono::milliseconds limite);

  protected:
    // The worker's work. Exceptions that escape it are dropped (a worker logs
    // its own failures).
    virtual void Execute() = 0;

  private:
    void Corpo();
    void Junta();

    std::atomic<int> estado_{0};
    std::atomic<bool> terminado_{false};
    mutable std::mutex trava_;  // guards thread_, terminou_
    std::condition_variable fim_;
    std::thread thread_;
    bool terminou_ = false;
};
