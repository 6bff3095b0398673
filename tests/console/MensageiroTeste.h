#pragma once
// A Mensageiro for logic tests without windows: records every message and
// answers with the queued answers (Ok, or No for questions, when none is left).

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "console/Mensageiro.h"

class MensageiroTeste final : public Mensageiro {
  public:
    RespostaMensagem Mostra(TipoMensagem tipo, const std::string& texto) override {
        mostradas.emplace_back(tipo, texto);
        if (!respostas.empty()) {
            auto r = respostas.front();
            respostas.pop_front();
            return r;
        }
        return tipo == TipoMensagem::Confirmacao ? RespostaMensagem::Nao : RespostaMensagem::Ok;
    }
    std::vector<std::pair<TipoMensagem, std::string>> mostradas;
    std::deque<RespostaMensagem> respostas;
};
