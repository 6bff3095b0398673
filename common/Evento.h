#pragma once
// An auto-reset event: Sinaliza wakes the waiters (or the next one to wait);
// a successful Aguarda consumes it. Used by the service's main loop and by the
// PABX control link. Thread-safe; any thread may signal or wait.

#include <chrono>
#include <condition_variable>
#include <mutex>

class Evento final {
  public:
    Evento() = default;
    Evento(const Evento&) = delete;
    Evento& operator=(const Evento&) = delete;

    void Sinaliza();
    // Clears a signal that nobody consumed.
    void Reinicia();
    // True when the event was set within the time limit (and consumes it).
    bool Aguarda(std::chrono::milliseconds limite);

  private:
    std::mutex trava_;  // guards sinalizado_
    std::condition_variable cond_;
    bool sinalizado_ = false;
};
