// The contact files with 20,000 contacts of 2 phones each, against the same
// server in the same run:
//  - BM_ExportaAgenda (both formats, into memory) against BM_LeituraDireta,
//    one SELECT each of CLIENTE and TELEFONE fetched to the end. Target: the
//    export takes at most twice the plain reading.
//  - BM_ImportaAgenda (a Vostrel file parsed, stored in one transaction,
//    then its recordings linked in the database's GRAVACAO) against
//    BM_InsercaoDireta, the same 60,000 rows inserted with bound values in
//    one transaction. Target: at most three times the plain inserts.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "console/AgendaArquivo.h"
#include "console/AgendaContatos.h"

namespace {

constexpr int Contatos = 20000;

std::string LeArquivo(const std::string& caminho) {
    std::ifstream f(caminho, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::optional<ParametrosConexao>& Banco() {
    static std::optional<ParametrosConexao> p;
    return p;
}

std::string Nome(int i) {
    char b[48];
    std::snprintf(b, sizeof b, "Contato %05d Comercial Ltda", i);
    return b;
}

void Esvazia(Attachment& att) {
    att.Executa("DELETE FROM TELEFONE");
    att.Executa("DELETE FROM CLIENTE");
}

// The sample rows: every contact with a full address and two phones.
void Preenche(Attachment& att) {
    Esvazia(att);
    Transaction tr(att);
    Statement c(tr,
                "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, CLI_ENDERECO, "
                "CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, CLI_CONTATO, CLI_EMAIL) "
                "VALUES (?, ?, '11222333000181', 'Rua das Flores', '100', 'Centro', '88000000', "
                "'Florianópolis', 'SC', 'Ana Souza', 'contato@exemplo.com.br')");
    Statement t(tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
    for (int i = 1; i <= Contatos; ++i) {
        c.SetInt(0, i).SetText(1, Nome(i));
        c.Executa();
        t.SetInt(0, i).SetText(1, "4833" + std::to_string(100000 + i)).SetInt(2, 1);
        t.Executa();
        t.SetInt(0, i).SetText(1, "4899" + std::to_string(1000000 + i)).SetInt(2, 0);
        t.Executa();
    }
    tr.Commit();
}

bool Prepara() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* pasta = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !pasta) return false;
    const std::string arquivo =
        std::string(pasta) + "/bench-contatos-" + std::to_string(getpid()) + ".fdb";
    ParametrosConexao p{MontaStringConexao(host, porta ? std::atoi(porta) : 3050, arquivo), usuario,
                        senha};
    Attachment att = Attachment::Cria(p, "WIN1252");
    ExecutaScript(att, LeArquivo(std::string(VERUZADU_SOURCE_DIR) + "/common/db/sql/veruzadu.sql"));
    att.Desconecta();
    Banco() = p;
    return true;
}

void Limpa() {
    if (!Banco()) return;
    try {
        Attachment::Conecta(*Banco()).ApagaBanco();
    } catch (...) {
    }
}

class DestinoMemoria final : public DestinoAgenda {
  public:
    void Escreve(std::string_view b) override { bytes += b; }
    void Conclui() override {}
    std::string bytes;
};

void BM_ExportaAgenda(benchmark::State& state) {
    if (!Banco()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    Attachment att = Attachment::Conecta(*Banco());
    Preenche(att);
    const auto formato = static_cast<FormatoAgenda>(state.range(0));
    std::size_t bytes = 0;
    for (auto _ : state) {
        DestinoMemoria d;
        Transaction tr(att, true, Isolamento::Instantaneo);
        ExportaAgenda(tr, formato, "48", d);
        tr.Commit();
        bytes = d.bytes.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * Contatos);
}

void BM_LeituraDireta(benchmark::State& state) {
    if (!Banco()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    Attachment att = Attachment::Conecta(*Banco());
    Preenche(att);
    for (auto _ : state) {
        Transaction tr(att, true, Isolamento::Instantaneo);
        std::size_t n = 0;
        {
            Statement st(tr, "SELECT * FROM CLIENTE");
            auto c = st.Abre();
            while (c.Proxima()) n += c.GetText(1).size();
        }
        {
            Statement st(tr, "SELECT * FROM TELEFONE");
            auto c = st.Abre();
            while (c.Proxima()) n += c.GetText(1).size();
        }
        tr.Commit();
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * Contatos);
}

void BM_ImportaAgenda(benchmark::State& state) {
    if (!Banco()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    Attachment att = Attachment::Conecta(*Banco());
    Preenche(att);
    DestinoMemoria arquivo;
    {
        Transaction tr(att, true, Isolamento::Instantaneo);
        ExportaAgenda(tr, FormatoAgenda::Vostrel, "48", arquivo);
        tr.Commit();
    }
    for (auto _ : state) {
        state.PauseTiming();
        Esvazia(att);
        state.ResumeTiming();
        const LeituraAgenda leitura = LeAgenda(arquivo.bytes, FormatoAgenda::Vostrel, "48");
        VinculosAgenda v;
        {
            Transaction tr(att);
            v = GravaAgenda(tr, leitura);
            tr.Commit();
        }
        Transaction tr(att);
        VinculaGravacoes(tr, v, "48");
        tr.Commit();
        if (v.contatos != Contatos) return state.SkipWithError("import incomplete");
    }
    state.SetItemsProcessed(state.iterations() * Contatos);
}

void BM_InsercaoDireta(benchmark::State& state) {
    if (!Banco()) return state.SkipWithError("no test server (VERUZADU_FB_*)");
    Attachment att = Attachment::Conecta(*Banco());
    for (auto _ : state) {
        state.PauseTiming();
        Esvazia(att);
        state.ResumeTiming();
        Transaction tr(att);
        Statement c(tr,
                    "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, "
                    "CLI_ENDERECO, CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, "
                    "CLI_CONTATO, CLI_EMAIL) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Statement t(tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
        for (int i = 1; i <= Contatos; ++i) {
            c.SetInt(0, i).SetText(1, Nome(i)).SetText(2, "").SetText(3, "Rua das Flores");
            c.SetText(4, "100").SetText(5, "Centro").SetText(6, "88000000");
            c.SetText(7, "FLORIANOPOLIS")
                .SetText(8, "SC")
                .SetText(9, "")
                .SetText(10, "contato@exemplo.com.br");
            c.Executa();
            t.SetInt(0, i).SetText(1, "4833" + std::to_string(100000 + i)).SetInt(2, 1);
            t.Executa();
            t.SetInt(0, i).SetText(1, "4899" + std::to_string(1000000 + i)).SetInt(2, 0);
            t.Executa();
        }
        tr.Commit();
    }
    state.SetItemsProcessed(state.iterations() * Contatos);
}

BENCHMARK(BM_LeituraDireta)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ExportaAgenda)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_InsercaoDireta)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ImportaAgenda)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!Prepara()) std::fprintf(stderr, "bench_contatos: no test server, benchmarks skipped\n");
    benchmark::RunSpecifiedBenchmarks();
    Limpa();
    benchmark::Shutdown();
    return 0;
}
