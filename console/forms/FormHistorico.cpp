#include "console/forms/FormHistorico.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "console/Historico.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/TextoTela.h"

namespace {
QDate ParaQDate(const DataHora& d) { return QDate(d.ano, d.mes, d.dia); }
DataHora DeQDate(const QDate& d) { return DataHora{d.year(), d.month(), d.day(), 0, 0, 0, 0}; }
}  // namespace

FormHistorico::FormHistorico(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormHistorico");
    setWindowTitle(Tr("Histórico de ocorrências"));
    modelo_ = new ModeloHistorico(ctx.dados, this);
    cbUsuario = new QComboBox(this);
    cbUsuario->setObjectName("cbUsuario");
    cbOperacao = new QComboBox(this);
    cbOperacao->setObjectName("cbOperacao");
    cbOperacao->addItem(QString(), 0);
    for (const auto& [texto, codigo] : OperacoesFiltro())
        cbOperacao->addItem(QString::fromStdString(texto), codigo);
    dtIni = new QDateEdit(this);
    dtIni->setObjectName("dtIni");
    dtFim = new QDateEdit(this);
    dtFim->setObjectName("dtFim");
    for (QDateEdit* d : {dtIni, dtFim}) {
        d->setDisplayFormat("dd/MM/yyyy");
        d->setCalendarPopup(true);
    }
    btnPesquisar = new QPushButton(TrLNG("&Pesquisar"), this);
    btnPesquisar->setObjectName("btnPesquisar");
    GridItens = new QTableView(this);
    GridItens->setObjectName("GridItens");
    GridItens->setModel(modelo_);
    GridItens->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridItens->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridItens->verticalHeader()->hide();
    GridItens->horizontalHeader()->setStretchLastSection(true);
    GridItens->horizontalHeader()->setSortIndicator(1, Qt::AscendingOrder);
    GridItens->setSortingEnabled(true);
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnAjuda = new QPushButton(TrLNG("A&juda"), this);
    btnAjuda->setObjectName("btnAjuda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);

    auto* filtros = new QGridLayout;
    auto rotulo = [this](const char* nome, const char* texto) {
        auto* l = new QLabel(Tr(texto), this);
        l->setObjectName(nome);
        return l;
    };
    filtros->addWidget(rotulo("LabelUsuario", "Usuário"), 0, 0);
    filtros->addWidget(cbUsuario, 0, 1);
    filtros->addWidget(rotulo("LabelOperacao", "Ocorrência"), 1, 0);
    filtros->addWidget(cbOperacao, 1, 1);
    filtros->addWidget(rotulo("LabelIniPer", "Período"), 0, 2);
    filtros->addWidget(dtIni, 0, 3);
    filtros->addWidget(rotulo("LabelFimPer", "até"), 0, 4);
    filtros->addWidget(dtFim, 0, 5);
    filtros->addWidget(btnPesquisar, 1, 5);
    auto* l = new QVBoxLayout(this);
    l->addLayout(filtros);
    l->addWidget(GridItens, 1);
    l->addLayout(LinhaBotoes({btnOk, btnAjuda}));
    resize(760, 480);

    connect(btnPesquisar, &QPushButton::clicked, this, &FormHistorico::btnPesquisaClick);
    connect(TimerEventos, &QTimer::timeout, this, &FormHistorico::TimerEventosTimer);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoAjuda::Historico, ctx_.mensagens); });
}

void FormHistorico::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    CarregaFiltros();
    cbOperacao->setCurrentIndex(0);
}

void FormHistorico::done(int r) {
    TimerEventos->stop();
    QDialog::done(r);
}

void FormHistorico::CarregaFiltros() {
    cbUsuario->clear();
    cbUsuario->addItem(QString(), -1);
    for (const auto& [nome, codigo] : UsuariosFiltro(ctx_.dados))
        cbUsuario->addItem(QString::fromStdString(nome), codigo);
    cbUsuario->setCurrentIndex(0);
    const DataHora hoje = SoData(ctx_.relogio());
    dtFim->setDate(ParaQDate(hoje));
    dtIni->setDate(ParaQDate(SomaDias(hoje, -1)));
    modelo_->Limpa();
}

void FormHistorico::btnPesquisaClick() {
    if (!ctx_.dados.BaseConectada()) return;
    TimerEventos->stop();
    FiltroHistorico f;
    f.inicio = DeQDate(dtIni->date());
    f.fim = DeQDate(dtFim->date());
    f.usuario = cbUsuario->currentIndex() > 0 ? cbUsuario->currentData().toInt() : -1;
    f.operacao = cbOperacao->currentIndex() > 0 ? cbOperacao->currentData().toInt() : 0;
    bool ok = false;
    {
        Ampulheta ampulheta;
        ok = modelo_->Pesquisa(f);
    }
    ctx_.dados.EventoHistorico = false;
    if (ok) TimerEventos->start();
}

void FormHistorico::TimerEventosTimer() {
    if (!ctx_.dados.EventoHistorico) return;
    ctx_.dados.EventoHistorico = false;
    TimerEventos->stop();
    if (modelo_->Recarrega()) TimerEventos->start();
}
