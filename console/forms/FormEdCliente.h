#pragma once
// "Edição de contato" (the contact editor with its phone grid), "Edição de
// telefone" (one phone) and "Edição de código DDD" (the local area code,
// asked once per installation). Thin windows over console/Contatos: the
// editor is made once by the contact list and reused; the phone dialog once
// by the editor; the area-code dialog on demand. Main thread only.

#include <QDialog>
#include <string>

#include "console/AgendaArquivo.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
struct ContextoConsole;

class FormEdFone final : public QDialog {
  public:
    explicit FormEdFone(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Empty number, type "Celular".
    void LimpaTela();
    // A number is required; false with "Erro" shown.
    bool SalvaEdicao();
    void BtnOkClick();

    QLineEdit* edFone = nullptr;
    QComboBox* cbTipoFone = nullptr;
    QPushButton *BtnOk = nullptr, *BtnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    ContextoConsole& ctx_;
};

class FormEdCliente final : public QDialog {
  public:
    explicit FormEdCliente(ContextoConsole& ctx, QWidget* pai = nullptr);

    // Every field empty, the state the empty item, the phone grid one empty
    // row, the phone buttons disabled.
    void LimpaTela();
    // Loads CodigoCliente's contact and phones. False, with the reason shown,
    // when the contact is gone or could not be read (nothing is filled).
    bool CarregaItem();
    // The number is taken: in another row of the grid (the row `linhaEditada`
    // aside) or by another contact in the database; the box is shown. A
    // failed check shows "Erro" and counts as taken.
    bool TelefoneCadastrado(const std::string& numero, int linhaEditada = -1);
    // Saves contact, phones and history row in one transaction.
    bool SalvaEdicao();
    void BtnOkClick();
    void BtnNovoClick();
    void BtnEditarClick();
    void BtnApagarClick();

    // 0 for a new contact; set to the new code when it is saved.
    int CodigoCliente = 0;
    // The name as listed before the edit (the history row's detail).
    std::string NomeAnterior;

    QLineEdit *edCliente = nullptr, *edCNPJ = nullptr, *edEndereco = nullptr, *edNumero = nullptr,
              *edBairro = nullptr, *edCEP = nullptr, *edLocalidade = nullptr, *edContato = nullptr,
              *edEmail = nullptr;
    QComboBox* cbUF = nullptr;
    QTableWidget* GridFones = nullptr;
    QPushButton *btnNovo = nullptr, *btnEditar = nullptr, *btnApagar = nullptr, *BtnOk = nullptr,
                *BtnCancelar = nullptr;
    FormEdFone* formEdFone = nullptr;

    // The contact as the fields and the grid hold it.
    ClienteAgenda Cliente() const;

  private:
    void MostraFones(const std::vector<FoneAgenda>& fones);
    void AtualizaBotoesFone();
    std::string NumeroDaLinha(int linha) const;

    ContextoConsole& ctx_;
};

class FormEdDDD final : public QDialog {
  public:
    explicit FormEdDDD(ContextoConsole& ctx, QWidget* pai = nullptr);

    QComboBox* cbDDD = nullptr;
    QPushButton *btnOk = nullptr, *btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    ContextoConsole& ctx_;
};
