#pragma once
// Message items the service hands between threads, and the locked queue that
// carries them.
//
// A TMsgVeruzadu is a plain value: the console queue carries whole protocol
// lines in FTexto (FCodigo unused), the history queue carries an operation
// code for LOG_OPERACAO and the line's text. Queues are held through
// shared_ptr so a producer that raced with the stop work keeps a valid object;
// the owner "releases" a queue by dropping it from wherever producers find it.

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct TMsgVeruzadu {
    int FCodigo = 0;
    std::string FTexto;
};

// Thread-safe FIFO list of items. Every member takes the queue's own lock and
// releases it before returning, so no caller ever holds it while logging (the
// log lock must come first, see LogServico).
class FilaMensagens final {
  public:
    void Adiciona(TMsgVeruzadu item);
    std::size_t Quantidade() const;
    // Copy of the oldest item without removing it.
    std::optional<TMsgVeruzadu> Primeiro() const;
    // Removes and gives the oldest item.
    std::optional<TMsgVeruzadu> RetiraPrimeiro();
    // Removes and gives every item, oldest first.
    std::vector<TMsgVeruzadu> RetiraTodos();

  private:
    mutable std::mutex trava_;  // guards itens_
    std::deque<TMsgVeruzadu> itens_;
};
