#pragma once
// The console's help: plain HTML pages in Portuguese, one per window (or
// family of windows) that opens help, in the folder "ajuda" installed with
// the program. The main window's page (index.html) links to all the others.
//
// Pages are looked for, in order, in the program folder's "ajuda" (a local
// copy wins), beside the executable, and in ../share/veruzadu/ajuda from the
// executable (an installed program). Any thread; throws nothing.

#include <filesystem>
#include <string>
#include <vector>

enum class ContextoAjuda {
    Principal,
    Gravacoes,
    Apagamento,
    Estado,
    Centrais,
    EdicaoCentral,
    Permissoes,
    Grupos,
    Usuarios,
    Contatos,
    ArquivosContatos,
    Configuracao,
    Historico,
};

struct PaginaAjuda {
    ContextoAjuda contexto;
    const char* arquivo;  // file name in the help folder
    const char* titulo;   // the page's title
};

// Every context with its page, the main window's first.
const std::vector<PaginaAjuda>& PaginasAjuda();
const PaginaAjuda& PaginaDe(ContextoAjuda contexto);

// The help of the window with this object name (its editors and dialogs
// share their list's page); the main window's for any other.
ContextoAjuda ContextoDaJanela(const std::string& nomeJanela);

// The folders searched, in order.
std::vector<std::filesystem::path> PastasAjuda();
// The page of the context in the first folder that holds it; empty when none does.
std::filesystem::path CaminhoAjuda(ContextoAjuda contexto);
