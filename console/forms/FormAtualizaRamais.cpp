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
      ctx_(ctx) {
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
    TimerPassos = new QTimer(this);
    TimerPassos->setObjectName("TimerPassos");
    TimerPassos->setInterval(100);
    connect(TimerAtualiza, &QTimer::timeout, this, &FormAtualizaRamais::TimerAtualizaTimer);
    connect(TimerPassos, &QTimer::timeout, this, &FormAtualizaRamais::Passo);
}

FormAtualizaRamais::~FormAtualizaRamais() {
    estado_.reset();
    pabx_.reset();
}

void FormAtualizaRamais::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!executando_ && !terminou_) TimerAtualiza->start();
}

void FormAtualizaRamais::TimerAtualizaTimer() {
    TimerAtualiza->stop();
    if (executando_ || terminou_) return;
    executando_ = true;
    pabx_ = std::make_unique<TPABX>(ModoPABX::Console);
    try {
        const DadosLinkPABX d = LeDadosLinkPABX(ctx_.dados, CodigoPABX);
        pabx_->FEnderecoIP = d.endereco;
        pabx_->FPorta = d.porta;
        pabx_->FSenha = d.senha;
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Atualização de ramais: ") + e.what());
    }
    try {
        ctx_.dados.ConectaBasePABX(CodigoPABX);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Atualização de ramais: ") + e.what());
        Termina("Não foi possível conectar base de dados do PABX");
        return;
    }
    estado_ = std::make_unique<EstadoLeitura>(*pabx_, true, Relogio);
    // A unit that does not take the connection within 10 s is not there.
    estado_->TempoLimiteConexao = std::min(10, estado_->TempoLimite);
    TimerPassos->start();
    Passo();
}

void FormAtualizaRamais::Passo() {
    if (!estado_) return;
    while (estado_->Verifica()) estado_->Envia();
    if (!estado_->Terminou()) return;
    TimerPassos->stop();
    Marca = estado_->Estado();
    pabx_->Desconecta();
    std::string mensagem = EstadoLeitura::MensagemFim(Marca);
    if (Marca == MarcaConcluido) {
        try {
            GravaLeituraPABX(ctx_.dados, CodigoPABX, estado_->Resultado(), true);
            if (ctx_.dados.AtualizaRamaisGrupos(CodigoPABX)) ctx_.dados.LimpaDNSUpdate(CodigoPABX);
        } catch (const std::exception& e) {
            GravaLogConsole(std::string("Atualização de ramais: ") + e.what());
            mensagem = "Não foi possível gravar os ramais lidos do PABX";
        }
    }
    Termina(mensagem);
}

void FormAtualizaRamais::Termina(const std::string& mensagem) {
    estado_.reset();
    pabx_.reset();
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
    int valor = 0;
    try {
        ctx.dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = ?");
            st.SetInt(0, codigo);
            auto c = st.Abre();
            if (c.Proxima() && !c.IsNull(0)) valor = c.GetInt(0);
        });
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("VerificaAtualizacaoRamais: ") + e.what());
        return;
    }
    if (valor != 1) return;
    FormAtualizaRamais janela(ctx, codigo, pai ? pai : ctx.mensagens.pai);
    janela.exec();
}
