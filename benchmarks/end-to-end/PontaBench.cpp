// End to end: a store of recordings of 3 minutes of 8 kHz A-law each, taken
// by one pelmoran run from simulated units (control link plus the Python FTP
// server) into their databases, timed from the first session's start (its
// log line) to the last import's end (the statistics rows). The limit it is set
// against is measured in the same process: the plain insert of the same PCM
// bytes as GRAVACAO BLOB rows through the database layer, one transaction per
// row as the filing does. Arguments: recordings per unit, units (MaxPABX is
// the number of units).
//
// Run under the test server's environment, e.g.
//   scripts/test.d's Firebird started, then build/benchmarks/end-to-end/bench_end_to_end

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/service/download/UnidadePonta.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::size_t kAmostras = 3 * 60 * 8000;  // 3 minutes at 8 kHz

// Every WAV with audio in the store becomes 3 minutes of a voice-like A-law signal.
void TresMinutos(const fs::path& loja) {
    std::string audio;
    const auto h = pabxsim::ALawWavHeader(kAmostras);
    audio.assign(h.begin(), h.end());
    for (std::size_t i = 0; i < kAmostras; ++i)
        audio.push_back(static_cast<char>(
            pabxsim::LinearToALaw(static_cast<std::int16_t>(6000 * std::sin(i * 0.35) + (i * 7919 % 600)))));
    for (const auto& e : fs::recursive_directory_iterator(loja))
        if (e.is_regular_file() && e.path().extension() == ".WAV" && fs::file_size(e.path()) > 0)
            EscreveArquivo(e.path(), audio);
}

// When the unit's session began: its log's first "Início verificação cartão"
// line (the statistics row keeps its start to the second only, which would
// add up to a second to a span of a few seconds). Empty when not found.
DataHora InicioSessao(const fs::path& pastaUnidade) {
    const std::string mes = FormataDataHora(Agora(), "yyyymm");
    std::ifstream in(pastaUnidade / ("IMP" + mes + ".LOG"));
    for (std::string l; std::getline(in, l);) {
        if (l.find("Início verificação cartão") == std::string::npos) continue;
        DataHora d;
        if (std::sscanf(l.c_str(), "%d/%d/%d %d:%d:%d %d", &d.dia, &d.mes, &d.ano, &d.hora, &d.minuto,
                        &d.segundo, &d.milissegundo) == 7) {
            d.ano += 2000;
            return d;
        }
    }
    return {};
}

double Segundos(const DataHora& a, const DataHora& b) {
    return static_cast<double>(SegundosDesdeEpoca(b) - SegundosDesdeEpoca(a)) + (b.milissegundo - a.milissegundo) / 1000.0;
}

void BM_Ponta(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), unidades = static_cast<int>(state.range(1));
    for (auto _ : state) {
        std::vector<int> codigos;
        for (int c = 1; c <= unidades; ++c) codigos.push_back(c);
        ponta::Ambiente a("bench" + std::to_string(unidades), codigos);
        if (!a.Pronto()) {
            state.SkipWithError("no test server (VERUZADU_FB_* not set)");
            return;
        }
        std::vector<std::unique_ptr<ponta::Unidade>> us;
        for (int c : codigos) {
            us.push_back(std::make_unique<ponta::Unidade>(c, n, 900 + c));
            TresMinutos(us.back()->loja);
        }
        a.EscreveINI({{"Veruzadu", "MaxPABX", std::to_string(unidades)}});
        for (auto& u : us) a.Registra(*u);
        if (!a.RodaAteCarimbar(codigos, 1800s)) {
            state.SkipWithError("run did not end");
            return;
        }
        // The runs' span and what they filed.
        DataHora ini, fim;
        {
            Attachment att = Attachment::Conecta(a.inst.Principal());
            Transaction tr(att, true);
            Statement st(tr, "SELECT MIN(DWN_DTINIDOWN), MAX(DWN_DTFIMIMP) FROM DWNHISTORY");
            Cursor c = st.Abre();
            c.Proxima();
            ini = c.GetTimestamp(0);
            fim = c.GetTimestamp(1);
        }
        DataHora inicioLog;
        for (int cod : codigos) {
            char nome[16];
            std::snprintf(nome, sizeof nome, "PABX%03d", cod);
            const DataHora d = InicioSessao(a.home.Caminho() / nome);
            if (!d.Vazia() && (inicioLog.Vazia() || Segundos(d, inicioLog) > 0)) inicioLog = d;
        }
        if (!inicioLog.Vazia()) ini = inicioLog;
        double bytes = 0, linhas = 0;
        std::string pcm;
        for (int cod : codigos)
            for (const auto& l : a.Linhas(cod)) {
                bytes += static_cast<double>(l.audio.size());
                ++linhas;
                if (pcm.empty()) pcm = l.audio;
            }
        // The runs' logs, kept for a look at where the time went.
        if (const char* pasta = std::getenv("VERUZADU_BENCH_LOGS"); pasta && *pasta)
            EscreveArquivo(fs::path(pasta) / ("ponta-" + std::to_string(unidades) + ".log"), a.Logs());
        const double t = Segundos(ini, fim);
        state.SetIterationTime(t);

        // The limit: the same PCM bytes inserted as rows, one transaction each.
        const auto t0 = std::chrono::steady_clock::now();
        {
            Attachment att = Attachment::Conecta(a.inst.Unidade(1));
            for (int i = 0; i < static_cast<int>(linhas); ++i) {
                Transaction tr(att);
                Statement st(tr, "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                                 "GRV_TEMAUDIO, GRV_BINDADOS) VALUES (GEN_ID(GEN_GRV_ID, 1), 999, 'NOW', ?, 1, ?)");
                BlobWriter b(tr);
                for (std::size_t p = 0; p < pcm.size(); p += TamanhoSegmentoBlob)
                    b.Escreve(pcm.data() + p, std::min(TamanhoSegmentoBlob, pcm.size() - p));
                st.SetText(0, "bench" + std::to_string(i)).SetBlobId(1, b.Fecha()).Executa();
                tr.Commit();
            }
        }
        const double limite = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.counters["recordings_per_s"] = linhas / t;
        state.counters["MB_per_s"] = bytes / 1e6 / t;
        state.counters["limit_MB_per_s"] = bytes / 1e6 / limite;
        state.counters["ratio"] = limite / t;
        state.counters["recordings"] = linhas;
    }
}
BENCHMARK(BM_Ponta)->Args({40, 1})->Args({40, 4})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
