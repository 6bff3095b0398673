#include "console/forms/ListaCadastro.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"

QPushButton* BotaoCadastro(QWidget* pai, const char* nome, const char* texto) {
    auto* b = new QPushButton(TrLNG(texto), pai);
    b->setObjectName(nome);
    b->setAutoDefault(false);
    return b;
}

ListaCadastro::ListaCadastro(ContextoConsole& ctx, const char* nomeObjeto, const char* titulo,
                             const QStringList& colunas, QWidget* pai)
    : QDialog(pai), ctx_(ctx) {
    setObjectName(nomeObjeto);
    setWindowTitle(Tr(titulo));
    GridItens = new QTableWidget(1, static_cast<int>(colunas.size()), this);
    GridItens->setObjectName("GridItens");
    GridItens->setHorizontalHeaderLabels(colunas);
    GridItens->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridItens->setSelectionMode(QAbstractItemView::SingleSelection);
    GridItens->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridItens->verticalHeader()->hide();
    GridItens->horizontalHeader()->setStretchLastSection(true);
    btnNovo = BotaoCadastro(this, "btnNovo", "&Novo");
    btnEditar = BotaoCadastro(this, "btnEditar", "&Editar");
    btnApagar = BotaoCadastro(this, "btnApagar", "&Apagar");
    btnOk = BotaoCadastro(this, "btnOk", "&Ok");
    btnAjuda = BotaoCadastro(this, "btnAjuda", "A&juda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);

    auto* lado = new QVBoxLayout;
    for (QPushButton* b : {btnNovo, btnEditar, btnApagar}) lado->addWidget(b);
    lado->addStretch();
    auto* meio = new QHBoxLayout;
    meio->addWidget(GridItens, 1);
    meio->addLayout(lado);
    auto* baixo = new QHBoxLayout;
    baixo->addStretch();
    baixo->addWidget(btnOk);
    baixo->addWidget(btnAjuda);
    auto* l = new QVBoxLayout(this);
    l->addLayout(meio, 1);
    l->addLayout(baixo);
    resize(640, 400);

    connect(btnNovo, &QPushButton::clicked, this, [this] { BtnNovoClick(); });
    connect(btnEditar, &QPushButton::clicked, this, [this] { BtnEditarClick(); });
    connect(btnApagar, &QPushButton::clicked, this, [this] { BtnApagarClick(); });
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, [this] { BtnEditarClick(); });
    connect(GridItens, &QTableWidget::cellClicked, this, [this](int linha) {
        if (const int c = CodigoDaLinha(linha)) CodigoSelecionado = c;
    });
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    // Each list's page, by the window's name (groups, users).
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoDaJanela(objectName().toStdString()), ctx_.mensagens); });
    connect(TimerEventos, &QTimer::timeout, this, &ListaCadastro::TimerEventosTimer);
}

int ListaCadastro::CodigoDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, 0);
    return i ? i->data(Qt::UserRole).toInt() : 0;
}

std::string ListaCadastro::TextoDaLinha(int linha, int coluna) const {
    const QTableWidgetItem* i = GridItens->item(linha, coluna);
    return i ? i->text().toStdString() : std::string();
}

int ListaCadastro::CodigoAtual() const { return CodigoDaLinha(GridItens->currentRow()); }

void ListaCadastro::PreencheGrade(const std::vector<std::vector<std::string>>& linhas,
                                  const std::vector<int>& codigos, int codigo) {
    GridItens->clearContents();
    GridItens->setRowCount(linhas.empty() ? 1 : static_cast<int>(linhas.size()));
    Quantidade = static_cast<int>(linhas.size());
    int selecionada = -1;
    for (int l = 0; l < Quantidade; ++l) {
        const auto& celulas = linhas[static_cast<std::size_t>(l)];
        for (int c = 0; c < static_cast<int>(celulas.size()); ++c) {
            auto* item =
                new QTableWidgetItem(QString::fromStdString(celulas[static_cast<std::size_t>(c)]));
            // The code travels as a number beside its text, so no conversion can fail.
            if (c == 0) item->setData(Qt::UserRole, codigos[static_cast<std::size_t>(l)]);
            GridItens->setItem(l, c, item);
        }
        if (codigos[static_cast<std::size_t>(l)] == codigo) selecionada = l;
    }
    btnEditar->setEnabled(Quantidade > 0);
    btnApagar->setEnabled(Quantidade > 0);
    if (selecionada >= 0)
        GridItens->selectRow(selecionada);
    else
        GridItens->setCurrentCell(-1, -1);
    GridItens->resizeColumnsToContents();
}

void ListaCadastro::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    CodigoSelecionado = 0;
    ctx_.dados.EventoCadastro = false;
    TimerEventos->start();
}

void ListaCadastro::done(int r) {
    TimerEventos->stop();
    QDialog::done(r);
}

void ListaCadastro::TimerEventosTimer() {
    if (!ctx_.dados.EventoCadastro) return;
    ctx_.dados.EventoCadastro = false;
    CarregaItens(CodigoSelecionado);
}

void ListaCadastro::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Insert: BtnNovoClick(); return;
        case Qt::Key_Delete: BtnApagarClick(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: BtnEditarClick(); return;
        default: QDialog::keyPressEvent(e);
    }
}
