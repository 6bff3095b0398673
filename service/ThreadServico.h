#pragma once
// Base of the service's worker threads (download runs and SD-card checks).
//
// A worker is created suspended and listed by the scheduler; only the main loop
// starts it (Resume). The worker's body sets EstadoThread to 2 as the last thing
// it does; the main loop then joins and frees it. Terminate asks a running body
// to stop at its next check of Terminated(). The object must not be destroyed
// while its body runs: the destructor asks it to stop and joins.
//
// EstadoThread: 0 created, not started; 1 started by the main loop; 2 finished.

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
    std::atomic<int> EstadoThread{0};

    // Starts the body on its own thread; a second call does nothing.
    void Resume();
    void Terminate() { terminado_ = true; }
    bool Terminated() const { return terminado_; }
    bool Iniciada() const;
    // Waits until the body has left (or was never started); false on time-out.
    bool AguardaFim(std::chrono::milliseconds limite);
    // Joins the finished body's thread. Call only after AguardaFim returned true.
    void Junta();

protected:
    // The worker's work. EstadoThread := 2 is set by the base after it returns.
    virtual void Execute() = 0;

private:
    void Corpo();

    std::atomic<bool> terminado_{false};
    mutable std::mutex trava_;  // guards thread_, terminou_
    std::condition_variable fim_;
    std::thread thread_;
    bool terminou_ = false;
};
