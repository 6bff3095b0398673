#include "console/forms/FormConfig.h"
#include "common/db/OperacaoHistorico.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/forms/ContextoConsole.h"
#include "console/forms/EscolhePasta.h"
#include "console/forms/TextoTela.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string S(const QString& s) { return s.toStdString(); }

QLabel* Rotulo(const char* nome, const char* texto, QWidget* pai) {
    auto* l = new QLabel(Tr(texto), pai);
    l->setObjectName(nome);
    return l;
}

template <class W> W* Nomeado(W* w, const char* nome) {
    w->setObjectName(nome);
    return w;
}

QLineEdit* Edit(const char* nome, QWidget* pai) {
    // No maxLength: a longer paste stays whole and Ok names the limit.
    return Nomeado(new QLineEdit(pai), nome);
}

}  // namespace

FormConfig::FormConfig(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormConfig");
    setWindowTitle(Tr("Configuração de armazenamento"));

    gbArquivamento = Nomeado(new QGroupBox(" " + Tr("Arquivamento") + " ", this), "gbArquivamento");
    cbConverterOGG =
        Nomeado(new QCheckBox(Tr("Converter formato de arquivo de áudio para Ogg"), gbArquivamento),
                "cbConverterOGG");
    cbCripto =
        Nomeado(new QCheckBox(Tr("Criptografar arquivo de áudio ao registrar na base de dados"),
                              gbArquivamento),
                "cbCripto");
    lbChaveCripto = Rotulo("lbChaveCripto", "Chave de critpografia", gbArquivamento);
    edChaveCripto = Edit("edChaveCripto", gbArquivamento);
    {
        auto* l = new QGridLayout(gbArquivamento);
        l->addWidget(cbConverterOGG, 0, 0, 1, 2);
        l->addWidget(cbCripto, 1, 0, 1, 2);
        l->addWidget(lbChaveCripto, 2, 0);
        l->addWidget(edChaveCripto, 2, 1);
    }

    gbBackup =
        Nomeado(new QGroupBox(" " + Tr("Backup de arquivos de áudio") + " ", this), "gbBackup");
    cbNetBackup =
        Nomeado(new QCheckBox(Tr("Realizar backup de arquivos de áudio em pasta local ou de rede"),
                              gbBackup),
                "cbNetBackup");
    lbFormatoNet = Rotulo("lbFormatoNet", "Fomato do arquivo", gbBackup);
    cbFormatoNET = Nomeado(new QComboBox(gbBackup), "cbFormatoNET");
    lbFolderNet = Rotulo("lbFolderNet", "Pasta de destino", gbBackup);
    edNetPath = Edit("edNetPath", gbBackup);
    spBtnNET = Nomeado(new QToolButton(gbBackup), "spBtnNET");
    spBtnNET->setText("...");
    cbFTPbackup =
        Nomeado(new QCheckBox(Tr("Realizar backup de arquivos de áudio em servidor FTP"), gbBackup),
                "cbFTPbackup");
    lbFormatoFTP = Rotulo("lbFormatoFTP", "Fomato do arquivo", gbBackup);
    cbFormatoFTP = Nomeado(new QComboBox(gbBackup), "cbFormatoFTP");
    lbServFTP = Rotulo("lbServFTP", "Servidor FTP", gbBackup);
    edServFTP = Edit("edServFTP", gbBackup);
    lbPortaFTP = Rotulo("lbPortaFTP", "Porta FTP", gbBackup);
    mePortaFTP = Edit("mePortaFTP", gbBackup);
    mePortaFTP->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), mePortaFTP));
    lbSecFTP = Rotulo("lbSecFTP", "Segurança", gbBackup);
    cbSecFTP = Nomeado(new QComboBox(gbBackup), "cbSecFTP");
    for (const char* t : {"Não", "TLS, se disponível", "TLS", "SSL"}) cbSecFTP->addItem(Tr(t));
    lbUserFTP = Rotulo("lbUserFTP", "Usuário FTP", gbBackup);
    edUserFTP = Edit("edUserFTP", gbBackup);
    lbSenhaFTP = Rotulo("lbSenhaFTP", "Senha FTP", gbBackup);
    edSenhaFTP = Edit("edSenhaFTP", gbBackup);
    edSenhaFTP->setEchoMode(QLineEdit::Password);
    {
        auto* l = new QGridLayout(gbBackup);
        int r = 0;
        l->addWidget(cbNetBackup, r++, 0, 1, 3);
        l->addWidget(lbFormatoNet, r, 0);
        l->addWidget(cbFormatoNET, r++, 1);
        l->addWidget(lbFolderNet, r, 0);
        l->addWidget(edNetPath, r, 1);
        l->addWidget(spBtnNET, r++, 2);
        l->addWidget(cbFTPbackup, r++, 0, 1, 3);
        l->addWidget(lbFormatoFTP, r, 0);
        l->addWidget(cbFormatoFTP, r++, 1);
        l->addWidget(lbServFTP, r, 0);
        l->addWidget(edServFTP, r++, 1);
        l->addWidget(lbPortaFTP, r, 0);
        l->addWidget(mePortaFTP, r++, 1);
        l->addWidget(lbSecFTP, r, 0);
        l->addWidget(cbSecFTP, r++, 1);
        l->addWidget(lbUserFTP, r, 0);
        l->addWidget(edUserFTP, r++, 1);
        l->addWidget(lbSenhaFTP, r, 0);
        l->addWidget(edSenhaFTP, r++, 1);
    }

    gbBackupDB = Nomeado(new QGroupBox(" " + Tr("Backup base de dados") + " ", this), "gbBackupDB");
    auto* lbFrequencia =
        Rotulo("lbFrequencia", "Frequência de realização de backup da base de dados", gbBackupDB);
    cbBackupDB = Nomeado(new QComboBox(gbBackupDB), "cbBackupDB");
    for (const char* t : {"Não realizar", "Diário", "Semanal", "Mensal"})
        cbBackupDB->addItem(Tr(t));
    lbFolderBackupDB = Rotulo("lbFolderBackupDB", "Pasta de destino", gbBackupDB);
    edPathBackupDB = Edit("edPathBackupDB", gbBackupDB);
    spBtnDB = Nomeado(new QToolButton(gbBackupDB), "spBtnDB");
    spBtnDB->setText("...");
    {
        auto* l = new QGridLayout(gbBackupDB);
        l->addWidget(lbFrequencia, 0, 0);
        l->addWidget(cbBackupDB, 0, 1);
        l->addWidget(lbFolderBackupDB, 1, 0);
        l->addWidget(edPathBackupDB, 1, 1);
        l->addWidget(spBtnDB, 1, 2);
    }

    btnOk = Nomeado(new QPushButton(TrLNG("&Ok"), this), "btnOk");
    btnOk->setDefault(true);
    btnCancelar = Nomeado(new QPushButton(TrLNG("&Cancelar"), this), "btnCancelar");
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    botoes->addWidget(btnCancelar);
    auto* l = new QVBoxLayout(this);
    l->addWidget(gbArquivamento);
    l->addWidget(gbBackup);
    l->addWidget(gbBackupDB);
    l->addLayout(botoes);

    PreencheFormatos(cbFormatoNET, false);
    PreencheFormatos(cbFormatoFTP, false);
    edServFTP->setText("127.0.0.1");
    mePortaFTP->setText("21");

    for (QCheckBox* c : {cbCripto, cbNetBackup, cbFTPbackup})
        connect(c, &QCheckBox::toggled, this, &FormConfig::AtualizaHabilitados);
    connect(cbBackupDB, &QComboBox::currentIndexChanged, this, &FormConfig::AtualizaHabilitados);
    connect(spBtnNET, &QToolButton::clicked, this, [this] { EscolhePasta(spBtnNET, edNetPath); });
    connect(spBtnDB, &QToolButton::clicked, this,
            [this] { EscolhePasta(spBtnDB, edPathBackupDB); });
    connect(btnOk, &QPushButton::clicked, this, &FormConfig::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &FormConfig::BtnCancelarClick);
    AtualizaHabilitados();
}

void FormConfig::PreencheFormatos(QComboBox* lista, bool criptografado) {
    lista->clear();
    lista->addItem(Tr("WAV"));
    lista->addItem(Tr("OGG"));
    // The service's encrypted copy: offered only where the row already holds
    // it, so saving keeps it instead of turning the copy off.
    if (criptografado) lista->addItem(Tr("Criptografado"));
}

void FormConfig::Abre() {
    if (!CarregaConfiguracao(ctx_.dados, ctx_.configuracao, ctx_.servidorGravacao)) {
        ctx_.mensagens.Mostra(TipoMensagem::Informacao,
                              Traduz("Não foi possível carregar configurações"));
        return;
    }
    ApresentaConfiguracao();
    exec();
}

void FormConfig::ApresentaConfiguracao() {
    const EdicaoConfig e = ::ApresentaConfiguracao(ctx_.configuracao);
    cbConverterOGG->setChecked(e.converterOgg);
    cbCripto->setChecked(e.cripto);
    edChaveCripto->setText(Q(e.chave));
    cbNetBackup->setChecked(e.netBackup);
    PreencheFormatos(cbFormatoNET, e.itemCriptografadoNet);
    cbFormatoNET->setCurrentIndex(e.formatoNet);
    edNetPath->setText(Q(e.netPath));
    cbFTPbackup->setChecked(e.ftpBackup);
    PreencheFormatos(cbFormatoFTP, e.itemCriptografadoFtp);
    cbFormatoFTP->setCurrentIndex(e.formatoFtp);
    edServFTP->setText(Q(e.servFtp));
    mePortaFTP->setText(Q(e.portaFtp));
    cbSecFTP->setCurrentIndex(e.secFtp);
    edUserFTP->setText(Q(e.userFtp));
    edSenhaFTP->setText(Q(e.senhaFtp));
    cbBackupDB->setCurrentIndex(e.backupDB);
    edPathBackupDB->setText(Q(e.pathBackupDB));
    AtualizaHabilitados();
}

EdicaoConfig FormConfig::LeCampos() const {
    EdicaoConfig e;
    e.converterOgg = cbConverterOGG->isChecked();
    e.cripto = cbCripto->isChecked();
    e.chave = S(edChaveCripto->text());
    e.netBackup = cbNetBackup->isChecked();
    e.formatoNet = std::max(0, cbFormatoNET->currentIndex());
    e.netPath = S(edNetPath->text());
    e.ftpBackup = cbFTPbackup->isChecked();
    e.formatoFtp = std::max(0, cbFormatoFTP->currentIndex());
    e.servFtp = S(edServFTP->text());
    e.portaFtp = S(mePortaFTP->text());
    e.secFtp = std::max(0, cbSecFTP->currentIndex());
    e.userFtp = S(edUserFTP->text());
    e.senhaFtp = S(edSenhaFTP->text());
    e.backupDB = std::max(0, cbBackupDB->currentIndex());
    e.pathBackupDB = S(edPathBackupDB->text());
    e.itemCriptografadoNet = cbFormatoNET->count() > 2;
    e.itemCriptografadoFtp = cbFormatoFTP->count() > 2;
    return e;
}

void FormConfig::AtualizaHabilitados() {
    const HabilitacaoConfig h = Habilitacao(LeCampos());
    for (QWidget* w : {static_cast<QWidget*>(lbChaveCripto), static_cast<QWidget*>(edChaveCripto)})
        w->setEnabled(h.chave);
    for (QWidget* w : std::initializer_list<QWidget*>{lbFormatoNet, cbFormatoNET, lbFolderNet,
                                                      edNetPath, spBtnNET})
        w->setEnabled(h.net);
    for (QWidget* w : std::initializer_list<QWidget*>{
             lbFormatoFTP, cbFormatoFTP, lbServFTP, edServFTP, lbPortaFTP, mePortaFTP, lbSecFTP,
             cbSecFTP, lbUserFTP, edUserFTP, lbSenhaFTP, edSenhaFTP})
        w->setEnabled(h.ftp);
    for (QWidget* w : std::initializer_list<QWidget*>{lbFolderBackupDB, edPathBackupDB, spBtnDB})
        w->setEnabled(h.db);
}

void FormConfig::EscolhePasta(QToolButton* botao, QLineEdit* destino) {
    botao->setDown(true);
    const QString pasta =
        BrowseForFolderPath(Tr("Localize a pasta de destino de backup"), QString(), this, true);
    if (!pasta.isEmpty()) destino->setText(pasta);
    botao->setDown(false);
}

bool FormConfig::SalvaEdicao() {
    return SalvaConfiguracao(ctx_.dados, ctx_.mensagens, ctx_.configuracao, LeCampos());
}

void FormConfig::BtnOkClick() {
    if (!ctx_.dados.BaseConectada() || !SalvaEdicao()) return;
    if (ctx_.RegistraHistorico) ctx_.RegistraHistorico(Operacao::EditadoConfiguracao, "");
    accept();
}

void FormConfig::BtnCancelarClick() { reject(); }
