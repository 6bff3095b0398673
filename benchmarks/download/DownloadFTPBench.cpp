// The FTP walk of a download run (size count, then the walk itself) against
// the command-line curl fetching the same files in one call over one
// connection, from the same server in the same run: 500 recordings of the
// simulated unit, and four 256 MB files. The figure to read is the ratio
// curl time / walk time (1.0: as fast as curl).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/Sistema.h"
#include "service/download/ClienteFTP.h"
#include "tests/common/PastaTemporaria.h"
#include "tests/service/download/DownloadFTPExecucao.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

struct Loja {
    PastaTemporaria tmp;
    fs::path raiz = tmp / "loja";
    std::vector<std::string> arquivos;  // relative to raiz
    std::unique_ptr<ServidorFTPTeste> srv;

    explicit Loja(bool grandes) {
        if (grandes) {
            const fs::path gr = raiz / "NORVIKA" / "AUDIOREC" / "GR010124" / "X0001000";
            fs::create_directories(gr);
            for (int i = 1; i <= 4; ++i) {
                const fs::path f = gr / ("R000000" + std::to_string(i) + ".WAV");
                std::ofstream(f).close();
                fs::resize_file(f, 256ULL << 20);
            }
        } else {
            pabxsim::MakeRecordings(raiz, 500, 1);
        }
        for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file()) arquivos.push_back(fs::relative(it->path(), raiz).string());
        srv = std::make_unique<ServidorFTPTeste>(raiz, tmp / "srv");
    }
};

Loja& LojaDe(bool grandes) {
    static Loja pequenos(false);
    if (!grandes) return pequenos;
    static Loja grandesArquivos(true);
    return grandesArquivos;
}

void Caminhada(benchmark::State& state) {
    Loja& loja = LojaDe(state.range(0) != 0);
    PastaTemporaria destino;
    ExecucaoFTPTeste exec(destino / "prog");
    exec.log.DefineMascara(LogSempre);
    for (auto _ : state) {
        auto r = exec.Cria(1, destino / "prog" / "PABX001");
        r->FTPHost = "127.0.0.1";
        r->FTPPorta = static_cast<std::uint16_t>(loja.srv->Porta());
        r->FTPUsuario = loja.srv->Usuario();
        r->FTPSenha = loja.srv->Senha();
        if (!r->DownloadFTP() || r->Historico.DWN_ARQBAIXADO != static_cast<int>(loja.arquivos.size()))
            state.SkipWithError("the walk did not bring every file");
        state.PauseTiming();
        fs::remove_all(destino / "prog" / "PABX001");
        state.ResumeTiming();
    }
    state.counters["arquivos"] = static_cast<double>(loja.arquivos.size());
}

void CurlLinhaDeComando(benchmark::State& state) {
    Loja& loja = LojaDe(state.range(0) != 0);
    PastaTemporaria destino;
    // The credentials go in a config file only its owner reads.
    const fs::path cfg = destino / "curl.cfg";
    {
        std::ofstream f(cfg);
        ::chmod(cfg.c_str(), 0600);
        f << "user = \"" << loja.srv->Usuario() << ":" << loja.srv->Senha() << "\"\n";
        f << "create-dirs\nsilent\nshow-error\n";
        for (const auto& a : loja.arquivos) {
            f << "url = \"ftp://127.0.0.1:" << loja.srv->Porta() << "/" << a << "\"\n";
            f << "output = \"" << (destino / "saida" / a).string() << "\"\n";
        }
    }
    for (auto _ : state) {
        const auto r = ExecutaProcesso({"curl", "-K", cfg.string()});
        if (!r.Sucesso()) state.SkipWithError("curl failed");
        state.PauseTiming();
        fs::remove_all(destino / "saida");
        state.ResumeTiming();
    }
    state.counters["arquivos"] = static_cast<double>(loja.arquivos.size());
}

}  // namespace

BENCHMARK(Caminhada)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(CurlLinhaDeComando)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK_MAIN();
