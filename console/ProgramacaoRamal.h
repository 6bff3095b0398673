#pragma once
// Programming extensions' recording configuration into the PABX over its
// control link, as a state machine of numbered steps: even steps send a
// request (run on the main thread), odd steps wait for its answer (checked
// on whichever thread polls). A step byte of 0x80 or more is an end mark:
// 0x80 + a wait step its time-out, 0x90 + a send step a request that could
// not be sent, 0xA0 + a wait step a refusal (of the connection, the login
// or a write), 0xB0 done.
//
// Steps (PassoProgramacao): 0 connect, 1 wait; 2 login, 3 wait for its answer;
// per queued entry 4 its word (n/9), 5 wait, 6 its authorised list (n/10),
// 7 wait; then 8 the list of configured extensions (10/35), 9 wait, and the
// next entry or 10 done. An empty queue (a deletion of an extension without
// a number) writes only the list 10/35.
//
// Only wait steps time out (the limit counts from the end of the step's
// request). Threads: Verifica may run on a worker and Envia on the main
// thread, never at the same time (the caller hands the step over and
// waits); Estado may be read from any thread. The link object is the
// caller's, carries its address, port, password and FListaRamais, and must
// outlive this object.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/pabx/PABX.h"

// One extension to program: its name (shown while it is sent), its
// permission word and its number (a PROG block 1000-1899 or 3000-3999).
struct EntradaProgramacao {
    std::string nome;
    std::uint16_t palavra = 0;
    int numero = 0;
};

// The programming's steps, in order (a mark adds a step to its base).
enum PassoProgramacao : std::uint8_t {
    ppConecta = 0,
    ppAguardaConexao = 1,
    ppLogin = 2,
    ppAguardaLogin = 3,
    ppGravaPalavra = 4,  // the queued entry's word (n/9)
    ppAguardaPalavra = 5,
    ppGravaLista = 6,  // its authorised list (n/10)
    ppAguardaLista = 7,
    ppGravaListaRamais = 8,  // the list of configured extensions (10/35)
    ppAguardaListaRamais = 9,
    ppConclui = 10,
};

inline constexpr std::uint8_t MarcaTempo = 0x80;
inline constexpr std::uint8_t MarcaNaoEnviado = 0x90;
inline constexpr std::uint8_t MarcaRecusa = 0xA0;
inline constexpr std::uint8_t MarcaProgramado = 0xB0;

class EstadoProgramacao final {
  public:
    using Relogio = std::function<std::chrono::steady_clock::time_point()>;

    // `autorizados`: the decimal numbers written as every entry's list.
    EstadoProgramacao(
        TPABX& pabx, std::vector<EntradaProgramacao> fila, std::vector<std::string> autorizados,
        Relogio relogio = [] { return std::chrono::steady_clock::now(); });

    // Seconds a wait step may take (the link's FTempoLimite by default).
    int TempoLimite;

    // One poll: checks a wait step's answer, then its time-out. True when
    // the current step is a send step for Envia.
    bool Verifica();
    // Runs the current send step (main thread). Nothing for an end mark.
    void Envia();

    std::uint8_t Estado() const { return estado_.load(); }
    bool Terminou() const { return Estado() >= MarcaTempo; }
    // The entry being programmed (main thread, after Envia).
    const std::string& NomeRamalAtual() const { return atual_.nome; }

    // The end message of a mark (untranslated), empty when it has none.
    static std::string MensagemFim(std::uint8_t marca);

  private:
    void Marca(std::uint8_t marca) { estado_ = marca; }
    // A wait step on FStatusPROG: true once it has an answer.
    bool AguardaPROG(std::uint8_t proximo);
    // Step 4 with the next entry, or 8 when the queue is empty.
    PassoProgramacao ProximaEntrada();

    TPABX& pabx_;
    std::vector<EntradaProgramacao> fila_;
    std::vector<std::string> autorizados_;
    Relogio relogio_;
    std::chrono::steady_clock::time_point inicio_;
    std::atomic<std::uint8_t> estado_{0};
    EntradaProgramacao atual_;
};
