#pragma once
// The pieces the windows build themselves from, so each window only says
// what it holds: a named push button with a translated caption, a row of
// buttons pushed to the right (the Ok/Cancel row), a read-only list grid
// selecting whole rows, and the hourglass shown while a scope runs.
// Main thread only.

#include <QStringList>
#include <initializer_list>

class QHBoxLayout;
class QPushButton;
class QTableView;
class QTableWidget;
class QWidget;

// A push button named `nome` with a translated caption ("&" marks the
// accelerator); it never becomes the default button on its own.
QPushButton* BotaoNomeado(QWidget* pai, const char* nome, const char* texto);

// The buttons side by side, right-aligned (Ok, Cancelar, Ajuda...).
QHBoxLayout* LinhaBotoes(std::initializer_list<QPushButton*> botoes);

// A grid read as a list: no editing, one whole row selected at a time, no
// row numbers, the last column stretched.
void ComoLista(QTableView* grade);

// A grid named "GridItens" with these column titles and `linhas` rows: no
// editing, one whole row selected at a time, no row numbers, the last
// column stretched (ComoLista).
QTableWidget* GradeLista(QWidget* pai, const QStringList& colunas, int linhas = 0);

// The hourglass for as long as the object lives.
class Ampulheta {
  public:
    Ampulheta();
    ~Ampulheta();
    Ampulheta(const Ampulheta&) = delete;
    Ampulheta& operator=(const Ampulheta&) = delete;
};
