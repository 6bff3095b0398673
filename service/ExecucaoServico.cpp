#include "service/ExecucaoServico.h"

#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include "common/Traducao.h"
#include "common/ServiceControl.h"
#include "common/Sinais.h"
#include "service/InstanciaServico.h"
#include "service/ServicoVeruzaduQuv.h"

int ExecutaServico(const std::string& pasta,
                   const std::function<void(TServicoVeruzaduQuv&)>& aposInicio) {
    std::string erro;
    // One service per program folder, decided before any database work: the
    // lock is held until the process ends, however it ends.
    TravaInstancia trava;
    if (!trava.Adquire(pasta, erro)) {
        std::cerr << "pelmoran: " << erro << "\n";
        return 1;
    }

    int codigo = 0;
    RelogioSistema relogio;
    // Not destroyed when workers outlive the stop (see below); otherwise it
    // goes before the lock is released.
    auto servico = std::make_unique<TServicoVeruzaduQuv>(pasta, relogio);
    servico->Log().DefineTradutor([](std::string_view t) { return Traduz(t); });
    std::atomic<bool> fim{false};
    std::thread atendeSinais([&] {
        while (!fim) {
            const int sinal = AguardaSinalParada(std::chrono::milliseconds(200));
            if (sinal == SIGTERM || sinal == SIGINT) {
                servico->SolicitaParada();
                return;
            }
        }
    });

    // Whatever escapes the start or the loop is said, and the service still
    // stops in order (history row 102 included) before the process ends.
    const auto falhou = [&](const char* fase, const char* texto) {
        std::cerr << "Service failed on " << fase << ": " << texto << std::endl;
        codigo = 1;
        try {
            if (servico->Executando()) servico->EncerraServico();
        } catch (const std::exception& e) {
            std::cerr << "pelmoran: " << e.what() << std::endl;
        } catch (...) {
        }
    };
    bool iniciado = false;
    try {
        iniciado = servico->ServiceStart();
    } catch (const std::exception& e) {
        falhou("start", e.what());
    } catch (...) {
        falhou("start", "exceção desconhecida");
    }
    if (codigo == 0 && !iniciado) {
        std::cerr << "pelmoran: serviço de gravação não iniciado (veja o log em " << pasta << ")\n";
        codigo = 1;
    } else if (codigo == 0) {
        try {
            if (!GravaArquivoPid(pasta, erro)) {
                std::cerr << "pelmoran: " << erro << "\n";
                servico->SolicitaParada();
                servico->ServiceExecute();
                codigo = 1;
            } else {
                if (aposInicio) aposInicio(*servico);
                servico->ServiceExecute();
                // A loop that ended without a stop request (a restore whose backup
                // file is missing) must not be restarted into the same failure.
                codigo = servico->Encerrado() ? 0 : 3;
                // Without the stop work the workers are still to be stopped.
                if (!servico->Encerrado()) servico->EncerraThreads();
            }
        } catch (const std::exception& e) {
            falhou("execute", e.what());
        } catch (...) {
            falhou("execute", "exceção desconhecida");
        }
    }
    fim = true;
    atendeSinais.join();
    RemoveArquivoPid(pasta);
    if (servico->ThreadsRestantes() > 0) {
        // Workers that did not stop in time may still use the service's log,
        // database object and queues: end here without destroying them. The
        // history row 102 is written already.
        std::cerr << "pelmoran: " << servico->ThreadsRestantes()
                  << " thread(s) não encerrada(s) no tempo limite" << std::endl;
        std::_Exit(codigo);
    }
    servico.reset();
    return codigo;
}
