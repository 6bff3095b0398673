#include "console/forms/ListaCadastro.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/TextoTela.h"

ListaCadastro::ListaCadastro(ContextoConsole& ctx, const char* nomeObjeto, const char* titulo,
                             const QStringList& colunas, QWidget* pai, int colunaCodigo)
    : QDialog(pai), ctx_(ctx), colunaCodigo_(colunaCodigo) {
    setObjectName(nomeObjeto);
    setWindowTitle(Tr(titulo));
    GridItens = GradeLista(this, colunas, 1);
    btnNovo = BotaoNomeado(this, "btnNovo", "&Novo");
    btnEditar = BotaoNomeado(this, "btnEditar", "&Editar");
    btnApagar = BotaoNomeado(this, "btnApagar", "&Apagar");
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnAjuda = BotaoNomeado(this, "btnAjuda", "A&juda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);

    lado_ = new QVBoxLayout;
    for (QPushButton* b : {btnNovo, btnEditar, btnApagar}) lado_->addWidget(b);
    lado_->addStretch();
    auto* meio = new QHBoxLayout;
    meio->addWidget(GridItens, 1);
    meio->addLayout(lado_);
    auto* l = new QVBoxLayout(this);
    l->addLayout(meio, 1);
    l->addLayout(LinhaBotoes({btnOk, btnAjuda}));
    resize(640, 400);

    connect(btnNovo, &QPushButton::clicked, this, [this] { BtnNovoClick(); });
    connect(btnEditar, &QPushButton::clicked, this, [this] { BtnEditarClick(); });
    connect(btnApagar, &QPushButton::clicked, this, [this] { BtnApagarClick(); });
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, [this] { BtnEditarClick(); });
    connect(GridItens, &QTableWidget::cellClicked, this, [this](int linha) {
        if (const int c = CodigoDaLinha(linha)) CodigoSelecionado = c;
    });
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    // Each list's page, by the window's name.
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoDaJanela(objectName().toStdString()), ctx_.mensagens); });
    connect(TimerEventos, &QTimer::timeout, this, &ListaCadastro::TimerEventosTimer);
}

QPushButton* ListaCadastro::AcrescentaBotao(const char* nome, const char* texto, bool separado) {
    QPushButton* b = BotaoNomeado(this, nome, texto);
    // Before the stretch that keeps the column at the top.
    const int antes = lado_->count() - 1;
    if (separado) lado_->insertSpacing(antes, 16);
    lado_->insertWidget(lado_->count() - 1, b);
    return b;
}

int ListaCadastro::CodigoDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, colunaCodigo_);
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
            if (c == colunaCodigo_)
                item->setData(Qt::UserRole, codigos[static_cast<std::size_t>(l)]);
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
