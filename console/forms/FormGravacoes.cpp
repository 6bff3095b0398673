#include "console/forms/FormGravacoes.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "common/Texto.h"
#include "common/db/OperacaoHistorico.h"
#include "console/Acesso.h"
#include "console/ExportaGravacoes.h"
#include "console/MDados.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/EscolheCentral.h"
#include "console/forms/EscolhePasta.h"
#include "console/forms/FormEdGrava.h"
#include "console/forms/TextoTela.h"

namespace {

// Rows whose duration cell holds a marker are written in red; the row being
// played in bold.
class DelegadoGravacoes final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* o, const QModelIndex& i) const override {
        QStyledItemDelegate::initStyleOption(o, i);
        if (i.data(ModeloGravacoes::PapelMarcador).toBool()) {
            o->palette.setColor(QPalette::Text, Qt::red);
            o->palette.setColor(QPalette::HighlightedText, Qt::red);
        }
        if (i.data(ModeloGravacoes::PapelTocando).toBool()) o->font.setBold(true);
    }
};

DataHora Junta(const QDate& d, const QTime& t) {
    return DataHora{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), 0};
}

}  // namespace

FormGravacoes::FormGravacoes(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormGravacoes");
    setWindowTitle(Tr("Pesquisa de registro de gravações"));
    modelo_ = new ModeloGravacoes(ctx.dados, this);
    modelo_->AoMarcar = [this](int linha) { AoMarcar(linha); };

    meCentral = new QLineEdit(this);
    meCentral->setObjectName("meCentral");
    meCentral->setReadOnly(true);
    spBtnCentrais = new QPushButton(TrLNG("&Central"), this);
    spBtnCentrais->setObjectName("spBtnCentrais");
    dtIni = new QDateEdit(this);
    dtIni->setObjectName("dtIni");
    dtFim = new QDateEdit(this);
    dtFim->setObjectName("dtFim");
    for (QDateEdit* d : {dtIni, dtFim}) {
        d->setDisplayFormat("dd/MM/yyyy");
        d->setCalendarPopup(true);
    }
    hrIni = new QTimeEdit(this);
    hrIni->setObjectName("hrIni");
    hrFim = new QTimeEdit(this);
    hrFim->setObjectName("hrFim");
    for (QTimeEdit* t : {hrIni, hrFim}) t->setDisplayFormat("HH:mm:ss");
    cbLigacao = new QComboBox(this);
    cbLigacao->setObjectName("cbLigacao");
    cbLigacao->addItems({QString(), Tr("Internas"), Tr("Originadas"), Tr("Recebidas")});
    auto edit = [this](const char* nome, int max) {
        auto* e = new QLineEdit(this);
        e->setObjectName(nome);
        e->setMaxLength(max);
        return e;
    };
    meRamal = edit("meRamal", 10);
    meFone = edit("meFone", 20);
    meGrupo = edit("meGrupo", 30);
    meIdentificador = edit("meIdentificador", 30);
    meCliente = edit("meCliente", 30);
    meCNPJ = edit("meCNPJ", 20);
    btnPesquisa = new QPushButton(TrLNG("&Pesquisar"), this);
    btnPesquisa->setObjectName("btnPesquisa");
    btnLimpar = new QPushButton(TrLNG("&Limpar"), this);
    btnLimpar->setObjectName("btnLimpar");

    GridGrv = new QTableView(this);
    GridGrv->setObjectName("GridGrv");
    GridGrv->setModel(modelo_);
    GridGrv->setItemDelegate(new DelegadoGravacoes(GridGrv));
    GridGrv->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridGrv->setSelectionMode(QAbstractItemView::SingleSelection);
    GridGrv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridGrv->verticalHeader()->hide();
    GridGrv->horizontalHeader()->setStretchLastSection(true);
    // The code column only carries the row's key: kept out of sight.
    GridGrv->setColumnHidden(ModeloGravacoes::ColCodigo, true);
    connect(modelo_, &QAbstractItemModel::modelReset, this,
            [this] { GridGrv->setColumnHidden(ModeloGravacoes::ColCodigo, true); });
    GridGrv->setColumnWidth(ModeloGravacoes::ColMarca, 24);
    GridGrv->setColumnWidth(ModeloGravacoes::ColData, 130);

    auto botao = [this](const char* nome, const char* texto) {
        auto* b = new QToolButton(this);
        b->setObjectName(nome);
        b->setText(QString::fromUtf8(texto));
        return b;
    };
    btnRewind = botao("btnRewind", "◀◀");
    btnPlay = botao("btnPlay", "▶");
    btnForward = botao("btnForward", "▶▶");
    btnStop = botao("btnStop", "■");
    TrackSound = new QSlider(Qt::Horizontal, this);
    TrackSound->setObjectName("TrackSound");
    LabelTrackIni = new QLabel("00:00:00", this);
    LabelTrackIni->setObjectName("LabelTrackIni");
    LabelTrackFim = new QLabel("00:00:00", this);
    LabelTrackFim->setObjectName("LabelTrackFim");
    LabelIncompleta = new QLabel(Tr("Lista incompleta: a pesquisa falhou"), this);
    LabelIncompleta->setObjectName("LabelIncompleta");
    LabelIncompleta->setStyleSheet("color: red");
    LabelIncompleta->hide();
    TimerPlay = new QTimer(this);
    TimerPlay->setObjectName("TimerPlay");
    TimerEventos = new QTimer(this);
    TimerEventos->setObjectName("TimerEventos");
    TimerEventos->setInterval(5000);
    btnEditar = new QPushButton(TrLNG("&Editar"), this);
    btnEditar->setObjectName("btnEditar");
    btnSalvar = new QPushButton(TrLNG("&Salvar"), this);
    btnSalvar->setObjectName("btnSalvar");
    btnFechar = new QPushButton(TrLNG("&Ok"), this);
    btnFechar->setObjectName("btnFechar");

    auto rotulo = [this](const char* texto) { return new QLabel(Tr(texto), this); };
    auto* filtros = new QGridLayout;
    filtros->addWidget(rotulo("Central"), 0, 0);
    filtros->addWidget(meCentral, 0, 1, 1, 3);
    filtros->addWidget(spBtnCentrais, 0, 4);
    filtros->addWidget(rotulo("Período"), 1, 0);
    filtros->addWidget(dtIni, 1, 1);
    filtros->addWidget(hrIni, 1, 2);
    filtros->addWidget(rotulo("até"), 1, 3);
    filtros->addWidget(dtFim, 1, 4);
    filtros->addWidget(hrFim, 1, 5);
    filtros->addWidget(rotulo("Ligação"), 2, 0);
    filtros->addWidget(cbLigacao, 2, 1);
    filtros->addWidget(rotulo("Ramal"), 2, 2);
    filtros->addWidget(meRamal, 2, 3);
    filtros->addWidget(rotulo("Telefone"), 2, 4);
    filtros->addWidget(meFone, 2, 5);
    filtros->addWidget(rotulo("Grupo"), 3, 0);
    filtros->addWidget(meGrupo, 3, 1);
    filtros->addWidget(rotulo("Identificador"), 3, 2);
    filtros->addWidget(meIdentificador, 3, 3);
    filtros->addWidget(rotulo("Contato"), 3, 4);
    filtros->addWidget(meCliente, 3, 5);
    filtros->addWidget(rotulo("CPF/CNPJ"), 4, 0);
    filtros->addWidget(meCNPJ, 4, 1);
    filtros->addWidget(btnPesquisa, 4, 4);
    filtros->addWidget(btnLimpar, 4, 5);
    auto* player = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{btnRewind, btnPlay, btnForward, btnStop,
                                                      LabelTrackIni, TrackSound, LabelTrackFim})
        player->addWidget(w);
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    for (QPushButton* b : {btnEditar, btnSalvar, btnFechar}) botoes->addWidget(b);
    auto* l = new QVBoxLayout(this);
    l->addLayout(filtros);
    l->addWidget(GridGrv, 1);
    l->addWidget(LabelIncompleta);
    l->addLayout(player);
    l->addLayout(botoes);
    resize(900, 600);

    connect(spBtnCentrais, &QPushButton::clicked, this, &FormGravacoes::spBtnCentraisClick);
    connect(btnPesquisa, &QPushButton::clicked, this, &FormGravacoes::btnPesquisaClick);
    connect(btnLimpar, &QPushButton::clicked, this, &FormGravacoes::btnLimparClick);
    connect(btnSalvar, &QPushButton::clicked, this, &FormGravacoes::btnSalvarClick);
    connect(btnEditar, &QPushButton::clicked, this, &FormGravacoes::btnEditarClick);
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::accept);
    connect(TimerEventos, &QTimer::timeout, this, &FormGravacoes::TimerEventosTimer);
    connect(GridGrv, &QTableView::clicked, this, &FormGravacoes::AoClicarCelula);
    auto player_ = [this](void (ReproducaoGravacoes::*f)()) {
        return [this, f] {
            if (Reproducao && UnidadeConectada()) (Reproducao.get()->*f)();
        };
    };
    connect(btnPlay, &QToolButton::clicked, this, player_(&ReproducaoGravacoes::btnPlayClick));
    connect(btnStop, &QToolButton::clicked, this, player_(&ReproducaoGravacoes::btnStopClick));
    connect(btnForward, &QToolButton::clicked, this,
            player_(&ReproducaoGravacoes::btnForwardClick));
    connect(btnRewind, &QToolButton::clicked, this, player_(&ReproducaoGravacoes::btnRewindClick));
    connect(TrackSound, &QSlider::sliderReleased, this,
            player_(&ReproducaoGravacoes::TrackSoundMouseUp));
    connect(TimerPlay, &QTimer::timeout, this, [this] {
        if (Reproducao) Reproducao->TimerPlayTimer();
    });
    formEdGrava = std::make_unique<FormEdGrava>(ctx, this);
}

FormGravacoes::~FormGravacoes() { Reproducao.reset(); }

int& FormGravacoes::CodigoSelecionado() { return modelo_->CodigoSelecionado; }

bool FormGravacoes::UnidadeConectada() const {
    return CodigoPABX > 0 && ctx_.dados.BasePABXConectada() &&
           ctx_.dados.CodigoPABX() == CodigoPABX;
}

bool FormGravacoes::DefineCentral(int codigo, const std::string& nome) {
    CodigoPABX = 0;
    meCentral->clear();
    if (codigo <= 0 || !ctx_.dados.BasePABXConectada() || ctx_.dados.CodigoPABX() != codigo)
        return false;
    CodigoPABX = codigo;
    meCentral->setText(QString::fromStdString(nome));
    return true;
}

int FormGravacoes::Abre(int codigo, const std::string& nome) {
    DefineCentral(codigo, nome);
    return exec();
}

void FormGravacoes::LimpaFiltros() {
    cbLigacao->setCurrentIndex(0);
    for (QLineEdit* e : {meRamal, meFone, meGrupo, meIdentificador, meCliente, meCNPJ}) e->clear();
}

void FormGravacoes::PlayerEmRepouso() {
    TimerPlay->stop();
    if (Reproducao) Reproducao->Encerra();
    modelo_->DefineLinhaTocando(0);
    TrackSound->setValue(0);
    TrackSound->setEnabled(false);
    LabelTrackIni->setText("00:00:00");
    LabelTrackFim->setText("00:00:00");
    for (QToolButton* b : {btnPlay, btnStop, btnForward, btnRewind}) b->setEnabled(false);
}

void FormGravacoes::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    PlayerEmRepouso();
    LimpaFiltros();
    const QDate hoje = QDate::currentDate();
    dtIni->setDate(hoje);
    dtFim->setDate(hoje);
    hrIni->setTime(QTime(0, 0, 0));
    hrFim->setTime(QTime(23, 59, 59));
    modelo_->Limpa();
    CodigoSelecionado() = 0;
    AtualizaBotoes();
    TimerEventos->stop();
}

void FormGravacoes::done(int r) {
    TimerEventos->stop();
    PlayerEmRepouso();
    QDialog::done(r);
}

void FormGravacoes::keyPressEvent(QKeyEvent* e) {
    if (meCentral->hasFocus() && !e->text().isEmpty()) {
        spBtnCentraisClick();
        return;
    }
    QDialog::keyPressEvent(e);
}

FiltroGravacoes FormGravacoes::Filtro() const {
    FiltroGravacoes f;
    f.inicio = Junta(dtIni->date(), hrIni->time());
    f.fim = Junta(dtFim->date(), hrFim->time());
    f.tipoLigacao = cbLigacao->currentIndex() > 0 ? cbLigacao->currentIndex() - 1 : -1;
    auto t = [](const QLineEdit* e) { return e->text().toStdString(); };
    f.ramal = t(meRamal);
    f.telefone = t(meFone);
    f.grupo = t(meGrupo);
    f.identificador = t(meIdentificador);
    f.cliente = t(meCliente);
    f.cnpj = t(meCNPJ);
    return f;
}

void FormGravacoes::LigaRecarga(bool liga) {
    if (liga) {
        ctx_.dados.EventoGravacao = false;
        TimerEventos->start();
    } else {
        TimerEventos->stop();
    }
}

void FormGravacoes::btnPesquisaClick() {
    PlayerEmRepouso();
    TimerEventos->stop();
    if (!UnidadeConectada()) {
        modelo_->Limpa();
        AtualizaBotoes();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    VisaoUsuario visao;
    visao.administrador = ctx_.UsuarioPerfil == 1;
    if (!visao.administrador) {
        Acesso acesso(ctx_.dados, ctx_.mensagens);
        visao.ramais = acesso.CarregaListaRamaisUsuarios(ctx_.UsuarioCodigo, CodigoPABX);
    }
    const bool ok = modelo_->Pesquisa(Filtro(), visao);
    if (ok) LigaRecarga(true);
    const int linha = modelo_->LinhaDoCodigo(CodigoSelecionado());
    if (linha >= 0) GridGrv->selectRow(linha);
    AtualizaBotoes();
    QApplication::restoreOverrideCursor();
}

void FormGravacoes::TimerEventosTimer() {
    if (!ctx_.dados.EventoGravacao) return;
    ctx_.dados.EventoGravacao = false;
    if (!UnidadeConectada() || (Reproducao && Reproducao->Ativa())) return;
    const bool ok = modelo_->Recarrega();
    if (!ok) TimerEventos->stop();
    const int linha = modelo_->LinhaDoCodigo(CodigoSelecionado());
    if (linha >= 0) GridGrv->selectRow(linha);
    AtualizaBotoes();
}

void FormGravacoes::btnLimparClick() {
    PlayerEmRepouso();
    LigaRecarga(true);
    LimpaFiltros();
    modelo_->Limpa();
    CodigoSelecionado() = 0;
    AtualizaBotoes();
}

void FormGravacoes::spBtnCentraisClick() {
    int codigo = 0;
    std::string nome;
    const TrocaCentral r = EscolheCentral(ctx_, codigo, nome);
    if (r == TrocaCentral::Cancelada) return;
    const int tipo = cbLigacao->currentIndex();
    QStringList textos;
    for (QLineEdit* e : {meRamal, meFone, meGrupo, meIdentificador, meCliente, meCNPJ})
        textos << e->text();
    btnLimparClick();
    cbLigacao->setCurrentIndex(tipo);
    int i = 0;
    for (QLineEdit* e : {meRamal, meFone, meGrupo, meIdentificador, meCliente, meCNPJ})
        e->setText(textos[i++]);
    if (r == TrocaCentral::Conectada) {
        DefineCentral(codigo, nome);
    } else {
        // The old unit's connection is gone: show none rather than a name
        // that no longer matches what the actions would reach.
        DefineCentral(0, {});
        TimerEventos->stop();
    }
}

void FormGravacoes::AtualizaBotoes() {
    LabelIncompleta->setVisible(!modelo_->Completo());
    const bool marcada = UnidadeConectada() && modelo_->AlgumaMarcada();
    btnEditar->setEnabled(marcada);
    btnSalvar->setEnabled(marcada);
    const bool ativa = Reproducao && Reproducao->Ativa();
    if (!ativa) btnPlay->setEnabled(marcada && Reproducao != nullptr);
}

void FormGravacoes::AoMarcar(int linha) {
    AtualizaBotoes();
    if (Reproducao && Reproducao->Ativa()) Reproducao->Interrompe();
    const LinhaGravacao* l = modelo_->Linha(linha - 1);
    if (l && !l->destino.empty()) LabelTrackFim->setText(QString::fromStdString(l->Duracao()));
}

void FormGravacoes::AoClicarCelula(const QModelIndex& i) {
    const LinhaGravacao* l = modelo_->Linha(i.row());
    if (!l) return;
    CodigoSelecionado() = l->codigo;
    if (i.column() == ModeloGravacoes::ColMarca) return;  // AoMarcar did the rest
    if (Reproducao && Reproducao->Ativa()) Reproducao->Interrompe();
    LabelTrackFim->setText(l->TemMarcador() ? QString("00:00:00")
                                            : QString::fromStdString(l->Duracao()));
}

void FormGravacoes::btnSalvarClick() {
    if (!btnSalvar->isEnabled() || !UnidadeConectada() || !ctx_.dados.BaseConectada()) return;
    // The ticked rows as they are now: a reload while the folder is chosen
    // (a recording filed meanwhile) would clear the ticks, so it waits for
    // the export's end.
    std::vector<ItemExportacao> itens;
    for (int linha : modelo_->LinhasMarcadas()) {
        const LinhaGravacao* l = modelo_->Linha(linha - 1);
        itens.push_back(
            {l->codigo, l->Duracao(),
             FormataDataHora(l->data, "dd/mm/yy hh:nn:ss") + " " + l->ramal + " " + l->destino});
    }
    const bool recarregava = TimerEventos->isActive();
    TimerEventos->stop();
    const std::string pasta =
        EscolhePastaExportacao
            ? EscolhePastaExportacao()
            : BrowseForFolderPath(
                  QString::fromUtf8("Localize a pasta em que deseja salvar os arquivos de áudio"),
                  QString(), this, true)
                  .toStdString();
    if (!pasta.empty()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const ResultadoExportacao r =
            ExportaGravacoes(ctx_.dados, itens, pasta, [this](const std::string& d) {
                ctx_.RegistraHistorico(Operacao::ExportadoGravacao, d);
            });
        QApplication::restoreOverrideCursor();
        const std::string m = r.Mensagem();
        if (m.empty())
            ctx_.mensagens.Mostra(TipoMensagem::Aviso, Traduz("Nenhuma gravação foi exportada"));
        else
            ctx_.mensagens.Mostra(r.falhas > 0 ? TipoMensagem::Erro : TipoMensagem::Informacao, m);
    }
    if (recarregava) TimerEventos->start();
}

void FormGravacoes::btnEditarClick() {
    if (!btnEditar->isEnabled()) return;
    TimerEventos->stop();
    ctx_.dados.HabilitaEventosBD(false);
    if (UnidadeConectada() && ctx_.dados.BaseConectada()) {
        FormEdGrava& ed = *formEdGrava;
        auto t = [](const std::string& s) { return QString::fromStdString(s); };
        for (int linha : modelo_->LinhasMarcadas()) {
            const LinhaGravacao l = *modelo_->Linha(linha - 1);
            ed.CodigoGravacao = l.codigo;
            CodigoSelecionado() = l.codigo;
            ed.edRamal->setText(t(l.ramal));
            ed.edGrupo->setText(t(l.grupo));
            ed.edData->setText(t(FormataDataHora(l.data, "dd/mm/yy hh:nn:ss")));
            ed.edDuracao->setText(t(l.Duracao()));
            ed.edFone->setText(t(l.destino));
            ed.edIdentificador->setText(t(l.identificador));
            ed.edCliente->setText(t(l.cliente));
            ed.edLiga->setText(Tr(l.tipoLigacao == 1   ? "Originada"
                                  : l.tipoLigacao == 2 ? "Recebida"
                                                       : "Interna"));
            if (ed.exec() != QDialog::Accepted) break;
            modelo_->AtualizaEdicao(l.codigo, ed.edCliente->text().toStdString(),
                                    ed.edIdentificador->text().toStdString());
            ctx_.RegistraHistorico(Operacao::EditadoGravacao,
                                   FormataDataHora(l.data, "dd/mm/yy hh:nn:ss") + " " + l.ramal +
                                       " " + l.destino);
        }
    }
    ctx_.dados.EventoGravacao = false;
    TimerEventos->start();
    ctx_.dados.HabilitaEventosBD(true);
}
