#pragma once
// "Edição de gravação": one recording's data (read-only) with its contact and
// identifier to type. OK saves through SalvaEdicaoGravacao and closes only
// when saved; an error keeps the window open with "Não foi possível salvar
// informações de gravação". Made once by the recordings window; main thread.

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;
struct ContextoConsole;

class FormEdGrava final : public QDialog {
  public:
    explicit FormEdGrava(ContextoConsole& ctx, QWidget* pai = nullptr);

    bool SalvaEdicao();
    void BtnOkClick();

    int CodigoGravacao = 0;
    QLineEdit *edRamal = nullptr, *edData = nullptr, *edFone = nullptr, *edDuracao = nullptr,
              *edGrupo = nullptr, *edLiga = nullptr, *edCliente = nullptr,
              *edIdentificador = nullptr;
    QPushButton *btnOk = nullptr, *btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    ContextoConsole& ctx_;
};
