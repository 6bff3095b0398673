#pragma once
// Reading a unit's extension directory and extension recording
// configuration from the PABX over its control link, as a state machine of
// numbered steps: even steps send a request (run on the main thread), odd
// steps wait for its answer (checked on whichever thread polls). A step byte
// of 0x80 or more is an end mark: 0x80 + a wait step its time-out or failure
// (a request that could not be sent, a refused connection or login, a reply
// that is not the one asked for included), 0xB0 done.
//
// Steps (PassoLeitura): 0 connect, 1 wait; 2 login, 3 wait for its answer;
// 4 parameters, 5 wait; 6 DNS names, 7 wait; 8 DNS indexes, 9 wait (6-9 are
// skipped for a model whose agenda comes over CTRL); 10 agenda, 11 wait;
// 12 keep the directory and ask the list 10/35, 13 wait; then per listed
// extension 14 ask its word (n/9), 15 wait, 16 keep the word and ask its
// list (n/10), 17 wait, 18 keep the list. With soNomes the run ends done
// after step 11 (the names refresh).
//
// Only wait steps time out (the limit counts from the end of the step's
// request), and only 0xB0 is success: what was read is collected in memory
// (Resultado) and written to the unit's database by the caller in one
// transaction, so a run that ends any other way changes nothing.
//
// Threads: Verifica may run on a worker and Envia on the main thread, never
// at the same time (the caller hands the step over and waits); Estado,
// Progresso and ProgressoMaximo may be read from any thread. The link object
// is the caller's and must outlive this object.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/pabx/PABX.h"

// The read-out's steps, in order (a mark adds a wait step to MarcaFalha).
enum PassoLeitura : std::uint8_t {
    plConecta = 0,
    plAguardaConexao = 1,
    plLogin = 2,
    plAguardaLogin = 3,
    plPedeParametros = 4,
    plAguardaParametros = 5,
    plPedeNomesDNS = 6,
    plAguardaNomesDNS = 7,
    plPedeIndicesDNS = 8,
    plAguardaIndicesDNS = 9,
    plPedeAgenda = 10,
    plAguardaAgenda = 11,
    plPedeListaRamais = 12,  // keeps the directory, asks the list 10/35
    plAguardaListaRamais = 13,
    plPedePalavraRamal = 14,
    plAguardaPalavraRamal = 15,
    plPedeListaRamal = 16,  // keeps the word, asks the extension's list
    plAguardaListaRamal = 17,
    plGuardaListaRamal = 18,
};

inline constexpr std::uint8_t MarcaFalha = 0x80;
inline constexpr std::uint8_t MarcaConcluido = 0xB0;

// Where the unit's control link listens, from its PABX row.
struct DadosLinkPABX {
    std::string endereco;  // at most 80 characters
    std::uint16_t porta = 0;
    std::string senha;  // plain, at most 10 characters
};

// One extension's recording configuration as the unit holds it.
struct ConfigRamalPABX {
    std::uint16_t permissao = 0;  // RML_PERMISSAO
    std::vector<int> lista;       // extensions tied to it, in the unit's order
};

// What a completed read-out brought.
struct LeituraPABX {
    std::array<TRamalPABX, 1900> ramais{};        // the directory, by TPABX::IndiceRamal
    std::map<int, ConfigRamalPABX> configuracao;  // by extension number
};

class EstadoLeitura final {
  public:
    using Relogio = std::function<std::chrono::steady_clock::time_point()>;

    // `pabx` must already carry its address, port and password.
    EstadoLeitura(
        TPABX& pabx, bool soNomes,
        Relogio relogio = [] { return std::chrono::steady_clock::now(); });

    // Seconds a wait step may take (the link's FTempoLimite by default) and
    // the connection wait's own limit.
    int TempoLimite;
    int TempoLimiteConexao;
    // Called (on the polling thread) for each entry of the list 10/35 that
    // is no extension number; it is skipped.
    std::function<void(const std::string& linha)> Registra;

    // One poll: applies the time-out of a wait step and checks its answer.
    // True when the current step is a send step for Envia.
    bool Verifica();
    // Runs the current send step (main thread). Nothing for an end mark.
    void Envia();

    std::uint8_t Estado() const { return estado_.load(); }
    bool Terminou() const { return Estado() >= MarcaFalha; }
    int Progresso() const { return progresso_.load(); }
    int ProgressoMaximo() const { return progressoMaximo_.load(); }
    int RamalAtual() const { return ramalAtual_; }
    // Complete only once Estado() is MarcaConcluido.
    const LeituraPABX& Resultado() const { return resultado_; }

    // The end message of a mark (untranslated), empty when it has none.
    static std::string MensagemFim(std::uint8_t marca);

  private:
    void Marca(std::uint8_t marca) { estado_ = marca; }
    // The next extension of the list, or done.
    void ProximoRamal();
    // A wait step on FStatusPROG: true once it has an answer.
    bool AguardaPROG(std::uint8_t proximo);

    TPABX& pabx_;
    const bool soNomes_;
    Relogio relogio_;
    std::chrono::steady_clock::time_point inicio_;
    std::atomic<std::uint8_t> estado_{0};
    std::atomic<int> progresso_{0}, progressoMaximo_{0};
    std::vector<int> pendentes_;
    int ramalAtual_ = 0;
    LeituraPABX resultado_;
};
