#pragma once
// The service's main loop: one pass serves the stop request, decides on
// database backups, checks the download windows and the disk at their own
// periods, starts the workers the window check listed, writes one queued
// history row and sends one queued alert e-mail, then sleeps up to a second
// unless woken.
//
// The loop owns no work of its own: every step is a call on PassosLaco, which
// the service implements. The clock is handed in so tests can move time.
// Runs on the service thread only.

#include <atomic>
#include <chrono>
#include <cstddef>

#include "common/DataHora.h"
#include "common/Relogio.h"
#include "common/Evento.h"
#include "service/ListaThreads.h"

enum class ModoRegistroControle { Backup, Compactacao };

// The work a pass calls out to. Every step handles and logs its own errors.
class PassosLaco {
  public:
    virtual ~PassosLaco() = default;
    // Runs pending control requests; false when the stop work ran (the loop ends
    // at once without touching anything the stop work released).
    virtual bool ProcessaRequisicoes() = 0;
    // Asked once the hour gate has passed. Sets the decision time itself when it
    // has decided (a pending restore leaves it, so it is decided again next pass).
    virtual bool HoraRealizarBackup(bool& compactar, bool& restaurar,
                                    DataHora& ultimaVerificacaoBackup) = 0;
    virtual bool RealizaBackupBaseDadosPrincipal(bool compactar) = 0;
    virtual bool RestauraBackupBaseDados(bool compactar, bool& arquivoAusente) = 0;
    virtual void BDRegistraControle(ModoRegistroControle modo) = 0;
    virtual void BDVerificaDownloadPeriodo() = 0;
    virtual void VerificaEspacoLivreEmDisco() = 0;
    virtual std::size_t ContagemFilaLogBD() = 0;
    virtual void GravaLogEmBancoDados() = 0;
    virtual std::size_t ContagemFilaEmails() = 0;
    virtual void EnviaEmailAlerta() = 0;
    // Level-1 line for the service log, not to the consoles.
    virtual void LogRestauracaoImpossivel() = 0;
    virtual int TempoVerDownload() const = 0;
};

// Most SD-card checks that run at once.
inline constexpr int kMaxThreadsSDCard = 20;

class LacoPrincipal final {
  public:
    LacoPrincipal(PassosLaco& passos, const Relogio& relogio, std::atomic<bool>& executando,
                  ListaThreads& downloads, ListaThreads& sdcards, Evento& atividade);

    // Runs passes until the stop work ran or Executando was cleared.
    void Executa();
    // Entry state: all times zero, so the first pass does every periodic step.
    void Inicia();
    // One pass without its final wait; false when the loop must end.
    bool Passo();

    DataHora UltimaVerificacaoDownload() const { return ultimaDownload_; }
    DataHora UltimaVerificacaoDisco() const { return ultimaDisco_; }

  private:
    void DecideBackup(const DataHora& agora);

    PassosLaco& passos_;
    const Relogio& relogio_;
    std::atomic<bool>& executando_;
    ListaThreads& downloads_;
    ListaThreads& sdcards_;
    Evento& atividade_;

    DataHora ultimaDownload_;
    DataHora ultimaDisco_;
    DataHora ultimaBackup_;
    std::size_t contagemDownloadAnterior_ = 0;
};

// Whole seconds and whole hours between two times, whatever their order; a
// zero time lies before every real one.
long long SegundosEntre(const DataHora& a, const DataHora& b);
long long HorasEntre(const DataHora& a, const DataHora& b);
