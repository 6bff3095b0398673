#pragma once
// What the register list windows (units, contacts, groups, users) share: the
// grid of items with one column holding the code (the first unless told),
// the buttons "&Novo", "&Editar", "&Apagar", "&Ok", "A&juda" (a window adds
// its own under the first three), the keys (Insert adds, Enter edits, Delete
// deletes), the remembered row and the 5000 ms timer that reloads the list
// when another console changed the registers (MDados::EventoCadastro).
//
// A window derives from it and fills the grid in CarregaItens with
// PreencheGrade. Made once and reused; main thread only.

#include <QDialog>
#include <QStringList>
#include <string>
#include <vector>

class QPushButton;
class QTableWidget;
class QTimer;
class QVBoxLayout;
struct ContextoConsole;

class ListaCadastro : public QDialog {
  public:
    ListaCadastro(ContextoConsole& ctx, const char* nomeObjeto, const char* titulo,
                  const QStringList& colunas, QWidget* pai, int colunaCodigo = 0);

    // Reloads the list; the row of `codigo` becomes the selected one.
    virtual void CarregaItens(int codigo) = 0;
    virtual void BtnNovoClick() = 0;
    virtual void BtnEditarClick() = 0;
    virtual void BtnApagarClick() = 0;
    void TimerEventosTimer();

    int CodigoDaLinha(int linha) const;
    std::string TextoDaLinha(int linha, int coluna) const;
    // Code of the current row (0 when none).
    int CodigoAtual() const;
    // Rows listed (the empty row of an empty list not counted).
    int Quantidade = 0;
    // The code of the row last clicked (0 when none), reselected on reloads.
    int CodigoSelecionado = 0;

    QTableWidget* GridItens = nullptr;
    QPushButton *btnNovo = nullptr, *btnEditar = nullptr, *btnApagar = nullptr, *btnOk = nullptr,
                *btnAjuda = nullptr;
    QTimer* TimerEventos = nullptr;

  protected:
    // Another button under "&Apagar" (after a gap when `separado`).
    QPushButton* AcrescentaBotao(const char* nome, const char* texto, bool separado = false);
    // Fills the grid: one row per item (cells as given; the code column
    // carries `codigos` beside its text),
    // one empty row when there is none; selects the row of `codigo`; enables
    // "&Editar" and "&Apagar" only when something is listed.
    void PreencheGrade(const std::vector<std::vector<std::string>>& linhas,
                       const std::vector<int>& codigos, int codigo);
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

    ContextoConsole& ctx_;

  private:
    const int colunaCodigo_;
    QVBoxLayout* lado_ = nullptr;
};
