// The service's process run with one worker that ignores every stop request:
// started as soon as the service runs, then the stop is requested at once.
// The program folder is VERUZADU_HOME; the stop's deadline is the first
// argument, in milliseconds.

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/Configuracao.h"
#include "common/Sinais.h"
#include "service/ExecucaoServico.h"
#include "service/ServicoVeruzaduQuv.h"

namespace {

class Surdo final : public ThreadServico {
  public:
    using ThreadServico::ThreadServico;

  protected:
    void Execute() override {
        for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
};

}  // namespace

int main(int argc, char** argv) {
    BloqueiaSinaisParada();
    const long limite = argc > 1 ? std::atol(argv[1]) : 1000;
    return ExecutaServico(PastaPrograma(), [limite](TServicoVeruzaduQuv& s) {
        s.DefineLimiteEncerramento(std::chrono::milliseconds(limite));
        auto lista = s.ListaThreadsDownload();
        lista->AdicionaSeAusente(std::make_unique<Surdo>(1));
        lista->IniciaNovas();
        s.SolicitaParada();
    });
}
