#include "console/ControleStatus.h"

#include "common/Traducao.h"
#include "console/Mensageiro.h"
#include "console/UtilConsole.h"

namespace {

std::string Servico(const std::string& texto) {
    return Traduz("Serviço Gravação Quv") + ": " + Traduz(texto);
}

}  // namespace

ControleStatus::ControleStatus(Mensageiro& mensagens, Janela janela)
    : mensagens_(mensagens), janela_(std::move(janela)),
      cliente_(ClienteStatus::Eventos{
          [this](int n) { Conectado(n); },
          [this](int n, const std::string& erro) { Falhou(n, erro); },
          [this](int n) { Fechado(n); },
          [this](int n, const std::vector<status::Resposta>& r) { Respostas(n, r); },
      }) {
    timerStatus_.setObjectName("TimerStatus");
    timerStatus_.setInterval(1000);
    QObject::connect(&timerStatus_, &QTimer::timeout, [this] { TimerStatusTimer(); });
}

ControleStatus::~ControleStatus() {
    timerStatus_.stop();
    cliente_.Fecha();
}

void ControleStatus::Mostra(const std::string& texto, bool vermelho) {
    tela_.status = texto;
    tela_.vermelho = vermelho;
    if (janela_.mostraTela) janela_.mostraTela();
}

void ControleStatus::Menu(bool habilitado) {
    tela_.menuDownload = habilitado;
    if (janela_.mostraTela) janela_.mostraTela();
}

std::string ControleStatus::Endereco() const { return ip_ + ":" + std::to_string(porta_); }

void ControleStatus::FormShow(const std::string& ip, std::uint16_t porta) {
    ip_ = ip;
    porta_ = porta;
    tela_.menuDownload = false;
    Mostra(Traduz("Situação"), false);
    fase_ = 0;
    timerStatus_.start();
}

void ControleStatus::TimerStatusTimer() {
    timerStatus_.stop();
    if (fase_ == 0) {
        fase_ = 1;
        ConectaServicoIP();
    } else if (fase_ == 3) {
        LeEstadoServico();
        if (janela_.carregaGrade) janela_.carregaGrade();
        timerStatus_.setInterval(5000);
        // The grid reload may have ended the window's showing (a lost
        // database closes every window): only a showing still on polls on.
        if (fase_ == 3) timerStatus_.start();
    }
}

void ControleStatus::ConectaServicoIP() {
    cliente_.Fecha();
    Mostra(Traduz("Conectando Serviço Gravação Quv em") + " " + Endereco(), tela_.vermelho);
    if (ip_.empty() || porta_ == 0) {
        Mostra(Traduz("Falha ao conectar Serviço Gravação Quv em") + " " + Endereco() + " " +
                   Traduz("Endereço do serviço desconhecido"),
               true);
        fase_ = 2;
        return;
    }
    cliente_.Abre(ip_, porta_);
}

void ControleStatus::Conectado(int) {
    if (FechandoStatus) return;
    fase_ = 3;
    tela_.menuDownload = true;
    Mostra(Servico("Conectado"), false);
    timerStatus_.start();
}

void ControleStatus::Falhou(int, const std::string& erro) {
    GravaLogConsole("Serviço Gravação Quv em " + Endereco() + ": " + erro);
    if (FechandoStatus) return;
    tela_.menuDownload = false;
    Mostra(Servico("Erro na conexão com Serviço Gravação Quv"), true);
    fase_ = 2;
}

void ControleStatus::Fechado(int) {
    if (FechandoStatus) return;
    fase_ = 2;
    timerStatus_.stop();
    tela_.menuDownload = false;
    Mostra(Servico("Desconectado"), true);
}

void ControleStatus::Log(const std::string& linha) {
    if (logAberto_ && janela_.linhaLog) janela_.linhaLog(linha);
}

void ControleStatus::Respostas(int, const std::vector<status::Resposta>& respostas) {
    using status::TipoResposta;
    for (const status::Resposta& r : respostas) {
        if (FechandoStatus) return;
        switch (r.tipo) {
            case TipoResposta::Log: Log(r.texto); break;
            case TipoResposta::Status:
                tela_.menuDownload = true;
                Mostra(Servico("Conectado"), false);
                break;
            case TipoResposta::DownloadOK:
            case TipoResposta::DownloadON:
                Log(Traduz(r.tipo == TipoResposta::DownloadOK
                               ? "Download será iniciado em instantes."
                               : "Download já está sendo realizado no momento."));
                Log(Traduz("Aguarde") + "...");
                break;
            case TipoResposta::DownloadRecusado:
                mensagens_.Mostra(TipoMensagem::Informacao,
                                  Traduz("Não foi possível solicitar download."));
                break;
            case TipoResposta::Outra: Mostra(r.texto, tela_.vermelho); break;
            case TipoResposta::Nenhuma: break;
        }
    }
}

void ControleStatus::LeEstadoServico() {
    if (!cliente_.Envia(status::PedidoStatus()))
        Mostra(Traduz("Não há conexão com Serviço Gravação Quv"), tela_.vermelho);
}

void ControleStatus::RealizarDownloadClick(
    const std::string& codigo, const std::string& nome,
    const std::function<void(const std::string& descricao)>& mostraLog) {
    if (!tela_.menuDownload || !cliente_.Aberto()) {
        const std::string texto = Traduz("Não há conexão com Serviço Gravação Quv");
        Mostra(texto, tela_.vermelho);
        mensagens_.Mostra(TipoMensagem::Informacao, texto);
        return;
    }
    if (codigo.empty()) return;
    const std::string descricao = codigo + " - " + nome;
    // The log opens before the request leaves, so the reply and the run's
    // first lines already find it open.
    logAberto_ = true;
    cliente_.RecebeLog(true);
    cliente_.Envia(status::PedidoDownload(codigo));
    if (mostraLog) mostraLog(descricao);
    cliente_.RecebeLog(false);
    logAberto_ = false;
}

void ControleStatus::FormCloseQuery() {
    FechandoStatus = true;
    fase_ = 0;
    timerStatus_.stop();
    cliente_.Fecha();
}
