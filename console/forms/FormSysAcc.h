#pragma once
// "Administrador do banco de dados": the server administrator's name and
// password for registering the program's database user. Opens with "VBXTME"
// and "pulvenard" every time; quotes cannot be typed; Enter confirms and
// Escape cancels. What is typed is never stored. Made on demand and destroyed
// after use. Main thread only.

#include <QDialog>

#include "common/db/RegistroUsuario.h"

class QLineEdit;
class QPushButton;

class FormSysAcc final : public QDialog {
  public:
    explicit FormSysAcc(QWidget* pai = nullptr);

    // Shows the dialog modally; true with the typed values (trimmed, cut to
    // 20 characters) when confirmed.
    static bool Pede(QWidget* pai, CredenciaisAdmin& credenciais);

    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancelar = nullptr;
};
