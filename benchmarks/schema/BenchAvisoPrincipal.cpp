// Cost of the unit database's commit trigger that relays the console's event
// to the main database (a connection to it, with a login, at every commit
// that touched GRAVACAO), against the filing it rides on: one recording row
// with 100 KB of audio, committed on its own. Measured with the trigger active
// and inactive on the same database, and with one relay per batch of 50.
//
// Needs the test server: run it in scripts/test's environment (VERUZADU_FB_*),
// e.g. after `scripts/firebird start` with the variables that
// scripts/test.d/10-firebird.sh exports, then build/benchmarks/schema/bench_aviso.

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {

struct Ambiente {
    OpcoesInstalacao o;
    ParametrosConexao unidade;
    std::string audio = std::string(100 * 1024, '\x55');
    int proximo = 1;
};

std::optional<Ambiente>& Amb() {
    static std::optional<Ambiente> a;
    return a;
}

bool Prepara() {
    auto env = [](const char* n) {
        const char* v = std::getenv(n);
        return std::string(v ? v : "");
    };
    if (env("VERUZADU_FB_HOST").empty() || env("VERUZADU_FB_DATA").empty()) {
        std::cerr << "VERUZADU_FB_* not set: run in scripts/test's environment\n";
        return false;
    }
    Ambiente a;
    a.o.servidor = env("VERUZADU_FB_HOST");
    a.o.porta = env("VERUZADU_FB_PORT").empty() ? 0 : std::atoi(env("VERUZADU_FB_PORT").c_str());
    a.o.adminUsuario = env("VERUZADU_FB_USER");
    a.o.adminSenha = env("VERUZADU_FB_PASSWORD");
    a.o.alias = "VERUZADU_BENCH_AVISO_" + std::to_string(::getpid());
    a.o.pastaDados = std::filesystem::path(env("VERUZADU_FB_DATA")) /
                     ("bench-aviso-" + std::to_string(::getpid()));
    a.o.unidades = {1};
    std::filesystem::create_directories(a.o.pastaDados);
    std::filesystem::permissions(a.o.pastaDados, std::filesystem::perms::all);
    InstalaBancos(a.o);
    a.unidade = {MontaStringConexao(a.o.servidor, a.o.porta,
                                    (a.o.pastaDados / NomeArquivoBancoPABX(1)).string()),
                 a.o.usuario, a.o.senha};
    Amb() = std::move(a);
    return true;
}

void Arquiva(benchmark::State& state, bool avisoAtivo) {
    Ambiente& a = *Amb();
    Attachment att = Attachment::Conecta(a.unidade);
    {
        // Only the database's owner may switch the trigger: the program's user is.
        Attachment dono = Attachment::Conecta(a.unidade);
        dono.Executa(std::string("ALTER TRIGGER AVISA_PRINCIPAL ") +
                     (avisoAtivo ? "ACTIVE" : "INACTIVE"));
    }
    for (auto _ : state) {
        Transaction tr(att);
        Statement st(
            tr,
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_TEMAUDIO, "
            "GRV_BINDADOS) VALUES (?, 1, CURRENT_TIMESTAMP, ?, 1, ?)");
        const int codigo = a.proximo++;
        st.SetInt(0, codigo)
            .SetText(1, "GR250101\\X0001010\\R" + std::to_string(codigo) + ".WAV")
            .SetBlob(2, a.audio);
        st.Executa();
        tr.Commit();
    }
    state.SetItemsProcessed(state.iterations());
}

// As an import files: batches of 50 recordings, each committed on its own,
// with one relay at the end of the batch.
void ArquivaEmLote(benchmark::State& state) {
    Ambiente& a = *Amb();
    Attachment att = Attachment::Conecta(a.unidade);
    att.Executa("ALTER TRIGGER AVISA_PRINCIPAL ACTIVE");
    for (auto _ : state) {
        AvisoEmLote lote(att);
        for (int i = 0; i < 50; ++i) {
            Transaction tr(att);
            Statement st(tr, "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, "
                             "GRV_IDFILE, GRV_TEMAUDIO, "
                             "GRV_BINDADOS) VALUES (?, 1, CURRENT_TIMESTAMP, ?, 1, ?)");
            const int codigo = a.proximo++;
            st.SetInt(0, codigo)
                .SetText(1, "GR250101\\X0001010\\R" + std::to_string(codigo) + ".WAV")
                .SetBlob(2, a.audio);
            st.Executa();
            tr.Commit();
        }
        lote.Encerra();
    }
    state.SetItemsProcessed(state.iterations() * 50);
}
BENCHMARK(ArquivaEmLote)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void ArquivaComAviso(benchmark::State& state) { Arquiva(state, true); }
void ArquivaSemAviso(benchmark::State& state) { Arquiva(state, false); }

BENCHMARK(ArquivaComAviso)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(ArquivaSemAviso)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!Prepara()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    try {
        RemoveAlias(Amb()->o.arquivoAliases, Amb()->o.alias);
    } catch (...) {
    }
    return 0;
}
