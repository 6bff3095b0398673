#pragma once
// "Configuração de grupos" (the list of groups) and "Edição de grupo" (one
// group: its name and, for each PABX unit, the extensions it may see). The
// rules and the database work are in console/Grupos; these windows only bind
// widgets to them. Both are made once and reused; main thread only.

#include <QDialog>
#include <QListWidget>
#include <functional>
#include <string>
#include <vector>

#include "console/Grupos.h"
#include "console/forms/ListaCadastro.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
struct ContextoConsole;

// One of the editor's two extension lists: sorted, multi-select, and a drop
// of the other list's selection moves it here through `AoSoltar`.
class ListaRamais final : public QListWidget {
  public:
    explicit ListaRamais(QWidget* pai = nullptr);
    // Called with the list the entries were dragged from.
    std::function<void(ListaRamais* origem)> AoSoltar;
    std::vector<std::string> Selecionadas() const;
    void Preenche(const std::vector<std::string>& entradas);
    std::vector<std::string> Entradas() const;

  protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
};

class FormEdGrupo final : public QDialog {
  public:
    explicit FormEdGrupo(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Empties the name, both lists (greyed) and the grid (one empty row).
    void LimpaTela();
    // Reads the group CodigoGrupo (0: new) and the units into the grid; for
    // an existing group the lists of the first unit it sees are shown. False,
    // with the reason shown, when the group is gone or could not be read.
    bool CarregaGrupo();
    // Shows the lists of the grid's current unit (its names refreshed first).
    void CarregaRamaisPABXGrupo();
    // The shown "Com permissão" list becomes the unit's choice.
    void SalvaRamaisPABXSelecionado();
    // Validates and stores the group; false with the message shown ("Erro").
    bool SalvaEdicao();
    void BtnOkClick();
    void BtnCancelarClick();
    // The movers (buttons and drag-and-drop).
    void MoveSelecionados(ListaRamais* origem);
    void MoveTodos(ListaRamais* origem);

    int CodigoGrupo = 0;
    int CodigoPABXMostrado = 0;
    EdicaoGrupo Edicao;

    QLineEdit* edGrupo = nullptr;
    QTableWidget* GridItens = nullptr;
    QGroupBox* gbRamais = nullptr;
    ListaRamais* ListBoxRamDisp = nullptr;
    ListaRamais* ListBoxRamSel = nullptr;
    QPushButton *btnLR = nullptr, *btnFLR = nullptr, *btnRL = nullptr, *btnFRL = nullptr;
    QPushButton *btnOk = nullptr, *btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void MostraListas();
    int CodigoPABXDaLinha(int linha) const;
    void AcessoClicado(int linha);

    ContextoConsole& ctx_;
    bool preenchendo_ = false;
};

class FormGrupos final : public ListaCadastro {
  public:
    explicit FormGrupos(ContextoConsole& ctx, QWidget* pai = nullptr);

    void CarregaItens(int codigo) override;
    // Every group name, sorted (for the user editor's choice).
    void CarregaListaGrupos();
    std::vector<std::string> ListaGrupos;
    // Deletes the group (its rows, its users' group, the history row) in one
    // transaction; false with the reason shown.
    bool RemoveItem(int codigo, const std::string& nome);
    void BtnNovoClick() override;
    void BtnEditarClick() override;
    void BtnApagarClick() override;

    // A group was added, edited or deleted since the user editor cleared it.
    bool GruposAlterados = false;

    FormEdGrupo* editor() { return editor_; }

  private:
    FormEdGrupo* editor_ = nullptr;
};
