#include "console/forms/FormEdCfgRamal.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "common/Texto.h"
#include "common/Traducao.h"
#include "console/ConfigRamais.h"
#include "console/EdicaoConfigRamal.h"
#include "console/MDados.h"
#include "console/LinkRamais.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/TextoTela.h"

namespace {

QCheckBox* NovaCaixa(QWidget* pai, const char* nome, const char* texto) {
    auto* c = new QCheckBox(Tr(texto), pai);
    c->setObjectName(nome);
    return c;
}

QListWidget* NovaLista(QWidget* pai, const char* nome) {
    auto* l = new QListWidget(pai);
    l->setObjectName(nome);
    l->setSortingEnabled(true);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return l;
}

QPushButton* NovoBotao(QWidget* pai, const char* nome, const char* texto, const char* dica = "") {
    auto* b = new QPushButton(TrLNG(texto), pai);
    b->setObjectName(nome);
    b->setAutoDefault(false);
    if (*dica) b->setToolTip(Tr(dica));
    return b;
}

void Preenche(QListWidget* l, const std::vector<std::string>& nomes) {
    l->clear();
    for (const std::string& n : nomes) l->addItem(QString::fromStdString(n));
}

}  // namespace

FormEdCfgRamal::FormEdCfgRamal(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdCfgRamal");
    setWindowTitle(Tr("Configuração de gravação de ramal"));
    gbRamais = new QGroupBox(" " + Tr("Ramais") + " ", this);
    gbRamais->setObjectName("gbRamais");
    LBRamais = NovaLista(gbRamais, "LBRamais");
    (new QVBoxLayout(gbRamais))->addWidget(LBRamais);

    gbPermissao = new QGroupBox(" " + Tr("Permissões de gravação") + " ", this);
    gbPermissao->setObjectName("gbPermissao");
    cbPodeGrvINT =
        NovaCaixa(gbPermissao, "cbPodeGrvINT", "Ramal pode fazer gravação de chamadas internas");
    cbPodeGrvORI =
        NovaCaixa(gbPermissao, "cbPodeGrvORI", "Ramal pode fazer gravação de chamadas originadas");
    cbPodeGrvREC =
        NovaCaixa(gbPermissao, "cbPodeGrvREC", "Ramal pode fazer gravação de chamadas recebidas");
    cbTodaGrvINT = NovaCaixa(gbPermissao, "cbTodaGrvINT", "Grava todas as chamadas internas");
    cbTodaGrvORI = NovaCaixa(gbPermissao, "cbTodaGrvORI", "Grava todas as chamadas originadas");
    cbTodaGrvREC = NovaCaixa(gbPermissao, "cbTodaGrvREC", "Grava todas as chamadas recebidas");
    cbAutorGrvINT = NovaCaixa(gbPermissao, "cbAutorGrvINT",
                              "Autoriza gravação de chamadas internas por terceiros");
    cbAutorGrvORI = NovaCaixa(gbPermissao, "cbAutorGrvORI",
                              "Autoriza gravação de chamadas originadas por terceiros");
    cbAutorGrvREC = NovaCaixa(gbPermissao, "cbAutorGrvREC",
                              "Autoriza gravação de chamadas recebidas por terceiros");
    cbTodasPortas = NovaCaixa(gbPermissao, "cbTodasPortas", "Todas as portas comandam gravação");
    cbTodasPortas->setEnabled(false);
    auto* lp = new QVBoxLayout(gbPermissao);
    for (int b = 0; b < 10; ++b) lp->addWidget(Caixa(b));

    gbRamaisAutorizados =
        new QGroupBox(" " + Tr("Ramais autorizados a iniciar gravação de terceiros") + " ", this);
    gbRamaisAutorizados->setObjectName("gbRamaisAutorizados");
    ListBoxRamDisp = NovaLista(gbRamaisAutorizados, "ListBoxRamDisp");
    ListBoxRamSel = NovaLista(gbRamaisAutorizados, "ListBoxRamSel");
    // Entries may also be dragged from one list to the other.
    for (QListWidget* l : {ListBoxRamDisp, ListBoxRamSel}) {
        l->setDragDropMode(QAbstractItemView::DragDrop);
        l->setDefaultDropAction(Qt::MoveAction);
    }
    btnLR = NovoBotao(gbRamaisAutorizados, "btnLR", ">", "Adicionar selecionado");
    btnFLR = NovoBotao(gbRamaisAutorizados, "btnFLR", ">>", "Adicionar todos");
    btnRL = NovoBotao(gbRamaisAutorizados, "btnRL", "<", "Retirar selecionado");
    btnFRL = NovoBotao(gbRamaisAutorizados, "btnFRL", "<<", "Retirar todos");
    // Arrows, not words: shown as they stand.
    btnLR->setText(">");
    btnFLR->setText(">>");
    btnRL->setText("<");
    btnFRL->setText("<<");
    auto* la = new QGridLayout(gbRamaisAutorizados);
    la->addWidget(new QLabel(Tr("Não autorizados"), gbRamaisAutorizados), 0, 0);
    la->addWidget(new QLabel(Tr("Autorizados"), gbRamaisAutorizados), 0, 2);
    la->addWidget(ListBoxRamDisp, 1, 0);
    auto* botoes = new QVBoxLayout;
    botoes->addStretch();
    for (QPushButton* b : {btnLR, btnFLR, btnRL, btnFRL}) botoes->addWidget(b);
    botoes->addStretch();
    la->addLayout(botoes, 1, 1);
    la->addWidget(ListBoxRamSel, 1, 2);

    LabelStatusTransmissao = new QLabel(this);
    LabelStatusTransmissao->setObjectName("LabelStatusTransmissao");
    LabelStatusTransmissao->hide();
    btnOk = NovoBotao(this, "btnOk", "&Ok");
    btnCancelar = NovoBotao(this, "btnCancelar", "&Cancelar");

    auto* cima = new QHBoxLayout;
    cima->addWidget(gbRamais);
    cima->addWidget(gbPermissao, 1);
    auto* baixo = new QHBoxLayout;
    baixo->addWidget(LabelStatusTransmissao, 1);
    baixo->addWidget(btnOk);
    baixo->addWidget(btnCancelar);
    auto* l = new QVBoxLayout(this);
    l->addLayout(cima);
    l->addWidget(gbRamaisAutorizados, 1);
    l->addLayout(baixo);
    resize(720, 560);

    for (QCheckBox* c : {cbAutorGrvINT, cbAutorGrvORI, cbAutorGrvREC})
        connect(c, &QCheckBox::clicked, this, &FormEdCfgRamal::cbAutorGrvINTClick);
    connect(cbTodasPortas, &QCheckBox::clicked, this, &FormEdCfgRamal::cbTodasPortasClick);
    connect(btnLR, &QPushButton::clicked, this,
            [this] { Move(ListBoxRamDisp, ListBoxRamSel, false); });
    connect(btnFLR, &QPushButton::clicked, this,
            [this] { Move(ListBoxRamDisp, ListBoxRamSel, true); });
    connect(btnRL, &QPushButton::clicked, this,
            [this] { Move(ListBoxRamSel, ListBoxRamDisp, false); });
    connect(btnFRL, &QPushButton::clicked, this,
            [this] { Move(ListBoxRamSel, ListBoxRamDisp, true); });
    connect(btnOk, &QPushButton::clicked, this, &FormEdCfgRamal::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

FormEdCfgRamal::~FormEdCfgRamal() = default;

QCheckBox* FormEdCfgRamal::Caixa(int bit) const {
    QCheckBox* const caixas[10] = {cbPodeGrvINT,  cbPodeGrvORI, cbPodeGrvREC,  cbTodaGrvINT,
                                   cbTodaGrvORI,  cbTodaGrvREC, cbAutorGrvINT, cbAutorGrvORI,
                                   cbAutorGrvREC, cbTodasPortas};
    return caixas[bit];
}

void FormEdCfgRamal::Move(QListWidget* de, QListWidget* para, bool todos) {
    for (int i = de->count() - 1; i >= 0; --i) {
        QListWidgetItem* item = de->item(i);
        if (!todos && !item->isSelected()) continue;
        para->addItem(de->takeItem(i));
    }
}

void FormEdCfgRamal::ListaDisponiveis() { Preenche(ListBoxRamDisp, RamaisPABX); }

void FormEdCfgRamal::CarregaListaRamaisPABX() {
    RamaisPABX.clear();
    ctx_.CodigoPABXRamaisPermissao = CodigoPABX;
    try {
        RamaisPABX = LeRamaisPABX(ctx_.dados, CodigoPABX);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de gravação de ramal: ") + e.what());
    }
}

int FormEdCfgRamal::PegaIndiceDNS(const std::string& nome) {
    try {
        return ::PegaIndiceDNS(ctx_.dados, CodigoPABX, nome);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de gravação de ramal: ") + e.what());
        return 0;
    }
}

namespace {
// Bits 0-9 of RML_PERMISSAO: those the ten boxes edit.
constexpr std::uint16_t BitsDasCaixas = 0x03FF;
}  // namespace

void FormEdCfgRamal::LimpaTela() {
    ListBoxRamSel->clear();
    ListaDisponiveis();
    for (int b = 0; b < 10; ++b) Caixa(b)->setChecked(false);
    PalavraLida = 0;
    cbTodasPortas->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(ListBoxRamDisp), static_cast<QWidget*>(ListBoxRamSel),
                       static_cast<QWidget*>(btnLR), static_cast<QWidget*>(btnFLR),
                       static_cast<QWidget*>(btnRL), static_cast<QWidget*>(btnFRL)})
        w->setEnabled(true);
}

void FormEdCfgRamal::CarregaConfigRamal() {
    if (!RamalEdicao.empty())
        Preenche(LBRamais, {RamalEdicao});
    else
        Preenche(LBRamais, RamaisPABX);
    const QList<QListWidgetItem*> achados =
        LBRamais->findItems(QString::fromStdString(RamalEdicao), Qt::MatchExactly);
    if (!achados.isEmpty()) {
        LBRamais->setCurrentItem(achados.front());
        achados.front()->setSelected(true);
    }
    LimpaTela();
    if (RamalEdicao.empty()) return;
    if (achados.isEmpty() ||
        std::find(RamaisPABX.begin(), RamaisPABX.end(), RamalEdicao) == RamaisPABX.end()) {
        // An extension the unit's directory does not have cannot be programmed.
        ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("O ramal") + " " + RamalEdicao +
                                                            " " + Traduz("não existe no PABX"));
        return;
    }
    std::uint16_t palavra = 0;
    std::vector<std::string> permitidos;
    try {
        for (const LinhaConfigRamal& l : LeConfiguracaoRamais(ctx_.dados, CodigoPABX)) {
            if (l.ramal != RamalEdicao) continue;
            palavra = l.permissao;
            permitidos = l.permitidos;
        }
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de gravação de ramal: ") + e.what());
    }
    PalavraLida = palavra;
    for (int b = 0; b < 10; ++b) Caixa(b)->setChecked(BitLigado(palavra, b));
    if (BitLigado(palavra, BitTodasPortas)) {
        ListBoxRamDisp->clear();
        Preenche(ListBoxRamSel, {Traduz("Todos")});
    } else {
        for (const std::string& p : permitidos) {
            ListBoxRamSel->addItem(QString::fromStdString(p));
            for (QListWidgetItem* i :
                 ListBoxRamDisp->findItems(QString::fromStdString(p), Qt::MatchExactly))
                delete i;
        }
    }
    const bool todas = cbTodasPortas->isChecked();
    cbAutorGrvINTClick();
    // The lists as loaded, with the buttons that go with the box.
    if (todas == cbTodasPortas->isChecked())
        for (QWidget* w :
             {static_cast<QWidget*>(ListBoxRamDisp), static_cast<QWidget*>(ListBoxRamSel),
              static_cast<QWidget*>(btnLR), static_cast<QWidget*>(btnFLR),
              static_cast<QWidget*>(btnRL), static_cast<QWidget*>(btnFRL)})
            w->setEnabled(!todas);
}

void FormEdCfgRamal::cbAutorGrvINTClick() {
    const bool algum =
        cbAutorGrvINT->isChecked() || cbAutorGrvORI->isChecked() || cbAutorGrvREC->isChecked();
    cbTodasPortas->setEnabled(algum);
    if (!algum && cbTodasPortas->isChecked()) {
        cbTodasPortas->setChecked(false);
        cbTodasPortasClick();
    }
}

void FormEdCfgRamal::cbTodasPortasClick() {
    const bool todas = cbTodasPortas->isChecked();
    ListBoxRamDisp->clear();
    ListBoxRamSel->clear();
    if (todas)
        ListBoxRamSel->addItem(Tr("Todos"));
    else
        ListaDisponiveis();
    for (QWidget* w : {static_cast<QWidget*>(ListBoxRamDisp), static_cast<QWidget*>(ListBoxRamSel),
                       static_cast<QWidget*>(btnLR), static_cast<QWidget*>(btnFLR),
                       static_cast<QWidget*>(btnRL), static_cast<QWidget*>(btnFRL)})
        w->setEnabled(!todas);
}

std::uint16_t FormEdCfgRamal::PalavraPermissao() const {
    std::uint16_t w = PalavraLida & ~BitsDasCaixas;
    for (int b = 0; b < 10; ++b) AjustaBit(Caixa(b)->isChecked(), w, b);
    return w;
}

bool FormEdCfgRamal::SalvaEdicao() {
    LabelStatusTransmissao->clear();
    EdicaoConfigRamal e;
    e.codigo = CodigoPABX;
    e.ramalEdicao = RamalEdicao;
    e.permissao = PalavraPermissao();
    if ((e.permissao & BitsDasCaixas) == 0) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Selecione pelo menos uma opção de gravação"));
        return false;
    }
    for (int i = 0; i < LBRamais->count(); ++i)
        if (LBRamais->item(i)->isSelected())
            e.ramais.push_back(LBRamais->item(i)->text().toStdString());
    // A new configuration needs an extension: none chosen saves nothing.
    if (e.ramalEdicao.empty() && e.ramais.empty()) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz("Selecione pelo menos um ramal"));
        return false;
    }
    e.todasPortas = cbTodasPortas->isChecked();
    if (!e.todasPortas)
        for (int i = 0; i < ListBoxRamSel->count(); ++i)
            e.autorizados.push_back(ListBoxRamSel->item(i)->text().toStdString());
    LabelStatusTransmissao->show();
    ResultadoEdicao r;
    try {
        r = SalvaConfigRamais(ctx_.dados, e);
    } catch (const std::exception& erro) {
        // One transaction: nothing of the save stays.
        GravaLogConsole(std::string("Configuração de gravação de ramal: ") + erro.what());
        LabelStatusTransmissao->hide();
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Não foi possível salvar informações do usuário"));
        return false;
    }
    for (const std::string& d : r.desconhecidos)
        ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                              Traduz("O ramal") + " " + d + " " + Traduz("não existe no PABX"));
    RamaisAutorizados = r.autorizados;
    FilaProgramacao = r.fila;
    // The rows stay whatever the PABX says; the programming tells its own end.
    if (!FilaProgramacao.empty()) EnviaProgramacaoRamal(0, 0);
    LabelStatusTransmissao->hide();
    return !r.fila.empty() || r.desconhecidos.empty();
}

void FormEdCfgRamal::BtnOkClick() {
    if (!ctx_.dados.BaseConectada() || programando_) return;
    btnOk->setEnabled(false);
    const bool salvo = SalvaEdicao();
    btnOk->setEnabled(true);
    if (salvo) accept();
}

bool FormEdCfgRamal::EnviaProgramacaoRamal(std::uint16_t palavra, int numero) {
    if (programando_) return false;
    programando_ = true;
    std::vector<EntradaProgramacao> fila;
    if (numero != 0)
        fila.push_back({RamalEdicao, palavra, numero});
    else
        fila = std::move(FilaProgramacao);
    FilaProgramacao.clear();
    LinkRamais link(ctx_.dados, "Configuração de gravação de ramal");
    UltimaMarca = link.Programa(
        CodigoPABX, std::move(fila), RamaisAutorizados, [this](const std::string& ramal) {
            if (LabelStatusTransmissao->isVisible())
                LabelStatusTransmissao->setText(Tr("Transmitindo configuração do ramal: ") +
                                                QString::fromStdString(ramal));
        });
    programando_ = false;
    const std::string mensagem = EstadoProgramacao::MensagemFim(UltimaMarca);
    if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz(mensagem));
    return UltimaMarca == MarcaProgramado;
}

std::vector<std::string> NomesRamaisPermissao(ContextoConsole& ctx) {
    const int codigo = ctx.CodigoPABXRamaisPermissao;
    if (codigo <= 0) return {};
    try {
        // The names live in that unit's own database.
        if (ctx.dados.CodigoPABX() != codigo || !ctx.dados.BasePABXConectada())
            ctx.dados.ConectaBasePABX(codigo);
        std::vector<std::string> nomes = LeRamaisPABX(ctx.dados, codigo);
        // An extension without a name would be offered as a bare "Ramal".
        std::erase_if(nomes, [](const std::string& n) { return Apara(n).empty(); });
        return nomes;
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de gravação de ramal: ") + e.what());
        return {};
    }
}

void LigaEditorRamais(ContextoConsole& ctx, FormCfgRamais& lista) {
    lista.NovoConfigRamal = [&ctx, &lista](int codigo, const std::vector<std::string>& configurados,
                                           std::string& escolhidos) {
        FormEdCfgRamal ed(ctx, &lista);
        ed.CodigoPABX = codigo;
        ed.CarregaListaRamaisPABX();
        ed.LBRamais->clear();
        for (const std::string& n : ed.RamaisPABX)
            if (std::find(configurados.begin(), configurados.end(), n) == configurados.end())
                ed.LBRamais->addItem(QString::fromStdString(n));
        if (ed.LBRamais->count() > 0) ed.LBRamais->setCurrentRow(0);
        ed.RamalEdicao.clear();
        ed.gbRamais->setEnabled(true);
        ed.LBRamais->setEnabled(true);
        ed.LimpaTela();
        if (ed.exec() != QDialog::Accepted) return false;
        escolhidos.clear();
        for (int i = 0; i < ed.LBRamais->count(); ++i)
            if (ed.LBRamais->item(i)->isSelected())
                escolhidos += ed.LBRamais->item(i)->text().toStdString();
        return true;
    };
    lista.EditaConfigRamal = [&ctx, &lista](int codigo, std::string& ramal) {
        FormEdCfgRamal ed(ctx, &lista);
        ed.CodigoPABX = codigo;
        ed.CarregaListaRamaisPABX();
        ed.RamalEdicao = CortaUtf8(ramal, 30);
        ed.CarregaConfigRamal();
        ed.gbRamais->setEnabled(false);
        ed.LBRamais->setEnabled(false);
        if (ed.exec() != QDialog::Accepted) return false;
        ramal = ed.RamalEdicao;
        return true;
    };
    lista.EnviaRemocaoRamal = [&ctx, &lista](int codigo, const std::string& ramal) {
        FormEdCfgRamal ed(ctx, &lista);
        ed.CodigoPABX = codigo;
        ed.RamaisAutorizados.clear();
        ed.RamalEdicao = ramal;
        // Without a number only the list of configured extensions is written.
        const int n = ed.PegaIndiceDNS(ramal);
        return ed.EnviaProgramacaoRamal(0, TPABX::RamalValido(n) ? n : 0);
    };
}
