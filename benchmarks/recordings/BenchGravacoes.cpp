// The recordings list on a unit database of 1,000,000 recordings spread over a
// year (no audio; 80 extensions, 50 of them in two groups): the first page of
// a month and the whole month read through the list model, beside the plain
// SELECT * FROM LISTAGRV(?, ?) of that month fetched to its end. The model
// asks the procedure for the newest hours first, so its first page should
// cost a small part of the plain call (target: at most 0.2 times) and the
// whole month not much more (at most 1.5 times).
//
// Needs the test server: run it through scripts/test's environment, e.g.
//   VERUZADU_FB_HOST=localhost VERUZADU_FB_USER=SYSDBA VERUZADU_FB_PASSWORD=...
//   VERUZADU_FB_DATA=/folder/owned/by/firebird build/benchmarks/recordings/bench_recordings
// The filled databases stay in $VERUZADU_FB_DATA/bench-recordings for later runs.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"
#include "console/Gravacoes.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"

namespace {

constexpr int Gravacoes = 1'000'000;
const char* const Alias = "VERUZADU_BENCH_RECORDINGS";
const DataHora InicioMes{2024, 6, 1, 0, 0, 0, 0};
const DataHora FimMes{2024, 6, 30, 23, 59, 59, 0};

class SemMensagens final : public Mensageiro {
  public:
    RespostaMensagem Mostra(TipoMensagem, const std::string& texto) override {
        std::cerr << "message: " << texto << '\n';
        return RespostaMensagem::Ok;
    }
};

struct Ambiente {
    OpcoesInstalacao o;
    SemMensagens mensagens;
    std::unique_ptr<MDados> dados;
    std::filesystem::path home;
    bool pronto = false;
    std::string erro;

    ParametrosConexao Unidade() const {
        return {MontaStringConexao(o.servidor, o.porta, (o.pastaDados / NomeArquivoBancoPABX(1)).string()),
                o.usuario, o.senha};
    }
};

std::string Env(const char* n) {
    const char* v = std::getenv(n);
    return v ? v : "";
}

void Preenche(Ambiente& a) {
    Attachment unidade = Attachment::Conecta(a.Unidade());
    std::int64_t existentes = 0;
    {
        Transaction tr(unidade, true);
        Statement st(tr, "SELECT COUNT(*) FROM GRAVACAO");
        auto c = st.Abre();
        c.Proxima();
        existentes = c.GetBigInt(0);
    }
    if (existentes >= Gravacoes) return;
    std::cerr << "filling " << Gravacoes << " recordings...\n";
    Attachment principal = Attachment::Conecta(
        {MontaStringConexao(a.o.servidor, a.o.porta, Alias), a.o.usuario, a.o.senha});
    principal.Executa("DELETE FROM GRPRAMAL");
    principal.Executa("DELETE FROM GRUPO");
    principal.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
    principal.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
    principal.Executa(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 50) DO BEGIN "
        "INSERT INTO GRPRAMAL VALUES (1 + MOD(:I, 2), CAST(300 + :I AS VARCHAR(30)), "
        "'Ramal ' || :I, 1); I = I + 1; END END");
    unidade.Executa("DELETE FROM GRAVACAO");
    // One recording every 31.536 s from 2024-01-01: a year.
    for (int bloco = 0; bloco < Gravacoes; bloco += 100'000)
        unidade.Executa(
            "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(bloco) + "; BEGIN WHILE (I < " +
            std::to_string(bloco + 100'000) +
            ") DO BEGIN INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, "
            "GRV_DATARG, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_DURACAO, GRV_TEMAUDIO, CLI_CODIGO) "
            "VALUES (:I + 1, 1, CAST(300 + MOD(:I, 80) AS VARCHAR(20)), '4830' || :I, "
            "'NOW', TIMESTAMP '2024-01-01 00:00:00' + CAST(:I AS DOUBLE PRECISION) * 31.536 / 86400, "
            "'GR\\X\\R' || :I || '.WAV', MOD(:I, 3), 60, 1, 0); I = I + 1; END END");
    unidade.Executa("SET STATISTICS INDEX IX_GRAVACAO_DATAGRV");
}

Ambiente& Prepara() {
    static Ambiente a;
    static bool feito = false;
    if (feito) return a;
    feito = true;
    try {
        if (Env("VERUZADU_FB_DATA").empty()) {
            a.erro = "VERUZADU_FB_* not set";
            return a;
        }
        a.o.servidor = Env("VERUZADU_FB_HOST").empty() ? "localhost" : Env("VERUZADU_FB_HOST");
        a.o.porta = Env("VERUZADU_FB_PORT").empty() ? 0 : std::stoi(Env("VERUZADU_FB_PORT"));
        a.o.adminUsuario = Env("VERUZADU_FB_USER").empty() ? "SYSDBA" : Env("VERUZADU_FB_USER");
        a.o.adminSenha = Env("VERUZADU_FB_PASSWORD");
        a.o.pastaDados = std::filesystem::path(Env("VERUZADU_FB_DATA")) / "bench-recordings";
        a.o.alias = Alias;
        a.o.unidades = {1};
        std::filesystem::create_directories(a.o.pastaDados);
        std::filesystem::permissions(a.o.pastaDados, std::filesystem::perms::all);
        // An alias left by a run over another data folder (scripts/test makes
        // a new one each time) is moved to this one.
        const std::string antigo = CaminhoDoAlias(a.o.arquivoAliases, Alias);
        if (!antigo.empty() && std::filesystem::path(antigo).parent_path() != a.o.pastaDados)
            RemoveAlias(a.o.arquivoAliases, Alias);
        InstalaBancos(a.o);
        Preenche(a);

        // The console's data module, pointed at these databases by its INI.
        a.home = std::filesystem::temp_directory_path() / ("bench-recordings-" + std::to_string(::getpid()));
        std::filesystem::create_directories(a.home);
        std::ofstream(a.home / "VERUZADU.INI")
            << "[BD]\nServer=\\\\" << a.o.servidor
            << (a.o.porta ? "/" + std::to_string(a.o.porta) : std::string()) << "\nAlias=" << Alias << "\n";
        ::setenv("VERUZADU_HOME", a.home.c_str(), 1);
        a.dados = std::make_unique<MDados>(a.mensagens);
        std::string erro;
        if (!a.dados->ConectaBancoDados(erro)) throw std::runtime_error(erro);
        a.dados->ConectaBasePABX(1);
        a.pronto = true;
    } catch (const std::exception& e) {
        a.erro = e.what();
    }
    return a;
}

FiltroGravacoes Mes() {
    FiltroGravacoes f;
    f.inicio = InicioMes;
    f.fim = FimMes;
    return f;
}

void BM_ListaGrvMesChamadaSimples(benchmark::State& state) {
    Ambiente& a = Prepara();
    if (!a.pronto) return state.SkipWithError(a.erro.c_str());
    std::int64_t linhas = 0;
    for (auto _ : state) {
        a.dados->ExecutaPABX([&](Transaction& tr) {
            Statement st(tr, "SELECT * FROM LISTAGRV(?, ?)");
            st.SetTimestamp(0, InicioMes).SetTimestamp(1, FimMes);
            auto c = st.Abre();
            linhas = 0;
            while (c.Proxima()) {
                benchmark::DoNotOptimize(c.GetInt(0));
                ++linhas;
            }
        });
    }
    state.counters["rows"] = static_cast<double>(linhas);
}

void BM_ModeloPrimeiraPagina(benchmark::State& state) {
    Ambiente& a = Prepara();
    if (!a.pronto) return state.SkipWithError(a.erro.c_str());
    ModeloGravacoes m(*a.dados);
    for (auto _ : state) {
        if (!m.Pesquisa(Mes(), {true, {}})) return state.SkipWithError("search failed");
        benchmark::DoNotOptimize(m.rowCount());
    }
    state.counters["rows"] = m.rowCount();
}

void BM_ModeloMesInteiro(benchmark::State& state) {
    Ambiente& a = Prepara();
    if (!a.pronto) return state.SkipWithError(a.erro.c_str());
    ModeloGravacoes m(*a.dados);
    for (auto _ : state) {
        if (!m.Pesquisa(Mes(), {true, {}})) return state.SkipWithError("search failed");
        while (m.canFetchMore({})) m.fetchMore({});
        benchmark::DoNotOptimize(m.rowCount());
    }
    state.counters["rows"] = m.rowCount();
}

}  // namespace

BENCHMARK(BM_ListaGrvMesChamadaSimples)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ModeloPrimeiraPagina)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ModeloMesInteiro)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (Prepara().pronto) {
        Prepara().dados->Desconecta();
        std::filesystem::remove_all(Prepara().home);
    }
    return 0;
}
