#include "console/forms/FormEdCentral.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "common/db/OperacaoHistorico.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/FormEdHoraCentral.h"
#include "console/forms/TextoTela.h"

namespace {

QLineEdit* Campo(const char* nome, int largura, QWidget* pai) {
    auto* e = new QLineEdit(pai);
    e->setObjectName(nome);
    e->setMaxLength(largura);
    return e;
}

QLineEdit* CampoNumero(const char* nome, int digitos, QWidget* pai) {
    auto* e = Campo(nome, digitos, pai);
    e->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString("[0-9]{0,%1}").arg(digitos)), e));
    return e;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

FormEdCentral::FormEdCentral(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdCentral");
    setWindowTitle(Tr("Edição de central"));

    auto* gbCentral = new QGroupBox(this);
    edDescricao = Campo("edDescricao", LarguraNome, gbCentral);
    edKELVServer = Campo("edKELVServer", LarguraEndereco, gbCentral);
    meKELVPorta = CampoNumero("meKELVPorta", 5, gbCentral);
    edSenhaKELV = Campo("edSenhaKELV", LarguraSenhaKELV, gbCentral);
    edSenhaKELV->setEchoMode(QLineEdit::Password);
    meDDD = CampoNumero("meDDD", LarguraDDD, gbCentral);
    cbConexaoZIMB = new QComboBox(gbCentral);
    cbConexaoZIMB->setObjectName("cbConexaoZIMB");
    cbConexaoZIMB->addItems({"FTP", "USB"});
    auto* fc = new QFormLayout(gbCentral);
    fc->addRow(Tr("Nome da central"), edDescricao);
    fc->addRow(Tr("Endereço IP da central"), edKELVServer);
    fc->addRow(Tr("Porta de gravação"), meKELVPorta);
    fc->addRow(Tr("Senha KELV"), edSenhaKELV);
    fc->addRow(Tr("Código DDD"), meDDD);
    fc->addRow(
        new QLabel(Tr("Conexão para realização de download dos arquivos de gravação"), gbCentral));
    fc->addRow(cbConexaoZIMB);

    PainelZIMBFTP = new QWidget(this);
    PainelZIMBFTP->setObjectName("PainelZIMBFTP");
    edZIMBUserFTP = Campo("edZIMBUserFTP", LarguraUsuarioFTP, PainelZIMBFTP);
    edZIMBSenhaFTP = Campo("edZIMBSenhaFTP", LarguraSenhaFTP, PainelZIMBFTP);
    edZIMBSenhaFTP->setEchoMode(QLineEdit::Password);
    meZIMBPortaFTP = CampoNumero("meZIMBPortaFTP", 5, PainelZIMBFTP);
    cbZIMBSecFTP = new QComboBox(PainelZIMBFTP);
    cbZIMBSecFTP->setObjectName("cbZIMBSecFTP");
    cbZIMBSecFTP->addItem(Tr("Não"));
    auto* ff = new QFormLayout(PainelZIMBFTP);
    ff->addRow(Tr("Usuário FTP"), edZIMBUserFTP);
    ff->addRow(Tr("Senha FTP"), edZIMBSenhaFTP);
    ff->addRow(Tr("Porta FTP"), meZIMBPortaFTP);
    ff->addRow(Tr("Segurança"), cbZIMBSecFTP);

    PainelUSB = new QWidget(this);
    PainelUSB->setObjectName("PainelUSB");
    edDiscoAudio = Campo("edDiscoAudio", LarguraPastaUSB, PainelUSB);
    edDiscoAudio->setPlaceholderText("/media/usb0");
    asUSBTimeout = new QSpinBox(PainelUSB);
    asUSBTimeout->setObjectName("asUSBTimeout");
    asUSBTimeout->setRange(EsperaUSBMinima, EsperaUSBMaxima);
    asUSBTimeout->setSuffix(" (" + Tr("seg") + ")");
    auto* fu = new QFormLayout(PainelUSB);
    fu->addRow(Tr("Unidade de disco de origem das gravações"), edDiscoAudio);
    fu->addRow(Tr("Tempo de espera máximo para conexão USB"), asUSBTimeout);

    auto* gbHorario = new QGroupBox(" " + Tr("Horários de download") + " ", this);
    lbHorario = new QListWidget(gbHorario);
    lbHorario->setObjectName("lbHorario");
    lbHorario->setSortingEnabled(true);
    lbHorario->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Entries run down in columns, as many as the width holds.
    lbHorario->setFlow(QListView::TopToBottom);
    lbHorario->setWrapping(true);
    lbHorario->setResizeMode(QListView::Adjust);
    lbHorario->setUniformItemSizes(true);
    lbHorario->setTextElideMode(Qt::ElideNone);
    const QFontMetrics medida(lbHorario->font());
    lbHorario->setGridSize(
        QSize(medida.horizontalAdvance("      00:00 - 00:00") + 16, medida.height() + 4));
    lbHorario->setMinimumHeight(110);
    btnNovo = BotaoNomeado(gbHorario, "btnNovo", "A&dicionar");
    btnApagar = BotaoNomeado(gbHorario, "btnApagar", "&Apagar");
    auto* lh = new QHBoxLayout(gbHorario);
    lh->addWidget(lbHorario, 1);
    auto* lb = new QVBoxLayout;
    lb->addWidget(btnNovo);
    lb->addWidget(btnApagar);
    lb->addStretch();
    lh->addLayout(lb);

    BtnOk = BotaoNomeado(this, "BtnOk", "&Ok");
    BtnOk->setDefault(true);
    BtnCancelar = BotaoNomeado(this, "BtnCancelar", "&Cancelar");
    auto* l = new QVBoxLayout(this);
    l->addWidget(gbCentral);
    l->addWidget(PainelZIMBFTP);
    l->addWidget(PainelUSB);
    l->addWidget(gbHorario, 1);
    l->addLayout(LinhaBotoes({BtnOk, BtnCancelar}));
    setMinimumWidth(520);

    formEdHora = new FormEdHoraCentral(ctx_.mensagens, this);

    connect(cbConexaoZIMB, &QComboBox::currentIndexChanged, this,
            &FormEdCentral::cbConexaoZIMBChange);
    connect(btnNovo, &QPushButton::clicked, this, &FormEdCentral::btnNovoClick);
    connect(btnApagar, &QPushButton::clicked, this, &FormEdCentral::btnApagarClick);
    connect(BtnOk, &QPushButton::clicked, this, &FormEdCentral::BtnOkClick);
    connect(BtnCancelar, &QPushButton::clicked, this, &QDialog::reject);
    LimpaTela();
}

bool FormEdCentral::Edita(int& codigo, std::string& nome) {
    CodigoPABX = codigo;
    if (codigo == 0)
        LimpaTela();
    else if (!CarregaItem())
        return false;
    if (exec() != QDialog::Accepted) return false;
    codigo = CodigoPABX;
    nome = Apara(edDescricao->text().toStdString());
    return true;
}

void FormEdCentral::LimpaTela() {
    MostraCampos(EdicaoCentral{});
    formEdHora->Prepara();
}

bool FormEdCentral::CarregaItem() {
    try {
        MostraCampos(CarregaCentral(ctx_.dados, CodigoPABX));
        return true;
    } catch (const SemConexaoBD&) {
        if (!ctx_.dados.AvisoConexaoPendente()) ctx_.dados.BaseConectada();
    } catch (const FirebirdError& e) {
        if (!e.ConexaoPerdida())
            ctx_.mensagens.Mostra(TipoMensagem::Erro,
                                  Traduz("Não foi possível carregar informações da central") +
                                      "\n" + e.what());
    } catch (const std::exception& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Não foi possível carregar informações da central") + "\n" +
                                  e.what());
    }
    // Nothing of the previous unit may stay for a later Ok to write.
    MostraCampos(EdicaoCentral{});
    return false;
}

void FormEdCentral::MostraCampos(const EdicaoCentral& e) {
    edDescricao->setText(Q(e.nome));
    edKELVServer->setText(Q(e.endereco));
    meKELVPorta->setText(Q(e.portaKELV));
    edSenhaKELV->setText(Q(e.senhaKELV));
    cbConexaoZIMB->setCurrentIndex(e.conexao == ConexaoUSB ? ConexaoUSB : ConexaoFTP);
    edZIMBUserFTP->setText(Q(e.usuarioFTP));
    edZIMBSenhaFTP->setText(Q(e.senhaFTP));
    meZIMBPortaFTP->setText(Q(e.portaFTP));
    cbZIMBSecFTP->setCurrentIndex(0);
    edDiscoAudio->setText(Q(e.pastaUSB));
    asUSBTimeout->setValue(e.esperaUSB);
    meDDD->setText(Q(e.ddd));
    lbHorario->clear();
    for (const std::string& h : e.horarios) lbHorario->addItem(Q(h));
    cbConexaoZIMBChange();
    AtualizaApagar();
}

std::vector<std::string> FormEdCentral::Horarios() const {
    std::vector<std::string> r;
    for (int i = 0; i < lbHorario->count(); ++i)
        r.push_back(lbHorario->item(i)->text().toStdString());
    return r;
}

EdicaoCentral FormEdCentral::LeCampos() const {
    EdicaoCentral e;
    e.nome = edDescricao->text().toStdString();
    e.endereco = edKELVServer->text().toStdString();
    e.portaKELV = meKELVPorta->text().toStdString();
    e.senhaKELV = edSenhaKELV->text().toStdString();
    e.conexao = cbConexaoZIMB->currentIndex() == ConexaoUSB ? ConexaoUSB : ConexaoFTP;
    e.usuarioFTP = edZIMBUserFTP->text().toStdString();
    e.senhaFTP = edZIMBSenhaFTP->text().toStdString();
    e.portaFTP = meZIMBPortaFTP->text().toStdString();
    e.segurancaFTP = std::max(0, cbZIMBSecFTP->currentIndex());
    e.pastaUSB = edDiscoAudio->text().toStdString();
    e.esperaUSB = asUSBTimeout->value();
    e.ddd = meDDD->text().toStdString();
    e.horarios = Horarios();
    return e;
}

void FormEdCentral::cbConexaoZIMBChange() {
    const bool usb = cbConexaoZIMB->currentIndex() == ConexaoUSB;
    PainelZIMBFTP->setEnabled(!usb);
    PainelZIMBFTP->setVisible(!usb);
    PainelUSB->setEnabled(usb);
    PainelUSB->setVisible(usb);
}

void FormEdCentral::AtualizaApagar() { btnApagar->setEnabled(lbHorario->count() > 0); }

bool FormEdCentral::SalvaEdicao() {
    if (lbHorario->count() == 0) lbHorario->addItem(Q(EntradaJanela({0, std::nullopt})));
    int codigo = CodigoPABX;
    if (!SalvaCentral(ctx_.dados, ctx_.mensagens, LeCampos(), codigo)) return false;
    CodigoPABX = codigo;
    return true;
}

void FormEdCentral::BtnOkClick() {
    if (!ctx_.dados.BaseConectada() || !SalvaEdicao()) return;
    if (ctx_.RegistraHistorico) ctx_.RegistraHistorico(Operacao::EditadoConfiguracao, "");
    accept();
}

void FormEdCentral::btnNovoClick() {
    formEdHora->Prepara();
    formEdHora->HorariosEditor = Horarios();
    if (formEdHora->exec() != QDialog::Accepted) return;
    for (const JanelaDownload& j :
         ExpandeJanelas(formEdHora->HoraInicio, formEdHora->LimiteTempo, formEdHora->Frequencia))
        lbHorario->addItem(Q(EntradaJanela(j)));
    AtualizaApagar();
}

void FormEdCentral::btnApagarClick() {
    const QList<QListWidgetItem*> selecionados = lbHorario->selectedItems();
    if (selecionados.isEmpty()) {
        ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                              "Selecione horário(s) a ser(em) removido(s)");
        return;
    }
    for (QListWidgetItem* i : selecionados) delete lbHorario->takeItem(lbHorario->row(i));
    AtualizaApagar();
}
