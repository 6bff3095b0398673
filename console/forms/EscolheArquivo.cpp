#include "console/forms/EscolheArquivo.h"

#include <QDir>
#include <QFileDialog>
#include <deque>

namespace {

std::deque<ArquivoEscolhido>& Proximos() {
    static std::deque<ArquivoEscolhido> fila;
    return fila;
}

std::vector<QString>& Pedidos() {
    static std::vector<QString> lista;
    return lista;
}

ArquivoEscolhido Escolhe(const QString& titulo, const QStringList& filtros, QWidget* pai,
                         bool salvar) {
    Pedidos().push_back(titulo);
    if (!Proximos().empty()) {
        ArquivoEscolhido r = Proximos().front();
        Proximos().pop_front();
        return r;
    }
    QFileDialog dialogo(pai, titulo, QDir::homePath());
    dialogo.setObjectName("EscolheArquivo");
    dialogo.setNameFilters(filtros);
    dialogo.setAcceptMode(salvar ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialogo.setFileMode(salvar ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialogo.exec() != QDialog::Accepted || dialogo.selectedFiles().isEmpty()) return {};
    ArquivoEscolhido r;
    r.caminho = dialogo.selectedFiles().first();
    r.filtro = static_cast<int>(filtros.indexOf(dialogo.selectedNameFilter())) + 1;
    if (r.filtro < 1) r.filtro = 1;
    return r;
}

}  // namespace

ArquivoEscolhido EscolheArquivoSalvar(const QString& titulo, const QStringList& filtros,
                                      QWidget* pai) {
    return Escolhe(titulo, filtros, pai, true);
}

ArquivoEscolhido EscolheArquivoAbrir(const QString& titulo, const QStringList& filtros,
                                     QWidget* pai) {
    return Escolhe(titulo, filtros, pai, false);
}

void ProximoArquivo(const QString& caminho, int filtro) { Proximos().push_back({caminho, filtro}); }

const std::vector<QString>& ArquivosPedidos() { return Pedidos(); }
