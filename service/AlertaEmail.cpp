#include "service/AlertaEmail.h"

#include <utility>

void FilaEmails::Adiciona(TMsgMailVeruzadu item) {
    std::lock_guard lock(trava_);
    itens_.push_back(std::move(item));
}

std::size_t FilaEmails::Quantidade() const {
    std::lock_guard lock(trava_);
    return itens_.size();
}

std::optional<TMsgMailVeruzadu> FilaEmails::RetiraPrimeiro() {
    std::lock_guard lock(trava_);
    if (itens_.empty()) return std::nullopt;
    TMsgMailVeruzadu item = std::move(itens_.front());
    itens_.pop_front();
    return item;
}

AlertasEmail::AlertasEmail(std::function<int()> categorias) : categorias_(std::move(categorias)) {}

void AlertasEmail::EnfileiraAlertaEmail(std::uint16_t categoria,
                                        const std::vector<std::string>* linhas,
                                        std::string_view texto) {
    const int ativas = categorias_ ? categorias_() : 0;
    if ((ativas & categoria) != categoria) return;
    if (linhas == nullptr && texto.empty()) return;
    TMsgMailVeruzadu msg;
    msg.FCategoria = categoria;
    if (linhas != nullptr)
        msg.FLinhas = *linhas;
    else
        msg.FLinhas.emplace_back(texto);
    if (auto fila = Fila()) fila->Adiciona(std::move(msg));
}

void AlertasEmail::DefineFila(std::shared_ptr<FilaEmails> fila) {
    std::lock_guard lock(trava_);
    fila_ = std::move(fila);
}

std::shared_ptr<FilaEmails> AlertasEmail::Fila() const {
    std::lock_guard lock(trava_);
    return fila_;
}

std::size_t AlertasEmail::ContagemFilaEmails() const {
    auto fila = Fila();
    return fila ? fila->Quantidade() : 0;
}
