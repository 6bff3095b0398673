#include "console/forms/EscolhePasta.h"

#include <QDir>
#include <QFileDialog>
#include <deque>

namespace {

std::deque<QString>& Proximas() {
    static std::deque<QString> fila;
    return fila;
}

std::vector<QString>& Pedidas() {
    static std::vector<QString> lista;
    return lista;
}

}  // namespace

QString BrowseForFolderPath(const QString& titulo, const QString& inicial, QWidget* pai,
                            bool novaPasta) {
    Pedidas().push_back(titulo);
    if (!Proximas().empty()) {
        QString r = Proximas().front();
        Proximas().pop_front();
        return r;
    }
    QFileDialog::Options opcoes = QFileDialog::ShowDirsOnly;
    QFileDialog dialogo(pai, titulo, inicial.isEmpty() ? QDir::homePath() : inicial);
    dialogo.setFileMode(QFileDialog::Directory);
    dialogo.setOptions(opcoes);
    dialogo.setObjectName("EscolhePasta");
    if (!novaPasta) dialogo.setOption(QFileDialog::ReadOnly);
    if (dialogo.exec() != QDialog::Accepted || dialogo.selectedFiles().isEmpty()) return {};
    return QDir::toNativeSeparators(dialogo.selectedFiles().first());
}

void ProximaPasta(const QString& resposta) { Proximas().push_back(resposta); }

const std::vector<QString>& PastasPedidas() { return Pedidas(); }
