// A unit database's backup: 2,000 recordings of 100 KB each, backed up by the
// service's BackupBaseDados path (settings, temporary name, rename) and by a
// plain gbak -b with the same switches, in the same run against the same
// server and database. MB/s of the database file; read the medians of the
// five repetitions: the service's path should reach at least 0.9 of gbak's.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables):
//   scripts/firebird start; VERUZADU_FB_...=... build/benchmarks/db-backup/bench_db_backup

#include <benchmark/benchmark.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Processos.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "common/gbak/vekIbGbak.h"
#include "service/BackupUnidade.h"

namespace fs = std::filesystem;

namespace {

constexpr int Gravacoes = 2000;
constexpr std::size_t TamanhoGravacao = 100 * 1024;
constexpr int Codigo = 1;

struct Ambiente {
    std::string servidor;
    std::string usuario;
    std::string senha;
    std::string pastaBanco;  // on the server, "/" at the end
    fs::path trabalho;       // program folder, destination, password file
    std::uintmax_t bytes = 0;
    ParametrosConexao unidade;
    std::optional<LogServico> log;
    std::optional<BancoServico> banco;
    AlertasEmail alertas{[] { return 0; }};
    TemposLimpezaLog limpeza;

    ~Ambiente() {
        try {
            Attachment::Conecta(unidade).ApagaBanco();
        } catch (...) {
        }
        std::error_code ec;
        fs::remove_all(pastaBanco, ec);
        fs::remove_all(trabalho, ec);
    }
};

Ambiente* Amb() {
    static std::unique_ptr<Ambiente> a = []() -> std::unique_ptr<Ambiente> {
        const char* host = std::getenv("VERUZADU_FB_HOST");
        const char* usuario = std::getenv("VERUZADU_FB_USER");
        const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
        const char* dados = std::getenv("VERUZADU_FB_DATA");
        if (!host || !usuario || !senha || !dados) return nullptr;
        auto r = std::make_unique<Ambiente>();
        const char* porta = std::getenv("VERUZADU_FB_PORT");
        const int p = porta ? std::atoi(porta) : 3050;
        r->servidor = p == 3050 ? host : std::string(host) + "/" + std::to_string(p);
        r->usuario = usuario;
        r->senha = senha;
        r->pastaBanco = std::string(dados) + "/bench-backup-" + std::to_string(getpid()) + "/";
        fs::create_directories(r->pastaBanco);
        if (const passwd* pw = getpwnam("firebird"))
            if (chown(r->pastaBanco.c_str(), pw->pw_uid, pw->pw_gid) != 0) return nullptr;
        r->trabalho = fs::temp_directory_path() / ("bench-backup-" + std::to_string(getpid()));
        fs::create_directories(r->trabalho / "destino");
        fs::create_directories(r->trabalho / "PABX001");

        r->unidade = {MontaStringConexao(host, p, r->pastaBanco + "GRVPAB001.FDB"), usuario, senha};
        Attachment att = Attachment::Cria(r->unidade);
        ExecutaScript(att, ScriptBancoPABX());
        std::string dadosGravacao(TamanhoGravacao, '\0');
        std::mt19937 g(3);
        {
            Transaction tr(att);
            Statement st(tr,
                         "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                         "GRV_BINDADOS) VALUES (?, 1, ?, ?, ?)");
            for (int i = 1; i <= Gravacoes; ++i) {
                for (char& c : dadosGravacao) c = static_cast<char>(g());
                st.SetInt(0, i).SetTimestamp(1, DataHora{2026, 1, 1 + i % 28, i % 24, i % 60, 0});
                st.SetText(2, "R" + std::to_string(i) + ".WAV").SetBlob(3, dadosGravacao);
                st.Executa();
            }
            tr.Commit();
        }
        att.Desconecta();
        r->bytes = fs::file_size(r->pastaBanco + "GRVPAB001.FDB");

        IniFile ini(r->trabalho / "VERUZADU.INI");
        ini.WriteString("BD", "Server", r->servidor);
        r->log.emplace(r->trabalho);
        r->banco.emplace(*r->log, ParametrosBDServico{
                                      r->servidor,
                                      MontaStringConexao(host, p, r->pastaBanco + "GRVPAB001.FDB"),
                                      usuario, senha});
        return r;
    }();
    return a.get();
}

void BM_BackupBaseDados(benchmark::State& state) {
    Ambiente* a = Amb();
    if (!a) {
        state.SkipWithError("no test server (VERUZADU_FB_* variables)");
        return;
    }
    ContextoBackupUnidade c;
    c.codigo = Codigo;
    c.pastaPABX = (a->trabalho / "PABX001").string();
    c.arquivoIni = a->trabalho / "VERUZADU.INI";
    c.baseDadosPABX = a->unidade;
    c.banco = &*a->banco;
    auto cfg = std::make_shared<ConfiguracaoGeral>();
    cfg->CFG_DBBACKUP = 1;
    cfg->CFG_DBDSTPATH = (a->trabalho / "destino").string();
    c.configuracao = cfg;
    c.alertas = &a->alertas;
    c.limpeza = &a->limpeza;
    BackupUnidade u(c);
    for (auto _ : state)
        if (!u.BackupBaseDados()) state.SkipWithError("backup failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a->bytes));
}

void BM_GbakPuro(benchmark::State& state) {
    Ambiente* a = Amb();
    if (!a) {
        state.SkipWithError("no test server (VERUZADU_FB_* variables)");
        return;
    }
    const fs::path senha = a->trabalho / "senha";
    {
        std::ofstream(senha) << a->senha;
        fs::permissions(senha, fs::perms::owner_read | fs::perms::owner_write);
    }
    const fs::path status = a->trabalho / "PABX001" / "puro.txt";
    const fs::path saida = a->trabalho / "destino" / "puro.gbk";
    for (auto _ : state) {
        fs::remove(status);
        const auto r = ExecutaProcesso(
            {PastaBinFirebird(IniFile("/nonexistent")) + "gbak", "-b", "-user", a->usuario,
             "-fetch_password", senha.string(), "-tra", "-y", status.string(), "-ver",
             a->servidor + ":" + a->pastaBanco + "GRVPAB001.FDB", saida.string()});
        if (!r.Sucesso()) state.SkipWithError("gbak failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a->bytes));
}

BENCHMARK(BM_GbakPuro)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackupBaseDados)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
