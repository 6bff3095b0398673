#include "console/forms/FormConfigBD.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Traducao.h"
#include "console/ConfigServidorBD.h"
#include "console/forms/TextoTela.h"

FormConfigBD::FormConfigBD(MDados& dados, Mensageiro& mensagens, QWidget* pai)
    : QDialog(pai), dados_(dados), mensagens_(mensagens) {
    setObjectName("FormConfigBD");
    setWindowTitle(Tr("Configuração da conexão com o servidor de base de dados"));
    auto* grupo = new QGroupBox(" " + Tr("Conexão com servidor de base de dados"), this);
    auto* rotulo =
        new QLabel(Tr("Computador em que está instalado o gerenciador de base de dados"), grupo);
    EditServer = new QLineEdit(grupo);
    EditServer->setObjectName("EditServer");
    auto* lg = new QVBoxLayout(grupo);
    lg->addWidget(rotulo);
    lg->addWidget(EditServer);
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
    setFixedSize(sizeHint().expandedTo(QSize(460, 0)));
    connect(btnOk, &QPushButton::clicked, this, &FormConfigBD::btnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormConfigBD::showEvent(QShowEvent* e) {
    EditServer->setText(QString::fromStdString(ServidorInicialDialogo()));
    QDialog::showEvent(e);
}

void FormConfigBD::btnOkClick() {
    if (AplicaServidorBD(EditServer->text().toStdString(), dados_, mensagens_)) accept();
}
