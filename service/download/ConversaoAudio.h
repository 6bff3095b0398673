#pragma once
// The audio conversions of the filing: the PABX's A-law WAV to a 16-bit PCM
// WAV (the run's gain, clipped), and a PCM WAV to Ogg Vorbis in process
// (libvorbisenc, quality 0.3), plus the duration read from a WAV header.
//
// Inputs are checked before anything is written: the A-law file must carry
// the canonical 44-byte header (RIFF/WAVE, a 16-byte "fmt " chunk with format
// 6 and 8 bits, then "data" with its audio inside the file), the PCM file the
// same layout with format 1 and 16 bits. Outputs go through ArquivoSaida, so a
// failure leaves no partial file. Failures are thrown as std::runtime_error
// with the reason for the log.
//
// Pure functions over files: any thread may call.

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/ALaw.h"

inline constexpr std::size_t TamanhoCabecalhoWAV = 44;

struct CabecalhoWAV {
    std::uint16_t formato = 0;
    std::uint16_t canais = 0;
    std::uint32_t taxa = 0;       // samples per second
    std::uint32_t taxaBytes = 0;  // bytes per second
    std::uint16_t alinhamento = 0;
    std::uint16_t bits = 0;
    std::uint32_t tamanhoDados = 0;
};

// Reads and checks the 44-byte header of `arquivo` for the given format tag
// (6 A-law with 8 bits, 1 PCM with 16 bits).
CabecalhoWAV LeCabecalhoWAV(const std::filesystem::path& arquivo, std::uint16_t formato);

// A-law WAV to 16-bit PCM WAV. The header keeps the input's tags, channels
// and sample rate; sizes, byte rate and block align are those of 16 bits.
void ConverteALawParaPCM(const std::filesystem::path& origem, const std::filesystem::path& destino,
                         const TabelaALaw& tabela);

// Data size over byte rate, truncated; 0 when the file is absent, too short
// or its byte rate is 0.
std::int32_t DuracaoWAV(const std::filesystem::path& arquivo);

struct ComentariosOgg {
    std::string album;
    std::string artista;
    std::string titulo;
    std::string data;  // "dd/mm/yyyy hh:nn:ss"
};

// PCM WAV (16 bits) to Ogg Vorbis, rate and channels from its header.
void ConverteWAVParaOgg(const std::filesystem::path& origem, const std::filesystem::path& destino,
                        const ComentariosOgg& comentarios, float qualidade = 0.3f);
