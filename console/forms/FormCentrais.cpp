#include "console/forms/FormCentrais.h"
#include "common/db/OperacaoHistorico.h"

#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "console/Centrais.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/TextoTela.h"
#include "console/forms/TrabalhoComProgresso.h"

namespace {

void Celula(QTableWidget* g, int linha, int coluna, const std::string& texto, int codigo = 0) {
    auto* item = new QTableWidgetItem(QString::fromStdString(texto));
    // The code travels as a number beside its text, so no conversion can fail.
    if (coluna == 1) item->setData(Qt::UserRole, codigo);
    g->setItem(linha, coluna, item);
}

}  // namespace

FormCentrais::FormCentrais(ContextoConsole& ctx, QWidget* pai)
    : ListaCadastro(ctx, "FormCentrais", "Configuração de centrais",
                    {Tr("Central"), "Código", Tr("Endereço IP"), "SDCard"}, pai, 1) {
    btnRamais = AcrescentaBotao("btnRamais", "&Ramais");
    btnGravacoes = AcrescentaBotao("btnGravacoes", "&Gravações");
    btnDelReg = AcrescentaBotao("btnDelReg", "&Apagar registros");
    resize(720, 420);
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
}

void FormCentrais::CarregaItens(int codigo) {
    Ampulheta ampulheta;
    std::vector<ItemCentral> itens;
    try {
        itens = CarregaCentrais(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de centrais: ") + e.what());
    }
    std::vector<std::vector<std::string>> linhas;
    std::vector<int> codigos;
    for (const ItemCentral& c : itens) {
        linhas.push_back({c.descricao, CodigoCentralTexto(c.codigo), EnderecoCentral(c),
                          UsoSDCard(c.sdUsado, c.sdTotal)});
        codigos.push_back(c.codigo);
    }
    PreencheGrade(linhas, codigos, codigo);
    for (QPushButton* b : {btnRamais, btnGravacoes, btnDelReg}) b->setEnabled(Quantidade > 0);
    btnNovo->setEnabled(Quantidade < MaximoCentrais);
}

bool FormCentrais::RemoveItem(int codigo) {
    std::string erro;
    if (RemoveCentral(ctx_.dados, codigo, erro)) return true;
    ctx_.mensagens.Mostra(TipoMensagem::Erro,
                          Traduz("Não foi possível apagar a central") + "\n" + erro);
    return false;
}

void FormCentrais::BtnNovoClick() {
    if (Quantidade >= MaximoCentrais || !btnNovo->isEnabled()) return;
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
    const std::string nome = TextoDaLinha(GridItens->currentRow(), 0);
    int c = codigo;
    std::string novo;
    if (!EditaCentral(c, novo)) return;
    ctx_.RegistraHistorico(Operacao::EditadoCentral, nome);
    CarregaItens(codigo);
    try {
        AtualizaBancoCentral(ctx_.dados, codigo);
    } catch (const std::exception& e) {
        GravaLogConsole("UPDATEPABX " + std::to_string(codigo) + ": " + e.what());
    }
}

void FormCentrais::BtnApagarClick() {
    const int codigo = CodigoAtual();
    if (!btnApagar->isEnabled() || codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const std::string nome = TextoDaLinha(GridItens->currentRow(), 0);
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
    nome = TextoDaLinha(GridItens->currentRow(), 0);
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

// ------------------------------------------------------------------ picker

FormBuscaCentral::FormBuscaCentral(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormBuscaCentral");
    setWindowTitle(Tr("Seleção de central"));
    GridItens = GradeLista(this, {Tr("Central"), Tr("Código"), Tr("Endereço IP")}, 1);
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnCancela = BotaoNomeado(this, "btnCancela", "&Cancelar");
    auto* l = new QVBoxLayout(this);
    l->addWidget(GridItens, 1);
    l->addLayout(LinhaBotoes({btnOk, btnCancela}));
    resize(520, 360);
    connect(btnOk, &QPushButton::clicked, this, &FormBuscaCentral::btnOkClick);
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, &FormBuscaCentral::btnOkClick);
    connect(btnCancela, &QPushButton::clicked, this, &QDialog::reject);
}

void FormBuscaCentral::CarregaItens() {
    Ampulheta ampulheta;
    GridItens->setSortingEnabled(false);
    GridItens->clearContents();
    GridItens->setRowCount(1);
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
