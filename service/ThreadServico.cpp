#include "service/ThreadServico.h"

ThreadServico::~ThreadServico() {
    // Only reached with a running body when an owner skipped Encerra: the
    // derived part is gone already, so the body must not run on for long.
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
    // A worker told to stop before it ran never starts (the stop work may
    // already have waited for it).
    if (thread_.joinable() || terminou_ || terminado_) return;
    estado_ = 1;
    thread_ = std::thread(&ThreadServico::Corpo, this);
}

void ThreadServico::Corpo() {
    try {
        Execute();
    } catch (...) {
        // A worker's own failures are logged inside Execute; nothing may escape a thread.
    }
    {
        std::lock_guard<std::mutex> l(trava_);
        terminou_ = true;
        estado_ = 2;
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

bool ThreadServico::Encerra(std::chrono::milliseconds limite) {
    Terminate();
    if (!AguardaFim(limite)) return false;
    Junta();
    return true;
}
