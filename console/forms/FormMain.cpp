#include "console/forms/FormMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmapCache>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/PostaEm.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "console/UtilConsole.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormConfigBD.h"
#include "console/forms/FormSobre.h"
#include "console/forms/TextoTela.h"

namespace {

// The program's pictures by name ("<name>_normal", "<name>_press", "topo"),
// drawn once and cached: a button face with the entry's initial.
QPixmap Figura(const QString& nome) {
    QPixmap p;
    if (QPixmapCache::find(nome, &p)) return p;
    const bool press = nome.endsWith("_press");
    if (nome == "topo") {
        p = QPixmap(900, 64);
        QPainter g(&p);
        QLinearGradient grad(0, 0, 900, 0);
        grad.setColorAt(0, QColor(16, 62, 112));
        grad.setColorAt(1, QColor(60, 140, 200));
        g.fillRect(p.rect(), grad);
        g.setPen(Qt::white);
        QFont f("DejaVu Sans", 20, QFont::Bold);
        g.setFont(f);
        g.drawText(p.rect().adjusted(16, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   "Quv Veruzadu");
    } else {
        p = QPixmap(40, 40);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        g.setBrush(press ? QColor(30, 90, 150) : QColor(50, 130, 200));
        g.setPen(Qt::NoPen);
        g.drawRoundedRect(p.rect().adjusted(2, 2, -2, -2), 8, 8);
        g.setPen(Qt::white);
        g.setFont(QFont("DejaVu Sans", 16, QFont::Bold));
        g.drawText(p.rect(), Qt::AlignCenter, nome.left(1).toUpper());
    }
    QPixmapCache::insert(nome, p);
    return p;
}

}  // namespace

FormMain::FormMain(ContextoConsole& ctx, QWidget* pai) : QMainWindow(pai), ctx_(ctx) {
    setObjectName("FormMain");
    resize(937, 511);

    // FormCreate
    inicializando_ = false;
    EstadoServicoAnterior = 255;
    monitorServicoAtivo_ = true;
    ctx_.UsuarioNome.clear();
    ctx_.UsuarioCodigo = 0;
    ctx_.UsuarioPerfil = 0;
    const QString titulo = Tr("Quv – Veruzadu de Chamadas");
    QApplication::setApplicationDisplayName(titulo);
    setWindowTitle(titulo);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* painelTopo = new QWidget(central);
    painelTopo->setObjectName("PainelTopo");
    auto* topo = new QHBoxLayout(painelTopo);
    auto* imagemTopo = new QLabel(painelTopo);
    imagemTopo->setObjectName("HSImageTopo");
    imagemTopo->setPixmap(Figura("topo"));
    imagemTopo->setScaledContents(false);
    topo->addWidget(imagemTopo);
    layout->addWidget(painelTopo);

    auto* painelMenu = new QWidget(central);
    painelMenu->setObjectName("PainelMenu");
    auto* menu = new QHBoxLayout(painelMenu);
    btnGravacoes = Botao("btnGravacoes", "&Gravações", "gravacoes");
    btnUsuarios = Botao("btnUsuarios", "&Usuários", "usuarios");
    btnContatos = Botao("btnContatos", "&Contatos", "contatos");
    btnManutencao = Botao("btnManutencao", "&Manutenção", "manutencao");
    btnConfiguracao = Botao("btnConfiguracao", "Con&figuração", "configuracao");
    btnAjuda = Botao("btnAjuda", "&Ajuda", "ajuda");
    btnEncerrar = Botao("btnEncerrar", "&Encerrar", "sair");
    for (QToolButton* b : {btnGravacoes, btnUsuarios, btnContatos, btnManutencao, btnConfiguracao,
                           btnAjuda, btnEncerrar})
        menu->addWidget(b);
    menu->addStretch();
    auto* estado = new QVBoxLayout;
    btnEstadoVeruzadu = new QToolButton(painelMenu);
    btnEstadoVeruzadu->setObjectName("btnEstadoVeruzadu");
    btnEstadoVeruzadu->setIcon(QIcon(Figura("parado_normal")));
    btnEstadoVeruzadu->setIconSize(QSize(40, 40));
    btnEstadoVeruzadu->setAutoRaise(true);
    LabelStatus = new QLabel(Tr("Parado"), painelMenu);
    LabelStatus->setObjectName("LabelStatus");
    LabelStatus->setAlignment(Qt::AlignCenter);
    LabelStatus->installEventFilter(this);
    estado->addWidget(btnEstadoVeruzadu, 0, Qt::AlignCenter);
    estado->addWidget(LabelStatus);
    menu->addLayout(estado);
    layout->addWidget(painelMenu);
    layout->addStretch();
    setCentralWidget(central);

    auto* barra = new QStatusBar(this);
    barra->setObjectName("grvStatusBar");
    PainelUsuario = new QLabel(Tr("Usuário") + ":", barra);
    PainelUsuario->setObjectName("PainelUsuario");
    PainelUsuario->setMinimumWidth(210);
    PainelMensagem = new QLabel(barra);
    PainelMensagem->setObjectName("PainelMensagem");
    PainelMensagem->setMinimumWidth(50);
    barra->addWidget(PainelUsuario);
    barra->addWidget(PainelMensagem, 1);
    setStatusBar(barra);

    pmManutencao = new QMenu(this);
    pmManutencao->setObjectName("pmManutencao");
    ItemMenu(pmManutencao, "Apagarregistros1", "Apagar registros");
    ItemMenu(pmManutencao, "Estadoveruzadu1", "Estado downloads");
    ItemMenu(pmManutencao, "Histricoatividades1", "Histórico de ocorrências");
    ItemMenu(pmManutencao, "IniciarServioGravaoNorvika1", "Iniciar Serviço Gravação Quv");
    ItemMenu(pmManutencao, "PararServioGravacoNorvika1", "Parar Serviço Gravação Quv");
    pmConfiguracao = new QMenu(this);
    pmConfiguracao->setObjectName("pmConfiguracao");
    ItemMenu(pmConfiguracao, "Centrais1", "&Centrais");
    ItemMenu(pmConfiguracao, "Armazenamento1", "Armazenamento");
    ItemMenu(pmConfiguracao, "Emaildealertas1", "E-mail de alertas");
    pmAjuda = new QMenu(this);
    pmAjuda->setObjectName("pmAjuda");
    ItemMenu(pmAjuda, "Ajuda1", "&Ajuda");
    ItemMenu(pmAjuda, "Sobre1", "&Sobre");

    connect(btnManutencao, &QToolButton::clicked, this,
            [this] { AbreMenu(btnManutencao, pmManutencao); });
    connect(btnConfiguracao, &QToolButton::clicked, this,
            [this] { AbreMenu(btnConfiguracao, pmConfiguracao); });
    connect(btnAjuda, &QToolButton::clicked, this, [this] { AbreMenu(btnAjuda, pmAjuda); });
    connect(btnEncerrar, &QToolButton::clicked, this, &FormMain::BtnEncerrarClick);
    for (QToolButton* b : {btnGravacoes, btnUsuarios, btnContatos})
        connect(b, &QToolButton::clicked, this,
                [this, b] { Executa(b->objectName().toStdString(), b); });
    connect(btnEstadoVeruzadu, &QToolButton::clicked, this,
            [this] { Executa("btnEstadoVeruzadu", nullptr); });

    TimerServico = new QTimer(this);
    TimerServico->setObjectName("TimerServico");
    TimerServico->setInterval(1000);
    connect(TimerServico, &QTimer::timeout, this, &FormMain::TimerServicoTimer);

    ctx_.CriaJanelas(*this);
    ctx_.acoes.emplace("Sobre1", [this] { ctx_.formSobre->exec(); });
    ctx_.acoes.emplace("Ajuda1", [this] { Ajuda1Click(); });
    primeiraExibicao_ = true;
    // F1 in any window of the program (see eventFilter).
    qApp->installEventFilter(this);
}

FormMain::~FormMain() { ctx_.DestroiJanelas(); }

QToolButton* FormMain::Botao(const char* nome, const char* texto, const char* figura) {
    auto* b = new QToolButton(this);
    b->setObjectName(nome);
    b->setText(TrLNG(texto));
    b->setIcon(QIcon(Figura(QString(figura) + "_normal")));
    b->setIconSize(QSize(40, 40));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setMinimumWidth(88);
    b->setProperty("figura", figura);
    return b;
}

QAction* FormMain::ItemMenu(QMenu* menu, const char* nome, const char* texto) {
    QAction* a = menu->addAction(Tr(texto));
    a->setObjectName(nome);
    connect(a, &QAction::triggered, this, [this, nome] {
        const RegraAcao* r = RegraDe(nome);
        QToolButton* botao = nullptr;
        if (r && r->figura == "manutencao")
            botao = btnManutencao;
        else if (r && r->figura == "configuracao")
            botao = btnConfiguracao;
        else if (r && r->figura == "ajuda")
            botao = btnAjuda;
        Executa(nome, botao);
    });
    return a;
}

void FormMain::AbreMenu(QToolButton* botao, QMenu* menu) {
    AtualizaHabilitados();
    menu->popup(botao->mapToGlobal(QPoint(0, botao->height())));
}

void FormMain::AtualizaHabilitados() {
    for (QToolButton* b : {btnGravacoes, btnUsuarios, btnContatos, btnEstadoVeruzadu})
        b->setEnabled(ctx_.acoes.count(b->objectName().toStdString()) != 0);
    LabelStatus->setEnabled(btnEstadoVeruzadu->isEnabled());
    for (QMenu* m : {pmManutencao, pmConfiguracao, pmAjuda})
        for (QAction* a : m->actions())
            a->setEnabled(ctx_.acoes.count(a->objectName().toStdString()) != 0);
    // The service items also follow the service's state.
    if (ctx_.AtualizaEstadoServico) ctx_.AtualizaEstadoServico();
}

void FormMain::Executa(const std::string& componente, QToolButton* botao) {
    auto acao = ctx_.acoes.find(componente);
    if (acao == ctx_.acoes.end()) return;
    const QString figura = botao ? botao->property("figura").toString() : QString();
    if (botao) {
        botao->setIcon(QIcon(Figura(figura + "_press")));
        botao->repaint();
    }
    const RegraAcao* regra = RegraDe(componente);
    if (!regra || AutorizaAcao(*regra, ctx_.dados, ctx_.VerificaPermissao)) acao->second();
    if (botao) {
        botao->setIcon(QIcon(Figura(figura + "_normal")));
        botao->repaint();
    }
}

void FormMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    AtualizaHabilitados();
    if (primeiraExibicao_) {
        primeiraExibicao_ = false;
        IniciaSequencia();
    }
}

void FormMain::Ativa() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void FormMain::IniciaSequencia() {
    sequenciaPendente_ = true;
    PostaEm(this, [this] {
        sequenciaPendente_ = false;
        SynchroInicializa();
    });
}

bool FormMain::MostraConfigBD() {
    bool ok = false;
    {
        FormConfigBD dialogo(ctx_.dados, ctx_.mensagens, this);
        ok = dialogo.exec() == QDialog::Accepted;
    }
    if (!ok)
        ctx_.mensagens.Mostra(TipoMensagem::Erro,
                              Traduz("Base de dados não localizada. O programa será encerrado"));
    PainelMensagem->clear();
    return ok;
}

void FormMain::SynchroInicializa() {
    if (inicializando_) return;
    inicializando_ = true;
    bool sai = false;
    for (;;) {
        const IniFile ini(ArquivoVeruzaduIni());
        const std::string servidor = ini.ReadString("BD", "Server", "");
        DefineLogConsoleAtivo(ini.ReadBool("Log", "Servico", false));
        if (servidor.empty() && !MostraConfigBD()) sai = true;
        if (!sai) {
            PainelMensagem->setText(Tr("Conectando com o banco de dados"));
            ctx_.dados.DefineHoraConexaoPerdida(ctx_.relogio());
            std::string erro;
            if (ctx_.dados.ConectaBancoDados(erro)) {
                PainelMensagem->clear();
                const ResultadoLogin login =
                    ctx_.ExecutaLogin ? ctx_.ExecutaLogin(this) : ResultadoLogin::Cancelado;
                if (login == ResultadoLogin::Cancelado) {
                    sai = true;
                } else if (login == ResultadoLogin::Interrompido) {
                    // A login closed by a connection loss is no cancel: the
                    // timer's reconnection takes over (started here too, as
                    // a loss during the first login finds it still stopped).
                    if (ctx_.dados.ConexaoPerdida())
                        TimerServico->start();
                    else
                        sai = true;
                } else {
                    PainelUsuario->setText(Tr("Usuário") + ": " +
                                           QString::fromStdString(ctx_.UsuarioNome));
                    if (ctx_.CarregaConfiguracao) ctx_.CarregaConfiguracao();
                    if (ctx_.ReconectaPlayer) ctx_.ReconectaPlayer();
                    TimerServico->start();
                }
            } else {
                PainelMensagem->setText(Tr("Falha ao conectar base de dados"));
                ctx_.mensagens.Mostra(TipoMensagem::Erro,
                                      Traduz("Falha ao conectar base de dados") + "\n" + erro);
                if (!MostraConfigBD()) sai = true;
            }
        }
        if (sai || ctx_.dados.EstadoConexao() == Conectado || ctx_.dados.ConexaoPerdida()) break;
    }
    inicializando_ = false;
    if (sai) {
        close();
    }
}

void FormMain::TimerServicoTimer() {
    // A tick that shows the notice waits in the box's modal loop, where the
    // timer keeps firing: those ticks must not run the steps again.
    if (emTick_) return;
    emTick_ = true;
    EstadoJanelaMain janela;
    janela.monitorAtivo = monitorServicoAtivo_;
    janela.inicializando = inicializando_;
    janela.sequenciaPendente = sequenciaPendente_;
    janela.avisoAberto = avisoAberto_;
    if (monitorServicoAtivo_ && ctx_.AtualizaEstadoServico) ctx_.AtualizaEstadoServico();
    const AcoesTick a = TickConexao(ctx_.dados, ctx_.relogio(), janela);
    if (a.desliga) {
        TimerServico->stop();
        emTick_ = false;
        return;
    }
    if (a.textoPainel) PainelMensagem->setText(QString::fromStdString(*a.textoPainel));
    if (a.mostraAviso) {
        // The others close first, so the notice is the one box left on screen.
        FechaTodasJanelas(this);
        avisoAberto_ = true;
        emTick_ = false;  // the countdown keeps moving while the notice is up
        ctx_.mensagens.Mostra(TipoMensagem::Aviso,
                              Traduz("Conexão com o banco de dados foi perdida"));
        avisoAberto_ = false;
        return;
    }
    if (a.reinicia) IniciaSequencia();
    emTick_ = false;
}

void FormMain::BtnEncerrarClick() {
    btnEncerrar->setIcon(QIcon(Figura("sair_press")));
    btnEncerrar->repaint();
    // Closing a second later lets the press show without blocking the window.
    QTimer::singleShot(1000, this, [this] { close(); });
}

void FormMain::Ajuda1Click() { AbreAjuda(ContextoAjuda::Principal, ctx_.mensagens); }

bool FormMain::eventFilter(QObject* alvo, QEvent* e) {
    // F1 in any of the program's windows opens that window's help page.
    if (e->type() == QEvent::KeyPress && alvo->isWidgetType() &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1) {
        const QWidget* janela = static_cast<QWidget*>(alvo)->window();
        AbreAjuda(ContextoDaJanela(janela->objectName().toStdString()), ctx_.mensagens);
        return true;
    }
    if (alvo == LabelStatus && e->type() == QEvent::MouseButtonRelease &&
        LabelStatus->isEnabled()) {
        Executa("btnEstadoVeruzadu", nullptr);
        return true;
    }
    return QMainWindow::eventFilter(alvo, e);
}

void FormMain::EncerraPorSinal() {
    FechaTodasJanelas(this);
    close();
    // Every loop ends, the nested modal ones included, and loops opened on
    // the way out return at once; no window that refuses to close (a names
    // refresh still running) can hold the end back as with quit().
    QCoreApplication::exit(0);
}

void FormMain::closeEvent(QCloseEvent* e) {
    monitorServicoAtivo_ = false;
    TimerServico->stop();
    ctx_.dados.Desconecta();
    e->accept();
}
