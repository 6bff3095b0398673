#pragma once
// The main window's part of the recording service control: the state shown
// under the service picture at each tick, and the two maintenance items
// "Iniciar/Parar Serviço Gravação Quv" with their history rows 101 and 102.
// Installed by main() (and tests) into the context. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "console/ServicoConsole.h"

struct ContextoConsole;

struct ServicoMain {
    std::unique_ptr<ControleServicoConsole> controle;
    // "May control the service" (a seam for tests; by default the rights of
    // this process and [Veruzadu] GrupoServico).
    std::function<bool()> PodeControlar;
    std::string backend;
};

// Fills ctx.AtualizaEstadoServico and the two items' actions.
void InstalaServicoMain(ContextoConsole& ctx, std::unique_ptr<ServiceControl> backend,
                        const std::string& nomeBackend);
