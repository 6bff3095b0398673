#pragma once
// "Apagar registros": a unit's per-type statistics (kept current while the
// window is open) and the deletion of its recordings by type and period,
// optionally narrowed by a filter; the logic is in console/ApagaRegistros.
// Made once; opened modally by Abre after the opener connected the unit's
// database. Main thread only.

#include <QDialog>
#include <array>
#include <string>

#include "console/ApagaRegistros.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimeEdit;
class QTimer;
struct ContextoConsole;

class FormApagaReg final : public QDialog {
  public:
    explicit FormApagaReg(ContextoConsole& ctx, QWidget* pai = nullptr);

    int Abre(int codigo, const std::string& nome);
    bool DefineCentral(int codigo, const std::string& nome);
    bool UnidadeConectada() const;

    void CarregaGridInfo();
    void btnApagarClick();
    void spBtnCentraisClick();
    void TimerEventosTimer();
    // The request as the controls stand.
    PedidoApagamento Pedido() const;

    int CodigoPABX = 0;
    int QuantidadeOriginadas = 0, QuantidadeRecebidas = 0, QuantidadeInternas = 0;
    std::array<ResumoTipo, 3> Resumo;

    QLineEdit* meCentral = nullptr;
    QPushButton* spBtnCentrais = nullptr;
    QTableWidget* gridInfo = nullptr;
    QCheckBox *cbDelOri = nullptr, *cbDelRec = nullptr, *cbDelInt = nullptr;
    QComboBox* cbxFiltro = nullptr;
    QLineEdit* edItem = nullptr;
    QDateEdit *dtIni = nullptr, *dtFim = nullptr;
    QTimeEdit *hrIni = nullptr, *hrFim = nullptr;
    QPushButton *btnApagar = nullptr, *btnOk = nullptr, *btnAjuda = nullptr;
    QTimer* TimerEventos = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void Reinicia();
    ContextoConsole& ctx_;
};
