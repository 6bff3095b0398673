#pragma once
// A-law (ITU-T G.711) to 16-bit linear PCM with the PABX model's gain.
//
// The PABX records 8-bit A-law; each recording is filed as 16-bit PCM
// amplified by a gain that depends on the PABX model. The gain belongs to the
// download run that converts (two runs for different models may convert at the
// same time), so it is always passed in; `GanhoALaw` is only the value a run
// starts from before it has read its PABX's model.
//
// The expansion without gain is the standard one scaled to 16 bits
// (magnitudes 8..32256). With a gain above 1 a loud sample no longer fits in 16
// bits: it is clipped to -32768..32767 rather than wrapped, which would turn
// it into noise of the opposite sign. A gain of 0 or less means no
// amplification.
//
// Pure functions and immutable tables: any thread may call.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr int GanhoALaw = 8;

// One sample, expanded, amplified and clipped.
std::int32_t ALawParaPCM(std::uint8_t a, int ganho = GanhoALaw);

// The 256 results of ALawParaPCM for one gain, for converting whole buffers.
// Built in a few hundred nanoseconds; a run builds one when it knows its gain.
class TabelaALaw final {
  public:
    explicit TabelaALaw(int ganho = GanhoALaw);

    int Ganho() const { return ganho_; }
    std::int16_t operator[](std::uint8_t a) const { return amostras_[a]; }

    // The ways a buffer can be converted; all give the table's values.
    // Automatico takes the widest the processor offers; the others exist so
    // tests and benchmarks can check each on the machine at hand.
    enum class Caminho { Automatico, Escalar, AVX2, AVX512 };
    static bool Disponivel(Caminho c);

    // Writes alaw.size() samples as 16-bit little-endian (WAV data layout)
    // into saida, which must hold 2 * alaw.size() bytes. Throws
    // std::invalid_argument for a path this processor lacks.
    void ConverteParaPCM16LE(std::span<const std::uint8_t> alaw, std::uint8_t* saida,
                             Caminho caminho = Caminho::Automatico) const;
    std::vector<std::uint8_t> ConverteParaPCM16LE(std::span<const std::uint8_t> alaw) const;

  private:
    int ganho_;
    std::array<std::int16_t, 256> amostras_{};
};
