#include "console/forms/CaixaMensagem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>

#include "common/Traducao.h"

QString CaixaMensagem::Caption(TipoMensagem tipo) {
    switch (tipo) {
        case TipoMensagem::Erro: return QString::fromStdString(Traduz("Erro"));
        case TipoMensagem::Aviso: return QString::fromStdString(Traduz("Aviso"));
        case TipoMensagem::Informacao: return QString::fromStdString(Traduz("Informação"));
        case TipoMensagem::Confirmacao: return QString::fromStdString(Traduz("Confirmação"));
    }
    return {};
}

namespace {

QMessageBox::Icon Icone(TipoMensagem tipo) {
    switch (tipo) {
        case TipoMensagem::Erro: return QMessageBox::Critical;
        case TipoMensagem::Aviso: return QMessageBox::Warning;
        case TipoMensagem::Informacao: return QMessageBox::Information;
        case TipoMensagem::Confirmacao: return QMessageBox::Question;
    }
    return QMessageBox::Critical;
}

}  // namespace

std::unique_ptr<QMessageBox> CaixaMensagem::Monta(TipoMensagem tipo, const QString& texto,
                                                  QWidget* pai) {
    auto caixa = std::make_unique<QMessageBox>(Icone(tipo), Caption(tipo), texto,
                                               QMessageBox::NoButton, pai);
    caixa->setObjectName("CaixaMensagem");
    if (tipo == TipoMensagem::Confirmacao) {
        caixa->addButton(QMessageBox::Yes)->setText(QString::fromStdString(TraduzLNG("&Sim")));
        caixa->addButton(QMessageBox::No)->setText(QString::fromStdString(TraduzLNG("&Não")));
        caixa->setDefaultButton(QMessageBox::No);
        caixa->setEscapeButton(QMessageBox::No);
    } else {
        caixa->addButton(QMessageBox::Ok)->setText(QString::fromStdString(TraduzLNG("&Ok")));
    }
    return caixa;
}

RespostaMensagem CaixaMensagem::Mostra(TipoMensagem tipo, const std::string& texto) {
    mostradas_.push_back({Caption(tipo), Icone(tipo), QString::fromStdString(texto)});
    if (!proximas_.empty()) {
        const RespostaMensagem r = proximas_.front();
        proximas_.pop_front();
        return r;
    }
    const auto caixa = Monta(tipo, QString::fromStdString(texto), pai);
    const int r = caixa->exec();
    if (tipo != TipoMensagem::Confirmacao) return RespostaMensagem::Ok;
    return r == QMessageBox::Yes ? RespostaMensagem::Sim : RespostaMensagem::Nao;
}

void FechaTodasJanelas(QWidget* principal) {
    // Newest first: a box opened over a dialog usually comes after it.
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
