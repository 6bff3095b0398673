#pragma once
// The Ogg Vorbis file reader of the player, over libvorbisfile: frames as
// 16-bit signed little-endian, interleaved, in the stream's channel order;
// seeks are exact to the frame. A file that is not Ogg Vorbis, or whose
// chained parts change the channels or the rate, is refused with ErroAudio.
//
// Thread: see LeitorAudio.

#include <filesystem>
#include <memory>

#include "console/audio/LeitorAudio.h"

class LeitorVorbis final : public LeitorAudio {
  public:
    explicit LeitorVorbis(const std::filesystem::path& arquivo);
    ~LeitorVorbis() override;
    LeitorVorbis(const LeitorVorbis&) = delete;
    LeitorVorbis& operator=(const LeitorVorbis&) = delete;

    FormatoAudio Formato() const override { return formato_; }
    std::uint64_t TotalAmostras() const override { return total_; }
    std::size_t Le(std::uint8_t* destino, std::size_t quadros) override;
    void Posiciona(std::uint64_t amostra) override;
    std::uint64_t Posicao() const override { return posicao_; }

  private:
    struct Arquivo;
    std::unique_ptr<Arquivo> vf_;
    FormatoAudio formato_;
    std::uint64_t total_ = 0;
    std::uint64_t posicao_ = 0;
};
