#include "common/db/VigiaComandos.h"

#include <algorithm>

#include "common/db/FirebirdInterno.h"

using namespace Firebird;

VigiaComandos::VigiaComandos(std::chrono::milliseconds limite,
                             std::chrono::milliseconds limiteFecha)
    : limite_(limite), limiteFecha_(limiteFecha) {
    thread_ = std::thread([this] { Roda(); });
}

VigiaComandos::~VigiaComandos() {
    {
        std::lock_guard lk(mutex_);
        fim_ = true;
    }
    cv_.notify_all();
    thread_.join();
    // Guards outliving the watcher are a caller's error; their references go here.
    for (const auto& e : entradas_) e->att->release();
}

void VigiaComandos::DefineLimite(std::chrono::milliseconds limite) {
    std::lock_guard lk(mutex_);
    limite_ = limite;
}

VigiaComandos::Guarda VigiaComandos::Vigia(IAttachment* att) {
    if (!att) return Guarda(nullptr, nullptr);
    auto e = std::make_shared<Entrada>();
    e->att = att;
    att->addRef();
    {
        std::lock_guard lk(mutex_);
        e->prazo = std::chrono::steady_clock::now() + limite_;
        entradas_.push_back(e);
    }
    cv_.notify_all();
    return Guarda(this, std::move(e));
}

void VigiaComandos::Termina(const std::shared_ptr<Entrada>& e) {
    std::lock_guard lk(mutex_);
    auto i = std::find(entradas_.begin(), entradas_.end(), e);
    if (i == entradas_.end()) return;
    entradas_.erase(i);
    e->att->release();
}

VigiaComandos::Guarda::~Guarda() {
    if (vigia_ && entrada_) vigia_->Termina(entrada_);
}

bool VigiaComandos::Guarda::Disparou() const {
    if (!vigia_ || !entrada_) return false;
    std::lock_guard lk(vigia_->mutex_);
    return entrada_->estagio > 0;
}

void VigiaComandos::Roda() {
    std::unique_lock lk(mutex_);
    while (!fim_) {
        const auto agora = std::chrono::steady_clock::now();
        auto proximo = agora + std::chrono::seconds(60);
        for (const auto& e : entradas_) {
            if (e->estagio < 2 && e->prazo <= agora) {
                // Under the mutex: the guard cannot end (and drop the
                // connection) while the request goes out.
                fbinterno::Status st;
                e->att->cancelOperation(st.Ptr(),
                                        e->estagio == 0 ? fb_cancel_raise : fb_cancel_abort);
                ++e->estagio;
                e->prazo = agora + limiteFecha_;
            }
            if (e->estagio < 2) proximo = std::min(proximo, e->prazo);
        }
        cv_.wait_until(lk, proximo);
    }
}
