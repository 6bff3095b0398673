// Search of a unit's recordings through LISTAGRV on a database of 1,000,000
// recordings spread over a year (no audio) with 50 group rows in the main
// database: one day and one month. The counters show how many GRAVACAO rows
// each search read sequentially (0: the period's index did the work) and
// through an index.
//
// Needs the test server: run it through scripts/test's environment, e.g.
//   VERUZADU_FB_HOST=localhost VERUZADU_FB_USER=SYSDBA VERUZADU_FB_PASSWORD=...
//   VERUZADU_FB_DATA=/folder/owned/by/firebird build/benchmarks/schema/bench_schema
// The filled databases stay in $VERUZADU_FB_DATA/bench-schema for later runs.

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

constexpr int Gravacoes = 1'000'000;
const char* const Alias = "VERUZADU_BENCH_SCHEMA";

struct Ambiente {
    OpcoesInstalacao o;
    bool pronto = false;
    std::string erro;

    ParametrosConexao Unidade() const {
        return {MontaStringConexao(o.servidor, o.porta,
                                   (o.pastaDados / NomeArquivoBancoPABX(1)).string()),
                o.usuario, o.senha};
    }
};

Ambiente& Prepara() {
    static Ambiente ambiente = [] {
        Ambiente a;
        auto env = [](const char* n) {
            const char* v = std::getenv(n);
            return std::string(v ? v : "");
        };
        if (env("VERUZADU_FB_DATA").empty()) {
            a.erro = "VERUZADU_FB_* not set";
            return a;
        }
        a.o.servidor = env("VERUZADU_FB_HOST").empty() ? "localhost" : env("VERUZADU_FB_HOST");
        a.o.porta = env("VERUZADU_FB_PORT").empty() ? 0 : std::stoi(env("VERUZADU_FB_PORT"));
        a.o.adminUsuario = env("VERUZADU_FB_USER").empty() ? "SYSDBA" : env("VERUZADU_FB_USER");
        a.o.adminSenha = env("VERUZADU_FB_PASSWORD");
        a.o.pastaDados = std::filesystem::path(env("VERUZADU_FB_DATA")) / "bench-schema";
        a.o.alias = Alias;
        a.o.unidades = {1};
        std::filesystem::create_directories(a.o.pastaDados);
        std::filesystem::permissions(a.o.pastaDados, std::filesystem::perms::all);
        InstalaBancos(a.o);

        Attachment unidade = Attachment::Conecta(a.Unidade());
        std::int64_t existentes = 0;
        {
            Transaction tr(unidade, true);
            Statement st(tr, "SELECT COUNT(*) FROM GRAVACAO");
            auto c = st.Abre();
            c.Proxima();
            existentes = c.GetBigInt(0);
        }
        if (existentes < Gravacoes) {
            std::cerr << "filling " << Gravacoes << " recordings...\n";
            Attachment principal = Attachment::Conecta(
                {MontaStringConexao(a.o.servidor, a.o.porta, Alias), a.o.usuario, a.o.senha});
            principal.Executa("DELETE FROM GRPRAMAL");
            principal.Executa("DELETE FROM GRUPO");
            principal.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
            principal.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
            // 50 group rows: extensions 300-349, half in each group.
            principal.Executa(
                "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 50) DO BEGIN "
                "INSERT INTO GRPRAMAL VALUES (1 + MOD(:I, 2), CAST(300 + :I AS VARCHAR(30)), "
                "'Ramal ' || :I, 1); I = I + 1; END END");
            unidade.Executa("DELETE FROM GRAVACAO");
            // One recording every 31.536 s from 2024-01-01: a year; 80 extensions, 50 of them
            // grouped.
            for (int bloco = 0; bloco < Gravacoes; bloco += 100'000) {
                unidade.Executa(
                    "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(bloco) +
                    "; BEGIN WHILE (I < " + std::to_string(bloco + 100'000) +
                    ") DO BEGIN INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, "
                    "GRV_DESTINO, "
                    "GRV_DATARG, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_DURACAO, GRV_TEMAUDIO, "
                    "CLI_CODIGO) "
                    "VALUES (GEN_ID(GEN_GRV_ID, 1), 1, CAST(300 + MOD(:I, 80) AS VARCHAR(20)), "
                    "'4830' || :I, "
                    "'NOW', TIMESTAMP '2024-01-01 00:00:00' + CAST(:I AS DOUBLE PRECISION) * "
                    "31.536 / 86400, "
                    "'GR\\X\\R' || :I || '.WAV', MOD(:I, 3), 60, 0, 0); I = I + 1; END END");
            }
            unidade.Executa("SET STATISTICS INDEX IX_GRAVACAO_DATAGRV");
        }
        a.pronto = true;
        return a;
    }();
    return ambiente;
}

// GRAVACAO rows this attachment has read so far, sequentially and by index.
std::pair<std::int64_t, std::int64_t> Leituras(Attachment& att) {
    Transaction tr(att, true);
    Statement st(
        tr,
        "SELECT COALESCE(SUM(s.MON$RECORD_SEQ_READS), 0), COALESCE(SUM(s.MON$RECORD_IDX_READS), 0) "
        "FROM MON$TABLE_STATS t JOIN MON$RECORD_STATS s ON s.MON$STAT_ID = t.MON$RECORD_STAT_ID "
        "JOIN MON$ATTACHMENTS a ON a.MON$STAT_ID = t.MON$STAT_ID "
        "WHERE t.MON$STAT_GROUP = 1 AND t.MON$TABLE_NAME = 'GRAVACAO' "
        "AND a.MON$ATTACHMENT_ID = CURRENT_CONNECTION");
    auto c = st.Abre();
    c.Proxima();
    return {c.GetBigInt(0), c.GetBigInt(1)};
}

void Busca(benchmark::State& state, DataHora ini, DataHora fim) {
    Ambiente& a = Prepara();
    if (!a.pronto) {
        state.SkipWithError(a.erro.c_str());
        return;
    }
    Attachment att = Attachment::Conecta(a.Unidade());
    std::int64_t linhas = 0;
    auto antes = Leituras(att);
    for (auto _ : state) {
        Transaction tr(att, true);
        Statement st(tr, "SELECT * FROM LISTAGRV(?, ?)");
        st.SetTimestamp(0, ini).SetTimestamp(1, fim);
        auto c = st.Abre();
        linhas = 0;
        while (c.Proxima()) {
            benchmark::DoNotOptimize(c.GetInt(0));
            ++linhas;
        }
    }
    auto depois = Leituras(att);
    const double n = static_cast<double>(state.iterations());
    state.counters["rows"] = static_cast<double>(linhas);
    state.counters["seq_reads"] = static_cast<double>(depois.first - antes.first) / n;
    state.counters["idx_reads"] = static_cast<double>(depois.second - antes.second) / n;
}

void BM_ListaGrvUmDia(benchmark::State& state) {
    Busca(state, DataHora{2024, 6, 10, 0, 0, 0, 0}, DataHora{2024, 6, 10, 23, 59, 59, 0});
}
void BM_ListaGrvUmMes(benchmark::State& state) {
    Busca(state, DataHora{2024, 6, 1, 0, 0, 0, 0}, DataHora{2024, 6, 30, 23, 59, 59, 0});
}

}  // namespace

BENCHMARK(BM_ListaGrvUmDia)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListaGrvUmMes)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_MAIN();
