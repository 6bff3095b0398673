#include "console/TrabalhadorPassos.h"

TrabalhadorPassos::TrabalhadorPassos(std::function<Acao()> verifica, std::function<void()> envia,
                                     std::function<void()> aoTerminar,
                                     std::chrono::milliseconds periodo)
    : verifica_(std::move(verifica)),
      envia_(std::move(envia)),
      aoTerminar_(std::move(aoTerminar)),
      periodo_(periodo),
      contexto_(std::make_unique<QObject>()) {}

TrabalhadorPassos::~TrabalhadorPassos() {
    {
        std::lock_guard trava(trava_);
        cancelado_ = true;
    }
    sinal_.notify_all();
    if (worker_.joinable()) worker_.join();
    // Queued calls to the context die with it.
    contexto_.reset();
}

void TrabalhadorPassos::Inicia() {
    if (executando_) return;
    executando_ = true;
    worker_ = std::thread([this] { Corpo(); });
}

bool TrabalhadorPassos::NaPrincipal() {
    {
        std::lock_guard trava(trava_);
        if (cancelado_) return false;
        feito_ = false;
    }
    QMetaObject::invokeMethod(
        contexto_.get(),
        [this] {
            envia_();
            {
                std::lock_guard trava(trava_);
                feito_ = true;
            }
            sinal_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock trava(trava_);
    sinal_.wait(trava, [this] { return feito_ || cancelado_; });
    return !cancelado_;
}

void TrabalhadorPassos::Corpo() {
    for (;;) {
        const Acao acao = verifica_();
        if (acao == Acao::Termina) break;
        if (acao == Acao::EnviaNaPrincipal && !NaPrincipal()) return;
        std::unique_lock trava(trava_);
        if (sinal_.wait_for(trava, periodo_, [this] { return cancelado_; })) return;
    }
    QMetaObject::invokeMethod(
        contexto_.get(),
        [this] {
            if (worker_.joinable()) worker_.join();
            executando_ = false;
            aoTerminar_();
        },
        Qt::QueuedConnection);
}
