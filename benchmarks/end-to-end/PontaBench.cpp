// End to end: a store of recordings of 3 minutes of 8 kHz A-law each, taken
// by one pelmoran run from simulated units (control link plus the Python FTP
// server) into their databases, timed from the first session's start (its
// log line) to the last import's end (the statistics rows). The limit it is set
// against is measured in the same process: the plain insert of the same rows
// the run filed (the same audio bytes as GRAVACAO BLOBs where the run stored
// audio, none where it did not) through the database layer, one transaction
// per row as the filing does. Runs and plain inserts alternate in pairs
// (benchmarks/Intercalado.h); the figure is plain time / run time.
// Arguments: recordings per unit and units (default 40 1; MaxPABX is the
// number of units).
//
// Run it with benchmarks/run (server variables as for the tests).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "benchmarks/Intercalado.h"
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
        audio.push_back(static_cast<char>(pabxsim::LinearToALaw(
            static_cast<std::int16_t>(6000 * std::sin(i * 0.35) + (i * 7919 % 600)))));
    for (const auto& e : fs::recursive_directory_iterator(loja))
        if (e.is_regular_file() && e.path().extension() == ".WAV" && fs::file_size(e.path()) > 0)
            Grava(e.path(), audio);
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
        if (std::sscanf(l.c_str(), "%d/%d/%d %d:%d:%d %d", &d.dia, &d.mes, &d.ano, &d.hora,
                        &d.minuto, &d.segundo, &d.milissegundo) == 7) {
            d.ano += 2000;
            return d;
        }
    }
    return {};
}

double Segundos(const DataHora& a, const DataHora& b) {
    return static_cast<double>(SegundosDesdeEpoca(b) - SegundosDesdeEpoca(a)) +
           (b.milissegundo - a.milissegundo) / 1000.0;
}

struct Rodada {
    double segundos = 0;
    std::vector<ponta::Linha> linhas;
};

// One whole service run over fresh units and databases.
Rodada Roda(int n, int unidades, int vez) {
    std::vector<int> codigos;
    for (int c = 1; c <= unidades; ++c) codigos.push_back(c);
    ponta::Ambiente a("bench" + std::to_string(unidades) + "v" + std::to_string(vez), codigos);
    if (!a.Pronto()) throw std::runtime_error("no test server (VERUZADU_FB_* not set)");
    std::vector<std::unique_ptr<ponta::Unidade>> us;
    for (int c : codigos) {
        us.push_back(std::make_unique<ponta::Unidade>(c, n, 900 + c));
        TresMinutos(us.back()->loja);
    }
    a.EscreveINI({{"Veruzadu", "MaxPABX", std::to_string(unidades)}});
    for (auto& u : us) a.Registra(*u);
    if (!a.RodaAteCarimbar(codigos, 1800s)) throw std::runtime_error("run did not end");
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
    Rodada r;
    for (int cod : codigos)
        for (auto& l : a.Linhas(cod)) r.linhas.push_back(std::move(l));
    if (const char* pasta = std::getenv("VERUZADU_BENCH_LOGS"); pasta && *pasta)
        Grava(fs::path(pasta) / ("ponta-" + std::to_string(unidades) + ".log"), a.Logs());
    r.segundos = Segundos(ini, fim);
    return r;
}

// The plain inserts of the rows a run filed, into a database of their own.
double InsercaoSimples(const std::vector<ponta::Linha>& linhas, int vez) {
    ponta::Ambiente a("benchplain" + std::to_string(vez), {1});
    if (!a.Pronto()) throw std::runtime_error("no test server (VERUZADU_FB_* not set)");
    Attachment att = Attachment::Conecta(a.inst.Unidade(1));
    const auto t0 = std::chrono::steady_clock::now();
    int i = 0;
    for (const auto& l : linhas) {
        Transaction tr(att);
        Statement st(
            tr, "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                "GRV_TEMAUDIO, GRV_BINDADOS) VALUES (GEN_ID(GEN_GRV_ID, 1), 999, 'NOW', ?, ?, ?)");
        st.SetText(0, "bench" + std::to_string(i++)).SetInt(1, l.temAudio ? 1 : 0);
        if (l.temAudio && !l.audio.empty()) {
            BlobWriter b(tr);
            for (std::size_t p = 0; p < l.audio.size(); p += TamanhoSegmentoBlob)
                b.Escreve(l.audio.data() + p, std::min(TamanhoSegmentoBlob, l.audio.size() - p));
            st.SetBlobId(2, b.Fecha());
        } else {
            st.SetNull(2);
        }
        st.Executa();
        tr.Commit();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace intercalado;
    const int n = argc > 1 ? std::atoi(argv[1]) : 40, unidades = argc > 2 ? std::atoi(argv[2]) : 1;
    try {
        std::vector<double> plano, rodada;
        Rodada ultima = Roda(n, unidades, 0);  // warm-up, and the rows of the first plain side
        const int pares = Pares();
        for (int i = 0; i < pares; ++i) {
            if (i % 2 == 0) {
                ultima = Roda(n, unidades, i + 1);
                rodada.push_back(ultima.segundos * 1000);
                plano.push_back(InsercaoSimples(ultima.linhas, i + 1) * 1000);
            } else {
                plano.push_back(InsercaoSimples(ultima.linhas, i + 1) * 1000);
                ultima = Roda(n, unidades, i + 1);
                rodada.push_back(ultima.segundos * 1000);
            }
        }
        std::size_t comAudio = 0;
        for (const auto& l : ultima.linhas) comAudio += l.temAudio ? 1 : 0;
        Relata("end to end (" + std::to_string(n) + " recordings x " + std::to_string(unidades) +
                   " units): plain inserts / service run",
               "plain inserts of the same rows", "service run", plano, rodada, {Meta::Nenhuma, 0});
        std::printf("  rows: %zu, with audio: %zu\n", ultima.linhas.size(), comAudio);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_end_to_end: %s\n", e.what());
        return 1;
    }
    return 0;
}
