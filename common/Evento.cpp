#include "common/Evento.h"

void Evento::Sinaliza() {
    {
        std::lock_guard<std::mutex> l(trava_);
        sinalizado_ = true;
    }
    cond_.notify_all();
}

void Evento::Reinicia() {
    std::lock_guard<std::mutex> l(trava_);
    sinalizado_ = false;
}

bool Evento::Aguarda(std::chrono::milliseconds limite) {
    std::unique_lock<std::mutex> l(trava_);
    if (!cond_.wait_for(l, limite, [this] { return sinalizado_; })) return false;
    sinalizado_ = false;
    return true;
}
