#include "console/forms/FormStatus.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include "console/EstadoCentrais.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/FormLogGrv.h"
#include "console/forms/TextoTela.h"

FormStatus::FormStatus(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormStatus");
    setWindowTitle(Tr("Receber gravações"));

    EnderIP = new QLabel(Tr("Endereço do Servidor de Gravação"), this);
    EnderIP->setObjectName("EnderIP");
    LabelEnderecoVeruzadu = new QLabel("-", this);
    LabelEnderecoVeruzadu->setObjectName("LabelEnderecoVeruzadu");
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName("LabelStatus");

    modelo_ = new ModeloEstadoCentrais(this);
    GridItens = new QTableView(this);
    GridItens->setObjectName("GridItens");
    GridItens->setModel(modelo_);
    ComoLista(GridItens);
    GridItens->setContextMenuPolicy(Qt::CustomContextMenu);
    GridItens->setWordWrap(false);
    GridItens->verticalHeader()->setDefaultSectionSize(GridItens->fontMetrics().height() + 8);
    {
        int coluna = 0;
        for (int largura : {150, 45, 65, 130, 70, 75, 95})
            GridItens->setColumnWidth(coluna++, largura);
    }

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    RealizarDownload = PopupMenu->addAction(Tr("Realizar download de arquivos de áudio"));
    RealizarDownload->setObjectName("RealizarDownload");
    RealizarDownload->setEnabled(false);

    BtnFechar = new QPushButton(TrLNG("&Ok"), this);
    BtnFechar->setObjectName("BtnFechar");
    BtnFechar->setAutoDefault(false);

    auto* topo = new QHBoxLayout;
    topo->addWidget(EnderIP);
    topo->addWidget(LabelEnderecoVeruzadu, 1);
    auto* baixo = new QHBoxLayout;
    baixo->addWidget(LabelStatus, 1);
    baixo->addWidget(BtnFechar);
    auto* l = new QVBoxLayout(this);
    l->addLayout(topo);
    l->addWidget(GridItens, 1);
    l->addLayout(baixo);
    resize(900, 360);

    ControleStatus::Janela janela;
    janela.mostraTela = [this] { MostraTela(); };
    janela.linhaLog = [this](const std::string& linha) {
        if (ctx_.formLogGrv) ctx_.formLogGrv->AcrescentaLinha(linha);
    };
    janela.carregaGrade = [this] { CarregaEstadoCentrais(); };
    controle_ = std::make_unique<ControleStatus>(ctx_.mensagens, std::move(janela));

    connect(GridItens, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu->popup(GridItens->viewport()->mapToGlobal(p)); });
    connect(GridItens, &QAbstractItemView::doubleClicked, this,
            [this] { RealizarDownloadClick(); });
    connect(RealizarDownload, &QAction::triggered, this, [this] { RealizarDownloadClick(); });
    connect(BtnFechar, &QPushButton::clicked, this, &FormStatus::BtnFecharClick);
}

FormStatus::~FormStatus() = default;

void FormStatus::MostraTela() {
    const ControleStatus::Tela& t = controle_->TelaAtual();
    LabelStatus->setText(QString::fromStdString(t.status));
    LabelStatus->setStyleSheet(t.vermelho ? "color: red" : "color: black");
    RealizarDownload->setEnabled(t.menuDownload);
}

void FormStatus::LeUltimoRegistro() {
    controle_->FechandoStatus = false;
    LabelEnderecoVeruzadu->clear();
    LabelEnderecoVeruzadu->setText(
        QString::fromStdString(::LeUltimoRegistro(ctx_.dados, ctx_.servidorGravacao)));
}

int FormStatus::CodigoSelecionado() const {
    const auto linhas = GridItens->selectionModel()->selectedRows();
    if (linhas.isEmpty()) return 0;
    const int r = linhas.front().row();
    if (r < 0 || r >= static_cast<int>(modelo_->Linhas().size())) return 0;
    return modelo_->Linhas()[static_cast<std::size_t>(r)].codigo;
}

bool FormStatus::SelecionaCentral(int codigo) {
    const auto& linhas = modelo_->Linhas();
    for (std::size_t i = 0; i < linhas.size(); ++i)
        if (linhas[i].codigo == codigo) {
            GridItens->selectRow(static_cast<int>(i));
            return true;
        }
    return false;
}

void FormStatus::CarregaEstadoCentrais() {
    const int selecionado = CodigoSelecionado();
    Ampulheta ampulheta;
    modelo_->CarregaEstadoCentrais(ctx_.dados);
    if (selecionado) SelecionaCentral(selecionado);
}

void FormStatus::RealizarDownloadClick() {
    std::string codigo, nome;
    const int c = CodigoSelecionado();
    for (const LinhaEstadoCentral& l : modelo_->Linhas())
        if (c != 0 && l.codigo == c) {
            codigo = l.colunas[1];
            nome = l.colunas[0];
        }
    controle_->RealizarDownloadClick(codigo, nome, [this](const std::string& descricao) {
        if (ctx_.formLogGrv) ctx_.formLogGrv->Mostra(descricao);
    });
}

void FormStatus::BtnFecharClick() {
    controle_->TimerStatus().stop();
    accept();
}

void FormStatus::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // A window system's own show (after a minimise) is no new showing.
    if (e->spontaneous()) return;
    controle_->FormShow(ctx_.servidorGravacao.CRL_GRVIP, ctx_.servidorGravacao.CRL_GRVPORTA);
}

void FormStatus::done(int r) {
    controle_->FormCloseQuery();
    QDialog::done(r);
}
