#pragma once
// "Edição de central": the editor of one PABX unit (its name, control link,
// how its recordings are fetched, its area code) and of its download
// windows. Made once after the main window and opened by the units list
// (Edita); owns its window dialog (FormEdHoraCentral). The rules, the load
// and the save are in console/EdicaoCentral; this class binds widgets to them.
//
// Main thread only.

#include <QDialog>
#include <string>

#include "console/EdicaoCentral.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QWidget;
class FormEdHoraCentral;
struct ContextoConsole;

class FormEdCentral final : public QDialog {
  public:
    FormEdCentral(ContextoConsole& ctx, QWidget* pai);

    // The units list's entry: `codigo` 0 opens a cleared editor for a new
    // unit, any other loads that unit (a failed load is shown and the editor
    // does not open). True after Ok, with the unit's code and name.
    bool Edita(int& codigo, std::string& nome);

    void LimpaTela();
    // Loads unit CodigoPABX; false (shown) when it cannot be read.
    bool CarregaItem();
    bool SalvaEdicao();
    void BtnOkClick();
    void btnNovoClick();
    void btnApagarClick();
    void cbConexaoZIMBChange();

    EdicaoCentral LeCampos() const;
    void MostraCampos(const EdicaoCentral& e);
    std::vector<std::string> Horarios() const;

    // The unit being edited; 0 for a new one until its save.
    int CodigoPABX = 0;

    QLineEdit* edDescricao;
    QLineEdit* edKELVServer;
    QLineEdit* meKELVPorta;
    QLineEdit* edSenhaKELV;
    QComboBox* cbConexaoZIMB;
    QWidget* PainelZIMBFTP;
    QLineEdit* edZIMBUserFTP;
    QLineEdit* edZIMBSenhaFTP;
    QLineEdit* meZIMBPortaFTP;
    QComboBox* cbZIMBSecFTP;
    QWidget* PainelUSB;
    QLineEdit* edDiscoAudio;
    QSpinBox* asUSBTimeout;
    QLineEdit* meDDD;
    QListWidget* lbHorario;
    QPushButton* btnNovo;
    QPushButton* btnApagar;
    QPushButton* BtnOk;
    QPushButton* BtnCancelar;
    FormEdHoraCentral* formEdHora;

  private:
    void AtualizaApagar();

    ContextoConsole& ctx_;
};
