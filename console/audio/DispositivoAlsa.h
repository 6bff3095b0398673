#pragma once
// The ALSA playback device: a PCM opened by name ([AudioOutput] Device of
// VERUZADU.INI, "default" unless set) with a buffer of `latenciaMs`
// milliseconds ([AudioOutput] Latency, at least 10), refilled by halves.
// Underruns (the playback thread late with the next half) are recovered with
// snd_pcm_recover and counted. The PCM is closed by the destructor.
//
// The PCM is opened without blocking: a device held by another program is
// refused at once instead of waited for, and a device that stops taking
// frames (or never ends a drain) fails the playback after a few seconds.
//
// Thread: the output's playback thread only (see DispositivoAudio).

#include <string>

#include "console/audio/DispositivoAudio.h"

typedef struct _snd_pcm snd_pcm_t;

class DispositivoAlsa final : public DispositivoAudio {
  public:
    DispositivoAlsa(std::string nome, int latenciaMs);
    ~DispositivoAlsa() override;
    DispositivoAlsa(const DispositivoAlsa&) = delete;
    DispositivoAlsa& operator=(const DispositivoAlsa&) = delete;

    void Abre(const FormatoAudio& formato) override;
    std::size_t QuadrosPorPeriodo() const override { return periodo_; }
    void Escreve(const std::uint8_t* dados, std::size_t quadros) override;
    std::size_t Atraso() override;
    void Drena() override;
    void Descarta() override;
    int Underruns() const override { return underruns_; }

  private:
    [[noreturn]] void Falha(const std::string& passo, int codigo) const;

    std::string nome_;
    int latenciaMs_;
    snd_pcm_t* pcm_ = nullptr;
    FormatoAudio formato_;
    std::size_t periodo_ = 0;
    int underruns_ = 0;
};
