// The FTP walk of a download run (size count, then the walk itself) against
// the command-line curl fetching the same files in one call over one
// connection, from the same server in the same run: 500 recordings of the
// simulated unit, and four 256 MB files. The figure to read is the ratio
// curl time / walk time (1.0: as fast as curl). Run it under the test
// servers' environment (scripts/test's hooks export VERUZADU_FB_*).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/Sistema.h"
#include "service/download/ClienteFTP.h"
#include "tests/service/TestePasta.h"
#include "tests/service/download/AmbienteDownload.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

struct Loja {
    PastaTemporaria tmp;
    fs::path raiz = tmp.Caminho() / "loja";
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
        srv = std::make_unique<ServidorFTPTeste>(raiz, tmp.Caminho() / "srv");
    }
};

Loja& LojaDe(bool grandes) {
    static Loja pequenos(false);
    if (!grandes) return pequenos;
    static Loja grandesArquivos(true);
    return grandesArquivos;
}

// The walk as a run does it, its statistics row on the test database server
// (run under the test servers' environment, as scripts/test sets it up), so
// the per-file row updates cost what they cost in service.
void Caminhada(benchmark::State& state) {
    Loja& loja = LojaDe(state.range(0) != 0);
    AmbienteDownloadTeste amb("benchftp");
    if (!amb.db.Pronto()) {
        state.SkipWithError("no test database server (VERUZADU_FB_* unset)");
        return;
    }
    amb.RegistraUnidade(1);
    amb.log.DefineMascara(LogSempre);
    auto uma = [&] {
        auto r = amb.Run(1, 0);
        r->FTPPorta = static_cast<std::uint16_t>(loja.srv->Porta());
        r->FTPUsuario = loja.srv->Usuario();
        r->FTPSenha = loja.srv->Senha();
        r->Historico.DWN_DTINIDOWN = Agora();
        r->BDRegistraHistoricoDownload(HistoricoInsere);
        const bool ok = r->DownloadFTP() &&
                        r->Historico.DWN_ARQBAIXADO == static_cast<int>(loja.arquivos.size());
        return std::make_pair(ok, std::move(r));
    };
    // One untimed run first: the first connection to the database, the
    // language file and the server's caches are not the walk's cost.
    fs::remove_all(uma().second->PastaPABX);
    for (auto _ : state) {
        auto [ok, r] = uma();
        if (!ok) {
            state.SkipWithError("the walk did not bring every file");
            break;
        }
        state.PauseTiming();
        fs::remove_all(r->PastaPABX);
        state.ResumeTiming();
    }
    state.counters["arquivos"] = static_cast<double>(loja.arquivos.size());
}

// The FTP client alone on the same files (no walk, no run): what the walk
// adds on top of the transfers.
void SoCliente(benchmark::State& state) {
    Loja& loja = LojaDe(state.range(0) != 0);
    PastaTemporaria destino;
    OpcoesFTP o;
    o.host = "127.0.0.1";
    o.porta = loja.srv->Porta();
    o.usuario = loja.srv->Usuario();
    o.senha = loja.srv->Senha();
    for (auto _ : state) {
        ClienteFTP ftp(o);
        ftp.Conecta();
        for (const auto& a : loja.arquivos) {
            const fs::path rel(a);
            const fs::path alvo = destino.Caminho() / "saida" / rel;
            fs::create_directories(alvo.parent_path());
            ftp.Baixa("/" + rel.parent_path().string(), rel.filename().string(), alvo, -1, 0);
        }
        state.PauseTiming();
        fs::remove_all(destino.Caminho() / "saida");
        state.ResumeTiming();
    }
}

void CurlLinhaDeComando(benchmark::State& state) {
    Loja& loja = LojaDe(state.range(0) != 0);
    PastaTemporaria destino;
    // The credentials go in a config file only its owner reads.
    const fs::path cfg = destino.Caminho() / "curl.cfg";
    {
        std::ofstream f(cfg);
        ::chmod(cfg.c_str(), 0600);
        f << "user = \"" << loja.srv->Usuario() << ":" << loja.srv->Senha() << "\"\n";
        f << "create-dirs\nsilent\nshow-error\n";
        for (const auto& a : loja.arquivos) {
            f << "url = \"ftp://127.0.0.1:" << loja.srv->Porta() << "/" << a << "\"\n";
            f << "output = \"" << (destino.Caminho() / "saida" / a).string() << "\"\n";
        }
    }
    ExecutaProcesso({"curl", "-K", cfg.string()});  // untimed, as the walk's first run
    fs::remove_all(destino.Caminho() / "saida");
    for (auto _ : state) {
        const auto r = ExecutaProcesso({"curl", "-K", cfg.string()});
        if (!r.Sucesso()) {
            state.SkipWithError("curl failed");
            break;
        }
        state.PauseTiming();
        fs::remove_all(destino.Caminho() / "saida");
        state.ResumeTiming();
    }
    state.counters["arquivos"] = static_cast<double>(loja.arquivos.size());
}

}  // namespace

BENCHMARK(Caminhada)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SoCliente)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(CurlLinhaDeComando)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK_MAIN();
