// pelmoran: the recording service. Runs in the foreground until SIGTERM or
// SIGINT (stop and shutdown alike); `--install` and `--uninstall` write and
// remove its systemd unit.

#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "Versao.h"
#include "common/Configuracao.h"
#include "common/Traducao.h"
#include "common/db/Sinais.h"
#include "service/InstalacaoServico.h"
#include "service/ServiceControl.h"
#include "service/ServicoVeruzaduQuv.h"

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

    DefinePrograma(Programa::Servico);

    std::string acao;
    OpcoesUnidadeServico instalacao;
    instalacao.executavel = Executavel();
    if (const char* home = std::getenv("VERUZADU_HOME"); home && *home)
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

    const std::string pasta = PastaPrograma();
    std::string erro;
    // One service per program folder. The pid file itself is written once the
    // start succeeded, so whoever waits for it knows the service runs.
    if (const int outro = PidServicoEmExecucao(pasta); outro != 0) {
        std::cerr << "pelmoran: o serviço já está em execução (pid " << outro << ")\n";
        return 1;
    }

    int codigo = 0;
    {
        RelogioSistema relogio;
        TServicoVeruzaduQuv servico(pasta, relogio);
        servico.Log().DefineTradutor([](std::string_view t) { return Traduz(t); });
        std::atomic<bool> fim{false};
        std::thread atendeSinais([&] {
            while (!fim) {
                const int sinal = AguardaSinalParada(std::chrono::milliseconds(200));
                if (sinal == SIGTERM || sinal == SIGINT) {
                    servico.SolicitaParada();
                    return;
                }
            }
        });

        if (!servico.ServiceStart()) {
            std::cerr << "pelmoran: serviço de gravação não iniciado (veja o log em " << pasta
                      << ")\n";
            codigo = 1;
        } else if (!GravaArquivoPid(pasta, erro)) {
            std::cerr << "pelmoran: " << erro << "\n";
            servico.SolicitaParada();
            servico.ServiceExecute();
            codigo = 1;
        } else {
            servico.ServiceExecute();
            // A loop that ended without a stop request (a restore whose backup
            // file is missing) must not be restarted into the same failure.
            codigo = servico.Encerrado() ? 0 : 3;
        }
        fim = true;
        atendeSinais.join();
    }
    RemoveArquivoPid(pasta);
    return codigo;
}
