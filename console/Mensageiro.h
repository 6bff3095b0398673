#pragma once
// How the console's logic asks the user something or tells him something
// without knowing about windows. The forms layer implements it with real
// message boxes (CaixaMensagem); the logic classes take a reference to it.
//
// Main thread only. Implementations translate the caption; the text comes
// already translated.

#include <string>

enum class TipoMensagem {
    Erro,         // caption "Erro", error icon, Ok
    Aviso,        // caption "Aviso", warning icon, Ok
    Informacao,   // caption "Informação", information icon, Ok
    Confirmacao,  // caption "Confirmação", question icon, Yes and No
};

enum class RespostaMensagem { Ok, Sim, Nao };

class Mensageiro {
  public:
    virtual ~Mensageiro() = default;
    // Shows the message and waits for the answer (Ok for the first three kinds).
    virtual RespostaMensagem Mostra(TipoMensagem tipo, const std::string& texto) = 0;
};
