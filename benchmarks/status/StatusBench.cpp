// Console push throughput: 100,000 queued lines of 100 bytes pushed by the
// status server to 50 loopback consoles, against the limit of the same bytes
// written with plain blocking send to 50 loopback sockets read the same way.
// The last line printed gives the push's share of the plain rate.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/status/ProtocoloStatus.h"
#include "service/ServidorStatus.h"

namespace {

constexpr int kConsoles = 50;
constexpr std::size_t kLinhas = 100000;
double taxaPush = 0, taxaSimples = 0;

std::string TextoLinha(std::size_t i) {
    std::string t = "LOG;PABX000;linha " + std::to_string(i) + " ";
    t.resize(100, 'x');
    return t;
}

int Conecta(std::uint16_t porta) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(porta);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    return fd;
}

// Reads `total` bytes from every socket, one thread each.
std::vector<std::thread> Leitores(const std::vector<int>& fds, std::size_t total) {
    std::vector<std::thread> ts;
    for (int fd : fds)
        ts.emplace_back([fd, total] {
            std::vector<char> buf(256 * 1024);
            std::size_t lido = 0;
            while (lido < total) {
                const ssize_t k = ::recv(fd, buf.data(), buf.size(), 0);
                if (k <= 0) std::abort();
                lido += static_cast<std::size_t>(k);
            }
        });
    return ts;
}

std::filesystem::path PastaLog() {
    auto p =
        std::filesystem::temp_directory_path() / ("bench-status-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
}

void BM_PushFilaParaConsoles(benchmark::State& state) {
    const auto pasta = PastaLog();
    LogServico log(pasta);
    auto fila = std::make_shared<FilaMensagens>();
    AcessoServidorStatus acesso;
    acesso.executando = [] { return true; };
    ServidorStatus servidor(log, acesso);
    std::string erro;
    if (!servidor.Abre(0, fila, erro)) {
        state.SkipWithError(erro.c_str());
        return;
    }
    std::vector<int> fds;
    for (int i = 0; i < kConsoles; ++i) fds.push_back(Conecta(servidor.PortaLocal()));
    while (servidor.Consoles() < kConsoles)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::vector<std::string> textos;
    std::size_t porConsole = 0;
    for (std::size_t i = 0; i < kLinhas; ++i) {
        textos.push_back(TextoLinha(i));
        porConsole += status::LinhaPush(textos.back()).size();
    }
    for (auto _ : state) {
        for (const auto& t : textos) fila->Adiciona(TMsgVeruzadu{0, t});
        auto leitores = Leitores(fds, porConsole);
        const auto t0 = std::chrono::steady_clock::now();
        servidor.EnviaFilaAgora();
        for (auto& t : leitores) t.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * porConsole * kConsoles));
    servidor.Para();
    for (int fd : fds) ::close(fd);
    std::filesystem::remove_all(pasta);
}

void BM_SendBloqueanteSimples(benchmark::State& state) {
    const int escuta = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(escuta, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(escuta, kConsoles);
    socklen_t t = sizeof a;
    ::getsockname(escuta, reinterpret_cast<sockaddr*>(&a), &t);
    std::vector<int> leitura, escrita;
    for (int i = 0; i < kConsoles; ++i) {
        leitura.push_back(Conecta(ntohs(a.sin_port)));
        escrita.push_back(::accept4(escuta, nullptr, nullptr, SOCK_CLOEXEC));
    }
    // The same bytes, in the same batches the server hands out.
    std::vector<std::string> lotes(1);
    std::size_t porConsole = 0;
    for (std::size_t i = 0; i < kLinhas; ++i) {
        const std::string l = status::LinhaPush(TextoLinha(i));
        porConsole += l.size();
        if (lotes.back().size() >= 128 * 1024) lotes.emplace_back();
        lotes.back() += l;
    }
    for (auto _ : state) {
        auto leitores = Leitores(leitura, porConsole);
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& lote : lotes)
            for (int fd : escrita) {
                std::size_t feito = 0;
                while (feito < lote.size()) {
                    const ssize_t k =
                        ::send(fd, lote.data() + feito, lote.size() - feito, MSG_NOSIGNAL);
                    if (k <= 0) std::abort();
                    feito += static_cast<std::size_t>(k);
                }
            }
        for (auto& th : leitores) th.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * porConsole * kConsoles));
    for (int fd : leitura) ::close(fd);
    for (int fd : escrita) ::close(fd);
    ::close(escuta);
}

// Keeps the rate each benchmark measured, to print the share at the end.
class Relator final : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end()) continue;
            if (r.benchmark_name().find("Push") != std::string::npos) taxaPush = it->second;
            if (r.benchmark_name().find("Simples") != std::string::npos) taxaSimples = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_PushFilaParaConsoles)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SendBloqueanteSimples)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Relator relator;
    benchmark::RunSpecifiedBenchmarks(&relator);
    if (taxaPush > 0 && taxaSimples > 0)
        std::printf("push / plain send: %.2f (at least 0.50 expected)\n", taxaPush / taxaSimples);
    benchmark::Shutdown();
    return 0;
}
