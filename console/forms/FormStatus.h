#pragma once
// "Receber gravações": where the recording service can be reached, whether
// the console is connected to its status server, and per unit the SD-card use
// and the state of its latest download run; from the grid's popup menu (or a
// double click) the user asks the service to download one unit now and
// watches the run in the live log (FormLogGrv).
//
// Made once after the main window; the main window calls LeUltimoRegistro and
// CarregaEstadoCentrais, then exec(). The behaviour lives in
// console/ControleStatus (phases, client, replies) and console/EstadoCentrais
// (the grid); this class binds them to widgets.
//
// Main thread only.

#include <QDialog>
#include <memory>
#include <string>

#include "console/ControleStatus.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;
class ModeloEstadoCentrais;
struct ContextoConsole;

class FormStatus final : public QDialog {
  public:
    FormStatus(ContextoConsole& ctx, QWidget* pai = nullptr);
    ~FormStatus() override;

    // The service's address from CONTROLE (its name resolved again) into
    // the label; FechandoStatus cleared. A failure leaves the label empty.
    void LeUltimoRegistro();
    // Fills the grid again, keeping the selected unit selected.
    void CarregaEstadoCentrais();
    // The menu item and the grid's double click.
    void RealizarDownloadClick();
    void BtnFecharClick();

    ControleStatus& Controle() { return *controle_; }
    ModeloEstadoCentrais& Modelo() { return *modelo_; }
    // Selects the grid row of unit `codigo` (false when it is not listed).
    bool SelecionaCentral(int codigo);

    QLabel* EnderIP = nullptr;
    QLabel* LabelEnderecoVeruzadu = nullptr;
    QLabel* LabelStatus = nullptr;
    QTableView* GridItens = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* RealizarDownload = nullptr;
    QPushButton* BtnFechar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

  private:
    void MostraTela();
    int CodigoSelecionado() const;

    ContextoConsole& ctx_;
    ModeloEstadoCentrais* modelo_ = nullptr;
    std::unique_ptr<ControleStatus> controle_;
};
