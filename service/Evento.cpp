#include "service/Evento.h"

void Evento::Sinaliza() {
    {
        std::lock_guard<std::mutex> l(trava_);
        sinalizado_ = true;
    }
    cond_.notify_one();
}

bool Evento::Aguarda(std::chrono::milliseconds limite) {
    std::unique_lock<std::mutex> l(trava_);
    const bool ok = cond_.wait_for(l, limite, [this] { return sinalizado_; });
    sinalizado_ = false;
    return ok;
}
