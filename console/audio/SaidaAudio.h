#pragma once
// The player's audio output: plays one reader at a time on a playback
// thread of its own, which owns the reader and the device for the whole
// playback. The window's calls (run, stop, pause, resume, jump, seek) are
// requests to that thread; it answers them between two half-buffers.
//
// Events reach the owner's thread (the main thread) through its event loop:
// AoProgredir when the played percentage changes, AoErro when reading or
// writing fails in the middle of a playback (the playback then ends), and
// AoTerminar after the input ended and the device played its last frame,
// after a stop that did not wait, or after such an error. A stop that waits
// returns once the thread has ended and delivers nothing: events still
// queued from that playback are dropped.
//
// Main thread only (the object's thread); the callbacks are called there.
// Executa throws ErroAudio when the output is busy, when there is no input,
// or when the device cannot be opened (with the device's reason), and then
// nothing plays. The destructor stops without waiting for the end of the
// input.
//
// No wait is without limit: a device that does not open, or stops taking
// frames, within a few seconds of a stop is left to its playback thread,
// which then ends on its own holding only what it owns (the reader, the
// device and the state shared with this object), and delivers nothing.

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "console/audio/DispositivoAudio.h"
#include "console/audio/LeitorAudio.h"

class SaidaAudio final : public QObject {
  public:
    using FabricaDispositivo = std::function<std::unique_ptr<DispositivoAudio>()>;
    enum class Estado { Ocioso, Tocando, Pausado };

    explicit SaidaAudio(FabricaDispositivo fabrica, QObject* pai = nullptr);
    ~SaidaAudio() override;
    SaidaAudio(const SaidaAudio&) = delete;
    SaidaAudio& operator=(const SaidaAudio&) = delete;

    // How long the device may take to open before the run gives up, and how
    // long a stop (or the destructor) waits for the playback thread.
    std::chrono::milliseconds LimiteAbertura{15000};
    std::chrono::milliseconds LimiteParada{5000};

    std::function<void()> AoTerminar;
    std::function<void(int percentual)> AoProgredir;
    std::function<void(const std::string& erro)> AoErro;

    // Opens the device for the reader's format and starts playing it.
    void Executa(std::unique_ptr<LeitorAudio> leitor);
    // Stops the playback; `espera`: returns once the thread has ended and
    // nothing more is delivered; otherwise returns at once and AoTerminar
    // follows.
    void Para(bool espera);
    void Pausa();
    void Continua();
    // Moves by `milesimos` thousandths of the input's length (negative: back),
    // held within its start and end.
    void Salta(int milesimos);
    // Moves to frame `amostra` of the input.
    void Posiciona(std::uint64_t amostra);

    Estado Status() const { return p_->estado.load(); }
    // Whole seconds heard so far, rounded to the nearest.
    int TempoDecorrido() const;
    int Underruns() const { return p_->underruns.load(); }

  private:
    struct Salto {
        bool relativo;
        std::int64_t valor;
    };
    // What the window and one playback thread share; the thread holds it
    // until it ends, so it may outlive the output.
    struct Partilha {
        std::mutex mutex;
        std::condition_variable cv;
        // Requests of the main thread to the playback thread, and the
        // thread's answer to the opening. Guarded by mutex.
        bool parar = false;
        bool pausar = false;
        std::deque<Salto> saltos;  // jumps and seeks not yet applied, in order
        int aberturaEstado = 0;    // 0 pending, 1 opened, 2 failed
        std::string aberturaErro;
        bool terminou = false;       // the thread has nothing left to do
        SaidaAudio* dono = nullptr;  // null once the output let go of it
        std::atomic<Estado> estado{Estado::Ocioso};
        std::atomic<std::uint64_t> tocados{0};
        std::atomic<int> taxa{0};
        std::atomic<int> underruns{0};
    };

    static void Toca(std::shared_ptr<Partilha> p, FabricaDispositivo fabrica,
                     std::uint64_t execucao, std::unique_ptr<LeitorAudio> leitor);
    // Applies the pending jumps and seeks: drops what the device holds and
    // moves the reader. Playback thread, p.mutex held.
    static void AplicaSalto(Partilha& p, LeitorAudio& leitor, DispositivoAudio* disp);
    // Queues `acao` to the output's thread unless the output let go.
    static void Entrega(Partilha& p, std::uint64_t execucao, std::function<void(SaidaAudio&)> acao);
    // Waits at most `limite` for the thread to end; a thread that does not is
    // let go (detached, with its state) and a fresh state takes its place.
    void Junta(std::chrono::milliseconds limite);

    FabricaDispositivo fabrica_;
    std::thread thread_;
    std::shared_ptr<Partilha> p_;
    // Playback number; events of an older one are dropped on arrival.
    std::atomic<std::uint64_t> execucao_{0};
};
