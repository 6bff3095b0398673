#include "service/MsgVeruzadu.h"

#include <iterator>

void FilaMensagens::Adiciona(TMsgVeruzadu item) {
    std::lock_guard lock(trava_);
    itens_.push_back(std::move(item));
}

std::size_t FilaMensagens::Quantidade() const {
    std::lock_guard lock(trava_);
    return itens_.size();
}

std::optional<TMsgVeruzadu> FilaMensagens::Primeiro() const {
    std::lock_guard lock(trava_);
    if (itens_.empty()) return std::nullopt;
    return itens_.front();
}

std::optional<TMsgVeruzadu> FilaMensagens::RetiraPrimeiro() {
    std::lock_guard lock(trava_);
    if (itens_.empty()) return std::nullopt;
    TMsgVeruzadu item = std::move(itens_.front());
    itens_.pop_front();
    return item;
}

std::vector<TMsgVeruzadu> FilaMensagens::RetiraTodos() {
    std::lock_guard lock(trava_);
    std::vector<TMsgVeruzadu> todos(std::make_move_iterator(itens_.begin()),
                                    std::make_move_iterator(itens_.end()));
    itens_.clear();
    return todos;
}
