#include "console/forms/FormUpGrade.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "console/MigracaoBD.h"
#include "console/forms/TextoTela.h"

FormUpGrade::FormUpGrade(MigracaoBD* migracao, QWidget* pai) : QDialog(pai), migracao_(migracao) {
    setObjectName("FormUpGrade");
    LabelUpgrade = new QLabel(this);
    LabelUpgrade->setObjectName("LabelUpgrade");
    LabelUpgrade->setWordWrap(true);
    LabelUpgrade->setMinimumWidth(420);
    LabelUpgrade->setMinimumHeight(60);
    btnOk = new QPushButton(this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnOk->setEnabled(migracao_ == nullptr);
    TimerUpgrade = new QTimer(this);
    TimerUpgrade->setObjectName("TimerUpgrade");
    TimerUpgrade->setInterval(10);
    TimerUpgrade->setSingleShot(true);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    botoes->addStretch();
    auto* l = new QVBoxLayout(this);
    l->addWidget(LabelUpgrade);
    l->addLayout(botoes);
    l->setSizeConstraint(QLayout::SetFixedSize);
    connect(btnOk, &QPushButton::clicked, this, &FormUpGrade::btnOkClick);
    connect(TimerUpgrade, &QTimer::timeout, this, &FormUpGrade::TimerUpgradeTimer);
    if (migracao_) {
        migracao_->Progresso = [this](const std::string& t) {
            LabelUpgrade->setText(QString::fromStdString(t));
            LabelUpgrade->repaint();
        };
        migracao_->ProcessaMensagens = [] {
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        };
    }
}

FormUpGrade::~FormUpGrade() {
    if (migracao_) {
        migracao_->Progresso = nullptr;
        migracao_->ProcessaMensagens = nullptr;
    }
}

void FormUpGrade::showEvent(QShowEvent* e) {
    setWindowTitle(Tr("Atualização da base de dados"));
    btnOk->setText(TrLNG("&Ok"));
    QDialog::showEvent(e);
    if (migracao_ && !terminou_) TimerUpgrade->start();
}

void FormUpGrade::TimerUpgradeTimer() {
    TimerUpgrade->stop();
    if (!migracao_ || terminou_) return;
    migracao_->Executa();
    LabelUpgrade->setText(QString::fromStdString(migracao_->Mensagem()));
    terminou_ = true;
    btnOk->setEnabled(true);
    btnOk->setFocus();
}

void FormUpGrade::btnOkClick() {
    if (migracao_ && !terminou_) return;
    accept();
}

void FormUpGrade::reject() {
    if (migracao_ && !terminou_) return;
    QDialog::reject();
}
