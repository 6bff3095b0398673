// Lines per second through the service log: every line opens, appends to and
// closes the month's file under the log lock, and an error line also joins the
// history queue. Run: build/benchmarks/service/bench_service_log

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "service/LogServico.h"

namespace {

std::filesystem::path PastaBench() {
    static const std::filesystem::path pasta = [] {
        std::string modelo = "/tmp/bench-log-XXXXXX";
        if (!::mkdtemp(modelo.data())) std::abort();
        return std::filesystem::path(modelo);
    }();
    return pasta;
}

LogServico& LogCompartilhado() {
    static LogServico log(PastaBench());
    static auto fila = std::make_shared<FilaMensagens>();
    log.DefineMascara(31);
    log.DefineFilaLogBD(fila);
    return log;
}

void BM_Log(benchmark::State& state) {
    LogServico& log = LogCompartilhado();
    const std::string texto = "PABX 001: Download de arquivo R0001234.wav concluído";
    for (auto _ : state) log.Log(state.thread_index() % 2 ? LogErro : LogInfo, true, texto);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Log)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(PastaBench(), ec);
}
