// The old single database's migration (MigracaoBD::Executa: backups of the
// live databases, the old one restored under working names, brought up to
// date, backed up again and restored under the live names, the old one moved
// to VERUZADU_OLD.FDB) against a plain gbak -b plus gbak -c of the same old
// database, in the same run against the same server, in interleaved pairs
// (benchmarks/Intercalado.h). The old database holds 20,000 recordings of
// 100 KB (VERUZADU_BENCH_GRAVACOES for another number). Every run starts from
// the same state: the old database put back and the live databases as they
// were before the first migration. Goal: plain time / migration time at
// least 0.4.
//
// Run it with benchmarks/run (server variables as for the tests), e.g.
//   VERUZADU_BENCH_PARES=5 benchmarks/run build/benchmarks/migration/bench_migration

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "benchmarks/Intercalado.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Processos.h"
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
    fs::path vivas[2];       // the live databases as first installed

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
    // The live databases as they were before any migration.
    bool PoeVivas() {
        const char* nomes[2] = {"QUVVERUZADU.FDB", "GRVPAB001.FDB"};
        for (int i = 0; i < 2; ++i) {
            Apaga(nomes[i]);
            if (!Gbak({"-c", vivas[i].string(), servidor + ":" + pastaBanco + nomes[i]}))
                return false;
        }
        return true;
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
        r->vivas[0] = r->programa / "viva-principal.fbk";
        r->vivas[1] = r->programa / "viva-unidade.fbk";
        if (!r->Gbak({"-b", r->servidor + ":" + r->pastaBanco + "QUVVERUZADU.FDB",
                      r->vivas[0].string()}) ||
            !r->Gbak(
                {"-b", r->servidor + ":" + r->pastaBanco + "GRVPAB001.FDB", r->vivas[1].string()}))
            return nullptr;
        r->velha = r->programa / "velha.fbk";
        if (!r->Gbak({"-b", r->servidor + ":" + r->pastaBanco + "VERUZADU.FDB", r->velha.string()}))
            return nullptr;
        return r;
    }();
    return a.get();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace intercalado;
    QCoreApplication app(argc, argv);
    Ambiente* a = Amb();
    if (!a) {
        std::fprintf(stderr, "bench_migration: no test server (VERUZADU_FB_* variables)\n");
        return 1;
    }
    const fs::path saida = a->programa / "puro.gbk";
    Calado msg;
    std::unique_ptr<MDados> dados;
    try {
        Compara("migration: plain gbak -b + gbak -c of the old database / migration",
                {"plain gbak -b + gbak -c",
                 [&] {
                     a->Apaga("PURO.FDB");
                     fs::remove(saida);
                     if (!a->PoeVelha())
                         throw std::runtime_error("could not put the old database back");
                 },
                 [&] {
                     if (!a->Gbak({"-b", a->servidor + ":" + a->pastaBanco + "VERUZADU.FDB",
                                   saida.string()}) ||
                         !a->Gbak({"-c", saida.string(),
                                   a->servidor + ":" + a->pastaBanco + "PURO.FDB"}))
                         throw std::runtime_error("gbak failed");
                 }},
                {"migration",
                 [&] {
                     if (dados) dados->Desconecta();
                     dados.reset();
                     if (!a->PoeVelha() || !a->PoeVivas())
                         throw std::runtime_error("could not put the databases back");
                     dados = std::make_unique<MDados>(msg);
                     dados->UsuarioBD = a->usuario;
                     dados->SenhaBD = a->senha;
                     std::string erro;
                     if (!dados->ConectaBancoDados(erro))
                         throw std::runtime_error("connection: " + erro);
                 },
                 [&] {
                     MigracaoBD m(*dados, msg);
                     if (m.Executa() != ResultadoMigracao::Concluida)
                         throw std::runtime_error("migration: " + m.Mensagem());
                 }},
                {Meta::RazaoNoMinimo, 0.4});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_migration: %s\n", e.what());
        return 1;
    }
    if (dados) dados->Desconecta();
    a->Apaga("PURO.FDB");
    fs::remove(saida);
    return 0;
}
