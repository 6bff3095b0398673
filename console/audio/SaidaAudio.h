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

#include <QObject>
#include <atomic>
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

    Estado Status() const { return estado_.load(); }
    // Whole seconds heard so far, rounded to the nearest.
    int TempoDecorrido() const;
    int Underruns() const { return underruns_.load(); }

  private:
    void Toca(std::uint64_t execucao, std::unique_ptr<LeitorAudio> leitor);
    // Applies the pending jumps and seeks: drops what the device holds and
    // moves the reader. Playback thread, mutex_ held.
    void AplicaSalto(LeitorAudio& leitor, DispositivoAudio* disp);
    void Entrega(std::uint64_t execucao, std::function<void()> acao);
    void Junta();

    FabricaDispositivo fabrica_;
    std::thread thread_;

    // Requests of the main thread to the playback thread, and the thread's
    // answer to the opening. Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable cv_;
    bool parar_ = false;
    bool pausar_ = false;
    // Jumps and seeks not yet applied, in the order asked.
    struct Salto {
        bool relativo;
        std::int64_t valor;
    };
    std::deque<Salto> saltos_;
    int aberturaEstado_ = 0;  // 0 pending, 1 opened, 2 failed
    std::string aberturaErro_;

    std::atomic<Estado> estado_{Estado::Ocioso};
    std::atomic<std::uint64_t> tocados_{0};
    std::atomic<int> taxa_{0};
    std::atomic<int> underruns_{0};
    // Playback number; events of an older one are dropped on arrival.
    std::atomic<std::uint64_t> execucao_{0};
};
