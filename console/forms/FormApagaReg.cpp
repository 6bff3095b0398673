#include "console/forms/FormApagaReg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "common/db/OperacaoHistorico.h"
#include "console/MDados.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/EscolheCentral.h"
#include "console/forms/TextoTela.h"

namespace {
DataHora Junta(const QDate& d, const QTime& t) {
    return DataHora{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), 0};
}
}  // namespace

FormApagaReg::FormApagaReg(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormApagaReg");
    setWindowTitle(Tr("Apagar registros"));
    meCentral = new QLineEdit(this);
    meCentral->setObjectName("meCentral");
    meCentral->setReadOnly(true);
    spBtnCentrais = new QPushButton(TrLNG("&Central"), this);
    spBtnCentrais->setObjectName("spBtnCentrais");
    gridInfo = new QTableWidget(3, 4, this);
    gridInfo->setObjectName("gridInfo");
    gridInfo->setHorizontalHeaderLabels(
        {QString::fromUtf8("Registros armazenados"), QString::fromUtf8("Primeiro registro"),
         QString::fromUtf8("Último registro"), QString::fromUtf8("Nº de registros")});
    gridInfo->verticalHeader()->hide();
    gridInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridInfo->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    gridInfo->horizontalHeader()->setStretchLastSection(true);
    gridInfo->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    gridInfo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    cbDelOri = new QCheckBox(Tr("Registros de chamadas originadas"), this);
    cbDelOri->setObjectName("cbDelOri");
    cbDelRec = new QCheckBox(Tr("Registros de chamadas recebidas"), this);
    cbDelRec->setObjectName("cbDelRec");
    cbDelInt = new QCheckBox(Tr("Registros de chamadas internas"), this);
    cbDelInt->setObjectName("cbDelInt");
    cbxFiltro = new QComboBox(this);
    cbxFiltro->setObjectName("cbxFiltro");
    cbxFiltro->addItems(
        {QString(), Tr("Cliente"), Tr("CNPJ"), Tr("Grupo"), Tr("Ramal"), Tr("Telefone")});
    edItem = new QLineEdit(this);
    edItem->setObjectName("edItem");
    edItem->setMaxLength(30);
    dtIni = new QDateEdit(this);
    dtIni->setObjectName("dtIni");
    dtFim = new QDateEdit(this);
    dtFim->setObjectName("dtFim");
    for (QDateEdit* d : {dtIni, dtFim}) {
        d->setDisplayFormat("dd/MM/yyyy");
        d->setCalendarPopup(true);
    }
    hrIni = new QTimeEdit(this);
    hrIni->setObjectName("hrIni");
    hrFim = new QTimeEdit(this);
    hrFim->setObjectName("hrFim");
    for (QTimeEdit* t : {hrIni, hrFim}) t->setDisplayFormat("HH:mm:ss");
    btnApagar = new QPushButton(TrLNG("&Apagar"), this);
    btnApagar->setObjectName("btnApagar");
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnAjuda = new QPushButton(TrLNG("A&juda"), this);
    btnAjuda->setObjectName("btnAjuda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);

    auto* topo = new QHBoxLayout;
    topo->addWidget(new QLabel(Tr("Central"), this));
    topo->addWidget(meCentral, 1);
    topo->addWidget(spBtnCentrais);
    auto* campos = new QGridLayout;
    campos->addWidget(cbDelOri, 0, 0, 1, 3);
    campos->addWidget(cbDelRec, 1, 0, 1, 3);
    campos->addWidget(cbDelInt, 2, 0, 1, 3);
    campos->addWidget(new QLabel(Tr("Filtro"), this), 3, 0);
    campos->addWidget(cbxFiltro, 3, 1);
    campos->addWidget(new QLabel(Tr("Item"), this), 3, 2);
    campos->addWidget(edItem, 3, 3, 1, 2);
    campos->addWidget(new QLabel(Tr("Período"), this), 4, 0);
    campos->addWidget(dtIni, 4, 1);
    campos->addWidget(hrIni, 4, 2);
    campos->addWidget(new QLabel(Tr("até"), this), 4, 3);
    campos->addWidget(dtFim, 4, 4);
    campos->addWidget(hrFim, 4, 5);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    for (QPushButton* b : {btnApagar, btnOk, btnAjuda}) botoes->addWidget(b);
    auto* l = new QVBoxLayout(this);
    l->addLayout(topo);
    l->addWidget(gridInfo);
    l->addLayout(campos);
    l->addStretch();
    l->addLayout(botoes);
    resize(640, 380);

    connect(btnApagar, &QPushButton::clicked, this, &FormApagaReg::btnApagarClick);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoAjuda::Apagamento, ctx_.mensagens); });
    connect(spBtnCentrais, &QPushButton::clicked, this, &FormApagaReg::spBtnCentraisClick);
    connect(TimerEventos, &QTimer::timeout, this, &FormApagaReg::TimerEventosTimer);
}

bool FormApagaReg::UnidadeConectada() const {
    return CodigoPABX > 0 && ctx_.dados.BasePABXConectada() &&
           ctx_.dados.CodigoPABX() == CodigoPABX;
}

bool FormApagaReg::DefineCentral(int codigo, const std::string& nome) {
    CodigoPABX = 0;
    meCentral->clear();
    if (codigo <= 0 || !ctx_.dados.BasePABXConectada() || ctx_.dados.CodigoPABX() != codigo)
        return false;
    CodigoPABX = codigo;
    meCentral->setText(QString::fromStdString(nome));
    return true;
}

int FormApagaReg::Abre(int codigo, const std::string& nome) {
    DefineCentral(codigo, nome);
    CarregaGridInfo();
    return exec();
}

void FormApagaReg::CarregaGridInfo() {
    static const char* const titulos[3] = {"Chamadas originadas", "Chamadas recebidas",
                                           "Chamadas internas"};
    Resumo = {};
    if (UnidadeConectada() && ctx_.dados.BaseConectada())
        Resumo = CarregaResumoRegistros(ctx_.dados);
    for (int i = 0; i < 3; ++i) {
        const ResumoTipo& t = Resumo[static_cast<std::size_t>(i)];
        const std::string celulas[4] = {Traduz(titulos[i]), t.primeiro, t.ultimo, t.quantidade};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(celulas[c]));
            if (c > 0) item->setTextAlignment(Qt::AlignCenter);
            gridInfo->setItem(i, c, item);
        }
    }
    QuantidadeOriginadas = Resumo[0].Quantidade();
    QuantidadeRecebidas = Resumo[1].Quantidade();
    QuantidadeInternas = Resumo[2].Quantidade();
}

void FormApagaReg::Reinicia() {
    const DataHora d = DataInicialApagamento(Resumo, Agora());
    const QDate q(d.ano, d.mes, d.dia);
    dtIni->setDate(q);
    dtFim->setDate(q);
    hrIni->setTime(QTime(0, 0, 0));
    hrFim->setTime(QTime(23, 59, 59));
    for (QCheckBox* c : {cbDelOri, cbDelRec, cbDelInt}) c->setChecked(false);
    cbxFiltro->setCurrentIndex(0);
    edItem->clear();
    ctx_.dados.EventoGravacao = false;
    TimerEventos->start();
}

void FormApagaReg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    Reinicia();
}

void FormApagaReg::done(int r) {
    TimerEventos->stop();
    QDialog::done(r);
}

void FormApagaReg::keyPressEvent(QKeyEvent* e) {
    if (meCentral->hasFocus() && !e->text().isEmpty()) {
        spBtnCentraisClick();
        return;
    }
    QDialog::keyPressEvent(e);
}

void FormApagaReg::TimerEventosTimer() {
    if (!ctx_.dados.EventoGravacao) return;
    ctx_.dados.EventoGravacao = false;
    CarregaGridInfo();
}

void FormApagaReg::spBtnCentraisClick() {
    int codigo = 0;
    std::string nome;
    const TrocaCentral r = EscolheCentral(ctx_, codigo, nome);
    if (r == TrocaCentral::Cancelada) return;
    DefineCentral(r == TrocaCentral::Conectada ? codigo : 0, nome);
    CarregaGridInfo();
    Reinicia();
}

PedidoApagamento FormApagaReg::Pedido() const {
    PedidoApagamento p;
    p.originadas = cbDelOri->isChecked();
    p.recebidas = cbDelRec->isChecked();
    p.internas = cbDelInt->isChecked();
    p.inicio = Junta(dtIni->date(), hrIni->time());
    p.fim = Junta(dtFim->date(), hrFim->time());
    p.filtro = static_cast<FiltroApagamento>(cbxFiltro->currentIndex());
    p.item = edItem->text().toStdString();
    p.palavraFiltro = cbxFiltro->currentText().toStdString();
    return p;
}

void FormApagaReg::btnApagarClick() {
    CarregaGridInfo();
    TimerEventos->stop();
    const PedidoApagamento p = Pedido();
    if (const std::string erro = VerificaPedido(p); !erro.empty()) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, erro);
        return;
    }
    if (!UnidadeConectada()) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz("Nenhuma central conectada"));
        return;
    }
    // The history rows need the main connection: without it nothing is
    // deleted. The reload above already said the database is down.
    if (ctx_.dados.EstadoConexao() != Conectado) return;
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, TextoConfirmacao(p)) !=
        RespostaMensagem::Sim)
        return;
    btnOk->setEnabled(false);
    btnApagar->setEnabled(false);
    ResultadoApagamento r;
    {
        Ampulheta ampulheta;
        r = ApagaRegistros(ctx_.dados, CodigoPABX, p);
    }
    CarregaGridInfo();
    if (!r.ok) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Não foi possível apagar os registros") + "\n" + r.erro);
    } else {
        for (std::size_t i = 0; i < 3; ++i)
            if (r.removidas[i] > 0)
                ctx_.RegistraHistorico(static_cast<int>(Operacao::RemovidoOriginadas + i),
                                       ResultadoApagamento::Detalhe(r.removidas[i], p));
        ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("Operação realizada.") + " " +
                                                            std::to_string(r.Total()) + " " +
                                                            Traduz("registros removidos"));
    }
    btnOk->setEnabled(true);
    btnApagar->setEnabled(true);
}
