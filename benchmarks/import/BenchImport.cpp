// Filing of recordings: N three-minute 8 kHz A-law recordings filed into a
// scratch unit database as PCM, Ogg, encrypted PCM and encrypted Ogg, and in
// the same run the yardsticks the stages are held against:
//   - PCM filing ÷ the plain insert of the same PCM bytes as GRAVACAO BLOB
//     rows through the database layer (64 KB segments, commit per row, one
//     connection), to be at least 0.8;
//   - the Ogg encoder in audio seconds per CPU second, at least 100;
//   - the encryption stage (file to file) ÷ des-ede3-cbc over the same bytes
//     in memory, at least 0.8.
// The figures are printed after the benchmarks.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables):
//   scripts/firebird start; VERUZADU_FB_...=... build/benchmarks/import/bench_import
// BENCH_IMPORT_N sets N (default 10).

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/ArquivoCriptografado.h"
#include "common/CifraTexto.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "service/download/ArquivamentoGravacao.h"
#include "service/download/ConversaoAudio.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

constexpr int Segundos = 180;

struct Ambiente {
    ParametrosConexao params;
    fs::path pasta;  // scratch folder: store, working folder
    fs::path pastaPABX;
    std::vector<fs::path> wavs;
    std::string pcm;  // one PCM copy's bytes, for the yardsticks
    std::uint64_t bytesALaw = 0;
};

std::optional<Ambiente>& Amb() {
    static std::optional<Ambiente> a;
    return a;
}

std::string Le(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

bool Prepara() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* dados = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !dados) return false;
    const int n = std::getenv("BENCH_IMPORT_N") ? std::atoi(std::getenv("BENCH_IMPORT_N")) : 10;

    Ambiente a;
    const std::string arquivo =
        std::string(dados) + "/bench-import-" + std::to_string(getpid()) + ".fdb";
    a.params = {MontaStringConexao(host, porta ? std::atoi(porta) : 3050, arquivo), usuario, senha};
    Attachment att = Attachment::Cria(a.params, "WIN1252");
    ExecutaScript(att, ScriptBancoPABX());
    att.Desconecta();

    std::string modelo = (fs::temp_directory_path() / "bench-import-XXXXXX").string();
    if (!::mkdtemp(modelo.data())) return false;
    a.pasta = modelo;
    a.pastaPABX = a.pasta / "PABX001";
    // Three-minute recordings of a voice-like signal, each with its description.
    const fs::path loja = a.pastaPABX / "baixados" / "GR101024" / "X0001001";
    fs::create_directories(loja);
    std::mt19937 rng(11);
    std::normal_distribution<double> ruido(0, 400);
    const std::uint32_t bytes = Segundos * 8000;
    for (int i = 0; i < n; ++i) {
        char nome[16];
        std::snprintf(nome, sizeof nome, "R%07d", i + 1);
        pabxsim::Bytes h = pabxsim::ALawWavHeader(bytes);
        std::string wav(h.begin(), h.end());
        const double f = 300 + 50 * i;
        for (std::uint32_t k = 0; k < bytes; ++k) {
            const double t = k / 8000.0;
            const double v =
                (0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * t)) * 6000 * std::sin(2 * M_PI * f * t) +
                ruido(rng);
            wav.push_back(static_cast<char>(pabxsim::LinearToALaw(static_cast<std::int16_t>(v))));
        }
        std::ofstream(loja / (std::string(nome) + ".WAV"), std::ios::binary) << wav;
        std::ofstream(loja / (std::string(nome) + ".XML"), std::ios::binary)
            << "<gravacao><ramalcomanda>1001</ramalcomanda><ramalgravado>1001</ramalgravado>"
               "<nomedestino>1002</nomedestino><codconta></codconta><tipoligacao>INTERNA</"
               "tipoligacao>"
               "<iniciogravacao>"
            << 1728550000 + i << "</iniciogravacao><audio>sim</audio></gravacao>";
        a.wavs.push_back(loja / (std::string(nome) + ".WAV"));
        a.bytesALaw += wav.size();
    }
    ConverteALawParaPCM(a.wavs[0], a.pasta / "pcm.wav", TabelaALaw(8));
    a.pcm = Le(a.pasta / "pcm.wav");
    Amb() = std::move(a);
    return true;
}

void LimpaLinhas() {
    Attachment att = Attachment::Conecta(Amb()->params);
    att.Executa("DELETE FROM GRAVACAO");
    att.Desconecta();
}

// Mode bits: 1 Ogg, 2 encrypted.
void BM_Arquiva(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    const int modo = static_cast<int>(state.range(0));
    auto cfg = std::make_shared<ConfiguracaoGeral>();
    cfg->CFG_CONVERTOGG = modo & 1;
    cfg->CFG_CRIPTOGRAFIA = (modo & 2) ? 1 : 0;
    cfg->CFG_CRIPTOKEY = (modo & 2) ? CriptografaTexto("Conexão") : "";
    ContextoArquivamento c;
    c.CodigoPABX = 1;
    c.PastaPABX = Amb()->pastaPABX;
    c.BaseDadosPABX = Amb()->params;
    c.BaseDadosPrincipal = Amb()->params;
    c.Tabela = TabelaALaw(8);
    c.Configuracao = [cfg] { return std::shared_ptr<const ConfiguracaoGeral>(cfg); };
    try {
        ArquivamentoGravacao a(std::move(c));
        for (auto _ : state) {
            state.PauseTiming();
            LimpaLinhas();
            state.ResumeTiming();
            ContadoresArquivamento cont;
            for (const auto& w : Amb()->wavs)
                if (a.Registra(w.parent_path(), w.filename().string(), cont) != 0) {
                    state.SkipWithError("filing failed");
                    return;
                }
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const double n = static_cast<double>(state.iterations() * Amb()->wavs.size());
    state.counters["gravacoes/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * Amb()->bytesALaw) / 1e6,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Arquiva)
    ->ArgName("modo")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The plain insert of the same PCM bytes: what filing a PCM copy costs the
// database alone.
void BM_InsercaoSimples(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    try {
        Attachment att = Attachment::Conecta(Amb()->params);
        const std::string& pcm = Amb()->pcm;
        int id = 0;
        for (auto _ : state) {
            state.PauseTiming();
            LimpaLinhas();
            state.ResumeTiming();
            for (std::size_t i = 0; i < Amb()->wavs.size(); ++i) {
                Transaction tr(att);
                Statement st(tr, "INSERT INTO GRAVACAO "
                                 "(GRV_CODIGO,PAB_CODIGO,GRV_DATAGRV,GRV_IDFILE,GRV_BINDADOS) "
                                 "VALUES (GEN_ID(GEN_GRV_ID,1),2,?,?,?)");
                BlobWriter blob(tr);
                for (std::size_t p = 0; p < pcm.size(); p += 65536)
                    blob.Escreve(pcm.data() + p, std::min<std::size_t>(65536, pcm.size() - p));
                st.SetTimestamp(0, DataHora{2024, 10, 10, 0, 0, 0, 0})
                    .SetText(1, "X" + std::to_string(++id));
                st.SetBlobId(2, blob.Fecha());
                st.Executa();
                tr.Commit();
            }
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["gravacoes/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * Amb()->wavs.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InsercaoSimples)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Ogg(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    for (auto _ : state)
        ConverteWAVParaOgg(Amb()->pasta / "pcm.wav", Amb()->pasta / "x.ogg", {"a", "b", "c", "d"});
    state.counters["audio_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * Segundos));
}
BENCHMARK(BM_Ogg)->Unit(benchmark::kMillisecond);

void BM_Criptografia(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    for (auto _ : state)
        CriptografaArquivoDad(Amb()->pasta / "pcm.wav", Amb()->pasta / "x.dad", "Conexao");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Amb()->pcm.size()));
}
BENCHMARK(BM_Criptografia)->UseRealTime()->Unit(benchmark::kMillisecond);

// des-ede3-cbc over the same bytes in memory: the cipher alone.
void BM_DesEde3Cbc(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    const std::string& p = Amb()->pcm;
    std::vector<unsigned char> saida(p.size() + 16);
    const unsigned char chave[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                     11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    const unsigned char iv[8] = {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    for (auto _ : state) {
        EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, chave, iv);
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        int n = 0;
        EVP_EncryptUpdate(ctx.get(), saida.data(), &n,
                          reinterpret_cast<const unsigned char*>(p.data()),
                          static_cast<int>(p.size() / 8 * 8));
        benchmark::DoNotOptimize(saida.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.size()));
}
BENCHMARK(BM_DesEde3Cbc)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration (real and CPU, seconds) for the summary.
class Coletor : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.error_occurred || r.iterations == 0) continue;
            const double it = static_cast<double>(r.iterations);
            tempos[r.benchmark_name()] = {r.real_accumulated_time / it,
                                          r.cpu_accumulated_time / it};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> tempos;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    try {
        if (!Prepara()) std::cerr << "VERUZADU_FB_* not set: the database benchmarks are skipped\n";
    } catch (const std::exception& e) {
        std::cerr << "preparing: " << e.what() << "\n";
    }
    Coletor coletor;
    benchmark::RunSpecifiedBenchmarks(&coletor);

    auto t = [&](const std::string& prefixo) -> std::optional<std::pair<double, double>> {
        for (const auto& [nome, v] : coletor.tempos)
            if (nome.rfind(prefixo, 0) == 0) return v;
        return std::nullopt;
    };
    if (Amb()) {
        const double n = static_cast<double>(Amb()->wavs.size());
        std::printf("\n%zu recordings of %d s (%.1f MB of A-law)\n", Amb()->wavs.size(), Segundos,
                    static_cast<double>(Amb()->bytesALaw) / 1e6);
        const char* nomes[] = {"PCM", "Ogg", "PCM cifrado", "Ogg cifrado"};
        for (int m = 0; m < 4; ++m)
            if (auto v = t("BM_Arquiva/modo:" + std::to_string(m)))
                std::printf("  %-12s %7.2f gravacoes/s %8.2f MB/s\n", nomes[m], n / v->first,
                            static_cast<double>(Amb()->bytesALaw) / 1e6 / v->first);
        auto pcm = t("BM_Arquiva/modo:0"), simples = t("BM_InsercaoSimples");
        if (pcm && simples)
            std::printf("PCM filing / plain BLOB insert of the same bytes: %.2f (target >= 0.8)\n",
                        simples->first / pcm->first);
        if (auto ogg = t("BM_Ogg"))
            std::printf("Ogg encoder: %.0f audio seconds per CPU second (target >= 100)\n",
                        Segundos / ogg->second);
        auto cripto = t("BM_Criptografia"), des = t("BM_DesEde3Cbc");
        if (cripto && des)
            std::printf("Encryption stage / des-ede3-cbc on the same bytes: %.2f (target >= 0.8)\n",
                        des->first / cripto->first);
        try {
            Attachment::Conecta(Amb()->params).ApagaBanco();
        } catch (...) {
        }
        std::error_code ec;
        fs::remove_all(Amb()->pasta, ec);
    }
    benchmark::Shutdown();
    return 0;
}
