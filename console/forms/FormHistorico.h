#pragma once
// "Histórico de ocorrências": searches the history by period, user and
// operation, lists the rows through ModeloHistorico (paged, sorted by the
// column clicked) and, after a search, reloads every 5 s when the database
// signalled a change. Made once; main thread only.

#include <QDialog>

class QComboBox;
class QDateEdit;
class QPushButton;
class QTableView;
class QTimer;
class ModeloHistorico;
struct ContextoConsole;

class FormHistorico final : public QDialog {
  public:
    explicit FormHistorico(ContextoConsole& ctx, QWidget* pai = nullptr);

    void CarregaFiltros();
    void btnPesquisaClick();
    void TimerEventosTimer();
    ModeloHistorico& Modelo() { return *modelo_; }

    QComboBox* cbUsuario = nullptr;
    QComboBox* cbOperacao = nullptr;
    QDateEdit* dtIni = nullptr;
    QDateEdit* dtFim = nullptr;
    QPushButton* btnPesquisar = nullptr;
    QTableView* GridItens = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnAjuda = nullptr;
    QTimer* TimerEventos = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

  private:
    ContextoConsole& ctx_;
    ModeloHistorico* modelo_ = nullptr;
};
