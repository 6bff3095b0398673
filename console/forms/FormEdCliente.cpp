#include "console/forms/FormEdCliente.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "console/Contatos.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/TextoTela.h"

namespace {

// A text field of `largura` characters; `digitos` admits only 0-9, typed or
// pasted.
QLineEdit* Campo(QWidget* pai, const char* nome, int largura, bool digitos = false) {
    auto* e = new QLineEdit(pai);
    e->setObjectName(nome);
    e->setMaxLength(largura);
    if (digitos) e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    return e;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string S(const QLineEdit* e) { return e->text().toStdString(); }

}  // namespace

// ------------------------------------------------------------------ phone

FormEdFone::FormEdFone(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdFone");
    setWindowTitle(Tr("Edição de telefone"));
    edFone = Campo(this, "edFone", 20, true);
    cbTipoFone = new QComboBox(this);
    cbTipoFone->setObjectName("cbTipoFone");
    for (int t = 0; t < 3; ++t) cbTipoFone->addItem(Q(DescricaoTipoFone(t)));
    BtnOk = BotaoNomeado(this, "BtnOk", "&Ok");
    BtnOk->setDefault(true);
    BtnCancelar = BotaoNomeado(this, "BtnCancelar", "&Cancelar");
    auto* form = new QFormLayout;
    form->addRow(Tr("Número do telefone"), edFone);
    form->addRow(Tr("Tipo"), cbTipoFone);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addLayout(LinhaBotoes({BtnOk, BtnCancelar}));
    connect(BtnOk, &QPushButton::clicked, this, &FormEdFone::BtnOkClick);
    connect(BtnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormEdFone::LimpaTela() {
    edFone->clear();
    cbTipoFone->setCurrentIndex(0);
}

bool FormEdFone::SalvaEdicao() {
    if (Apara(S(edFone)).empty()) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz("Informe o número do telefone"));
        return false;
    }
    return true;
}

void FormEdFone::BtnOkClick() {
    if (ctx_.dados.BaseConectada() && SalvaEdicao()) accept();
}

void FormEdFone::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edFone->setFocus();
}

// ---------------------------------------------------------------- contact

FormEdCliente::FormEdCliente(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdCliente");
    setWindowTitle(Tr("Edição de contato"));
    edCliente = Campo(this, "edCliente", 40);
    edCNPJ = Campo(this, "edCNPJ", 20, true);
    edEndereco = Campo(this, "edEndereco", 40);
    edNumero = Campo(this, "edNumero", 10);
    edBairro = Campo(this, "edBairro", 30);
    edCEP = Campo(this, "edCEP", 8, true);
    edLocalidade = Campo(this, "edLocalidade", 30);
    edContato = Campo(this, "edContato", 40);
    edEmail = Campo(this, "edEmail", 80);
    cbUF = new QComboBox(this);
    cbUF->setObjectName("cbUF");
    for (const std::string& uf : UFsCliente()) cbUF->addItem(Q(uf));
    GridFones = GradeLista(this, {Tr("Número"), Tr("Tipo")});
    GridFones->setObjectName("GridFones");
    btnNovo = BotaoNomeado(this, "btnNovo", "&Novo");
    btnEditar = BotaoNomeado(this, "btnEditar", "&Editar");
    btnApagar = BotaoNomeado(this, "btnApagar", "&Apagar");
    BtnOk = BotaoNomeado(this, "BtnOk", "&Ok");
    BtnCancelar = BotaoNomeado(this, "BtnCancelar", "&Cancelar");
    formEdFone = new FormEdFone(ctx, this);

    auto* form = new QFormLayout;
    form->addRow(Tr("Nome"), edCliente);
    form->addRow(Tr("CNPJ/CPF"), edCNPJ);
    auto* endereco = new QHBoxLayout;
    endereco->addWidget(edEndereco, 3);
    endereco->addWidget(new QLabel(Tr("Número"), this));
    endereco->addWidget(edNumero, 1);
    form->addRow(Tr("Endereço"), endereco);
    auto* bairro = new QHBoxLayout;
    bairro->addWidget(edBairro, 2);
    bairro->addWidget(new QLabel(Tr("CEP"), this));
    bairro->addWidget(edCEP, 1);
    form->addRow(Tr("Bairro"), bairro);
    auto* cidade = new QHBoxLayout;
    cidade->addWidget(edLocalidade, 3);
    cidade->addWidget(new QLabel(Tr("UF"), this));
    cidade->addWidget(cbUF);
    form->addRow(Tr("Localidade"), cidade);
    form->addRow(Tr("Contato"), edContato);
    form->addRow(Tr("Email"), edEmail);
    auto* fonesBotoes = new QVBoxLayout;
    for (QPushButton* b : {btnNovo, btnEditar, btnApagar}) fonesBotoes->addWidget(b);
    fonesBotoes->addStretch();
    auto* fones = new QHBoxLayout;
    fones->addWidget(GridFones, 1);
    fones->addLayout(fonesBotoes);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addWidget(new QLabel(Tr("Telefones"), this));
    l->addLayout(fones, 1);
    l->addLayout(LinhaBotoes({BtnOk, BtnCancelar}));
    resize(560, 520);
    LimpaTela();

    connect(btnNovo, &QPushButton::clicked, this, &FormEdCliente::BtnNovoClick);
    connect(btnEditar, &QPushButton::clicked, this, &FormEdCliente::BtnEditarClick);
    connect(btnApagar, &QPushButton::clicked, this, &FormEdCliente::BtnApagarClick);
    connect(GridFones, &QTableWidget::cellDoubleClicked, this, [this] { BtnEditarClick(); });
    connect(BtnOk, &QPushButton::clicked, this, &FormEdCliente::BtnOkClick);
    connect(BtnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormEdCliente::LimpaTela() {
    for (QLineEdit* e : {edCliente, edCNPJ, edEndereco, edNumero, edBairro, edCEP, edLocalidade,
                         edContato, edEmail})
        e->clear();
    cbUF->setCurrentIndex(0);
    MostraFones({});
}

void FormEdCliente::MostraFones(const std::vector<FoneAgenda>& fones) {
    GridFones->clearContents();
    GridFones->setRowCount(fones.empty() ? 1 : static_cast<int>(fones.size()));
    for (int i = 0; i < static_cast<int>(fones.size()); ++i) {
        GridFones->setItem(i, 0, new QTableWidgetItem(Q(fones[i].numero)));
        GridFones->setItem(i, 1, new QTableWidgetItem(Q(DescricaoTipoFone(fones[i].tipo))));
    }
    if (!fones.empty()) GridFones->setCurrentCell(0, 0);
    AtualizaBotoesFone();
}

void FormEdCliente::AtualizaBotoesFone() {
    const bool algum = !NumeroDaLinha(0).empty();
    btnEditar->setEnabled(algum);
    btnApagar->setEnabled(algum);
}

std::string FormEdCliente::NumeroDaLinha(int linha) const {
    const QTableWidgetItem* i = GridFones->item(linha, 0);
    return i ? Apara(i->text().toStdString()) : std::string();
}

bool FormEdCliente::CarregaItem() {
    ClienteAgenda c;
    if (!ctx_.CarregaParaEdicao([&] { return CarregaCliente(ctx_.dados, CodigoCliente, c); },
                                "Contato não encontrado", "Não foi possível carregar o contato"))
        return false;
    edCliente->setText(Q(c.descricao));
    edCNPJ->setText(Q(c.identificador));
    edEndereco->setText(Q(c.endereco));
    edNumero->setText(Q(c.endernum));
    edBairro->setText(Q(c.bairro));
    edCEP->setText(Q(c.cep));
    edLocalidade->setText(Q(c.cidade));
    edContato->setText(Q(c.contato));
    edEmail->setText(Q(c.email));
    cbUF->setCurrentIndex(cbUF->findText(Q(c.uf)));
    MostraFones(c.fones);
    return true;
}

ClienteAgenda FormEdCliente::Cliente() const {
    ClienteAgenda c;
    c.codigo = CodigoCliente;
    c.descricao = S(edCliente);
    c.identificador = S(edCNPJ);
    c.endereco = S(edEndereco);
    c.endernum = S(edNumero);
    c.bairro = S(edBairro);
    c.cep = S(edCEP);
    c.cidade = S(edLocalidade);
    c.uf = cbUF->currentText().toStdString();
    c.contato = S(edContato);
    c.email = S(edEmail);
    for (int i = 0; i < GridFones->rowCount(); ++i) {
        const std::string numero = NumeroDaLinha(i);
        if (numero.empty()) continue;
        const QTableWidgetItem* tipo = GridFones->item(i, 1);
        c.fones.push_back({numero, CodigoTipoFone(tipo ? tipo->text().toStdString() : "")});
    }
    return c;
}

bool FormEdCliente::TelefoneCadastrado(const std::string& numero, int linhaEditada) {
    for (int i = 0; i < GridFones->rowCount(); ++i)
        if (i != linhaEditada && NumeroDaLinha(i) == numero) {
            ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                                  Traduz("Número") + " " + numero + " " +
                                      Traduz("já está na lista de telefones do contato"));
            return true;
        }
    int dono = 0;
    try {
        dono = DonoTelefone(ctx_.dados, numero, CodigoCliente);
    } catch (const SemConexaoBD&) {
        ctx_.dados.BaseConectada();
        return true;
    } catch (const std::exception& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Não foi possível verificar o número") + "\n" + e.what());
        return true;
    }
    if (dono == 0) return false;
    ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                          Traduz("Número") + " " + numero + " " +
                              Traduz("já está registrado para outro contato"));
    return true;
}

bool FormEdCliente::SalvaEdicao() {
    ClienteAgenda c = Cliente();
    const AutorHistorico autor{ctx_.UsuarioCodigo, ctx_.UsuarioNome};
    if (!SalvaCliente(ctx_.dados, ctx_.mensagens, c, autor, NomeAnterior)) return false;
    CodigoCliente = c.codigo;
    return true;
}

void FormEdCliente::BtnOkClick() {
    if (ctx_.dados.BaseConectada() && SalvaEdicao()) accept();
}

void FormEdCliente::BtnNovoClick() {
    if (!ctx_.dados.BaseConectada()) return;
    formEdFone->LimpaTela();
    if (formEdFone->exec() != QDialog::Accepted) return;
    const std::string numero = Apara(formEdFone->edFone->text().toStdString());
    if (TelefoneCadastrado(numero)) return;
    int linha = GridFones->rowCount();
    if (NumeroDaLinha(0).empty() && linha <= 1)
        linha = 0;
    else
        GridFones->setRowCount(linha + 1);
    GridFones->setItem(linha, 0, new QTableWidgetItem(Q(numero)));
    GridFones->setItem(linha, 1, new QTableWidgetItem(formEdFone->cbTipoFone->currentText()));
    GridFones->setCurrentCell(linha, 0);
    AtualizaBotoesFone();
}

void FormEdCliente::BtnEditarClick() {
    const int linha = GridFones->currentRow();
    const std::string atual = NumeroDaLinha(linha);
    if (atual.empty() || !ctx_.dados.BaseConectada()) return;
    formEdFone->edFone->setText(Q(atual));
    const QTableWidgetItem* tipo = GridFones->item(linha, 1);
    formEdFone->cbTipoFone->setCurrentIndex(
        CodigoTipoFone(tipo ? tipo->text().toStdString() : std::string()));
    if (formEdFone->exec() != QDialog::Accepted) return;
    const std::string numero = Apara(formEdFone->edFone->text().toStdString());
    if (TelefoneCadastrado(numero, linha)) return;
    GridFones->setItem(linha, 0, new QTableWidgetItem(Q(numero)));
    GridFones->setItem(linha, 1, new QTableWidgetItem(formEdFone->cbTipoFone->currentText()));
}

void FormEdCliente::BtnApagarClick() {
    const int linha = GridFones->currentRow();
    const std::string numero = NumeroDaLinha(linha);
    if (numero.empty() || !ctx_.dados.BaseConectada()) return;
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao,
                              Traduz("Confirma exclusão de") + " " + numero + " ?") !=
        RespostaMensagem::Sim)
        return;
    if (GridFones->rowCount() == 1)
        GridFones->clearContents();
    else
        GridFones->removeRow(linha);
    AtualizaBotoesFone();
}

// --------------------------------------------------------------- area code

FormEdDDD::FormEdDDD(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdDDD");
    setWindowTitle(Tr("Edição de código DDD"));
    cbDDD = new QComboBox(this);
    cbDDD->setObjectName("cbDDD");
    for (const std::string& d : CodigosDDD()) cbDDD->addItem(Q(d));
    cbDDD->setCurrentIndex(cbDDD->findText("48"));
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnCancelar = BotaoNomeado(this, "btnCancelar", "&Cancelar");
    auto* form = new QFormLayout;
    form->addRow(Tr("Código DDD"), cbDDD);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addLayout(LinhaBotoes({btnOk, btnCancelar}));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormEdDDD::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Once per showing: a box on every activation would come back each time
    // it closes and hands the focus back.
    QTimer::singleShot(0, this, [this] {
        ctx_.mensagens.Mostra(
            TipoMensagem::Informacao,
            Traduz("Informe o código DDD da localidade de instalação do veruzadu."));
    });
}
