#include "console/forms/FormCfgRamais.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "common/db/OperacaoHistorico.h"
#include "console/ConfigRamais.h"
#include "console/UtilConsole.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/TextoTela.h"

FormCfgRamais::FormCfgRamais(ContextoConsole& ctx, QWidget* pai)
    : QDialog(pai), ctx_(ctx), link_(ctx.dados, "Configuração de ramais") {
    setObjectName("FormCfgRamais");
    setWindowTitle(Tr("Configuração de ramais do Veruzadu"));
    GridItens = GradeLista(this,
                           {Tr("Ramal"), Tr("Atend."), Tr("Pode gravar"), Tr("Grava"),
                            Tr("Autoriza"), Tr("Ramais com permissão")},
                           1);
    btnNovo = BotaoNomeado(this, "btnNovo", "&Novo");
    btnEditar = BotaoNomeado(this, "btnEditar", "&Editar");
    btnApagar = BotaoNomeado(this, "btnApagar", "&Apagar");
    btnAtualiza = BotaoNomeado(this, "btnAtualiza", "A&tualiza");
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnAjuda = BotaoNomeado(this, "btnAjuda", "A&juda");
    spBtnCentrais = BotaoNomeado(this, "spBtnCentrais", "&Central");
    meCentral = new QLineEdit(this);
    meCentral->setObjectName("meCentral");
    meCentral->setMaxLength(30);
    meCentral->installEventFilter(this);
    LabelPABX = new QLabel(Tr("Verificando ramais configurados"), this);
    LabelPABX->setObjectName("LabelPABX");
    LabelPABX->hide();
    AdvProgressPABX = new QProgressBar(this);
    AdvProgressPABX->setObjectName("AdvProgressPABX");
    AdvProgressPABX->hide();
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);

    auto* topo = new QHBoxLayout;
    topo->addWidget(new QLabel(Tr("Central"), this));
    topo->addWidget(meCentral, 1);
    topo->addWidget(spBtnCentrais);
    auto* lado = new QVBoxLayout;
    for (QPushButton* b : {btnNovo, btnEditar, btnApagar, btnAtualiza}) lado->addWidget(b);
    lado->addStretch();
    auto* meio = new QHBoxLayout;
    meio->addWidget(GridItens, 1);
    meio->addLayout(lado);
    auto* baixo = new QHBoxLayout;
    baixo->addWidget(LabelPABX);
    baixo->addWidget(AdvProgressPABX, 1);
    baixo->addStretch();
    baixo->addWidget(btnOk);
    baixo->addWidget(btnAjuda);
    auto* l = new QVBoxLayout(this);
    l->addLayout(topo);
    l->addLayout(meio, 1);
    l->addLayout(baixo);
    resize(760, 420);

    connect(btnNovo, &QPushButton::clicked, this, &FormCfgRamais::btnNovoClick);
    connect(btnEditar, &QPushButton::clicked, this, &FormCfgRamais::btnEditarClick);
    connect(btnApagar, &QPushButton::clicked, this, &FormCfgRamais::btnApagarClick);
    connect(btnAtualiza, &QPushButton::clicked, this, &FormCfgRamais::IniciaLeitura);
    connect(spBtnCentrais, &QPushButton::clicked, this, &FormCfgRamais::spBtnCentraisClick);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAjuda, &QPushButton::clicked, this,
            [this] { AbreAjuda(ContextoAjuda::Permissoes, ctx_.mensagens); });
    connect(GridItens, &QTableWidget::cellDoubleClicked, this, &FormCfgRamais::btnEditarClick);
    connect(GridItens, &QTableWidget::cellClicked, this, [this](int linha, int) {
        if (const QTableWidgetItem* i = GridItens->item(linha, 0); i && !i->text().isEmpty())
            RamalSelecionado = i->text().toStdString();
    });
    connect(TimerEventos, &QTimer::timeout, this, &FormCfgRamais::TimerEventosTimer);
}

FormCfgRamais::~FormCfgRamais() = default;

bool FormCfgRamais::Executando() const { return link_.Executando(); }

void FormCfgRamais::Abre(int codigo, const std::string& nome) {
    CodigoPABX = codigo;
    meCentral->setText(QString::fromStdString(nome));
    setWindowTitle(Tr("Ramais do Veruzadu da central") + " " + QString::fromStdString(nome));
    LeituraPendente = true;
    CarregaConfiguracaoRamais("");
    exec();
}

std::string FormCfgRamais::RamalDaLinha() const {
    const QTableWidgetItem* i = GridItens->item(GridItens->currentRow(), 0);
    return i ? i->text().toStdString() : std::string();
}

void FormCfgRamais::CarregaConfiguracaoRamais(const std::string& ramal) {
    std::vector<LinhaConfigRamal> linhas;
    try {
        linhas = LeConfiguracaoRamais(ctx_.dados, CodigoPABX);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de ramais: ") + e.what());
    }
    GridItens->clearContents();
    GridItens->setRowCount(linhas.empty() ? 1 : static_cast<int>(linhas.size()));
    int selecionada = -1;
    for (int i = 0; i < static_cast<int>(linhas.size()); ++i) {
        const LinhaConfigRamal& l = linhas[static_cast<std::size_t>(i)];
        const std::string textos[6] = {l.ramal,
                                       DescricaoPermissaoRamal(1, l.permissao),
                                       DescricaoPermissaoRamal(2, l.permissao),
                                       DescricaoPermissaoRamal(3, l.permissao),
                                       DescricaoPermissaoRamal(4, l.permissao),
                                       DescricaoRamaisPermitidos(l)};
        for (int c = 0; c < 6; ++c)
            GridItens->setItem(i, c, new QTableWidgetItem(QString::fromStdString(textos[c])));
        if (!ramal.empty() && l.ramal == ramal) selecionada = i;
    }
    listados_ = !linhas.empty();
    const bool livre = !Executando();
    btnApagar->setEnabled(listados_ && livre);
    btnEditar->setEnabled(listados_ && livre);
    if (LeituraPendente) LeituraPendente = !listados_;
    if (listados_) GridItens->selectRow(selecionada >= 0 ? selecionada : 0);
}

void FormCfgRamais::PreparaInicio() {
    TimerEventos->stop();
    RamalSelecionado.clear();
    ctx_.dados.EventoCadastro = false;
    AdvProgressPABX->setValue(0);
}

void FormCfgRamais::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (Executando()) return;
    btnAtualiza->setEnabled(true);
    spBtnCentrais->setEnabled(true);
    PreparaInicio();
    if (LeituraPendente) {
        LeituraPendente = false;
        IniciaLeitura();
    } else {
        TimerEventos->start();
    }
}

void FormCfgRamais::HabilitaBotoes(bool habilita) {
    for (QPushButton* b : {btnAtualiza, spBtnCentrais, btnNovo, btnOk, btnAjuda})
        b->setEnabled(habilita);
    btnOk->setVisible(habilita);
    btnAjuda->setVisible(habilita);
    LabelPABX->setVisible(!habilita);
    AdvProgressPABX->setVisible(!habilita);
    if (!habilita) {
        btnEditar->setEnabled(false);
        btnApagar->setEnabled(false);
    }
}

void FormCfgRamais::IniciaLeitura() {
    if (Executando()) return;
    PreparaInicio();
    HabilitaBotoes(false);
    AdvProgressPABX->setRange(0, 1);
    AdvProgressPABX->setValue(0);
    link_.IniciaLeitura(
        CodigoPABX, false, 0,
        [this](int feitos, int total) {
            AdvProgressPABX->setRange(0, std::max(1, total));
            AdvProgressPABX->setValue(feitos);
        },
        [this](const LinkRamais::FimLeitura& fim) { FimLeitura(fim); });
}

void FormCfgRamais::FimLeitura(const LinkRamais::FimLeitura& fim) {
    UltimaMarca = fim.marca;
    if (!fim.erroGravacao.empty())
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz(fim.mensagem) + "\n" + fim.erroGravacao);
    else if (!fim.mensagem.empty())
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz(fim.mensagem));
    else if (fim.marca == MarcaConcluido)
        CarregaConfiguracaoRamais("");
    HabilitaBotoes(true);
    btnEditar->setEnabled(listados_);
    btnApagar->setEnabled(listados_);
    TimerEventos->start();
}

void FormCfgRamais::btnNovoClick() {
    if (!NovoConfigRamal || Executando()) return;
    std::vector<std::string> configurados;
    for (int i = 0; i < GridItens->rowCount(); ++i)
        if (const QTableWidgetItem* item = GridItens->item(i, 0); item && !item->text().isEmpty())
            configurados.push_back(item->text().toStdString());
    std::string escolhidos;
    if (!NovoConfigRamal(CodigoPABX, configurados, escolhidos)) return;
    ctx_.RegistraHistorico(Operacao::InseridoRamal, escolhidos);
    CarregaConfiguracaoRamais("");
}

void FormCfgRamais::btnEditarClick() {
    const std::string ramal = RamalDaLinha();
    if (ramal.empty() || !EditaConfigRamal || Executando()) return;
    btnApagar->setEnabled(false);
    std::string editado = ramal;
    if (EditaConfigRamal(CodigoPABX, editado)) {
        ctx_.RegistraHistorico(Operacao::EditadoRamal, ramal);
        CarregaConfiguracaoRamais(editado);
    } else {
        btnApagar->setEnabled(true);
    }
}

void FormCfgRamais::btnApagarClick() {
    const std::string ramal = RamalDaLinha();
    if (ramal.empty() || Executando()) return;
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao,
                              Traduz("Confirma exclusão da configuração de gravação do ramal") +
                                  " " + ramal + " ?") != RespostaMensagem::Sim)
        return;
    btnApagar->setEnabled(false);
    // The history tells what was done: a removal the server refused is shown,
    // not recorded, and the PABX keeps the extension's configuration (it is
    // programmed only once the rows are gone for good).
    try {
        RemoveConfigRamal(ctx_.dados, CodigoPABX, ramal);
        ctx_.RegistraHistorico(Operacao::RemovidoRamal, ramal);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Configuração de ramais: ") + e.what());
        // A lost connection is the main window's to tell.
        const auto* fb = dynamic_cast<const FirebirdError*>(&e);
        if (dynamic_cast<const SemConexaoBD*>(&e) == nullptr && !(fb && fb->ConexaoPerdida()))
            ctx_.mensagens.Mostra(
                TipoMensagem::Erro,
                Traduz("Não foi possível excluir a configuração de gravação do ramal") + " " +
                    ramal + "\n" + e.what());
        CarregaConfiguracaoRamais("");
        return;
    }
    if (!EnviaRemocaoRamal || !EnviaRemocaoRamal(CodigoPABX, ramal))
        ctx_.mensagens.Mostra(
            TipoMensagem::Aviso,
            Traduz("Não foi possível enviar ao PABX a configuração de gravação do ramal") + " " +
                ramal);
    CarregaConfiguracaoRamais("");
}

void FormCfgRamais::spBtnCentraisClick() {
    if (escolhendo_ || Executando()) return;
    escolhendo_ = true;
    TimerEventos->stop();
    std::unique_ptr<FormBuscaCentral> proprio;
    FormBuscaCentral* picker = ctx_.formBuscaCentral.get();
    if (picker == nullptr)
        picker = (proprio = std::make_unique<FormBuscaCentral>(ctx_, this)).get();
    picker->CarregaItens();
    const bool escolheu = picker->exec() == QDialog::Accepted;
    escolhendo_ = false;
    if (!escolheu) {
        TimerEventos->start();
        return;
    }
    try {
        ctx_.dados.ConectaBasePABX(picker->CodigoPABX);
    } catch (const ErroBasePABX& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, std::string(e.what()) + "\n" + e.detalhe);
        TimerEventos->start();
        return;
    } catch (const std::exception& e) {
        ctx_.mensagens.Mostra(TipoMensagem::Erro, e.what());
        TimerEventos->start();
        return;
    }
    CodigoPABX = picker->CodigoPABX;
    meCentral->setText(QString::fromStdString(picker->NomePABX));
    setWindowTitle(Tr("Ramais do Veruzadu da central") + " " +
                   QString::fromStdString(picker->NomePABX));
    LeituraPendente = true;
    CarregaConfiguracaoRamais("");
    PreparaInicio();
    if (LeituraPendente) {
        LeituraPendente = false;
        IniciaLeitura();
    } else {
        TimerEventos->start();
    }
}

void FormCfgRamais::TimerEventosTimer() {
    if (!ctx_.dados.EventoCadastro || Executando()) return;
    ctx_.dados.EventoCadastro = false;
    CarregaConfiguracaoRamais(RamalSelecionado);
}

void FormCfgRamais::closeEvent(QCloseEvent* e) {
    if (Executando()) {
        e->ignore();
        return;
    }
    TimerEventos->stop();
    QDialog::closeEvent(e);
}

void FormCfgRamais::done(int r) {
    // The window stays while its read-out runs.
    if (Executando()) return;
    TimerEventos->stop();
    QDialog::done(r);
}

void FormCfgRamais::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Insert:
            if (btnNovo->isEnabled()) btnNovoClick();
            return;
        case Qt::Key_Delete:
            if (btnApagar->isEnabled()) btnApagarClick();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (btnEditar->isEnabled()) btnEditarClick();
            return;
        default: QDialog::keyPressEvent(e);
    }
}

bool FormCfgRamais::eventFilter(QObject* o, QEvent* e) {
    // The unit is chosen in the picker, never typed.
    if (o == meCentral && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() != Qt::Key_Tab && k->key() != Qt::Key_Backtab) {
            QTimer::singleShot(0, this, &FormCfgRamais::spBtnCentraisClick);
            return true;
        }
    }
    return QDialog::eventFilter(o, e);
}
