#include "console/forms/FormAtualizaRamais.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "console/ConfigRamais.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"

FormAtualizaRamais::FormAtualizaRamais(ContextoConsole& ctx, int codigo, QWidget* pai)
    : QDialog(pai, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), CodigoPABX(codigo),
      ctx_(ctx), link_(ctx.dados, "Atualização de ramais") {
    setObjectName("FormAtualizaRamais");
    setWindowTitle(Tr("Atualização de ramais"));
    LabelAtualizaRamais = new QLabel(Tr("Uma atualização dos ramais do PABX é necessária."), this);
    LabelAtualizaRamais->setObjectName("LabelAtualizaRamais");
    LabelAtualizaProgresso =
        new QLabel(Tr("Leitura dos ramais do PABX está em progresso. Aguarde ..."), this);
    LabelAtualizaProgresso->setObjectName("LabelAtualizaProgresso");
    auto* l = new QVBoxLayout(this);
    l->addWidget(LabelAtualizaRamais);
    l->addWidget(LabelAtualizaProgresso);
    TimerAtualiza = new QTimer(this);
    TimerAtualiza->setObjectName("TimerAtualiza");
    TimerAtualiza->setInterval(1000);
    TimerAtualiza->setSingleShot(true);
    connect(TimerAtualiza, &QTimer::timeout, this, &FormAtualizaRamais::TimerAtualizaTimer);
}

FormAtualizaRamais::~FormAtualizaRamais() = default;

void FormAtualizaRamais::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!executando_ && !terminou_) TimerAtualiza->start();
}

void FormAtualizaRamais::TimerAtualizaTimer() {
    TimerAtualiza->stop();
    if (executando_ || terminou_) return;
    executando_ = true;
    try {
        ctx_.dados.ConectaBasePABX(CodigoPABX);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Atualização de ramais: ") + e.what());
        Termina("Não foi possível conectar base de dados do PABX");
        return;
    }
    // A unit that does not take the connection within 10 s is not there.
    link_.IniciaLeitura(CodigoPABX, true, 10, nullptr, [this](const LinkRamais::FimLeitura& fim) {
        Marca = fim.marca;
        Termina(fim.mensagem);
    });
}

void FormAtualizaRamais::Termina(const std::string& mensagem) {
    executando_ = false;
    terminou_ = true;
    if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz(mensagem));
    accept();
}

void FormAtualizaRamais::reject() {
    // Escape does not end a refresh; the window closes itself.
    if (terminou_) QDialog::reject();
}

void FormAtualizaRamais::closeEvent(QCloseEvent* e) {
    if (!terminou_) {
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void VerificaAtualizacaoRamais(ContextoConsole& ctx, int codigo, QWidget* pai) {
    try {
        if (!RamaisDesatualizados(ctx.dados, codigo)) return;
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("VerificaAtualizacaoRamais: ") + e.what());
        return;
    }
    FormAtualizaRamais janela(ctx, codigo, pai ? pai : ctx.mensagens.pai);
    janela.exec();
}
