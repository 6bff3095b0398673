#pragma once
// "Configuração de usuários" (the list of users) and "Edição de usuário"
// (one user: name, login, password, profile and group or extension). The
// rules and the database work are in console/Usuarios; these windows only
// bind widgets to them. Both are made once and reused; main thread only.

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "console/forms/ListaCadastro.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class FormGrupos;
struct ContextoConsole;

class FormEdUsuario final : public QDialog {
  public:
    // `grupos` is the group list window that "&Grupos" opens.
    FormEdUsuario(ContextoConsole& ctx, FormGrupos& grupos, QWidget* pai = nullptr);

    // Fills the group choice: empty, the group names, "Ramal" + each
    // extension name of the permission editor (NomesRamaisPermissao).
    void CarregaGruposRamais();
    // Loads user CodigoUsuario into the fields; a stored group not offered is
    // added to the choice and chosen. False, with the reason shown, when the
    // user is gone or could not be read (nothing is filled).
    bool CarregaItem();
    // Empties name, login and password; profile "Operador", no group.
    void LimpaTela();
    // Validates and stores; false with the message shown ("Erro").
    bool SalvaEdicao();
    void BtnOkClick();
    void btnCancelarClick();
    void btnGruposClick();

    int CodigoUsuario = 0;
    int PerfilOriginal = 2;
    // The name as the list showed it (the history row of an edit).
    std::string NomeListado;
    // The extension names of the permission editor's last unit (the console
    // wires NomesRamaisPermissao of console/forms/FormEdCfgRamal); may be empty.
    std::function<std::vector<std::string>()> NomesRamaisPermissao;

    QLineEdit *edUsuario = nullptr, *edLogin = nullptr, *edSenha = nullptr;
    QComboBox *cbPerfil = nullptr, *cbGrupo = nullptr;
    QPushButton *btnGrupos = nullptr, *btnOk = nullptr, *btnCancelar = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void MostraOpcoes();

    ContextoConsole& ctx_;
    FormGrupos& grupos_;
    std::vector<std::string> opcoes_;
};

class FormUsuarios final : public ListaCadastro {
  public:
    FormUsuarios(ContextoConsole& ctx, FormGrupos& grupos, QWidget* pai = nullptr);

    void CarregaItens(int codigo) override;
    // Deletes the user with his history row; the last administrator is
    // refused ("Informação"), a failure shown ("Erro").
    bool RemoveItem(int codigo, const std::string& nome);
    void BtnNovoClick() override;
    void BtnEditarClick() override;
    void BtnApagarClick() override;

    FormEdUsuario* editor() { return editor_; }

  private:
    FormEdUsuario* editor_ = nullptr;
};
