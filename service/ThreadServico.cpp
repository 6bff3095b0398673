#include "service/ThreadServico.h"

ThreadServico::~ThreadServico() {
    Terminate();
    std::thread t;
    {
        std::lock_guard<std::mutex> l(trava_);
        t = std::move(thread_);
    }
    if (t.joinable()) t.join();
}

void ThreadServico::Resume() {
    std::lock_guard<std::mutex> l(trava_);
    if (thread_.joinable() || terminou_) return;
    thread_ = std::thread(&ThreadServico::Corpo, this);
}

bool ThreadServico::Iniciada() const {
    std::lock_guard<std::mutex> l(trava_);
    return thread_.joinable() || terminou_;
}

void ThreadServico::Corpo() {
    try {
        Execute();
    } catch (...) {
        // A worker's own failures are logged inside Execute; nothing may escape a thread.
    }
    EstadoThread = 2;
    {
        std::lock_guard<std::mutex> l(trava_);
        terminou_ = true;
    }
    fim_.notify_all();
}

bool ThreadServico::AguardaFim(std::chrono::milliseconds limite) {
    std::unique_lock<std::mutex> l(trava_);
    if (!thread_.joinable()) return true;
    return fim_.wait_for(l, limite, [this] { return terminou_; });
}

void ThreadServico::Junta() {
    std::thread t;
    {
        std::lock_guard<std::mutex> l(trava_);
        if (!terminou_) return;
        t = std::move(thread_);
    }
    if (t.joinable()) t.join();
}
