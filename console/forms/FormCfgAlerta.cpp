#include "console/forms/FormCfgAlerta.h"
#include "common/db/OperacaoHistorico.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <QWidget>

#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"

namespace {

template <class W> W* Nomeado(W* w, const char* nome) {
    w->setObjectName(nome);
    return w;
}

QLabel* Rotulo(const char* nome, const char* texto, QWidget* pai) {
    return Nomeado(new QLabel(Tr(texto), pai), nome);
}

QGroupBox* Grupo(const char* texto, QWidget* pai) {
    return new QGroupBox(" " + Tr(texto) + " ", pai);
}

}  // namespace

FormCfgAlerta::FormCfgAlerta(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormCfgAlerta");
    setWindowTitle(Tr("Configuração de alertas"));

    auto* gbAlertas = Grupo("Alertas", this);
    cbEnviaAlertaEspaco =
        Nomeado(new QCheckBox(Tr("Enviar alerta de pouco espaço em disco ou SDCard"), gbAlertas),
                "cbEnviaAlertaEspaco");
    cbEnviaAlertaFalha = Nomeado(new QCheckBox(Tr("Enviar alerta quando ocorrer falha"), gbAlertas),
                                 "cbEnviaAlertaFalha");
    auto* la = new QVBoxLayout(gbAlertas);
    la->addWidget(cbEnviaAlertaEspaco);
    la->addWidget(cbEnviaAlertaFalha);

    auto* gbEmails = Grupo("Emails", this);
    lbPara = Rotulo("lbPara", "Para", gbEmails);
    edParaEmail = Nomeado(new QLineEdit(gbEmails), "edParaEmail");
    lbCC = Rotulo("lbCC", "CC", gbEmails);
    edCCEmail = Nomeado(new QLineEdit(gbEmails), "edCCEmail");
    auto* le = new QGridLayout(gbEmails);
    le->addWidget(lbPara, 0, 0);
    le->addWidget(edParaEmail, 0, 1);
    le->addWidget(lbCC, 1, 0);
    le->addWidget(edCCEmail, 1, 1);

    auto* gbConfig = Grupo("Configuração", this);
    lbServidor = Rotulo("lbServidor", "Servidor SMTP", gbConfig);
    edServerSMTP = Nomeado(new QLineEdit(gbConfig), "edServerSMTP");
    lbMail = Rotulo("lbMail", "Endereço de e-mail", gbConfig);
    edMail = Nomeado(new QLineEdit(gbConfig), "edMail");
    lbPorta = Rotulo("lbPorta", "Porta", gbConfig);
    edPortaSMTP = Nomeado(new QLineEdit(gbConfig), "edPortaSMTP");
    edPortaSMTP->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), edPortaSMTP));
    auto* lc = new QGridLayout(gbConfig);
    lc->addWidget(lbServidor, 0, 0);
    lc->addWidget(edServerSMTP, 0, 1);
    lc->addWidget(lbMail, 1, 0);
    lc->addWidget(edMail, 1, 1);
    lc->addWidget(lbPorta, 2, 0);
    lc->addWidget(edPortaSMTP, 2, 1);

    auto* gbAuth = Grupo("Autenticação", this);
    cbAuth = Nomeado(new QCheckBox(Tr("Servidor SMTP requer autenticação"), gbAuth), "cbAuth");
    lbUser = Rotulo("lbUser", "Nome do usuário", gbAuth);
    edUser = Nomeado(new QLineEdit(gbAuth), "edUser");
    lbPass = Rotulo("lbPass", "Senha", gbAuth);
    edPass = Nomeado(new QLineEdit(gbAuth), "edPass");
    edPass->setEchoMode(QLineEdit::Password);
    lbSec = Rotulo("lbSec", "Conexão segura", gbAuth);
    cbSec = Nomeado(new QComboBox(gbAuth), "cbSec");
    cbSec->addItems({"Não", "TLS, se disponível", "TLS", "SSL"});
    auto* lu = new QGridLayout(gbAuth);
    lu->addWidget(cbAuth, 0, 0, 1, 2);
    lu->addWidget(lbUser, 1, 0);
    lu->addWidget(edUser, 1, 1);
    lu->addWidget(lbPass, 2, 0);
    lu->addWidget(edPass, 2, 1);
    lu->addWidget(lbSec, 3, 0);
    lu->addWidget(cbSec, 3, 1);

    btnOk = Nomeado(new QPushButton(TrLNG("&Ok"), this), "btnOk");
    btnOk->setDefault(true);
    btnCancelar = Nomeado(new QPushButton(TrLNG("&Cancelar"), this), "btnCancelar");
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    botoes->addWidget(btnCancelar);
    auto* l = new QVBoxLayout(this);
    for (QGroupBox* g : {gbAlertas, gbEmails, gbConfig, gbAuth}) l->addWidget(g);
    l->addLayout(botoes);
    setMinimumWidth(460);

    edPortaSMTP->setText("25");
    connect(cbEnviaAlertaEspaco, &QCheckBox::clicked, this, &FormCfgAlerta::cbEnviaAlertasClick);
    connect(cbEnviaAlertaFalha, &QCheckBox::clicked, this, &FormCfgAlerta::cbEnviaAlertasClick);
    connect(cbAuth, &QCheckBox::clicked, this, &FormCfgAlerta::cbAuthClick);
    connect(cbSec, &QComboBox::activated, this, &FormCfgAlerta::cbSecChange);
    connect(btnOk, &QPushButton::clicked, this, &FormCfgAlerta::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &FormCfgAlerta::BtnCancelarClick);
    AtualizaHabilitados();
}

void FormCfgAlerta::Abre() {
    if (!CarregaConfiguracaoAlerta()) {
        ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                              Traduz("Não foi possível carregar configurações"));
        return;
    }
    exec();
}

bool FormCfgAlerta::CarregaConfiguracaoAlerta() {
    EdicaoAlerta e;
    if (!::CarregaConfiguracaoAlerta(ctx_.dados, e)) return false;
    MostraCampos(e);
    return true;
}

void FormCfgAlerta::MostraCampos(const EdicaoAlerta& e) {
    cbEnviaAlertaEspaco->setChecked(e.alertaEspaco);
    cbEnviaAlertaFalha->setChecked(e.alertaFalha);
    edParaEmail->setText(QString::fromStdString(e.para));
    edCCEmail->setText(QString::fromStdString(e.cc));
    edServerSMTP->setText(QString::fromStdString(e.servidor));
    edPortaSMTP->setText(QString::fromStdString(e.porta));
    edMail->setText(QString::fromStdString(e.mail));
    cbAuth->setChecked(e.auth);
    edUser->setText(QString::fromStdString(e.usuario));
    edPass->setText(QString::fromStdString(e.senha));
    cbSec->setCurrentIndex(e.seguranca);
    AtualizaHabilitados();
}

EdicaoAlerta FormCfgAlerta::LeCampos() const {
    EdicaoAlerta e;
    e.alertaEspaco = cbEnviaAlertaEspaco->isChecked();
    e.alertaFalha = cbEnviaAlertaFalha->isChecked();
    e.para = edParaEmail->text().toStdString();
    e.cc = edCCEmail->text().toStdString();
    e.servidor = edServerSMTP->text().toStdString();
    e.porta = edPortaSMTP->text().toStdString();
    e.mail = edMail->text().toStdString();
    e.auth = cbAuth->isChecked();
    e.usuario = edUser->text().toStdString();
    e.senha = edPass->text().toStdString();
    e.seguranca = std::max(0, cbSec->currentIndex());
    return e;
}

void FormCfgAlerta::AtualizaHabilitados() {
    const HabilitacaoAlerta h = Habilitacao(LeCampos());
    for (QWidget* w : std::initializer_list<QWidget*>{
             lbPara, edParaEmail, lbCC, edCCEmail, lbServidor, edServerSMTP, lbPorta, edPortaSMTP,
             lbMail, edMail, cbAuth, lbSec, cbSec})
        w->setEnabled(h.enderecos);
    for (QWidget* w : std::initializer_list<QWidget*>{lbUser, edUser, lbPass, edPass})
        w->setEnabled(h.autenticacao);
}

void FormCfgAlerta::cbEnviaAlertasClick() { AtualizaHabilitados(); }

void FormCfgAlerta::cbAuthClick() { AtualizaHabilitados(); }

void FormCfgAlerta::cbSecChange() {
    edPortaSMTP->setText(QString::fromStdString(PortaPorSeguranca(cbSec->currentIndex())));
}

bool FormCfgAlerta::SalvaEdicao() {
    return SalvaConfiguracaoAlerta(ctx_.dados, ctx_.mensagens, LeCampos());
}

void FormCfgAlerta::BtnOkClick() {
    if (!ctx_.dados.BaseConectada() || !SalvaEdicao()) return;
    if (ctx_.RegistraHistorico) ctx_.RegistraHistorico(Operacao::EditadoAlertas, "");
    accept();
}

void FormCfgAlerta::BtnCancelarClick() { reject(); }
