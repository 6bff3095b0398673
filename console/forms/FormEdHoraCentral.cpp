#include "console/forms/FormEdHoraCentral.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/EdicaoCentral.h"
#include "console/Mensageiro.h"
#include "console/forms/TextoTela.h"

namespace {

QComboBox* Combo(const std::vector<ItemDuracao>& itens, const char* nome, QWidget* pai) {
    auto* c = new QComboBox(pai);
    c->setObjectName(nome);
    // The durations are shown as they stand.
    for (const ItemDuracao& i : itens) c->addItem(QString::fromUtf8(i.texto), i.minutos);
    return c;
}

int Duracao(const QCheckBox* caixa, const QComboBox* combo) {
    return caixa->isChecked() ? combo->currentData().toInt() : 0;
}

}  // namespace

FormEdHoraCentral::FormEdHoraCentral(Mensageiro& mensagens, QWidget* pai)
    : QDialog(pai), mensagens_(mensagens) {
    setObjectName("FormEdHoraCentral");
    setWindowTitle(Tr("Edição de horário de download"));
    auto* rotulo = new QLabel(Tr("Horário de início"), this);
    meHoraIni = new QLineEdit(this);
    meHoraIni->setObjectName("meHoraIni");
    meHoraIni->setInputMask("09:99;_");
    meHoraIni->setText("00:00");
    checkLimiteTempo = new QCheckBox(Tr("Limite de tempo de download"), this);
    checkLimiteTempo->setObjectName("checkLimiteTempo");
    comboLimiteTempo = Combo(ItensLimiteTempo(), "comboLimiteTempo", this);
    checkFrequencia = new QCheckBox(Tr("Frequência de repetição de download"), this);
    checkFrequencia->setObjectName("checkFrequencia");
    comboFrequencia = Combo(ItensFrequencia(), "comboFrequencia", this);
    BtnOk = new QPushButton(TrLNG("&Ok"), this);
    BtnOk->setObjectName("BtnOk");
    BtnOk->setDefault(true);
    BtnCancelar = new QPushButton(TrLNG("&Cancelar"), this);
    BtnCancelar->setObjectName("BtnCancelar");

    auto* grade = new QGridLayout;
    grade->addWidget(rotulo, 0, 0);
    grade->addWidget(meHoraIni, 0, 1);
    grade->addWidget(checkLimiteTempo, 1, 0);
    grade->addWidget(comboLimiteTempo, 1, 1);
    grade->addWidget(checkFrequencia, 2, 0);
    grade->addWidget(comboFrequencia, 2, 1);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(BtnOk);
    botoes->addWidget(BtnCancelar);
    auto* l = new QVBoxLayout(this);
    l->addLayout(grade);
    l->addLayout(botoes);

    comboFrequencia->setCurrentIndex(0);
    comboFrequencia->setEnabled(false);
    Prepara();
    connect(checkLimiteTempo, &QCheckBox::toggled, comboLimiteTempo, &QWidget::setEnabled);
    connect(checkFrequencia, &QCheckBox::toggled, comboFrequencia, &QWidget::setEnabled);
    connect(BtnOk, &QPushButton::clicked, this, &FormEdHoraCentral::BtnOkClick);
    connect(BtnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormEdHoraCentral::Prepara() {
    meHoraIni->setText("00:00");
    checkLimiteTempo->setChecked(false);
    comboLimiteTempo->setCurrentIndex(IndiceLimitePadrao);
    comboLimiteTempo->setEnabled(false);
}

void FormEdHoraCentral::BtnOkClick() {
    const std::optional<int> inicio = LeHoraInicio(meHoraIni->text().toStdString());
    LimiteTempo = Duracao(checkLimiteTempo, comboLimiteTempo);
    Frequencia = Duracao(checkFrequencia, comboFrequencia);
    std::string mensagem;
    if (!inicio)
        mensagem = Traduz("Horário de início inválido");
    else if (HorarioJaDefinido(*inicio, HorariosEditor))
        mensagem = Traduz("Horário já definido");
    if (!mensagem.empty()) {
        mensagens_.Mostra(TipoMensagem::Informacao, mensagem);
        return;
    }
    HoraInicio = *inicio;
    accept();
}
