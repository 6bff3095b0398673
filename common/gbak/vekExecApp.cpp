#include "common/gbak/vekExecApp.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>

int CodigoShow(TShow modo) {
    switch (modo) {
        case TShow::SHOW: return 5;
        case TShow::HIDE: return 0;
        case TShow::MAXIMIZE: return 3;
        case TShow::MINIMIZE: return 6;
        case TShow::RESTORE: return 9;
        case TShow::SHOWDEFAULT: return 10;
        case TShow::SHOWMAXIMIZED: return 3;
        case TShow::SHOWMINIMIZED: return 2;
        case TShow::SHOWMINNOACTIVE: return 7;
        case TShow::SHOWNA: return 8;
        case TShow::SHOWNOACTIVATE: return 4;
        case TShow::SHOWNORMAL: return 1;
    }
    return 5;
}

TVekExecApp::TVekExecApp() = default;

TVekExecApp::~TVekExecApp() {
    // A waiting runner ends what it started (the member's destructor does);
    // otherwise the program is left running on purpose.
    if (!Wait) filho_.Solta();
}

void TVekExecApp::SetShowWindow(TShow modo) { show_ = modo; }

void TVekExecApp::Registra(int status) {
    // An end collected elsewhere leaves ExitCode as it was.
    if (status == ProcessoFilho::StatusPerdido) return;
    if (WIFEXITED(status))
        exitCode_ = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitCode_ = 128 + WTERMSIG(status);
    else
        exitCode_ = 128;
}

bool TVekExecApp::EmExecucao() {
    if (filho_.Pid() <= 0) return false;
    int status = 0;
    if (!filho_.Terminou(status)) return true;
    Registra(status);
    return false;
}

bool TVekExecApp::Execute() {
    // Collecting an earlier program's end must not leave its code behind.
    const bool ocupado = EmExecucao();
    exitCode_ = SemCodigo;
    if (ocupado) return false;
    erroSistema_ = 0;
    excedido_ = interrompido_ = false;
    if (ApplicationName.empty()) {
        error_ = ErroSemPrograma;
        return false;
    }
    error_ = ErroInicio;

    std::vector<std::string> argumentos;
    argumentos.reserve(Param.size() + 1);
    argumentos.push_back(ApplicationName);
    argumentos.insert(argumentos.end(), Param.begin(), Param.end());
    OpcoesProcesso opcoes;
    opcoes.saida = ArquivoSaida;
    opcoes.modoSaida = 0600;  // gbak's log may name the database and its user
    opcoes.entrada = DescritorEntrada;
    opcoes.saidaPadrao = DescritorSaida;
    opcoes.grupoProprio = false;
    filho_ = ProcessoFilho(argumentos, opcoes);
    if (!filho_.Iniciado()) {
        erroSistema_ = filho_.Erro();
        return false;
    }
    error_ = ErroNenhum;
    if (Wait) WaitForExit();
    return true;
}

void TVekExecApp::WaitForExit() {
    if (filho_.Pid() <= 0) return;
    int status = 0;
    if (!ProcessaMensagens && !Interrompe && TempoLimite.count() <= 0) {
        filho_.Aguarda(status);
        Registra(status);
        return;
    }
    const auto inicio = std::chrono::steady_clock::now();
    // Each 100 ms slice ends as soon as the program exits.
    while (!filho_.Aguarda(std::chrono::milliseconds(100), status)) {
        if (ProcessaMensagens) ProcessaMensagens();
        interrompido_ = Interrompe && Interrompe();
        excedido_ = !interrompido_ && TempoLimite.count() > 0 &&
                    std::chrono::steady_clock::now() - inicio >= TempoLimite;
        if (interrompido_ || excedido_) {
            filho_.Termina();
            exitCode_ = 128 + SIGKILL;
            return;
        }
    }
    Registra(status);
}

void TVekExecApp::Terminate() {
    if (filho_.Pid() <= 0) return;
    filho_.Termina();
}
