#pragma once
// What the player reads a recording through: a file reader that hands out
// interleaved PCM frames (8-bit unsigned or 16-bit signed little-endian) and
// can be moved to any frame. The readers are LeitorWav and LeitorVorbis.
//
// A reader belongs to one thread at a time: the window makes it and hands it
// to the output (SaidaAudio), whose playback thread then owns it. Errors are
// thrown as ErroAudio with a text for the user and the log.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class ErroAudio : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct FormatoAudio {
    int canais = 0;
    int taxa = 0;  // frames per second
    int bits = 0;  // 8 or 16
    int BytesPorQuadro() const { return canais * bits / 8; }
    bool operator==(const FormatoAudio&) const = default;
};

class LeitorAudio {
  public:
    virtual ~LeitorAudio() = default;
    virtual FormatoAudio Formato() const = 0;
    // Frames in the whole input.
    virtual std::uint64_t TotalAmostras() const = 0;
    // Reads up to `quadros` frames into `destino` (room for that many frames);
    // answers how many were read, 0 at the end. Throws ErroAudio.
    virtual std::size_t Le(std::uint8_t* destino, std::size_t quadros) = 0;
    // Moves to frame `amostra` (past the end: to the end). Throws ErroAudio.
    virtual void Posiciona(std::uint64_t amostra) = 0;
    // The frame the next Le starts at.
    virtual std::uint64_t Posicao() const = 0;

    // Whole seconds of the input (a recording under a second gives 0).
    int TempoTotal() const {
        const FormatoAudio f = Formato();
        return f.taxa > 0 ? static_cast<int>(TotalAmostras() / static_cast<std::uint64_t>(f.taxa))
                          : 0;
    }
};
