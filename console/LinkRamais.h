#pragma once
// The PABX control link of the extension windows. One object owns, for one
// run at a time, the link (a console-mode TPABX set up from the unit's PABX
// row), the step worker (TrabalhadorPassos) and the run's state machine:
// the read-out of the extension directory and recording configuration
// (EstadoLeitura), or the programming of extensions' configuration
// (EstadoProgramacao). The windows only show what it reports.
//
// A read-out runs in the background and ends in `aoTerminar`; one that
// completed is first written to the unit's database (ConfigRamais'
// GravaLeituraPABX, one transaction), then the groups' names refreshed and,
// only when both worked, the unit's PAB_DNSUPDATE cleared. Any other end
// writes nothing. A programming blocks its caller in a local event loop that
// takes no user input until it ended; every wait step ends at the link's
// time limit.
//
// Main thread only, except what the worker polls; the callbacks run on the
// main thread. The unit's database must be connected for a read-out's
// write-back. Destroying the object ends a run (the worker first).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/LeituraRamais.h"
#include "console/ProgramacaoRamal.h"

class MDados;
class TrabalhadorPassos;

class LinkRamais final {
  public:
    using Relogio = std::function<std::chrono::steady_clock::time_point()>;

    // `nomeLog` begins the console log lines of its failures.
    LinkRamais(MDados& dados, std::string nomeLog);
    ~LinkRamais();
    LinkRamais(const LinkRamais&) = delete;
    LinkRamais& operator=(const LinkRamais&) = delete;

    // The state machines' clock (tests).
    Relogio relogio = [] { return std::chrono::steady_clock::now(); };

    struct FimLeitura {
        std::uint8_t marca = 0;
        // The end's message (untranslated), empty when it has none.
        std::string mensagem;
        // Completed, but the write-back failed: the server's reason.
        std::string erroGravacao;
    };

    // Starts reading unit `codigo` (names only: `soNomes`). A connection
    // wait of `limiteConexao` seconds at most when not 0. `aoPasso` follows
    // every request sent, with the extensions read and to read.
    void IniciaLeitura(int codigo, bool soNomes, int limiteConexao,
                       std::function<void(int feitos, int total)> aoPasso,
                       std::function<void(const FimLeitura&)> aoTerminar);
    // True from IniciaLeitura until just before its `aoTerminar`.
    bool Executando() const { return executando_; }

    // Programs the queue into unit `codigo` (an empty queue writes only the
    // list of configured extensions) with `autorizados` as every entry's
    // list; `aoEnviarRamal` names each entry as its word goes out. Returns
    // the end mark (MarcaProgramado when every write was acknowledged).
    std::uint8_t Programa(int codigo, std::vector<EntradaProgramacao> fila,
                          std::vector<std::string> autorizados,
                          const std::function<void(const std::string& ramal)>& aoEnviarRamal);

  private:
    // A new link to the unit, its address, port and password from its row
    // (a row that cannot be read leaves the connection step to fail).
    void PreparaLink(int codigo, bool comListaRamais);
    void TerminaLeitura(int codigo, bool soNomes,
                        const std::function<void(const FimLeitura&)>& aoTerminar);

    MDados& dados_;
    const std::string nomeLog_;
    bool executando_ = false;
    std::unique_ptr<TPABX> pabx_;
    std::unique_ptr<EstadoLeitura> leitura_;
    std::unique_ptr<TrabalhadorPassos> trabalhador_;
};
