#include "console/forms/FormGrupos.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/FormAtualizaRamais.h"
#include "console/forms/TextoTela.h"

// ------------------------------------------------------------ the two lists

ListaRamais::ListaRamais(QWidget* pai) : QListWidget(pai) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // A drop is answered as a copy, so the source never removes items by
    // itself: both lists are drawn again from the editor's choice.
    setDefaultDropAction(Qt::CopyAction);
}

std::vector<std::string> ListaRamais::Selecionadas() const {
    std::vector<std::string> r;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) r.push_back(item(i)->text().toStdString());
    return r;
}

std::vector<std::string> ListaRamais::Entradas() const {
    std::vector<std::string> r;
    for (int i = 0; i < count(); ++i) r.push_back(item(i)->text().toStdString());
    return r;
}

void ListaRamais::Preenche(const std::vector<std::string>& entradas) {
    clear();
    for (const std::string& e : entradas) addItem(QString::fromStdString(e));
}

void ListaRamais::dragEnterEvent(QDragEnterEvent* e) {
    auto* origem = dynamic_cast<ListaRamais*>(e->source());
    if (origem && origem != this && isEnabled())
        e->acceptProposedAction();
    else
        e->ignore();
}

void ListaRamais::dragMoveEvent(QDragMoveEvent* e) {
    auto* origem = dynamic_cast<ListaRamais*>(e->source());
    if (origem && origem != this && isEnabled()) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    } else {
        e->ignore();
    }
}

void ListaRamais::dropEvent(QDropEvent* e) {
    auto* origem = dynamic_cast<ListaRamais*>(e->source());
    if (!origem || origem == this) {
        e->ignore();
        return;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
    if (AoSoltar) AoSoltar(origem);
}

// ------------------------------------------------------------------- editor

namespace {
enum ColunaUnidade { ColCodigo = 0, ColAcesso = 1, ColCentral = 2 };
}

FormEdGrupo::FormEdGrupo(ContextoConsole& ctx, QWidget* pai)
    : QDialog(pai), Edicao(ctx.dados), ctx_(ctx) {
    setObjectName("FormEdGrupo");
    setWindowTitle(Tr("Edição de grupo"));
    edGrupo = new QLineEdit(this);
    edGrupo->setObjectName("edGrupo");
    edGrupo->setMaxLength(30);
    GridItens = GradeLista(this, {"Cód", Tr("Acesso"), Tr("Central")}, 1);
    GridItens->setSortingEnabled(false);
    gbRamais = new QGroupBox(" " + Tr("Ramais que o grupo pode acessar") + "  ", this);
    gbRamais->setObjectName("gbRamais");
    ListBoxRamDisp = new ListaRamais(gbRamais);
    ListBoxRamDisp->setObjectName("ListBoxRamDisp");
    ListBoxRamSel = new ListaRamais(gbRamais);
    ListBoxRamSel->setObjectName("ListBoxRamSel");
    // Arrows, not texts: they do not go through the language file.
    auto seta = [this](const char* nome, const char* texto) {
        auto* b = new QPushButton(QString::fromLatin1(texto), gbRamais);
        b->setObjectName(nome);
        b->setAutoDefault(false);
        return b;
    };
    btnLR = seta("btnLR", ">");
    btnFLR = seta("btnFLR", ">>");
    btnRL = seta("btnRL", "<");
    btnFRL = seta("btnFRL", "<<");
    btnLR->setToolTip(Tr("Adicionar selecionado"));
    btnFLR->setToolTip(Tr("Adicionar todos"));
    btnRL->setToolTip(Tr("Retirar selecionado"));
    btnFRL->setToolTip(Tr("Retirar todos"));
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnCancelar = BotaoNomeado(this, "btnCancelar", "&Cancelar");

    auto* disp = new QVBoxLayout;
    disp->addWidget(new QLabel(Tr("Sem permissão"), gbRamais));
    disp->addWidget(ListBoxRamDisp, 1);
    auto* setas = new QVBoxLayout;
    setas->addStretch();
    for (QPushButton* b : {btnLR, btnFLR, btnRL, btnFRL}) setas->addWidget(b);
    setas->addStretch();
    auto* sel = new QVBoxLayout;
    sel->addWidget(new QLabel(Tr("Com permissão"), gbRamais));
    sel->addWidget(ListBoxRamSel, 1);
    auto* listas = new QHBoxLayout(gbRamais);
    listas->addLayout(disp, 1);
    listas->addLayout(setas);
    listas->addLayout(sel, 1);
    auto* nome = new QHBoxLayout;
    nome->addWidget(new QLabel(Tr("Grupo"), this));
    nome->addWidget(edGrupo, 1);
    auto* l = new QVBoxLayout(this);
    l->addLayout(nome);
    l->addWidget(GridItens, 1);
    l->addWidget(gbRamais, 2);
    l->addLayout(LinhaBotoes({btnOk, btnCancelar}));
    resize(640, 560);

    // A unit flagged for it (PAB_DNSUPDATE) has its names read from its PABX
    // before its lists are shown.
    Edicao.VerificaAtualizacaoRamais = [this](int codigoPABX) {
        ::VerificaAtualizacaoRamais(ctx_, codigoPABX, this);
    };
    ListBoxRamDisp->AoSoltar = [this](ListaRamais* origem) { MoveSelecionados(origem); };
    ListBoxRamSel->AoSoltar = [this](ListaRamais* origem) { MoveSelecionados(origem); };
    connect(btnLR, &QPushButton::clicked, this, [this] { MoveSelecionados(ListBoxRamDisp); });
    connect(btnFLR, &QPushButton::clicked, this, [this] { MoveTodos(ListBoxRamDisp); });
    connect(btnRL, &QPushButton::clicked, this, [this] { MoveSelecionados(ListBoxRamSel); });
    connect(btnFRL, &QPushButton::clicked, this, [this] { MoveTodos(ListBoxRamSel); });
    connect(btnOk, &QPushButton::clicked, this, &FormEdGrupo::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &FormEdGrupo::BtnCancelarClick);
    connect(GridItens, &QTableWidget::currentCellChanged, this,
            [this](int linha, int, int anterior, int) {
                if (!preenchendo_ && linha != anterior) CarregaRamaisPABXGrupo();
            });
    connect(GridItens, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* i) {
        if (!preenchendo_ && i->column() == ColAcesso) AcessoClicado(i->row());
    });
    LimpaTela();
}

void FormEdGrupo::LimpaTela() {
    preenchendo_ = true;
    edGrupo->clear();
    ListBoxRamDisp->clear();
    ListBoxRamSel->clear();
    gbRamais->setEnabled(false);
    GridItens->clearContents();
    GridItens->setRowCount(1);
    GridItens->setCurrentCell(-1, -1);
    CodigoPABXMostrado = 0;
    Edicao.Limpa();
    preenchendo_ = false;
}

int FormEdGrupo::CodigoPABXDaLinha(int linha) const {
    const QTableWidgetItem* i = GridItens->item(linha, ColCodigo);
    return i ? i->data(Qt::UserRole).toInt() : 0;
}

bool FormEdGrupo::CarregaGrupo() {
    if (!ctx_.CarregaParaEdicao([&] { return Edicao.Carrega(CodigoGrupo); }, "Grupo não encontrado",
                                "Não foi possível carregar o grupo")) {
        Edicao.Limpa();
        return false;
    }
    preenchendo_ = true;
    edGrupo->setText(QString::fromStdString(Edicao.NomeOriginal));
    const auto& unidades = Edicao.Unidades();
    GridItens->clearContents();
    GridItens->setRowCount(unidades.empty() ? 1 : static_cast<int>(unidades.size()));
    int linha = 0;
    for (const EdicaoGrupo::Unidade& u : unidades) {
        auto* codigo = new QTableWidgetItem(QString::number(u.codigo));
        codigo->setData(Qt::UserRole, u.codigo);
        GridItens->setItem(linha, ColCodigo, codigo);
        auto* acesso = new QTableWidgetItem;
        acesso->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        acesso->setCheckState(u.acesso ? Qt::Checked : Qt::Unchecked);
        GridItens->setItem(linha, ColAcesso, acesso);
        GridItens->setItem(linha, ColCentral,
                           new QTableWidgetItem(QString::fromStdString(u.descricao)));
        ++linha;
    }
    GridItens->resizeColumnsToContents();
    GridItens->setCurrentCell(-1, -1);
    preenchendo_ = false;
    if (!unidades.empty() && CodigoGrupo > 0) {
        // The first unit the group sees, so its extensions show at once.
        int primeira = 0;
        for (int i = static_cast<int>(unidades.size()) - 1; i >= 0; --i)
            if (unidades[static_cast<std::size_t>(i)].acesso) primeira = i;
        GridItens->setCurrentCell(primeira, ColCentral);
    }
    return true;
}

void FormEdGrupo::AcessoClicado(int linha) {
    const QTableWidgetItem* i = GridItens->item(linha, ColAcesso);
    const int codigo = CodigoPABXDaLinha(linha);
    if (!i || codigo <= 0) return;
    Edicao.DefineAcesso(codigo, i->checkState() == Qt::Checked);
    CodigoPABXMostrado = 0;
    if (GridItens->currentRow() != linha)
        GridItens->setCurrentCell(linha, ColCentral);
    else
        CarregaRamaisPABXGrupo();
}

void FormEdGrupo::CarregaRamaisPABXGrupo() {
    const int codigo = CodigoPABXDaLinha(GridItens->currentRow());
    CodigoPABXMostrado = codigo;
    ListBoxRamDisp->clear();
    ListBoxRamSel->clear();
    const EdicaoGrupo::Unidade* u = codigo > 0 ? Edicao.Procura(codigo) : nullptr;
    if (!u || !u->acesso) {
        gbRamais->setEnabled(false);
        return;
    }
    gbRamais->setEnabled(true);
    std::string erro;
    {
        Ampulheta ampulheta;
        try {
            Edicao.CarregaRamaisUnidade(codigo);
        } catch (const ErroBasePABX& e) {
            // Not an empty unit: say why its extensions cannot be listed.
            GravaLogConsole(std::string(e.what()) + ": " + e.detalhe);
            erro = e.detalhe.empty() ? std::string(e.what())
                                     : std::string(e.what()) + "\n" + e.detalhe;
        } catch (const std::exception& e) {
            GravaLogConsole("Ramais da central " + std::to_string(codigo) + ": " + e.what());
        }
    }
    MostraListas();
    if (!erro.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, erro);
}

void FormEdGrupo::MostraListas() {
    ListBoxRamDisp->Preenche(Edicao.Disponiveis(CodigoPABXMostrado));
    ListBoxRamSel->Preenche(Edicao.Selecionados(CodigoPABXMostrado));
}

void FormEdGrupo::SalvaRamaisPABXSelecionado() {
    if (CodigoPABXMostrado <= 0) return;
    Edicao.RetiraTodos(CodigoPABXMostrado);
    Edicao.Adiciona(CodigoPABXMostrado, ListBoxRamSel->Entradas());
}

void FormEdGrupo::MoveSelecionados(ListaRamais* origem) {
    if (CodigoPABXMostrado <= 0) return;
    const std::vector<std::string> entradas = origem->Selecionadas();
    if (origem == ListBoxRamDisp)
        Edicao.Adiciona(CodigoPABXMostrado, entradas);
    else
        Edicao.Retira(CodigoPABXMostrado, entradas);
    MostraListas();
}

void FormEdGrupo::MoveTodos(ListaRamais* origem) {
    if (CodigoPABXMostrado <= 0) return;
    if (origem == ListBoxRamDisp)
        Edicao.AdicionaTodos(CodigoPABXMostrado);
    else
        Edicao.RetiraTodos(CodigoPABXMostrado);
    MostraListas();
}

bool FormEdGrupo::SalvaEdicao() {
    std::string mensagem;
    if (Edicao.Salva(edGrupo->text().toStdString(), {ctx_.UsuarioCodigo, ctx_.UsuarioNome},
                     mensagem)) {
        CodigoGrupo = Edicao.CodigoGrupo;
        return true;
    }
    if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, mensagem);
    return false;
}

void FormEdGrupo::BtnOkClick() {
    if (!ctx_.dados.BaseConectada()) return;
    if (SalvaEdicao()) accept();
}

void FormEdGrupo::BtnCancelarClick() { reject(); }

void FormEdGrupo::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edGrupo->setFocus();
}

// --------------------------------------------------------------------- list

FormGrupos::FormGrupos(ContextoConsole& ctx, QWidget* pai)
    : ListaCadastro(ctx, "FormGrupos", "Configuração de grupos", {"Cod", Tr("Grupo"), Tr("Ramais")},
                    pai) {
    editor_ = new FormEdGrupo(ctx, this);
}

void FormGrupos::CarregaItens(int codigo) {
    Ampulheta ampulheta;
    std::vector<ItemGrupo> itens;
    try {
        itens = CarregaGrupos(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de grupos: ") + e.what());
    }
    std::vector<std::vector<std::string>> linhas;
    std::vector<int> codigos;
    for (const ItemGrupo& g : itens) {
        linhas.push_back({std::to_string(g.codigo), g.descricao, g.ramais});
        codigos.push_back(g.codigo);
    }
    PreencheGrade(linhas, codigos, codigo);
}

void FormGrupos::CarregaListaGrupos() {
    try {
        ListaGrupos = ::CarregaListaGrupos(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de grupos: ") + e.what());
        ListaGrupos.clear();
    }
}

bool FormGrupos::RemoveItem(int codigo, const std::string& nome) {
    std::string mensagem;
    if (RemoveGrupo(ctx_.dados, codigo, nome, {ctx_.UsuarioCodigo, ctx_.UsuarioNome}, mensagem))
        return true;
    if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, mensagem);
    return false;
}

void FormGrupos::BtnNovoClick() {
    if (!ctx_.dados.BaseConectada()) return;
    editor_->LimpaTela();
    editor_->CodigoGrupo = 0;
    if (!editor_->CarregaGrupo()) return;
    if (editor_->exec() != QDialog::Accepted) return;
    CarregaItens(editor_->CodigoGrupo);
    GruposAlterados = true;
}

void FormGrupos::BtnEditarClick() {
    const int codigo = CodigoAtual();
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    editor_->LimpaTela();
    editor_->CodigoGrupo = codigo;
    if (!editor_->CarregaGrupo()) return;
    if (editor_->exec() != QDialog::Accepted) return;
    CarregaItens(codigo);
    GruposAlterados = true;
}

void FormGrupos::BtnApagarClick() {
    const int codigo = CodigoAtual();
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const std::string nome = TextoDaLinha(GridItens->currentRow(), 1);
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, Traduz("Confirma exclusão de") + " " +
                                                             nome + " ?") != RespostaMensagem::Sim)
        return;
    if (!RemoveItem(codigo, Apara(nome))) return;
    CarregaItens(0);
    GruposAlterados = true;
}
