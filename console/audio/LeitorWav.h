#pragma once
// The WAV file reader of the player: walks the RIFF chunks to the format and
// data chunks (any other chunk is skipped, odd sizes padded), accepts plain
// PCM (tag 1, or the extensible tag with the PCM sub-format) of 8 or 16 bits
// and 1 to 8 channels, and reads the data chunk's frames. A data chunk that
// claims more than the file holds is read up to the file's end, in whole
// frames. Anything else is refused when opening with an ErroAudio.
//
// Thread: see LeitorAudio. Holds the file open for its lifetime.

#include <filesystem>

#include "console/audio/LeitorAudio.h"

class LeitorWav final : public LeitorAudio {
  public:
    explicit LeitorWav(const std::filesystem::path& arquivo);
    ~LeitorWav() override;
    LeitorWav(const LeitorWav&) = delete;
    LeitorWav& operator=(const LeitorWav&) = delete;

    FormatoAudio Formato() const override { return formato_; }
    std::uint64_t TotalAmostras() const override { return total_; }
    std::size_t Le(std::uint8_t* destino, std::size_t quadros) override;
    void Posiciona(std::uint64_t amostra) override;
    std::uint64_t Posicao() const override { return posicao_; }

    // Where the data chunk's frames start in the file.
    std::uint64_t InicioDados() const { return inicio_; }

  private:
    // Reads exactly n bytes at `offset`; false at the end of the file.
    bool LeEm(std::uint64_t offset, void* destino, std::size_t n);

    int fd_ = -1;
    FormatoAudio formato_;
    std::uint64_t inicio_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t posicao_ = 0;
};
