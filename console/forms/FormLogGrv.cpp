#include "console/forms/FormLogGrv.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/forms/TextoTela.h"

FormLogGrv::FormLogGrv(QWidget* pai) : QDialog(pai) {
    setObjectName("FormLogGrv");
    setWindowTitle(Tr("Atividade do Serviço de Gravação Quv"));
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName("MemoLog");
    MemoLog->setReadOnly(true);
    MemoLog->setMaximumBlockCount(kMaximoLinhas);
    MemoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    auto* baixo = new QHBoxLayout;
    baixo->addStretch();
    baixo->addWidget(btnOk);
    auto* l = new QVBoxLayout(this);
    l->addWidget(MemoLog, 1);
    l->addLayout(baixo);
    resize(640, 400);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

void FormLogGrv::Mostra(const std::string& descricao) {
    DescricaoPABX = descricao;
    setWindowTitle(Tr("Serviço de Gravação Quv") + ". PABX: " + QString::fromStdString(descricao));
    MemoLog->clear();
    exec();
}

void FormLogGrv::AcrescentaLinha(const std::string& linha) {
    MemoLog->appendPlainText(QString::fromStdString(linha));
}
