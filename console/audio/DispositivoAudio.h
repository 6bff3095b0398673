#pragma once
// Where the output's frames go: the sound device. DispositivoAlsa is the
// program's; tests hand the output a sink of their own through the same
// interface.
//
// Used only by the output's playback thread, which makes it (through the
// output's factory), opens it and drops it at the end of each playback.
// Errors are thrown as ErroAudio with the device's reason.

#include <cstddef>
#include <cstdint>

#include "console/audio/LeitorAudio.h"

class DispositivoAudio {
  public:
    virtual ~DispositivoAudio() = default;
    // Prepares the device for frames of this format.
    virtual void Abre(const FormatoAudio& formato) = 0;
    // Frames the output hands over in one step (half the buffer).
    virtual std::size_t QuadrosPorPeriodo() const = 0;
    // Queues all the frames, blocking while the device's buffer is full.
    // An underrun is recovered and counted, not thrown.
    virtual void Escreve(const std::uint8_t* dados, std::size_t quadros) = 0;
    // Frames queued and not yet heard.
    virtual std::size_t Atraso() = 0;
    // Waits until every queued frame was heard.
    virtual void Drena() = 0;
    // Drops the queued frames; the device takes new ones afterwards.
    virtual void Descarta() = 0;
    virtual int Underruns() const = 0;
};
