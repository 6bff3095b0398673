#include "console/forms/CaixaMensagem.h"

#include "common/Traducao.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>

QString CaixaMensagem::Caption(TipoMensagem tipo) {
    switch (tipo) {
    case TipoMensagem::Erro: return QString::fromStdString(Traduz("Erro"));
    case TipoMensagem::Aviso: return QString::fromStdString(Traduz("Aviso"));
    case TipoMensagem::Informacao: return QString::fromStdString(Traduz("Informação"));
    case TipoMensagem::Confirmacao: return QString::fromStdString(Traduz("Confirmação"));
    }
    return {};
}

RespostaMensagem CaixaMensagem::Mostra(TipoMensagem tipo, const std::string& texto) {
    QMessageBox::Icon icone = QMessageBox::Critical;
    switch (tipo) {
    case TipoMensagem::Erro: icone = QMessageBox::Critical; break;
    case TipoMensagem::Aviso: icone = QMessageBox::Warning; break;
    case TipoMensagem::Informacao: icone = QMessageBox::Information; break;
    case TipoMensagem::Confirmacao: icone = QMessageBox::Question; break;
    }
    mostradas_.push_back({Caption(tipo), icone, QString::fromStdString(texto)});
    if (!proximas_.empty()) {
        const RespostaMensagem r = proximas_.front();
        proximas_.pop_front();
        return r;
    }
    QMessageBox caixa(icone, Caption(tipo), QString::fromStdString(texto), QMessageBox::NoButton, pai);
    caixa.setObjectName("CaixaMensagem");
    if (tipo == TipoMensagem::Confirmacao) {
        caixa.addButton(QMessageBox::Yes)->setText(QString::fromStdString(TraduzLNG("&Sim")));
        caixa.addButton(QMessageBox::No)->setText(QString::fromStdString(TraduzLNG("&Não")));
        caixa.setDefaultButton(QMessageBox::No);
        caixa.setEscapeButton(QMessageBox::No);
    } else {
        caixa.addButton(QMessageBox::Ok)->setText(QString::fromStdString(TraduzLNG("&Ok")));
    }
    const int r = caixa.exec();
    if (tipo != TipoMensagem::Confirmacao) return RespostaMensagem::Ok;
    return r == QMessageBox::Yes ? RespostaMensagem::Sim : RespostaMensagem::Nao;
}

void FechaTodasJanelas(QWidget* principal) {
    // Innermost first, so each modal loop unwinds in order.
    const auto janelas = QApplication::topLevelWidgets();
    for (auto it = janelas.rbegin(); it != janelas.rend(); ++it) {
        QWidget* w = *it;
        if (w == principal || !w->isVisible()) continue;
        if (auto* caixa = qobject_cast<QMessageBox*>(w)) {
            if (QAbstractButton* nao = caixa->button(QMessageBox::No)) {
                nao->click();
                continue;
            }
            caixa->reject();
        } else if (auto* dialogo = qobject_cast<QDialog*>(w)) {
            dialogo->reject();
        } else {
            w->close();
        }
    }
}
