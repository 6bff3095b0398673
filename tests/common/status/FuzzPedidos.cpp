// Arbitrary bytes through the request parser, cut into reads whose sizes come
// from the input itself: the first byte picks a seed for the cut sizes. Every
// request must come out well formed and the parser's buffer must never pass
// its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "common/status/ProtocoloStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    if (tamanho < 1) return 0;
    std::uint32_t semente = dados[0] * 2654435761u + 1;
    status::LeitorPedidos leitor;
    std::vector<status::Pedido> pedidos;
    const char* bytes = reinterpret_cast<const char*>(dados + 1);
    std::size_t resto = tamanho - 1;
    while (resto > 0) {
        semente = semente * 1103515245u + 12345u;
        const std::size_t fatia = std::min<std::size_t>(resto, 1 + (semente >> 16) % 2048);
        leitor.Recebe(std::string_view(bytes, fatia), pedidos);
        if (leitor.Pendentes() > status::kLimiteLinhaPedido) std::abort();
        bytes += fatia;
        resto -= fatia;
    }
    for (const auto& p : pedidos) {
        if (p.tipo != status::TipoPedido::Download && p.codigo != 0) std::abort();
        if (p.codigo < INT32_MIN || p.codigo > INT32_MAX) std::abort();
    }
    return 0;
}
