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

class QPushButton;
class QTableWidget;
class QTimer;
struct ContextoConsole;

class FormCentrais final : public QDialog {
  public:
    explicit FormCentrais(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Fills the list; the row of `codigo` becomes the selected one.
    void CarregaItens(int codigo);
    // Deletes the unit with its dependent rows; false (error shown and logged) when refused.
    bool RemoveItem(int codigo);
    void BtnNovoClick();
    void BtnEditarClick();
    void BtnApagarClick();
    // What follows the editor's OK for a new unit: history row 23, the list
    // reloaded, the unit's database made and connected (its failure shown
    // with the server's reason; the unit row stays).
    void AposNovaCentral(int codigo, const std::string& nome);
    void TimerEventosTimer();

    int QuantidadeCentrais = 0;
    int CodigoSelecionado = 0;
    int CodigoDaLinha(int linha) const;
    std::string NomeDaLinha(int linha) const;

    // Seams: the unit editor (new: codigo 0 in, the new code out; true on OK)
    // and the unit's other windows (after its database was connected).
    std::function<bool(int& codigo, std::string& nome)> EditaCentral;
    std::function<void(int codigo, const std::string&nome)> AbreRamais, AbreGravacoes,
        AbreApagaRegistros;

    QTableWidget* GridItens = nullptr;
    QPushButton *btnNovo = nullptr, *btnEditar = nullptr, *btnApagar = nullptr,
                *btnRamais = nullptr, *btnGravacoes = nullptr, *btnDelReg = nullptr,
                *btnOk = nullptr, *btnAjuda = nullptr;
    QTimer* TimerEventos = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    int CodigoAtual() const;
    bool ConectaSelecionada(int& codigo, std::string& nome);

    ContextoConsole& ctx_;
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
