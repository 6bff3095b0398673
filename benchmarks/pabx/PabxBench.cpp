// Receiver throughput: a DNS-index block (the largest reply of a session) and
// a stream of small CTRL replies, cut into reads of various sizes, through the
// receiver and the handlers of a TPABX without a socket.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "common/pabx/PABX.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes Quadro(std::uint16_t tipo, std::uint16_t comando, const Bytes& resto) {
    Bytes b{0x55, 0, 0};
    GravaPalavra(b.data() + 1, static_cast<std::uint16_t>(resto.size() + 4));
    b.resize(7);
    GravaPalavra(b.data() + 3, tipo);
    GravaPalavra(b.data() + 5, comando);
    b.insert(b.end(), resto.begin(), resto.end());
    return b;
}

Bytes BlocoIndices(int registros) {
    Bytes r(8, 0);
    GravaPalavra(r.data(), 1);
    GravaPalavra(r.data() + 2, 2);
    GravaPalavra(r.data() + 4, 3);
    for (int i = 0; i < registros; ++i) {
        Bytes reg(16, 0);
        GravaPalavra(reg.data(), 2);
        GravaPalavra(reg.data() + 4, static_cast<std::uint16_t>(1000 + i % 900));
        GravaPalavra(reg.data() + 12, static_cast<std::uint16_t>(i % 64));
        r.insert(r.end(), reg.begin(), reg.end());
    }
    return Quadro(3, 0x8004, r);
}

void Alimenta(benchmark::State& estado, const Bytes& fluxo, TPABX& pabx) {
    const std::size_t leitura = static_cast<std::size_t>(estado.range(0));
    for (auto _ : estado) {
        for (std::size_t i = 0; i < fluxo.size(); i += leitura)
            pabx.TCPRecebeu({fluxo.data() + i, std::min(leitura, fluxo.size() - i)});
        benchmark::ClobberMemory();
    }
    estado.SetBytesProcessed(static_cast<std::int64_t>(estado.iterations() * fluxo.size()));
}

void BlocoIndicesDNS(benchmark::State& estado) {
    TPABX pabx;
    pabx.DefineEnvio([](const std::uint8_t*, std::size_t, std::string&) { return true; });
    Bytes nomes(8, 0);
    for (int i = 0; i < 64; ++i) {
        Bytes reg(16, 0);
        const std::string nome = "Ramal" + std::to_string(i);
        std::copy(nome.begin(), nome.end(), reg.begin() + 4);
        nomes.insert(nomes.end(), reg.begin(), reg.end());
    }
    GravaPalavra(nomes.data() + 2, 2);
    pabx.TCPRecebeu(Quadro(3, 0x8004, nomes));
    Alimenta(estado, BlocoIndices(3600), pabx);  // 57.6 kB: near the receive buffer
}
BENCHMARK(BlocoIndicesDNS)->Arg(1460)->Arg(65536);

void RespostasCTRL(benchmark::State& estado) {
    TPABX pabx;
    pabx.DefineEnvio([](const std::uint8_t*, std::size_t, std::string&) { return true; });
    pabx.PedeAcessoGravacoes(true);
    Bytes fluxo;
    for (int i = 0; i < 1000; ++i) {
        Bytes r(6, 0);
        GravaPalavra(r.data(), 1);
        GravaPalavra(r.data() + 2, 0x8C);
        const Bytes q = Quadro(6, 0x82, r);
        fluxo.insert(fluxo.end(), q.begin(), q.end());
    }
    Alimenta(estado, fluxo, pabx);
}
BENCHMARK(RespostasCTRL)->Arg(1)->Arg(1460);
}  // namespace
BENCHMARK_MAIN();
