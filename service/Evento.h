#pragma once
// An auto-reset event: Sinaliza wakes one waiter (or the next one to wait);
// Aguarda returns true when the event was set within the time limit.
// Thread-safe; any thread may signal or wait.

#include <chrono>
#include <condition_variable>
#include <mutex>

class Evento final {
public:
    Evento() = default;
    Evento(const Evento&) = delete;
    Evento& operator=(const Evento&) = delete;

    void Sinaliza();
    bool Aguarda(std::chrono::milliseconds limite);

private:
    std::mutex trava_;  // guards sinalizado_
    std::condition_variable cond_;
    bool sinalizado_ = false;
};
