#pragma once
// "Configuração de armazenamento": conversion, encryption and its key, the
// copies of each recording to a folder or an FTP server, the database backup
// period and folder. Made once after the main window; Abre reloads the
// record and shows the window modally. The rules live in
// console/ConfigArmazenamento; this class only binds widgets to them.
//
// Main thread only.

#include <QDialog>

#include "console/ConfigArmazenamento.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
struct ContextoConsole;

class FormConfig final : public QDialog {
  public:
    FormConfig(ContextoConsole& ctx, QWidget* pai);

    // Reloads ConfiguracaoGeral from the row and shows the window. A failed
    // load (or no row): "Não foi possível carregar configurações", no window.
    void Abre();
    // Fills the controls from ConfiguracaoGeral.
    void ApresentaConfiguracao();
    EdicaoConfig LeCampos() const;
    bool SalvaEdicao();
    void BtnOkClick();
    void BtnCancelarClick();

    QGroupBox* gbArquivamento;
    QCheckBox* cbConverterOGG;
    QCheckBox* cbCripto;
    QLabel* lbChaveCripto;
    QLineEdit* edChaveCripto;
    QGroupBox* gbBackup;
    QCheckBox* cbNetBackup;
    QLabel* lbFormatoNet;
    QComboBox* cbFormatoNET;
    QLabel* lbFolderNet;
    QLineEdit* edNetPath;
    QToolButton* spBtnNET;
    QCheckBox* cbFTPbackup;
    QLabel* lbFormatoFTP;
    QComboBox* cbFormatoFTP;
    QLabel* lbServFTP;
    QLineEdit* edServFTP;
    QLabel* lbPortaFTP;
    QLineEdit* mePortaFTP;
    QLabel* lbSecFTP;
    QComboBox* cbSecFTP;
    QLabel* lbUserFTP;
    QLineEdit* edUserFTP;
    QLabel* lbSenhaFTP;
    QLineEdit* edSenhaFTP;
    QGroupBox* gbBackupDB;
    QComboBox* cbBackupDB;
    QLabel* lbFolderBackupDB;
    QLineEdit* edPathBackupDB;
    QToolButton* spBtnDB;
    QPushButton* btnOk;
    QPushButton* btnCancelar;

  private:
    void AtualizaHabilitados();
    void EscolhePasta(QToolButton* botao, QLineEdit* destino);
    static void PreencheFormatos(QComboBox* lista, bool criptografado);

    ContextoConsole& ctx_;
};
