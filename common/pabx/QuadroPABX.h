#pragma once
// Frames of the PABX control link, as bytes: the builders of the two request
// forms and the receiver that cuts a byte stream into frames. Pure code with no
// I/O; TPABX wraps it with the socket. Not thread-safe by itself: each object
// is used by one thread at a time (TPABX serialises with its own mutex).
//
// Every frame: 0x55, a 16-bit length L of the bytes after the length field,
// then kind, command and parameters; 16-bit fields little-endian. The start
// byte is not escaped: inside a frame it is data, the receiver counts by L.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

inline constexpr std::uint8_t InicioQuadro = 0x55;
inline constexpr std::uint16_t TipoPROG = 3;
inline constexpr std::uint16_t TipoCTRL = 6;
inline constexpr std::uint16_t ComandoLeituraPROG = 4;
inline constexpr std::uint16_t ComandoEscritaPROG = 5;
inline constexpr std::uint16_t RespostaDadosPROG = 0x8004;
inline constexpr std::uint16_t ConfirmacaoPROG = 0x8005;

inline constexpr std::size_t TamanhoQuadroTX = 4096;
inline constexpr std::size_t TamanhoQuadroRX = 58000;
// The receive buffer keeps one byte less than its size: a frame is stored up to
// position 57,998 and anything beyond is counted only.
inline constexpr std::size_t MaximoGuardadoRX = TamanhoQuadroRX - 1;

inline std::uint16_t LePalavra(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline void GravaPalavra(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// CTRL request in `quadro` (at least TamanhoQuadroTX bytes) whose n payload
// bytes already sit at its start: moves them to offset 11 and fills the header.
// Returns the frame length n + 11, or 0 when it would not fit the buffer.
std::size_t MontaQuadroCTRL(std::uint8_t* quadro, std::uint16_t comando, std::uint16_t subcodigo,
                            std::size_t n);

enum class FormaPROG { Leitura, Escrita };

// PROG request: the read form is 11 bytes and carries no payload; the write
// form moves the n payload bytes from the buffer's start to offset 13 and adds
// the word count. Returns the frame length L + 3, or 0 when it would not fit.
std::size_t MontaQuadroPROG(std::uint8_t* quadro, FormaPROG forma, std::uint16_t comando,
                            std::uint16_t bloco, std::uint16_t indice, std::size_t n);

// The receiver's state: the frame being assembled, from its start byte.
// Feed it whatever the socket delivered; each completed frame is handed to the
// callback once, with the frame length L + 3 (in 32 bits, so a length near
// 65,535 does not wrap) and the number of its bytes actually kept
// (at most MaximoGuardadoRX). Bytes between frames other than 0x55 are skipped.
class ReceptorQuadros final {
  public:
    using Entrega = std::function<void(const std::uint8_t* quadro, std::uint32_t comprimento,
                                       std::uint32_t guardados)>;

    ReceptorQuadros();

    void Alimenta(std::span<const std::uint8_t> bytes, const Entrega& entrega);
    // Drop an unfinished frame: the next frame starts at the next 0x55.
    void Reinicia() { aguardaInicio_ = true; }

    bool AguardaInicio() const { return aguardaInicio_; }
    std::uint32_t Contados() const { return tamanho_; }
    const std::uint8_t* Quadro() const { return quadro_.data(); }

  private:
    std::vector<std::uint8_t> quadro_;
    std::uint32_t tamanho_ = 0;
    bool aguardaInicio_ = true;
};
