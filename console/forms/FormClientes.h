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
#include "console/forms/ListaCadastro.h"

class QPushButton;
class FormEdCliente;
struct ContextoConsole;

class FormClientes final : public ListaCadastro {
  public:
    explicit FormClientes(ContextoConsole& ctx, QWidget* pai = nullptr);

    // A failure leaves the list empty (logged).
    void CarregaItens(int codigo) override;
    bool RemoveItem(int codigo, const std::string& nome);
    // Makes sure the local area code is known, asking once per installation;
    // false when the user cancelled (the operation that asked stops).
    bool VerificaDDD();
    void BtnNovoClick() override;
    void BtnEditarClick() override;
    void BtnApagarClick() override;
    void btnExportarClick();
    void btnImportarClick();

    // The local area code for the console's lifetime (empty: none).
    std::string DDDLocal;

    // Where an export writes (a failing one in tests).
    std::function<std::unique_ptr<DestinoAgenda>(const std::filesystem::path&)> CriaDestino =
        DestinoArquivoAgenda;

    QPushButton *btnImportar = nullptr, *btnExportar = nullptr;
    FormEdCliente* formEdCliente = nullptr;
};
