#include "console/forms/FormSobre.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/UtilConsole.h"
#include "console/forms/TextoTela.h"

FormSobre::FormSobre(QWidget* pai) : QDialog(pai) {
    setObjectName("FormSobre");
    LabelModulo = new QLabel(this);
    LabelModulo->setObjectName("LabelModulo");
    QFont f = LabelModulo->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 3);
    LabelModulo->setFont(f);
    LabelVerModulo = new QLabel(this);
    LabelVerModulo->setObjectName("LabelVerModulo");
    LabelFabricante = new QLabel("Quorvanta Sistemas", this);
    LabelFabricante->setObjectName("LabelFabricante");
    LabelSite =
        new QLabel("<a href=\"https://www.quorvanta.com.br/\">www.quorvanta.com.br</a>", this);
    LabelSite->setObjectName("LabelSite");
    LabelSite->setOpenExternalLinks(true);
    btnOk = new QPushButton(this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    auto* l = new QVBoxLayout(this);
    l->addWidget(LabelModulo);
    l->addWidget(LabelVerModulo);
    l->addSpacing(12);
    l->addWidget(LabelFabricante);
    l->addWidget(LabelSite);
    l->addLayout(botoes);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

void FormSobre::showEvent(QShowEvent* e) {
    setWindowTitle(Tr("Sobre") + "...");
    LabelModulo->setText(Tr("Quv – Veruzadu de Chamadas"));
    LabelVerModulo->setText(QString::fromStdString(TextoVersaoPrograma()));
    btnOk->setText(TrLNG("&Ok"));
    QDialog::showEvent(e);
}
