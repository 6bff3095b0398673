#include "console/forms/FormCentrais.h"
#include "common/db/OperacaoHistorico.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "console/Centrais.h"
#include "console/UtilConsole.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"
#include "console/forms/TrabalhoComProgresso.h"

namespace {

QTableWidget* Grade(QWidget* pai, const QStringList& cabecalhos) {
    auto* g = new QTableWidget(0, static_cast<int>(cabecalhos.size()), pai);
    g->setObjectName("GridItens");
    g->setHorizontalHeaderLabels(cabecalhos);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->verticalHeader()->hide();
    g->horizontalHeader()->setStretchLastSection(true);
    return g;
}

QPushButton* Botao(QWidget* pai, const char* nome, const char* texto) {
    auto* b = new QPushButton(TrLNG(texto), pai);
    b->setObjectName(nome);
    b->setAutoDefault(false);
    return b;
}

void Celula(QTableWidget* g, int linha, int coluna, const std::string& texto, int codigo = 0) {
    auto* item = new QTableWidgetItem(QString::fromStdString(texto));
    // The code travels as a number beside its text, so no conversion can fail.
    if (coluna == 1) item->setData(Qt::UserRole, codigo);
    g->setItem(linha, coluna, item);
}

// With nothing listed the grid still shows one empty row.
void UmaLinhaVazia(QTableWidget* g) {
    g->clearContents();
    g->setRowCount(1);
}

}  // namespace

FormCentrais::FormCentrais(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormCentrais");
    setWindowTitle(Tr("Configuração de centrais"));
    GridItens = Grade(this, {Tr("Central"), "Código", Tr("Endereço IP"), "SDCard"});
    btnNovo = Botao(this, "btnNovo", "&Novo");
    btnEditar = Botao(this, "btnEditar", "&Editar");
    btnApagar = Botao(this, "btnApagar", "&Apagar");
    btnRamais = Botao(this, "btnRamais", "&Ramais");
    btnGravacoes = Botao(this, "btnGravacoes", "&Gravações");
    btnDelReg = Botao(this, "btnDelReg", "&Apagar registros");
    btnOk = Botao(this, "btnOk", "&Ok");
    btnAjuda = Botao(this, "btnAjuda", "A&juda");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);
    auto* lado = new QVBoxLayout;
    for (QPushButton* b : {btnNovo, btnEditar, btnApagar, btnRamais, btnGravacoes, btnDelReg})
        lado->addWidget(b);
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
    resize(720, 420);
    UmaLinhaVazia(GridItens);

    connect(btnNovo, &QPushButton::clicked, this, &FormCentrais::BtnNovoClick);
    connect(btnEditar, &QPushButton::clicked, this, &FormCentrais::BtnEditarClick);
    connect(btnApagar, &QPushButton::clicked, this, &FormCentrais::BtnApagarClick);
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, [this] { BtnEditarClick(); });
    connect(GridItens, &QTableWidget::cellClicked, this, [this](int linha) {
        if (const int c = CodigoDaLinha(linha)) CodigoSelecionado = c;
    });
    auto abre = [this](std::function<void(int, const std::string&)>* seam) {
        return [this, seam] {
            int codigo = 0;
            std::string nome;
            if (*seam && ConectaSelecionada(codigo, nome)) (*seam)(codigo, nome);
        };
    };
    connect(btnRamais, &QPushButton::clicked, this, abre(&AbreRamais));
    connect(btnGravacoes, &QPushButton::clicked, this, abre(&AbreGravacoes));
    connect(btnDelReg, &QPushButton::clicked, this, abre(&AbreApagaRegistros));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoAjuda::Centrais, ctx_.mensagens); });
    connect(TimerEventos, &QTimer::timeout, this, &FormCentrais::TimerEventosTimer);
}

int FormCentrais::CodigoDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, 1);
    return i ? i->data(Qt::UserRole).toInt() : 0;
}

std::string FormCentrais::NomeDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, 0);
    return i ? i->text().toStdString() : std::string();
}

int FormCentrais::CodigoAtual() const { return CodigoDaLinha(GridItens->currentRow()); }

void FormCentrais::CarregaItens(int codigo) {
    QuantidadeCentrais = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    UmaLinhaVazia(GridItens);
    std::vector<ItemCentral> itens;
    try {
        itens = CarregaCentrais(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de centrais: ") + e.what());
    }
    GridItens->setRowCount(itens.empty() ? 1 : static_cast<int>(itens.size()));
    int selecionada = -1;
    for (const ItemCentral& c : itens) {
        const int linha = QuantidadeCentrais++;
        Celula(GridItens, linha, 0, c.descricao);
        Celula(GridItens, linha, 1, CodigoCentralTexto(c.codigo), c.codigo);
        Celula(GridItens, linha, 2, EnderecoCentral(c));
        Celula(GridItens, linha, 3, UsoSDCard(c.sdUsado, c.sdTotal));
        if (c.codigo == codigo) selecionada = linha;
    }
    const bool algum = QuantidadeCentrais > 0;
    for (QPushButton* b : {btnApagar, btnEditar, btnRamais, btnGravacoes, btnDelReg})
        b->setEnabled(algum);
    btnNovo->setEnabled(QuantidadeCentrais < MaximoCentrais);
    if (selecionada >= 0) GridItens->selectRow(selecionada);
    QApplication::restoreOverrideCursor();
}

bool FormCentrais::RemoveItem(int codigo) {
    std::string erro;
    if (RemoveCentral(ctx_.dados, codigo, erro)) return true;
    ctx_.mensagens.Mostra(TipoMensagem::Erro,
                          Traduz("Não foi possível apagar a central") + "\n" + erro);
    return false;
}

void FormCentrais::BtnNovoClick() {
    if (QuantidadeCentrais >= MaximoCentrais || !btnNovo->isEnabled()) return;
    if (!ctx_.dados.BaseConectada() || !EditaCentral) return;
    int codigo = 0;
    std::string nome;
    if (!EditaCentral(codigo, nome) || codigo <= 0) return;
    AposNovaCentral(codigo, nome);
}

void FormCentrais::AposNovaCentral(int codigo, const std::string& nome) {
    ctx_.RegistraHistorico(Operacao::InseridoCentral, nome);
    CarregaItens(codigo);
    // Making a database takes a while: the window keeps answering meanwhile.
    const std::string erro =
        PreparaBancoCentral(ctx_.dados, codigo, [this](const std::function<void()>& cria) {
            ExecutaComProgresso(this, Traduz("Preparando a base de dados da central. Aguarde ..."),
                                cria);
        });
    if (!erro.empty())
        ctx_.mensagens.Mostra(
            TipoMensagem::Aviso,
            Traduz("É necessário preparar a base de dados de ligações para esta central") + "\n\n" +
                erro);
}

void FormCentrais::BtnEditarClick() {
    const int codigo = CodigoAtual();
    if (!btnEditar->isEnabled() || codigo <= 0 || !ctx_.dados.BaseConectada() || !EditaCentral)
        return;
    const std::string nome = NomeDaLinha(GridItens->currentRow());
    int c = codigo;
    std::string novo;
    if (!EditaCentral(c, novo)) return;
    ctx_.RegistraHistorico(Operacao::EditadoCentral, nome);
    CarregaItens(codigo);
    try {
        ctx_.dados.ConectaBasePABX(codigo);
        ctx_.dados.ExecutaPABX([&](Transaction& tr) {
            Statement st(tr, "EXECUTE PROCEDURE UPDATEPABX(?)");
            st.SetInt(0, codigo);
            st.Executa();
        });
    } catch (const std::exception& e) {
        GravaLogConsole("UPDATEPABX " + std::to_string(codigo) + ": " + e.what());
    }
}

void FormCentrais::BtnApagarClick() {
    const int codigo = CodigoAtual();
    if (!btnApagar->isEnabled() || codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const std::string nome = NomeDaLinha(GridItens->currentRow());
    const std::string pergunta =
        Traduz("TODAS as informações desta central serão excluídas.\rConfirma exclusão de") + " " +
        nome + " ?";
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, pergunta) != RespostaMensagem::Sim) return;
    if (!RemoveItem(codigo)) return;
    ctx_.RegistraHistorico(Operacao::RemovidoCentral, nome);
    CarregaItens(0);
}

bool FormCentrais::ConectaSelecionada(int& codigo, std::string& nome) {
    codigo = CodigoAtual();
    if (codigo <= 0) return false;
    nome = NomeDaLinha(GridItens->currentRow());
    try {
        ctx_.dados.ConectaBasePABX(codigo);
        return true;
    } catch (const ErroBasePABX& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, std::string(e.what()) + "\n" + e.detalhe);
    } catch (const std::exception& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, e.what());
    }
    return false;
}

void FormCentrais::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    CodigoSelecionado = 0;
    ctx_.dados.EventoCadastro = false;
    TimerEventos->start();
}

void FormCentrais::done(int r) {
    TimerEventos->stop();
    QDialog::done(r);
}

void FormCentrais::TimerEventosTimer() {
    if (!ctx_.dados.EventoCadastro) return;
    ctx_.dados.EventoCadastro = false;
    CarregaItens(CodigoSelecionado);
}

void FormCentrais::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Insert: BtnNovoClick(); return;
        case Qt::Key_Delete: BtnApagarClick(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: BtnEditarClick(); return;
        default: QDialog::keyPressEvent(e);
    }
}

// ------------------------------------------------------------------ picker

FormBuscaCentral::FormBuscaCentral(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormBuscaCentral");
    setWindowTitle(Tr("Seleção de central"));
    GridItens = Grade(this, {Tr("Central"), Tr("Código"), Tr("Endereço IP")});
    btnOk = Botao(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnCancela = Botao(this, "btnCancela", "&Cancelar");
    auto* baixo = new QHBoxLayout;
    baixo->addStretch();
    baixo->addWidget(btnOk);
    baixo->addWidget(btnCancela);
    auto* l = new QVBoxLayout(this);
    l->addWidget(GridItens, 1);
    l->addLayout(baixo);
    resize(520, 360);
    UmaLinhaVazia(GridItens);
    connect(btnOk, &QPushButton::clicked, this, &FormBuscaCentral::btnOkClick);
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, &FormBuscaCentral::btnOkClick);
    connect(btnCancela, &QPushButton::clicked, this, &QDialog::reject);
}

void FormBuscaCentral::CarregaItens() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    GridItens->setSortingEnabled(false);
    UmaLinhaVazia(GridItens);
    std::vector<ItemCentral> itens;
    try {
        itens = CarregaCentrais(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Seleção de central: ") + e.what());
    }
    std::stable_sort(itens.begin(), itens.end(), [](const ItemCentral& a, const ItemCentral& b) {
        return a.descricao < b.descricao;
    });
    GridItens->setRowCount(itens.empty() ? 1 : static_cast<int>(itens.size()));
    int linha = 0;
    for (const ItemCentral& c : itens) {
        Celula(GridItens, linha, 0, c.descricao);
        Celula(GridItens, linha, 1, CodigoCentralTexto(c.codigo), c.codigo);
        Celula(GridItens, linha, 2, c.enderecoIP);
        ++linha;
    }
    btnOk->setEnabled(!itens.empty());
    if (!itens.empty()) GridItens->selectRow(0);
    QApplication::restoreOverrideCursor();
}

void FormBuscaCentral::btnOkClick() {
    const int linha = GridItens->currentRow();
    const QTableWidgetItem* nome = GridItens->item(linha, 0);
    const QTableWidgetItem* codigo = GridItens->item(linha, 1);
    if (!nome || nome->text().isEmpty() || !codigo) return;
    NomePABX = nome->text().toStdString();
    CodigoPABX = codigo->data(Qt::UserRole).toInt();
    accept();
}
