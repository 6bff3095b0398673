#pragma once
// The console's one message box. Every "Erro", "Aviso", "Informação" and
// "Confirmação" (Yes/No) goes through here: a real modal QMessageBox named
// "CaixaMensagem", caption translated, Yes/No captions translated.
//
// Tests either answer the real box (find the visible "CaixaMensagem" and click
// a button; see tests/console/TesteConsole.h) or queue the next answers with
// ProximaResposta, which are then given without showing anything. Either way
// each message is recorded (caption, icon, text) in Mostradas().
//
// Main thread only.

#include <QMessageBox>
#include <QString>
#include <deque>
#include <memory>
#include <vector>

#include "console/Mensageiro.h"

class QWidget;

struct MensagemMostrada {
    QString caption;
    QMessageBox::Icon icone;
    QString texto;
};

class CaixaMensagem final : public Mensageiro {
  public:
    RespostaMensagem Mostra(TipoMensagem tipo, const std::string& texto) override;

    // The next Mostra returns `resposta` at once (recorded, not shown).
    void ProximaResposta(RespostaMensagem resposta) { proximas_.push_back(resposta); }
    const std::vector<MensagemMostrada>& Mostradas() const { return mostradas_; }

    // Parent of the boxes (the main window once it exists).
    QWidget* pai = nullptr;

    static QString Caption(TipoMensagem tipo);
    // The box as Mostra shows it (caption, icon, translated buttons).
    static std::unique_ptr<QMessageBox> Monta(TipoMensagem tipo, const QString& texto,
                                              QWidget* pai);

  private:
    std::deque<RespostaMensagem> proximas_;
    std::vector<MensagemMostrada> mostradas_;
};

// Closes every dialog and message box on screen but `principal` after a
// connection loss: a box with a "No" button gets "No", any other box and every
// dialog is rejected, ending its modal loop.
void FechaTodasJanelas(QWidget* principal);
