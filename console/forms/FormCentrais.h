#pragma once
// "Configuração de centrais": the administrator's list of PABX units (at most
// 140), from which units are added, edited and deleted and a unit's other
// windows are opened; and "Seleção de central", the modal unit picker.
// Both are made once and reused; main thread only. The logic (reading,
// removal, the unit database) is in console/Centrais.
//
// The unit editor and the unit's other windows come in through the seams
// below; without one, its button does nothing.

#include <QDialog>
#include <functional>
#include <string>

#include "console/forms/ListaCadastro.h"

class QPushButton;
class QTableWidget;
struct ContextoConsole;

// The list's code is its second column.
class FormCentrais final : public ListaCadastro {
  public:
    explicit FormCentrais(ContextoConsole& ctx, QWidget* pai = nullptr);

    void CarregaItens(int codigo) override;
    // Deletes the unit with its dependent rows; false (error shown and logged) when refused.
    bool RemoveItem(int codigo);
    void BtnNovoClick() override;
    void BtnEditarClick() override;
    void BtnApagarClick() override;
    // What follows the editor's OK for a new unit: history row 23, the list
    // reloaded, the unit's database made and connected (its failure shown
    // with the server's reason; the unit row stays).
    void AposNovaCentral(int codigo, const std::string& nome);

    // Seams: the unit editor (new: codigo 0 in, the new code out; true on OK)
    // and the unit's other windows (after its database was connected).
    std::function<bool(int& codigo, std::string& nome)> EditaCentral;
    std::function<void(int codigo, const std::string&nome)> AbreRamais, AbreGravacoes,
        AbreApagaRegistros;

    QPushButton *btnRamais = nullptr, *btnGravacoes = nullptr, *btnDelReg = nullptr;

  private:
    bool ConectaSelecionada(int& codigo, std::string& nome);
};

class FormBuscaCentral final : public QDialog {
  public:
    explicit FormBuscaCentral(ContextoConsole& ctx, QWidget* pai = nullptr);

    void CarregaItens();
    void btnOkClick();

    int CodigoPABX = 0;
    std::string NomePABX;

    QTableWidget* GridItens = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancela = nullptr;

  private:
    ContextoConsole& ctx_;
};
