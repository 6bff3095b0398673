#pragma once
// "Configuração da conexão com o servidor de base de dados": asks for the
// computer that runs the database server (a host name, or "host/port"),
// writes it and proves it by connecting (ConfigServidorBD). Made on demand
// and destroyed after use; accepted only when the connection succeeded.
// Main thread only.

#include <QDialog>

class MDados;
class Mensageiro;
class QLineEdit;
class QPushButton;

class FormConfigBD final : public QDialog {
  public:
    FormConfigBD(MDados& dados, Mensageiro& mensagens, QWidget* pai = nullptr);

    QLineEdit* EditServer = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void btnOkClick();
    MDados& dados_;
    Mensageiro& mensagens_;
};
