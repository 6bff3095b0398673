#pragma once
// What the service status window ("Receber gravações") does, without its
// widgets: the connection phases of TimerStatus, the status client's events,
// the replies, the polling, the download request and the live log's lines.
// The window shows Tela() whenever mostraTela runs and hands the grid reload
// and the live log to its own widgets.
//
// Phases (TimerStatus's Tag): 0 connect at the next tick, 1 connecting,
// 2 failed or disconnected (no more ticks until the window is shown again),
// 3 connected (poll and grid every 5 s). The timer's interval is 1000 ms until
// the first poll and 5000 ms from then on.
//
// Log lines reach the live log only while it is open (AbreLog .. FechaLog);
// at any other time they are dropped as they arrive, so the log never shows
// lines from before it opened.
//
// Main thread only; owns its client (whose reader has a thread of its own).
// Message boxes go through the Mensageiro handed in, which must outlive it.

#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "console/ClienteStatus.h"

class Mensageiro;

class ControleStatus final {
  public:
    struct Tela {
        std::string status;         // LabelStatus
        bool vermelho = false;      // LabelStatus in red
        bool menuDownload = false;  // RealizarDownload enabled
    };
    struct Janela {
        std::function<void()> mostraTela;                  // Tela() changed
        std::function<void(const std::string&)> linhaLog;  // a line for MemoLog
        std::function<void()> carregaGrade;                // CarregaEstadoCentrais
    };

    ControleStatus(Mensageiro& mensagens, Janela janela);
    ~ControleStatus();
    ControleStatus(const ControleStatus&) = delete;
    ControleStatus& operator=(const ControleStatus&) = delete;

    const Tela& TelaAtual() const { return tela_; }
    int Fase() const { return fase_; }
    QTimer& TimerStatus() { return timerStatus_; }
    ClienteStatus& Cliente() { return cliente_; }

    // Set while the window closes: the client's events change nothing on
    // screen. The address reading before the next showing clears it.
    bool FechandoStatus = false;

    // FormShow: where to connect, the label "Situação" in black, the menu
    // item off, phase 0 and the timer started.
    void FormShow(const std::string& ip, std::uint16_t porta);
    void TimerStatusTimer();
    void ConectaServicoIP();
    // Asks for the status ("GRV_STATUS;" CR), or says there is no connection.
    void LeEstadoServico();
    // The download request of the selected unit (`codigo` as shown, three
    // digits; empty: nothing). Without a connection: the label and a box say
    // so. Otherwise the live log opens (mostraLog, modal, with the unit's
    // description "code - name") with the request sent.
    void RealizarDownloadClick(const std::string& codigo, const std::string& nome,
                               const std::function<void(const std::string& descricao)>& mostraLog);
    // FormCloseQuery: FechandoStatus, phase 0, timer stopped, client closed.
    void FormCloseQuery();

    bool LogAberto() const { return logAberto_; }

  private:
    void Mostra(const std::string& texto, bool vermelho);
    void Menu(bool habilitado);
    void Conectado(int conexao);
    void Falhou(int conexao, const std::string& erro);
    void Fechado(int conexao);
    void Respostas(int conexao, const std::vector<status::Resposta>& respostas);
    void Log(const std::string& linha);
    std::string Endereco() const;

    Mensageiro& mensagens_;
    Janela janela_;
    Tela tela_;
    int fase_ = 0;
    bool logAberto_ = false;
    std::string ip_;
    std::uint16_t porta_ = 0;
    QTimer timerStatus_;
    ClienteStatus cliente_;
};
