// The service's start-up read opens VERUZADU.INI once per key (about forty
// keys), and every configuration write rewrites the whole file under its lock.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/Configuracao.h"
#include "common/IniFile.h"

namespace {

std::filesystem::path ArquivoDeTeste() {
    static const std::filesystem::path caminho = [] {
        std::string modelo = (std::filesystem::temp_directory_path() / "bench_ini.XXXXXX").string();
        const std::filesystem::path pasta = ::mkdtemp(modelo.data());
        std::ofstream f(pasta / "VERUZADU.INI");
        f << "[BD]\nServer=\\\\SERVIDOR\nAlias=VERUZADU\n[Veruzadu]\n";
        for (int i = 0; i < 40; ++i) f << "Chave" << i << "=" << i * 7 << "\n";
        f << "[Log]\nInfo=1\nErro=1\n";
        static const std::filesystem::path apagar = pasta;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(apagar, ec);
        });
        return pasta / "VERUZADU.INI";
    }();
    return caminho;
}

void BM_ReadInteger(benchmark::State& estado) {
    const IniFile ini(ArquivoDeTeste());
    for (auto _ : estado) benchmark::DoNotOptimize(ini.ReadInteger("Log", "Erro", 0));
}
BENCHMARK(BM_ReadInteger);

void BM_LeConfiguracaoServico(benchmark::State& estado) {
    const IniFile ini(ArquivoDeTeste());
    for (auto _ : estado) benchmark::DoNotOptimize(LeConfiguracaoServico(ini, {}));
}
BENCHMARK(BM_LeConfiguracaoServico);

void BM_WriteInteger(benchmark::State& estado) {
    IniFile ini(ArquivoDeTeste());
    int i = 0;
    for (auto _ : estado) ini.WriteInteger("Veruzadu", "Contador", ++i);
}
BENCHMARK(BM_WriteInteger);

}  // namespace
