#pragma once
// The console's file pickers (save and open) with a list of filters. Tests
// queue the next answers with ProximoArquivo, which are then given without a
// dialog; each call's title is recorded in ArquivosPedidos().
//
// Main thread only.

#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

struct ArquivoEscolhido {
    QString caminho;  // empty: cancelled
    int filtro = 1;   // the chosen filter, from 1
};

ArquivoEscolhido EscolheArquivoSalvar(const QString& titulo, const QStringList& filtros,
                                      QWidget* pai);
ArquivoEscolhido EscolheArquivoAbrir(const QString& titulo, const QStringList& filtros,
                                     QWidget* pai);

void ProximoArquivo(const QString& caminho, int filtro);
const std::vector<QString>& ArquivosPedidos();
