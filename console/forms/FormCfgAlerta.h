#pragma once
// "Configuração de alertas": which alert e-mails the service sends, to whom,
// and through which SMTP server. Made once after the main window; Abre
// reloads the row and shows the window modally. The rules live in
// console/ConfigAlerta; this class only binds widgets to them.
//
// Main thread only.

#include <QDialog>

#include "console/ConfigAlerta.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct ContextoConsole;

class FormCfgAlerta final : public QDialog {
  public:
    FormCfgAlerta(ContextoConsole& ctx, QWidget* pai);

    // Loads the row and shows the window; a failed load (or no row):
    // "Não foi possível carregar configurações", no window.
    void Abre();
    bool CarregaConfiguracaoAlerta();
    EdicaoAlerta LeCampos() const;
    void MostraCampos(const EdicaoAlerta& e);
    bool SalvaEdicao();
    void BtnOkClick();
    void BtnCancelarClick();
    void cbEnviaAlertasClick();
    void cbAuthClick();
    void cbSecChange();

    QCheckBox* cbEnviaAlertaEspaco;
    QCheckBox* cbEnviaAlertaFalha;
    QLabel* lbPara;
    QLineEdit* edParaEmail;
    QLabel* lbCC;
    QLineEdit* edCCEmail;
    QLabel* lbServidor;
    QLineEdit* edServerSMTP;
    QLabel* lbPorta;
    QLineEdit* edPortaSMTP;
    QLabel* lbMail;
    QLineEdit* edMail;
    QCheckBox* cbAuth;
    QLabel* lbUser;
    QLineEdit* edUser;
    QLabel* lbPass;
    QLineEdit* edPass;
    QLabel* lbSec;
    QComboBox* cbSec;
    QPushButton* btnOk;
    QPushButton* btnCancelar;

  private:
    void AtualizaHabilitados();

    ContextoConsole& ctx_;
};
