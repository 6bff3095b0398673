#include "console/forms/FormClientes.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Configuracao.h"
#include "console/Contatos.h"
#include "console/UtilConsole.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/EscolheArquivo.h"
#include "console/forms/FormEdCliente.h"
#include "console/forms/TextoTela.h"
#include "console/forms/TrabalhoComProgresso.h"

namespace {

QPushButton* Botao(QWidget* pai, const char* nome, const char* texto) {
    auto* b = new QPushButton(TrLNG(texto), pai);
    b->setObjectName(nome);
    b->setAutoDefault(false);
    return b;
}

QStringList FiltrosAgenda() {
    return {Tr("Arquivo do Vostrel") + " (*.csv)", Tr("Arquivo da Kandrup Norvika") + " (*.csv)"};
}

FormatoAgenda Formato(int filtro) {
    return filtro == 2 ? FormatoAgenda::Kandrup : FormatoAgenda::Vostrel;
}

// The hourglass while the work runs.
struct Ampulheta {
    Ampulheta() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Ampulheta() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

FormClientes::FormClientes(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormClientes");
    setWindowTitle(Tr("Configuração de contatos"));
    GridItens = new QTableWidget(0, 3, this);
    GridItens->setObjectName("GridItens");
    GridItens->setHorizontalHeaderLabels({Tr("Cod"), Tr("Contato"), Tr("Identificador")});
    GridItens->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridItens->setSelectionMode(QAbstractItemView::SingleSelection);
    GridItens->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridItens->verticalHeader()->hide();
    GridItens->horizontalHeader()->setStretchLastSection(true);
    BtnNovo = Botao(this, "BtnNovo", "&Novo");
    BtnEditar = Botao(this, "BtnEditar", "&Editar");
    BtnApagar = Botao(this, "BtnApagar", "&Apagar");
    btnImportar = Botao(this, "btnImportar", "&Importar");
    btnExportar = Botao(this, "btnExportar", "E&xportar");
    BtnFechar = Botao(this, "BtnFechar", "&Fechar");
    btnAjuda = Botao(this, "btnAjuda", "A&juda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);
    formEdCliente = new FormEdCliente(ctx, this);

    auto* lado = new QVBoxLayout;
    for (QPushButton* b : {BtnNovo, BtnEditar, BtnApagar}) lado->addWidget(b);
    lado->addSpacing(16);
    lado->addWidget(btnImportar);
    lado->addWidget(btnExportar);
    lado->addStretch();
    auto* meio = new QHBoxLayout;
    meio->addWidget(GridItens, 1);
    meio->addLayout(lado);
    auto* baixo = new QHBoxLayout;
    baixo->addStretch();
    baixo->addWidget(BtnFechar);
    baixo->addWidget(btnAjuda);
    auto* l = new QVBoxLayout(this);
    l->addLayout(meio, 1);
    l->addLayout(baixo);
    resize(640, 420);
    GridItens->setRowCount(1);

    connect(BtnNovo, &QPushButton::clicked, this, &FormClientes::BtnNovoClick);
    connect(BtnEditar, &QPushButton::clicked, this, &FormClientes::BtnEditarClick);
    connect(BtnApagar, &QPushButton::clicked, this, &FormClientes::BtnApagarClick);
    connect(btnImportar, &QPushButton::clicked, this, &FormClientes::btnImportarClick);
    connect(btnExportar, &QPushButton::clicked, this, &FormClientes::btnExportarClick);
    connect(BtnFechar, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoAjuda::Contatos, ctx_.mensagens); });
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, [this] { BtnEditarClick(); });
    connect(GridItens, &QTableWidget::cellClicked, this, [this](int linha) {
        if (const int c = CodigoDaLinha(linha)) CodigoSelecionado = c;
    });
    connect(TimerEventos, &QTimer::timeout, this, &FormClientes::TimerEventosTimer);
}

int FormClientes::CodigoDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, 0);
    return i ? i->data(Qt::UserRole).toInt() : 0;
}

std::string FormClientes::NomeDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, 1);
    return i ? i->text().toStdString() : std::string();
}

void FormClientes::CarregaItens(int codigo) {
    Ampulheta a;
    GridItens->clearContents();
    GridItens->setRowCount(1);
    QuantidadeClientes = 0;
    std::vector<ItemCliente> itens;
    try {
        itens = CarregaClientes(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de contatos: ") + e.what());
    }
    GridItens->setRowCount(itens.empty() ? 1 : static_cast<int>(itens.size()));
    int selecionada = -1;
    for (const ItemCliente& c : itens) {
        const int linha = QuantidadeClientes++;
        auto* cod = new QTableWidgetItem(QString::number(c.codigo));
        cod->setData(Qt::UserRole, c.codigo);
        GridItens->setItem(linha, 0, cod);
        GridItens->setItem(linha, 1, new QTableWidgetItem(QString::fromStdString(c.descricao)));
        GridItens->setItem(linha, 2, new QTableWidgetItem(QString::fromStdString(c.identificador)));
        if (c.codigo == codigo) selecionada = linha;
    }
    BtnEditar->setEnabled(QuantidadeClientes > 0);
    BtnApagar->setEnabled(QuantidadeClientes > 0);
    if (selecionada >= 0) GridItens->selectRow(selecionada);
    GridItens->resizeColumnsToContents();
}

bool FormClientes::RemoveItem(int codigo, const std::string& nome) {
    const AutorHistorico autor{ctx_.UsuarioCodigo, ctx_.UsuarioNome};
    return RemoveCliente(ctx_.dados, ctx_.mensagens, codigo, nome, autor);
}

bool FormClientes::VerificaDDD() {
    if (const auto ddd = LeDDDLocal()) {
        DDDLocal = *ddd;
        return true;
    }
    FormEdDDD dialogo(ctx_, this);
    if (dialogo.exec() != QDialog::Accepted) return false;
    DDDLocal = GravaDDDLocal(dialogo.cbDDD->currentText().toStdString());
    return true;
}

void FormClientes::BtnNovoClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    formEdCliente->CodigoCliente = 0;
    formEdCliente->NomeAnterior.clear();
    formEdCliente->LimpaTela();
    if (formEdCliente->exec() != QDialog::Accepted) return;
    CarregaItens(formEdCliente->CodigoCliente);
}

void FormClientes::BtnEditarClick() {
    const int linha = GridItens->currentRow();
    const int codigo = CodigoDaLinha(linha);
    if (codigo <= 0 || !ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    formEdCliente->CodigoCliente = codigo;
    formEdCliente->NomeAnterior = NomeDaLinha(linha);
    formEdCliente->LimpaTela();
    if (!formEdCliente->CarregaItem()) return;
    if (formEdCliente->exec() != QDialog::Accepted) return;
    CarregaItens(codigo);
}

void FormClientes::BtnApagarClick() {
    const int linha = GridItens->currentRow();
    const int codigo = CodigoDaLinha(linha);
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const std::string nome = NomeDaLinha(linha);
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, Traduz("Confirma exclusão de") + " " +
                                                             nome + " ?") != RespostaMensagem::Sim)
        return;
    if (!RemoveItem(codigo, nome)) return;
    CarregaItens(0);
}

void FormClientes::btnExportarClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    const ArquivoEscolhido escolhido =
        EscolheArquivoSalvar(Tr("Exportar contatos"), FiltrosAgenda(), this);
    if (escolhido.caminho.isEmpty()) return;
    const std::filesystem::path arquivo = NomeArquivoAgenda(escolhido.caminho.toStdString());
    std::string erro;
    try {
        Ampulheta a;
        auto destino = CriaDestino(arquivo);
        ExportaContatos(ctx_.dados, Formato(escolhido.filtro), DDDLocal, *destino);
    } catch (const SemConexaoBD&) {
        ctx_.dados.BaseConectada();
        return;
    } catch (const FirebirdError& e) {
        if (e.ConexaoPerdida()) return;
        erro = e.what();
    } catch (const std::exception& e) {
        erro = e.what();
    }
    if (!erro.empty()) {
        GravaLogConsole("Exportar contatos: " + erro);
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz("Não foi possível exportar o arquivo") +
                                                      " " + arquivo.string() + "\n" + erro);
        return;
    }
    ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("Arquivo") + " " + arquivo.string() +
                                                        " " + Traduz("foi criado com sucesso"));
}

void FormClientes::btnImportarClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    const ArquivoEscolhido escolhido =
        EscolheArquivoAbrir(Tr("Importar contatos"), FiltrosAgenda(), this);
    if (escolhido.caminho.isEmpty()) return;
    const std::filesystem::path arquivo = escolhido.caminho.toStdString();
    ResultadoImportacao r;
    {
        Ampulheta a;
        // Linking every database's recordings takes a while: the window
        // keeps answering meanwhile.
        r = ImportaContatos(ctx_.dados, arquivo, Formato(escolhido.filtro), DDDLocal,
                            [this](const std::function<void()>& vincula) {
                                ExecutaComProgresso(
                                    this, Traduz("Vinculando gravações aos contatos. Aguarde ..."),
                                    vincula);
                            });
    }
    if (!r.importado) {
        if (!r.erro.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, r.erro);
        return;
    }
    ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("Arquivo") + " " + arquivo.string() +
                                                        " " + Traduz("foi importado"));
    if (!r.falhasVinculo.empty()) {
        std::string texto;
        for (const std::string& l : r.falhasVinculo) texto += (texto.empty() ? "" : "\n") + l;
        ctx_.mensagens.Mostra(TipoMensagem::Aviso, texto);
    }
}

void FormClientes::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    CodigoSelecionado = 0;
    ctx_.dados.EventoCadastro = false;
    TimerEventos->start();
}

void FormClientes::done(int r) {
    TimerEventos->stop();
    QDialog::done(r);
}

void FormClientes::TimerEventosTimer() {
    if (!ctx_.dados.EventoCadastro) return;
    ctx_.dados.EventoCadastro = false;
    CarregaItens(CodigoSelecionado);
}

void FormClientes::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Insert: BtnNovoClick(); return;
        case Qt::Key_Delete: BtnApagarClick(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: BtnEditarClick(); return;
        default: QDialog::keyPressEvent(e);
    }
}
