#pragma once
// "Configuração de contatos": the list of contacts, from which contacts are
// added, edited and deleted (through the editor FormEdCliente, made here
// once) and written to or read from a contact file. Made once with the main
// window; main thread only. The logic is in console/Contatos and
// console/AgendaContatos.

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "console/AgendaContatos.h"

class QPushButton;
class QTableWidget;
class QTimer;
class FormEdCliente;
struct ContextoConsole;

class FormClientes final : public QDialog {
  public:
    explicit FormClientes(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Fills the list; the row of `codigo` becomes the selected one. A failure
    // leaves the list empty (logged).
    void CarregaItens(int codigo);
    bool RemoveItem(int codigo, const std::string& nome);
    // Makes sure the local area code is known, asking once per installation;
    // false when the user cancelled (the operation that asked stops).
    bool VerificaDDD();
    void BtnNovoClick();
    void BtnEditarClick();
    void BtnApagarClick();
    void btnExportarClick();
    void btnImportarClick();
    void TimerEventosTimer();

    int CodigoDaLinha(int linha) const;
    std::string NomeDaLinha(int linha) const;
    int QuantidadeClientes = 0;
    int CodigoSelecionado = 0;
    // The local area code for the console's lifetime (empty: none).
    std::string DDDLocal;

    // Where an export writes (a failing one in tests).
    std::function<std::unique_ptr<DestinoAgenda>(const std::filesystem::path&)> CriaDestino =
        DestinoArquivoAgenda;

    QTableWidget* GridItens = nullptr;
    QPushButton *BtnNovo = nullptr, *BtnEditar = nullptr, *BtnApagar = nullptr,
                *btnImportar = nullptr, *btnExportar = nullptr, *BtnFechar = nullptr,
                *btnAjuda = nullptr;
    QTimer* TimerEventos = nullptr;
    FormEdCliente* formEdCliente = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    ContextoConsole& ctx_;
};
