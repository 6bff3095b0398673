// A run's statistics row is rewritten after every filed recording (kind 11),
// so its cost is paid once per recording. Compared in the same run against
// the same server: BDRegistraHistoricoDownload, and the same UPDATE prepared
// once and committed after each execution on one open connection (the
// fastest a single writer can do). Target: at least half the plain rate.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "service/download/PABXDownloadFTP.h"

namespace {

std::string LeArquivo(const std::string& caminho) {
    std::ifstream f(caminho, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A scratch folder for the run's import log, removed at the end.
struct PastaTemporaria {
    std::filesystem::path caminho;
    PastaTemporaria() {
        std::string modelo = "/tmp/bench-historico-XXXXXX";
        if (::mkdtemp(modelo.data()) == nullptr) std::abort();
        caminho = modelo;
    }
    ~PastaTemporaria() {
        std::error_code ec;
        std::filesystem::remove_all(caminho, ec);
    }
    const std::filesystem::path& Caminho() const { return caminho; }
};

struct Ambiente {
    ParametrosConexao params;
    std::string host;
};

std::optional<Ambiente>& Amb() {
    static std::optional<Ambiente> a;
    return a;
}

bool Prepara() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* pasta = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !pasta) return false;
    Ambiente a;
    const std::string arquivo =
        std::string(pasta) + "/bench-historico-" + std::to_string(getpid()) + ".fdb";
    a.params = ParametrosConexao{MontaStringConexao(host, porta ? std::atoi(porta) : 3050, arquivo),
                                 usuario, senha};
    a.host = host;
    Attachment att = Attachment::Cria(a.params, "WIN1252");
    ExecutaScript(att, LeArquivo(std::string(VERUZADU_SOURCE_DIR) + "/common/db/sql/veruzadu.sql"));
    att.Executa("INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_RESULTADO, DWN_OPERATUAL) "
                "VALUES (1, '2026-12-10 08:00:00', 0, 15)");
    att.Desconecta();
    Amb() = std::move(a);
    return true;
}

void Limpa() {
    if (!Amb()) return;
    try {
        Attachment::Conecta(Amb()->params).ApagaBanco();
    } catch (...) {
    }
}

void BM_RegistraHistoricoDownload(benchmark::State& state) {
    if (!Amb()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho());
    BancoServico banco(log, ParametrosBDServico{Amb()->host, Amb()->params.banco,
                                                Amb()->params.usuario, Amb()->params.senha});
    AlertasEmail alertas([] { return 0; });
    RelogioSistema relogio;
    TPABXDownloadFTP t(1, AmbienteDownload{log, banco, alertas, relogio, {}},
                       std::make_shared<const ConfiguracaoServico>());
    t.PastaPABX = pasta.Caminho().string() + "/";
    t.Historico.DWN_DTINIDOWN = DataHora{2026, 12, 10, 8, 0, 0, 0};
    t.Historico.DWN_OPERATUAL = 15;
    for (auto _ : state) {
        ++t.Historico.DWN_ARQIMPORTADO;
        if (!t.BDRegistraHistoricoDownload(HistoricoImportados))
            return state.SkipWithError("update failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_UpdateDireto(benchmark::State& state) {
    if (!Amb()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    Attachment att = Attachment::Conecta(Amb()->params);
    Transaction tr(att);
    Statement st(tr,
                 "UPDATE DWNHISTORY SET DWN_OPERATUAL = ?, DWN_RESULTADO = ?, DWN_ARQCONVOGG = ?, "
                 "DWN_ARQIMPORTADO = ?, DWN_FALHASOGG = ?, DWN_FALHASXML = ?, DWN_FALHASIMP = ?, "
                 "DWN_AVDUPIMP = ? WHERE PAB_CODIGO = ? AND DWN_DTINIDOWN = ?");
    int n = 0;
    for (auto _ : state) {
        st.SetInt(0, 15).SetInt(1, 0).SetInt(2, 0).SetInt(3, ++n).SetInt(4, 0).SetInt(5, 0).SetInt(
            6, 0);
        st.SetInt(7, 0).SetInt(8, 1).SetTimestamp(9, DataHora{2026, 12, 10, 8, 0, 0, 0});
        st.Executa();
        tr.CommitRetaining();
    }
    tr.Commit();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_RegistraHistoricoDownload)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_UpdateDireto)->MinTime(3.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const bool pronto = Prepara();
    if (!pronto) std::fprintf(stderr, "bench_historico: no test server, benchmarks skipped\n");
    benchmark::RunSpecifiedBenchmarks();
    Limpa();
    benchmark::Shutdown();
    return 0;
}
