// pelmoran: the recording service. Runs in the foreground until SIGTERM or
// SIGINT (stop and shutdown alike); `--install` and `--uninstall` write and
// remove its systemd unit.

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "Versao.h"
#include "common/Configuracao.h"
#include "common/Sinais.h"
#include "service/ExecucaoServico.h"
#include "service/InstalacaoServico.h"

namespace {

int Uso(std::ostream& s, int codigo) {
    s << "uso: pelmoran [--install [--unit-dir PASTA] | --uninstall [--unit-dir PASTA] | "
         "--version]\n"
         "Sem argumentos, executa o serviço de gravação em primeiro plano; a pasta do "
         "programa é a do executável, ou VERUZADU_HOME.\n";
    return codigo;
}

std::filesystem::path Executavel() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path("pelmoran") : p;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread or database call: the signals are taken by our own
    // thread, never by handlers the database client would install.
    BloqueiaSinaisParada();

    std::string acao;
    OpcoesUnidadeServico instalacao;
    instalacao.executavel = Executavel();
    // The unit names the program folder itself: VERUZADU_HOME when set, else
    // the executable's folder, as a run from here would use.
    instalacao.pastaPrograma = PastaPrograma();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--install" || a == "--uninstall") {
            acao = a;
        } else if (a == "--unit-dir" && i + 1 < argc) {
            instalacao.pastaUnidades = argv[++i];
        } else if (a == "--version") {
            std::cout << "pelmoran " << VERUZADU_VERSAO << "\n";
            return 0;
        } else if (a == "--help" || a == "-h") {
            return Uso(std::cout, 0);
        } else {
            return Uso(std::cerr, 2);
        }
    }
    if (acao == "--install") return InstalaServico(instalacao, std::cin, std::cout);
    if (acao == "--uninstall") return DesinstalaServico(instalacao, std::cout);

    try {
        return ExecutaServico(PastaPrograma());
    } catch (const std::exception& e) {
        // Before the service object could run (it catches its own failures).
        std::cerr << "Service failed on start: " << e.what() << std::endl;
        return 1;
    }
}
