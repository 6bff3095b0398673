#include "console/TrabalhadorPassos.h"

#include <QObject>

#include "console/PostaEm.h"

TrabalhadorPassos::TrabalhadorPassos(std::function<Acao()> verifica, std::function<void()> envia,
                                     std::function<void()> aoTerminar,
                                     std::chrono::milliseconds periodo)
    : verifica_(std::move(verifica)), envia_(std::move(envia)), aoTerminar_(std::move(aoTerminar)),
      periodo_(periodo), receptor_(std::make_unique<QObject>()) {}

TrabalhadorPassos::~TrabalhadorPassos() {
    {
        std::lock_guard trava(trava_);
        cancelado_ = true;
    }
    sinal_.notify_all();
    if (worker_.joinable()) worker_.join();
    // A request still queued dies with its receiver.
    receptor_.reset();
}

void TrabalhadorPassos::Inicia() {
    if (executando_) return;
    executando_ = true;
    worker_ = std::thread([this] { Corpo(); });
}

void TrabalhadorPassos::Pede(Pedido pedido) {
    {
        std::lock_guard trava(trava_);
        pedido_ = pedido;
        feito_ = false;
    }
    PostaEm(receptor_.get(), [this] { Atende(); });
}

bool TrabalhadorPassos::NaPrincipal() {
    {
        std::lock_guard trava(trava_);
        if (cancelado_) return false;
    }
    Pede(Pedido::Envio);
    std::unique_lock trava(trava_);
    sinal_.wait(trava, [this] { return feito_ || cancelado_; });
    return !cancelado_;
}

void TrabalhadorPassos::Atende() {
    Pedido pedido;
    {
        std::lock_guard trava(trava_);
        pedido = pedido_;
        pedido_ = Pedido::Nenhum;
    }
    if (pedido == Pedido::Envio) {
        envia_();
        {
            std::lock_guard trava(trava_);
            feito_ = true;
        }
        sinal_.notify_all();
    } else if (pedido == Pedido::Fim) {
        if (worker_.joinable()) worker_.join();
        executando_ = false;
        aoTerminar_();
    }
}

void TrabalhadorPassos::Corpo() {
    for (;;) {
        const Acao acao = verifica_();
        if (acao == Acao::Termina) break;
        if (acao == Acao::EnviaNaPrincipal && !NaPrincipal()) return;
        std::unique_lock trava(trava_);
        if (sinal_.wait_for(trava, periodo_, [this] { return cancelado_; })) return;
    }
    Pede(Pedido::Fim);
}
