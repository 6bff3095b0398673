#include "console/forms/FormAcesso.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"

namespace {

// Quotes typed in a field are discarded (a pasted text keeps them and is then
// simply not a login: every value is bound).
QLineEdit* Campo(QWidget* pai, const char* nome, bool senha, int maximo) {
    auto* e = new QLineEdit(pai);
    e->setObjectName(nome);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[^\"']*"), e));
    if (senha) e->setEchoMode(QLineEdit::Password);
    if (maximo > 0) e->setMaxLength(maximo);
    return e;
}

QHBoxLayout* Botoes(QPushButton* a, QPushButton* b, QPushButton* c = nullptr) {
    auto* l = new QHBoxLayout;
    if (c) l->addWidget(c);
    l->addStretch();
    l->addWidget(a);
    l->addWidget(b);
    return l;
}

}  // namespace

FormAcesso::FormAcesso(ContextoConsole& ctx, QWidget* pai)
    : QDialog(pai), ctx_(ctx), acesso_(ctx.dados, ctx.mensagens) {
    setObjectName("FormAcesso");
    setWindowTitle(Tr("Acesso"));
    edLogin = Campo(this, "edLogin", false, 0);
    edSenha = Campo(this, "edSenha", true, 0);
    auto* label1 = new QLabel(Tr("Login"), this);
    label1->setObjectName("Label1");
    auto* label2 = new QLabel(Tr("Senha"), this);
    label2->setObjectName("Label2");
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnCancelar = new QPushButton(TrLNG("&Cancelar"), this);
    btnCancelar->setObjectName("btnCancelar");
    btnTrocar = new QPushButton(TrLNG("&Trocar senha"), this);
    btnTrocar->setObjectName("btnTrocar");
    btnTrocar->setEnabled(false);
    for (QPushButton* b : {btnOk, btnCancelar, btnTrocar}) b->setAutoDefault(false);
    auto* form = new QFormLayout;
    form->addRow(label1, edLogin);
    form->addRow(label2, edSenha);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addLayout(Botoes(btnOk, btnCancelar, btnTrocar));
    setMinimumWidth(340);

    connect(edLogin, &QLineEdit::returnPressed, this, [this] { edSenha->setFocus(); });
    connect(edSenha, &QLineEdit::returnPressed, this, &FormAcesso::BtnOkClick);
    connect(edLogin, &QLineEdit::textChanged, this,
            [this](const QString& t) { btnTrocar->setEnabled(!t.trimmed().isEmpty()); });
    connect(btnOk, &QPushButton::clicked, this, &FormAcesso::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &FormAcesso::CancelaPeloUsuario);
    connect(btnTrocar, &QPushButton::clicked, this, &FormAcesso::BtnTrocarClick);
}

void FormAcesso::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    raise();
    activateWindow();
    edLogin->setFocus();
}

void FormAcesso::CancelaPeloUsuario() {
    canceladoPeloUsuario_ = true;
    reject();
}

void FormAcesso::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        CancelaPeloUsuario();
        return;
    }
    QDialog::keyPressEvent(e);
}

void FormAcesso::closeEvent(QCloseEvent* e) {
    // The window's own close button is the user's cancel too.
    if (e->spontaneous()) canceladoPeloUsuario_ = true;
    QDialog::closeEvent(e);
}

ResultadoLogin FormAcesso::ExecutaLogin() {
    edLogin->clear();
    edSenha->clear();
    setWindowTitle(Tr("Login"));
    canceladoPeloUsuario_ = false;
    if (exec() != QDialog::Accepted)
        return canceladoPeloUsuario_ ? ResultadoLogin::Cancelado : ResultadoLogin::Interrompido;
    ctx_.UsuarioNome = acesso_.NomeConfirmado;
    ctx_.UsuarioCodigo = acesso_.CodigoConfirmado;
    ctx_.UsuarioPerfil = acesso_.PerfilConfirmado;
    return ResultadoLogin::Entrou;
}

bool FormAcesso::VerificaUsuario() {
    Acesso::Campo foco = Acesso::Campo::Nenhum;
    const bool ok = acesso_.VerificaUsuario(edLogin->text().toStdString(),
                                            edSenha->text().toStdString(), &foco);
    QLineEdit* campo = foco == Acesso::Campo::Login   ? edLogin
                       : foco == Acesso::Campo::Senha ? edSenha
                                                      : nullptr;
    if (campo) {
        campo->selectAll();
        campo->setFocus();
    }
    return ok;
}

void FormAcesso::BtnOkClick() {
    if (VerificaUsuario()) accept();
}

void FormAcesso::BtnTrocarClick() {
    if (!VerificaUsuario()) return;
    FormTrocaSenha troca(ctx_.mensagens, this);
    if (troca.exec() != QDialog::Accepted) return;
    // A failed update is shown by Acesso; the dialog stays and the old password still works.
    if (acesso_.TrocaSenha(troca.edNovaSenha->text().toStdString())) accept();
}

FormTrocaSenha::FormTrocaSenha(Mensageiro& mensagens, QWidget* pai)
    : QDialog(pai), mensagens_(mensagens) {
    setObjectName("FormTrocaSenha");
    setWindowTitle(Tr("Troca de senha"));
    edNovaSenha = Campo(this, "edNovaSenha", true, TamanhoMaximoSenha);
    edNovaSenhaConf = Campo(this, "edNovaSenhaConf", true, TamanhoMaximoSenha);
    auto* l1 = new QLabel(Tr("Nova senha"), this);
    l1->setObjectName("LabelNovaSenha");
    auto* l2 = new QLabel(Tr("Confirmação senha"), this);
    l2->setObjectName("LabelConfirmaSenha");
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancelar = new QPushButton(TrLNG("&Cancelar"), this);
    btnCancelar->setObjectName("btnCancelar");
    auto* form = new QFormLayout;
    form->addRow(l1, edNovaSenha);
    form->addRow(l2, edNovaSenhaConf);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addLayout(Botoes(btnOk, btnCancelar));
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnOk, &QPushButton::clicked, this, [this] {
        const std::string erro = VerificaNovaSenha(edNovaSenha->text().toStdString(),
                                                   edNovaSenhaConf->text().toStdString());
        if (erro.empty())
            accept();
        else
            mensagens_.Mostra(TipoMensagem::Erro, erro);
    });
}

void FormTrocaSenha::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    raise();
    edNovaSenha->setFocus();
}
