#pragma once
// "Acesso": the login dialog, made once and reused at every login (also after
// a reconnection, when another user may log in), and "Troca de senha", the
// password-change dialog made on demand. Both only bind widgets to Acesso.
//
// Quotes typed in either field are discarded; Enter in the login moves to the
// password, Enter in the password confirms, Escape cancels. Main thread only.

#include <QDialog>

#include "console/Acesso.h"
#include "console/forms/ContextoConsole.h"

class QLineEdit;
class QPushButton;
class QLabel;
struct ContextoConsole;

class FormAcesso final : public QDialog {
  public:
    explicit FormAcesso(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Empties both fields and shows the dialog modally; on OK copies the
    // confirmed user to the context. Cancelado only when the user cancelled
    // (Cancel, Escape, the window's close); a dialog closed for him (the
    // connection was lost) is Interrompido.
    ResultadoLogin ExecutaLogin();

    Acesso& Logica() { return acesso_; }

    QLineEdit* edLogin = nullptr;
    QLineEdit* edSenha = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancelar = nullptr;
    QPushButton* btnTrocar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void CancelaPeloUsuario();
    bool VerificaUsuario();
    void BtnOkClick();
    void BtnTrocarClick();

    ContextoConsole& ctx_;
    Acesso acesso_;
    bool canceladoPeloUsuario_ = false;
};

class FormTrocaSenha final : public QDialog {
  public:
    FormTrocaSenha(Mensageiro& mensagens, QWidget* pai = nullptr);

    QLineEdit* edNovaSenha = nullptr;
    QLineEdit* edNovaSenhaConf = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    Mensageiro& mensagens_;
};
