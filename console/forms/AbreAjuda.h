#pragma once
// Opens the help page of a context in the desktop's browser; an "Erro" box
// names the page when it is not installed. Main thread only.

#include <filesystem>
#include <functional>

#include "console/PaginasAjuda.h"

class Mensageiro;

void AbreAjuda(ContextoAjuda contexto, Mensageiro& mensagens);

// How a page is shown: the desktop's browser. Tests record the pages here.
extern std::function<void(const std::filesystem::path& pagina)> MostraPaginaAjuda;
