// The old single database's migration (MigracaoBD::Executa: backups of the
// live databases, the old one restored under working names, brought up to
// date, backed up again and restored under the live names, the old one moved
// to VERUZADU_OLD.FDB) against a plain gbak -b plus gbak -c of the same old
// database, in the same run against the same server. The old database holds
// 20,000 recordings of 100 KB (VERUZADU_BENCH_GRAVACOES for another number).
// Read the means: plain time / migration time should be at least 0.4.
//
// Needs the server that scripts/test starts (VERUZADU_FB_* variables), e.g.
//   scripts/firebird start; VERUZADU_FB_...=... build/benchmarks/migration/bench_migration

#include <benchmark/benchmark.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Sistema.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/MigracaoBD.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t TamanhoGravacao = 100 * 1024;

struct Calado final : Mensageiro {
    RespostaMensagem Mostra(TipoMensagem, const std::string&) override {
        return RespostaMensagem::Ok;
    }
};

struct Ambiente {
    std::string host;
    int porta = 3050;
    std::string servidor;
    std::string usuario;
    std::string senha;
    std::string pastaBanco;  // on the server, "/" at the end
    fs::path programa;       // program folder (VERUZADU_HOME)
    fs::path velha;          // the old database's backup, to put it back between runs

    ParametrosConexao Banco(const std::string& nome) const {
        return {MontaStringConexao(host, porta, pastaBanco + nome), usuario, senha};
    }
    void Apaga(const std::string& nome) const {
        try {
            Attachment::Conecta(Banco(nome)).ApagaBanco();
        } catch (...) {
        }
    }
    bool Gbak(const std::vector<std::string>& args) const {
        const fs::path arquivoSenha = programa / "senha";
        std::vector<std::string> linha{PastaBinFirebird(IniFile("/nonexistent")) + "gbak", "-user",
                                       usuario, "-fetch_password", arquivoSenha.string()};
        linha.insert(linha.end(), args.begin(), args.end());
        return ExecutaProcesso(linha).Sucesso();
    }
    // The old database as it was before a run.
    bool PoeVelha() {
        Apaga("VERUZADU.FDB");
        Apaga("VERUZADU_OLD.FDB");
        for (const auto& e : fs::directory_iterator(programa))
            if (e.path().extension() == ".gbk" && e.path() != velha) fs::remove(e.path());
        IniFile(programa / "VERUZADU.INI").WriteBool("BD", "UPD", true);
        return Gbak({"-c", velha.string(), servidor + ":" + pastaBanco + "VERUZADU.FDB"});
    }
    ~Ambiente() {
        for (const char* n :
             {"VERUZADU.FDB", "VERUZADU_OLD.FDB", "QUVVERUZADU.FDB", "GRVPAB001.FDB", "PURO.FDB"})
            Apaga(n);
        std::error_code ec;
        fs::remove_all(pastaBanco, ec);
        fs::remove_all(programa, ec);
    }
};

Ambiente* Amb() {
    static std::unique_ptr<Ambiente> a = []() -> std::unique_ptr<Ambiente> {
        const char* host = std::getenv("VERUZADU_FB_HOST");
        const char* usuario = std::getenv("VERUZADU_FB_USER");
        const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
        const char* dados = std::getenv("VERUZADU_FB_DATA");
        if (!host || !usuario || !senha || !dados) return nullptr;
        const char* n = std::getenv("VERUZADU_BENCH_GRAVACOES");
        const int gravacoes = n ? std::atoi(n) : 20000;
        auto r = std::make_unique<Ambiente>();
        const char* porta = std::getenv("VERUZADU_FB_PORT");
        r->host = host;
        r->porta = porta ? std::atoi(porta) : 3050;
        r->servidor = r->porta == 3050 ? host : std::string(host) + "/" + std::to_string(r->porta);
        r->usuario = usuario;
        r->senha = senha;
        r->pastaBanco = std::string(dados) + "/bench-migracao-" + std::to_string(getpid()) + "/";
        fs::create_directories(r->pastaBanco);
        if (const passwd* pw = getpwnam("firebird"))
            if (chown(r->pastaBanco.c_str(), pw->pw_uid, pw->pw_gid) != 0) return nullptr;
        r->programa = fs::temp_directory_path() / ("bench-migracao-" + std::to_string(getpid()));
        fs::create_directories(r->programa);
        {
            std::ofstream(r->programa / "senha") << r->senha;
            fs::permissions(r->programa / "senha", fs::perms::owner_read | fs::perms::owner_write);
        }
        ::setenv("VERUZADU_HOME", r->programa.c_str(), 1);
        IniFile ini(r->programa / "VERUZADU.INI");
        ini.WriteString("BD", "Server", r->servidor);
        ini.WriteString("BD", "Alias", r->pastaBanco + "QUVVERUZADU.FDB");

        {
            Attachment principal = Attachment::Cria(r->Banco("QUVVERUZADU.FDB"));
            ExecutaScript(principal, ScriptBancoPrincipal());
        }
        {
            Attachment unidade = Attachment::Cria(r->Banco("GRVPAB001.FDB"));
            ExecutaScript(unidade,
                          ScriptBancoPABX(
                              MontaStringConexao(host, r->porta, r->pastaBanco + "QUVVERUZADU.FDB"),
                              usuario, senha));
        }
        Attachment att = Attachment::Cria(r->Banco("VERUZADU.FDB"));
        ExecutaScript(att, ScriptBancoPrincipal());
        std::string audio(TamanhoGravacao, '\0');
        std::mt19937 g(5);
        {
            Transaction tr(att);
            Statement st(tr,
                         "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                         "GRV_BINDADOS) VALUES (?, 1, ?, ?, ?)");
            for (int i = 1; i <= gravacoes; ++i) {
                for (char& c : audio) c = static_cast<char>(g());
                st.SetInt(0, i).SetTimestamp(1, DataHora{2019, 1, 1 + i % 28, i % 24, i % 60, 0});
                st.SetText(2, "R" + std::to_string(i) + ".WAV").SetBlob(3, audio);
                st.Executa();
            }
            tr.Commit();
        }
        att.Desconecta();
        r->velha = r->programa / "velha.fbk";
        if (!r->Gbak({"-b", r->servidor + ":" + r->pastaBanco + "VERUZADU.FDB", r->velha.string()}))
            return nullptr;
        return r;
    }();
    return a.get();
}

void BM_GbakPuro(benchmark::State& state) {
    Ambiente* a = Amb();
    if (!a) {
        state.SkipWithError("no test server (VERUZADU_FB_* variables)");
        return;
    }
    const fs::path saida = a->programa / "puro.gbk";
    for (auto _ : state) {
        state.PauseTiming();
        a->Apaga("PURO.FDB");
        fs::remove(saida);
        state.ResumeTiming();
        if (!a->Gbak({"-b", a->servidor + ":" + a->pastaBanco + "VERUZADU.FDB", saida.string()}) ||
            !a->Gbak({"-c", saida.string(), a->servidor + ":" + a->pastaBanco + "PURO.FDB"}))
            state.SkipWithError("gbak failed");
    }
    a->Apaga("PURO.FDB");
    fs::remove(saida);
}

void BM_Migracao(benchmark::State& state) {
    Ambiente* a = Amb();
    if (!a) {
        state.SkipWithError("no test server (VERUZADU_FB_* variables)");
        return;
    }
    Calado msg;
    for (auto _ : state) {
        state.PauseTiming();
        MDados dados(msg);
        dados.UsuarioBD = a->usuario;
        dados.SenhaBD = a->senha;
        std::string erro;
        if (!dados.ConectaBancoDados(erro)) {
            state.SkipWithError(("connection: " + erro).c_str());
            break;
        }
        MigracaoBD m(dados, msg);
        state.ResumeTiming();
        if (m.Executa() != ResultadoMigracao::Concluida) {
            state.SkipWithError(("migration: " + m.Mensagem()).c_str());
            break;
        }
        state.PauseTiming();
        dados.Desconecta();
        if (!a->PoeVelha()) {
            state.SkipWithError("could not put the old database back");
            break;
        }
        state.ResumeTiming();
    }
}

BENCHMARK(BM_GbakPuro)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Migracao)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    DefinePrograma(Programa::Console);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
