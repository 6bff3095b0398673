// A-law conversion of a recording-sized buffer, measured beside memcpy of the
// same buffer in the same run so the figure can be read against the machine's
// memory speed. Both report bytes of A-law input per second.
#include "common/ALaw.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kTamanho = 1 << 20;

std::vector<std::uint8_t> AmostrasAleatorias() {
    std::vector<std::uint8_t> v(kTamanho);
    std::mt19937 rng(7);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

void BM_Memcpy(benchmark::State& state) {
    const auto entrada = AmostrasAleatorias();
    std::vector<std::uint8_t> saida(kTamanho);
    for (auto _ : state) {
        std::memcpy(saida.data(), entrada.data(), kTamanho);
        benchmark::DoNotOptimize(saida.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTamanho));
}

void BM_ALawParaPCM16LE(benchmark::State& state) {
    const auto entrada = AmostrasAleatorias();
    std::vector<std::uint8_t> saida(2 * kTamanho);
    const TabelaALaw tabela(static_cast<int>(state.range(0)));
    const auto caminho = static_cast<TabelaALaw::Caminho>(state.range(1));
    if (!TabelaALaw::Disponivel(caminho)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    for (auto _ : state) {
        tabela.ConverteParaPCM16LE(entrada, saida.data(), caminho);
        benchmark::DoNotOptimize(saida.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTamanho));
}

// One sample at a time through the function, as a per-byte loop would call it.
void BM_ALawParaPCMPorAmostra(benchmark::State& state) {
    const auto entrada = AmostrasAleatorias();
    std::vector<std::int16_t> saida(kTamanho);
    for (auto _ : state) {
        for (std::size_t k = 0; k < kTamanho; ++k)
            saida[k] = static_cast<std::int16_t>(ALawParaPCM(entrada[k], GanhoALaw));
        benchmark::DoNotOptimize(saida.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTamanho));
}

}  // namespace

BENCHMARK(BM_Memcpy);
// Arguments: gain, conversion path (0 automatic, 1 scalar, 2 AVX2, 3 AVX-512).
BENCHMARK(BM_ALawParaPCM16LE)
    ->ArgNames({"ganho", "caminho"})
    ->Args({GanhoALaw, 0})
    ->Args({0, 0})
    ->Args({GanhoALaw, 1})
    ->Args({GanhoALaw, 2})
    ->Args({GanhoALaw, 3});
BENCHMARK(BM_ALawParaPCMPorAmostra);

BENCHMARK_MAIN();
