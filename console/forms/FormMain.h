#pragma once
// The main window "Quv – Veruzadu de Chamadas": the buttons and menus that
// open the other windows (each behind its guard and level), the status bar
// with the user and the messages, the start-up sequence (server dialog,
// connection, login, configuration) that runs on the main thread through a
// queued call, and the one-second timer that shows the service state and
// handles a lost connection: countdown, the other windows closed, one notice,
// and the whole start-up sequence again once more than 60 seconds passed.
//
// Main thread only. Owns its widgets; the context outlives it.

#include <QMainWindow>

#include "console/ControleMain.h"

class ContextoConsole;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class QAction;

class FormMain final : public QMainWindow {
  public:
    explicit FormMain(ContextoConsole& ctx, QWidget* pai = nullptr);
    ~FormMain() override;

    // One tick of TimerServico (public so tests tick with their own clock).
    void TimerServicoTimer();
    // The start-up and reconnection sequence.
    void SynchroInicializa();

    bool Inicializando() const { return inicializando_; }
    bool SequenciaPendente() const { return sequenciaPendente_; }
    bool MonitorServicoAtivo() const { return monitorServicoAtivo_; }
    int EstadoServicoAnterior = 255;

    // Widgets named as the program names them.
    QToolButton* btnGravacoes = nullptr;
    QToolButton* btnUsuarios = nullptr;
    QToolButton* btnContatos = nullptr;
    QToolButton* btnManutencao = nullptr;
    QToolButton* btnConfiguracao = nullptr;
    QToolButton* btnAjuda = nullptr;
    QToolButton* btnEncerrar = nullptr;
    QToolButton* btnEstadoVeruzadu = nullptr;
    QLabel* LabelStatus = nullptr;
    QLabel* PainelUsuario = nullptr;
    QLabel* PainelMensagem = nullptr;
    QMenu* pmManutencao = nullptr;
    QMenu* pmConfiguracao = nullptr;
    QMenu* pmAjuda = nullptr;
    QTimer* TimerServico = nullptr;

    // Raises the window (a second start of the program asked for it).
    void Ativa();
    // A stop signal: every other window closes as the user would close it,
    // then this one, and the program ends.
    void EncerraPorSinal();

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // LabelStatus is clickable like the service picture above it; F1 in any
    // window opens that window's help page.
    bool eventFilter(QObject* alvo, QEvent* e) override;

  private:
    QToolButton* Botao(const char* nome, const char* texto, const char* figura);
    QAction* ItemMenu(QMenu* menu, const char* nome, const char* texto);
    void AbreMenu(QToolButton* botao, QMenu* menu);
    // Runs the entry's action behind its guard and level.
    void Executa(const std::string& componente, QToolButton* botao);
    void IniciaSequencia();
    void AtualizaHabilitados();
    // True when the server dialog was accepted; false shows the closing error.
    bool MostraConfigBD();
    void BtnEncerrarClick();
    void Ajuda1Click();

    ContextoConsole& ctx_;
    bool inicializando_ = false;
    bool sequenciaPendente_ = false;
    bool primeiraExibicao_ = false;
    bool monitorServicoAtivo_ = true;
    bool avisoAberto_ = false;
    bool emTick_ = false;
};
