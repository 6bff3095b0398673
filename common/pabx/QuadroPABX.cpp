#include "common/pabx/QuadroPABX.h"

#include <algorithm>
#include <cstring>

std::size_t MontaQuadroCTRL(std::uint8_t* quadro, std::uint16_t comando, std::uint16_t subcodigo,
                            std::size_t n) {
    // Compared without adding to n, so a huge n cannot wrap past the test.
    if (n > TamanhoQuadroTX - 11) return 0;
    std::memmove(quadro + 11, quadro, n);
    quadro[0] = InicioQuadro;
    GravaPalavra(quadro + 1, static_cast<std::uint16_t>(n + 8));
    GravaPalavra(quadro + 3, TipoCTRL);
    GravaPalavra(quadro + 5, comando);
    GravaPalavra(quadro + 7, subcodigo);
    GravaPalavra(quadro + 9, static_cast<std::uint16_t>((n + 1) / 2));
    return n + 11;
}

std::size_t MontaQuadroPROG(std::uint8_t* quadro, FormaPROG forma, std::uint16_t comando,
                            std::uint16_t bloco, std::uint16_t indice, std::size_t n) {
    const bool escrita = forma == FormaPROG::Escrita;
    if (!escrita) n = 0;
    if (n > TamanhoQuadroTX - 13) return 0;
    const std::size_t L = n + (escrita ? 10 : 8);
    if (escrita) std::memmove(quadro + 13, quadro, n);
    quadro[0] = InicioQuadro;
    GravaPalavra(quadro + 1, static_cast<std::uint16_t>(L));
    GravaPalavra(quadro + 3, TipoPROG);
    GravaPalavra(quadro + 5, comando);
    GravaPalavra(quadro + 7, bloco);
    GravaPalavra(quadro + 9, indice);
    if (escrita) GravaPalavra(quadro + 11, static_cast<std::uint16_t>((n + 1) / 2));
    return L + 3;
}

ReceptorQuadros::ReceptorQuadros() : quadro_(TamanhoQuadroRX, 0) {}

void ReceptorQuadros::Alimenta(std::span<const std::uint8_t> bytes, const Entrega& entrega) {
    if (aguardaInicio_) tamanho_ = 0;
    for (const std::uint8_t b : bytes) {
        if (aguardaInicio_) {
            if (b != InicioQuadro) continue;
            tamanho_ = 1;
            quadro_[0] = InicioQuadro;
            aguardaInicio_ = false;
        } else {
            // Saturating: a peer streaming without end must not wrap the count
            // back into a "complete" frame.
            if (tamanho_ < 0xFFFFFFFFu) ++tamanho_;
            if (tamanho_ < TamanhoQuadroRX) quadro_[tamanho_ - 1] = b;
        }
        if (tamanho_ >= 3) {
            const std::uint32_t comprimento = std::uint32_t{LePalavra(quadro_.data() + 1)} + 3;
            if (tamanho_ >= comprimento) {
                aguardaInicio_ = true;
                const auto guardados = std::min<std::uint32_t>(
                    comprimento, static_cast<std::uint32_t>(MaximoGuardadoRX));
                entrega(quadro_.data(), comprimento, guardados);
            }
        }
    }
}
