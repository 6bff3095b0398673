#include "console/forms/KitJanela.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

#include "console/forms/TextoTela.h"

QPushButton* BotaoNomeado(QWidget* pai, const char* nome, const char* texto) {
    auto* b = new QPushButton(TrLNG(texto), pai);
    b->setObjectName(nome);
    b->setAutoDefault(false);
    return b;
}

QHBoxLayout* LinhaBotoes(std::initializer_list<QPushButton*> botoes) {
    auto* l = new QHBoxLayout;
    l->addStretch();
    for (QPushButton* b : botoes) l->addWidget(b);
    return l;
}

void ComoLista(QTableView* grade) {
    grade->setSelectionBehavior(QAbstractItemView::SelectRows);
    grade->setSelectionMode(QAbstractItemView::SingleSelection);
    grade->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grade->verticalHeader()->hide();
    grade->horizontalHeader()->setStretchLastSection(true);
}

QTableWidget* GradeLista(QWidget* pai, const QStringList& colunas, int linhas) {
    auto* g = new QTableWidget(linhas, static_cast<int>(colunas.size()), pai);
    g->setObjectName("GridItens");
    g->setHorizontalHeaderLabels(colunas);
    ComoLista(g);
    return g;
}

Ampulheta::Ampulheta() { QApplication::setOverrideCursor(Qt::WaitCursor); }

Ampulheta::~Ampulheta() { QApplication::restoreOverrideCursor(); }
