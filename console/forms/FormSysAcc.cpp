#include "console/forms/FormSysAcc.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "console/forms/TextoTela.h"

FormSysAcc::FormSysAcc(QWidget* pai) : QDialog(pai) {
    setObjectName("FormSysAcc");
    setWindowTitle(Tr("Administrador do banco de dados"));
    auto* grupo = new QGroupBox(" " + Tr("Gerenciador do banco de dados") + " ", this);
    grupo->setObjectName("GroupBox1");
    auto* label1 = new QLabel(grupo);
    label1->setObjectName("Label1");
    auto* label2 = new QLabel(Tr("Senha administrador"), grupo);
    label2->setObjectName("Label2");
    auto* label3 = new QLabel(Tr("Usuário adminitrador"), grupo);
    label3->setObjectName("Label3");
    // Quotes would end the statements the values once went into: typing one does nothing.
    auto* semAspas = new QRegularExpressionValidator(QRegularExpression("[^\"']*"), this);
    Edit1 = new QLineEdit("VBXTME", grupo);
    Edit1->setObjectName("Edit1");
    Edit1->setValidator(semAspas);
    Edit2 = new QLineEdit("pulvenard", grupo);
    Edit2->setObjectName("Edit2");
    Edit2->setEchoMode(QLineEdit::Password);
    Edit2->setValidator(semAspas);
    auto* lg = new QFormLayout(grupo);
    lg->addRow(label1);
    lg->addRow(label3, Edit1);
    lg->addRow(label2, Edit2);
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancelar = new QPushButton(TrLNG("&Cancelar"), this);
    btnCancelar->setObjectName("btnCancelar");
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    botoes->addWidget(btnCancelar);
    auto* l = new QVBoxLayout(this);
    l->addWidget(grupo);
    l->addLayout(botoes);
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
    // Enter in either edit confirms; Escape is QDialog's own cancel.
    connect(Edit1, &QLineEdit::returnPressed, this, &QDialog::accept);
    connect(Edit2, &QLineEdit::returnPressed, this, &QDialog::accept);
}

bool FormSysAcc::Pede(QWidget* pai, CredenciaisAdmin& credenciais) {
    FormSysAcc f(pai);
    if (f.exec() != QDialog::Accepted) return false;
    credenciais.usuario = f.Edit1->text().trimmed().left(20).toStdString();
    credenciais.senha = f.Edit2->text().trimmed().left(20).toStdString();
    return true;
}
