// Filing recordings: 2,000 rows with a 100 KB BLOB each in one transaction,
// through the database layer and through a plain loop over the client
// library's API, in the same run against the same server. The layer should
// stay within 10% of the plain loop.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables):
//   scripts/firebird start; VERUZADU_FB_...=... build/benchmarks/db/bench_db

#include "common/db/Firebird.h"

#include <benchmark/benchmark.h>
#include <firebird/Interface.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Linhas = 2000;
constexpr std::size_t TamanhoBlob = 100 * 1024;

struct Ambiente {
    ParametrosConexao params;
    std::string arquivo;
    std::string blob;
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
    a.arquivo = std::string(pasta) + "/bench-" + std::to_string(getpid()) + ".fdb";
    a.params = ParametrosConexao{
        MontaStringConexao(host, porta ? std::atoi(porta) : 3050, a.arquivo), usuario, senha};
    a.blob.resize(TamanhoBlob);
    std::mt19937 g(7);
    for (char& c : a.blob) c = static_cast<char>(g());
    Attachment::Cria(a.params).Desconecta();
    Amb() = std::move(a);
    return true;
}

// A fresh table per run, dropped after it, so every run writes into freed
// pages of the same file instead of growing it.
std::string NovaTabela(Attachment& att) {
    static int n = 0;
    const std::string nome = "GRV" + std::to_string(n++);
    att.Executa("CREATE TABLE " + nome + " (ID INTEGER NOT NULL, DADOS BLOB SUB_TYPE 0)");
    return nome;
}

void BM_Camada(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    try {
        Attachment att = Attachment::Conecta(Amb()->params);
        for (auto _ : state) {
            state.PauseTiming();
            const std::string tabela = NovaTabela(att);
            state.ResumeTiming();
            {
                Transaction tr(att);
                Statement ins(tr, "INSERT INTO " + tabela + " (ID, DADOS) VALUES (?, ?)");
                for (int i = 0; i < Linhas; ++i) ins.SetInt(0, i).SetBlob(1, Amb()->blob).Executa();
                tr.Commit();
            }
            // Once the run's statement is freed: a prepared statement keeps its table in use.
            state.PauseTiming();
            att.Executa("DROP TABLE " + tabela);
            state.ResumeTiming();
        }
    } catch (const FirebirdError& e) {
        state.SkipWithError(e.what());
    }
    state.counters["rows/s"] = benchmark::Counter(double(Linhas) * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * Linhas * std::int64_t(TamanhoBlob));
}

// The same work written straight against the client library.
void BM_ApiDireta(benchmark::State& state) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set");
        return;
    }
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    IStatus* status = master->getStatus();
    ThrowStatusWrapper st(status);
    try {
        IUtil* util = master->getUtilInterface();
        IXpbBuilder* dpb = util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, Amb()->params.usuario.c_str());
        dpb->insertString(&st, isc_dpb_password, Amb()->params.senha.c_str());
        dpb->insertString(&st, isc_dpb_lc_ctype, "UTF8");
        IAttachment* att = master->getDispatcher()->attachDatabase(
            &st, Amb()->params.banco.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
        dpb->dispose();

        IMetadataBuilder* mb = master->getMetadataBuilder(&st, 2);
        mb->setType(&st, 0, SQL_LONG);
        mb->setLength(&st, 0, 4);
        mb->setType(&st, 1, SQL_BLOB);
        mb->setLength(&st, 1, sizeof(ISC_QUAD));
        IMessageMetadata* meta = mb->getMetadata(&st);
        mb->release();
        std::vector<unsigned char> msg(meta->getMessageLength(&st));
        const unsigned offId = meta->getOffset(&st, 0), offBlob = meta->getOffset(&st, 1);
        std::memset(msg.data(), 0, msg.size());

        const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                     isc_tpb_rec_version, isc_tpb_wait};
        for (auto _ : state) {
            state.PauseTiming();
            std::string tabela;
            {
                static int n = 0;
                tabela = "API" + std::to_string(n++);
                ITransaction* ddl = att->startTransaction(&st, sizeof tpb, tpb);
                att->execute(
                    &st, ddl, 0,
                    ("CREATE TABLE " + tabela + " (ID INTEGER NOT NULL, DADOS BLOB SUB_TYPE 0)")
                        .c_str(),
                    3, nullptr, nullptr, nullptr, nullptr);
                ddl->commit(&st);
            }
            state.ResumeTiming();
            ITransaction* tr = att->startTransaction(&st, sizeof tpb, tpb);
            const std::string sql = "INSERT INTO " + tabela + " (ID, DADOS) VALUES (?, ?)";
            IStatement* ins = att->prepare(&st, tr, 0, sql.c_str(), 3, 0);
            for (int i = 0; i < Linhas; ++i) {
                ISC_QUAD id{};
                IBlob* blob = att->createBlob(&st, tr, &id, 0, nullptr);
                const char* p = Amb()->blob.data();
                std::size_t resta = Amb()->blob.size();
                while (resta > 0) {
                    const unsigned n = unsigned(std::min<std::size_t>(resta, 65535));
                    blob->putSegment(&st, n, p);
                    p += n;
                    resta -= n;
                }
                blob->close(&st);
                const ISC_LONG valor = i;
                std::memcpy(&msg[offId], &valor, sizeof valor);
                std::memcpy(&msg[offBlob], &id, sizeof id);
                ins->execute(&st, tr, meta, msg.data(), nullptr, nullptr);
            }
            ins->free(&st);
            tr->commit(&st);
            state.PauseTiming();
            {
                ITransaction* ddl = att->startTransaction(&st, sizeof tpb, tpb);
                att->execute(&st, ddl, 0, ("DROP TABLE " + tabela).c_str(), 3, nullptr, nullptr,
                             nullptr, nullptr);
                ddl->commit(&st);
            }
            state.ResumeTiming();
        }
        meta->release();
        att->detach(&st);
    } catch (const FbException& e) {
        char texto[512];
        master->getUtilInterface()->formatStatus(texto, sizeof texto, e.getStatus());
        state.SkipWithError(texto);
    }
    status->dispose();
    state.counters["rows/s"] = benchmark::Counter(double(Linhas) * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * Linhas * std::int64_t(TamanhoBlob));
}

// Several runs of each, interleaved (see main), so the server's warm-up and
// the disk's moods fall on both sides alike; compare the medians.
BENCHMARK(BM_ApiDireta)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();
BENCHMARK(BM_Camada)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string intercala = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, intercala.data());
    int n = int(args.size());
    benchmark::Initialize(&n, args.data());
    bool pronto = false;
    try {
        pronto = Prepara();
    } catch (const FirebirdError& e) {
        std::fprintf(stderr, "bench_db: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (pronto) {
        try {
            Attachment::Conecta(Amb()->params).ApagaBanco();
        } catch (const FirebirdError& e) {
            std::fprintf(stderr, "bench_db: %s\n", e.what());
        }
    }
    return 0;
}
