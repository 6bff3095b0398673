// The recording service as a whole program taking simulated units' stores
// into their databases over FTP, under faults: killed at random moments,
// hostile stores, transfers cut, several units at once. Every scenario ends
// with the same check (ponta::Ambiente::Verifica): nothing filed twice, the
// audio intact, nothing removed from a unit before it was filed.
//
// VERUZADU_KILL_TRIES sets how many random kills the kill test makes (a few
// by default; a long run asks for a hundred). Each try prints its seed;
// VERUZADU_KILL_SEED repeats one.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/wait.h>

#include "tests/service/download/UnidadePonta.h"

namespace {

using namespace std::chrono_literals;
using ponta::Ambiente;
using ponta::Unidade;
namespace fs = std::filesystem;

int Ambiente_(const char* nome, int padrao) {
    const char* v = std::getenv(nome);
    return v && *v ? std::atoi(v) : padrao;
}

void ApagaGravacoes(Ambiente& a, int codigo) {
    Attachment att = Attachment::Conecta(a.inst.Unidade(codigo));
    Transaction tr(att);
    Statement st(tr, "DELETE FROM GRAVACAO WHERE PAB_CODIGO = ?");
    st.SetInt(0, codigo).Executa();
    tr.Commit();
}

TEST(Confiabilidade, ExecucaoLimpaArquivaCadaGravacaoUmaVezComOAudioIntacto) {
    Ambiente a("conflimpa");
    EXIGE_SERVIDOR(a.inst);
    Unidade u(1, 40, 17);
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
    const auto r = a.Resultados(1);
    ASSERT_FALSE(r.empty());
    // Some items of the generated store cannot be filed: a run with failures.
    EXPECT_GE(r.back(), 1) << a.Logs();
    const std::string logs = a.Logs();
    EXPECT_NE(logs.find("Baixou arquivo"), std::string::npos) << logs;
    EXPECT_NE(logs.find("Arquivo removido"), std::string::npos) << logs;

    // A second run in a new window finds nothing more to take and loses nothing.
    a.LiberaJanela(1);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
}

TEST(Confiabilidade, MortoAoAcasoEReiniciadoNadaSePerdeNemDuplica) {
    Ambiente a("confkill");
    EXIGE_SERVIDOR(a.inst);
    const int tentativas = Ambiente_("VERUZADU_KILL_TRIES", 3);
    const int sementeFixa = Ambiente_("VERUZADU_KILL_SEED", 0);
    std::random_device rd;
    a.EscreveINI();
    for (int t = 0; t < tentativas; ++t) {
        const unsigned semente = sementeFixa ? static_cast<unsigned>(sementeFixa) : rd();
        std::printf("kill try %d: seed %u\n", t + 1, semente);
        std::fflush(stdout);
        SCOPED_TRACE("seed " + std::to_string(semente));
        std::mt19937 rng(semente);
        Unidade u(1, 30, semente);
        u.GuardaOriginal();
        ApagaGravacoes(a, 1);
        a.Registra(u);

        // The kill lands anywhere from the start-up to well into the import.
        const auto atraso =
            std::chrono::milliseconds(std::uniform_int_distribution<int>(200, 4000)(rng));
        {
            ProcessoFilho p = a.Inicia();
            std::this_thread::sleep_for(atraso);
            p.Sinaliza(SIGKILL);
            int status = 0;
            ASSERT_TRUE(p.Aguarda(30s, status));
        }
        std::printf("  killed after %lld ms with %zu rows filed\n",
                    static_cast<long long>(atraso.count()), a.Linhas(1).size());
        std::fflush(stdout);
        a.Verifica(u, false);
        if (HasFailure()) break;
        // A run killed after its stamp left nothing to do; otherwise the window runs it again.
        ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
        a.Verifica(u, true);
        if (HasFailure()) {
            std::printf("failing seed %u (kill after %lld ms)\n", semente,
                        static_cast<long long>(atraso.count()));
            break;
        }
    }
}

// Killed at the chosen points of filing and removal (the third recording's
// pass), also on a unit whose FTP server gives no file times and whose
// descriptions give no start, where a recording's date is the moment it was
// downloaded and differs on the run after the kill.
TEST(Confiabilidade, MortoEmPontosEscolhidosNadaSePerdeNemDuplica) {
    struct Caso {
        const char* ponto;
        std::vector<std::string> opcoesFTP;
        bool semInicio;  // every description's iniciogravacao "0" or empty
    };
    const std::vector<Caso> casos = {
        {"insere-antes-commit", {}, false},
        {"commit-antes-remocao", {}, false},
        {"entre-wav-e-xml", {}, false},
        {"commit-antes-remocao", {"--no-times"}, true},
        {"entre-wav-e-xml", {"--no-times"}, true},
        {"commit-antes-remocao", {"--no-times", "--no-mlsd"}, true},
    };
    Ambiente a("confponto");
    EXIGE_SERVIDOR(a.inst);
    a.EscreveINI();
    for (const auto& caso : casos) {
        SCOPED_TRACE(std::string(caso.ponto) + (caso.semInicio ? ", no times" : ""));
        Unidade u(1, 12, 71, caso.opcoesFTP);
        if (caso.semInicio) {
            int i = 0;
            for (const auto& e : fs::recursive_directory_iterator(u.loja)) {
                if (!e.is_regular_file() || e.path().extension() != ".XML") continue;
                std::string x = LeTudo(e.path());
                const auto ini = x.find("<iniciogravacao>"), fim = x.find("</iniciogravacao>");
                if (ini == std::string::npos || fim == std::string::npos) continue;
                x.replace(ini + 16, fim - ini - 16, i++ % 2 ? "0" : "");
                Grava(e.path(), x);
            }
            ASSERT_GT(i, 0);
        }
        u.GuardaOriginal();
        ApagaGravacoes(a, 1);
        a.Registra(u);
        {
            ProcessoFilho p = a.Inicia({std::string("VERUZADU_PONTO_MORTE=") + caso.ponto + ":3"});
            int status = 0;
            ASSERT_TRUE(p.Aguarda(180s, status)) << a.Logs();
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << a.Logs();
        }
        EXPECT_FALSE(a.Carimbado(1));
        a.Verifica(u, false);
        // The next run downloads what is left a few seconds later.
        std::this_thread::sleep_for(1100ms);
        ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
        a.Verifica(u, true);
        if (HasFailure()) break;
    }
}

TEST(Confiabilidade, TransferenciaCortadaTerminaEAProximaCompleta) {
    Ambiente a("confcorte");
    EXIGE_SERVIDOR(a.inst);
    PastaTemporaria base;
    // Every transfer of the first WAV is cut after 300 bytes.
    auto loja = base.Caminho() / "pre";
    const auto resumo = pabxsim::MakeRecordings(loja, 12, 5);
    ASSERT_FALSE(resumo.wavFiles.empty());
    const std::string alvo = resumo.wavFiles.front().filename().string();
    Unidade u(1, 0, 0, {"--fault", "cut-data:" + alvo + ":300"}, false);
    fs::copy(loja, u.loja, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, false);
    EXPECT_TRUE(fs::exists(u.loja / fs::relative(resumo.wavFiles.front(), loja)));

    // The unit's FTP server without the fault: the next run completes.
    u.ftp.reset();
    u.ftp = std::make_unique<ServidorFTPTeste>(u.loja, u.pasta.Caminho() / "ftp2");
    a.Registra(u);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
}

// Faults of the unit's link and of its FTP server: the faulty run ends within
// its time limit, nothing leaves the store unfiled, and the next clean run
// completes.
TEST(Confiabilidade, FalhasDaUnidadeEDoFTPTerminamEAProximaCompleta) {
    struct Caso {
        const char* nome;
        std::vector<std::string> falhasLigacao;
        std::vector<std::string> opcoesFTP;
    };
    const std::vector<Caso> casos = {
        {"link dropped at the 4th removal", {"remove drop nth=4"}, {}},
        {"removals refused", {"remove refuse"}, {}},
        {"silent unit", {"* noreply"}, {}},
        {"FTP server stalls mid-file", {}, {"--fault", "stall:R0000002.WAV:200"}},
        {"FTP server never greets", {}, {"--fault", "no-greet"}},
    };
    Ambiente a("conffalha");
    EXIGE_SERVIDOR(a.inst);
    a.EscreveINI({{"Veruzadu", "PABXTimeOut", "10"}});
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        Unidade u(1, 12, 41, caso.opcoesFTP);
        for (const auto& f : caso.falhasLigacao) u.sim->AddFault(f);
        u.GuardaOriginal();
        ApagaGravacoes(a, 1);
        a.Registra(u);
        const auto inicio = std::chrono::steady_clock::now();
        ASSERT_TRUE(a.RodaAteCarimbar({1}, 240s)) << a.Logs();
        std::printf("%s: run ended after %lld s\n", caso.nome,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                               std::chrono::steady_clock::now() - inicio)
                                               .count()));
        a.Verifica(u, false);
        const auto r = a.Resultados(1);
        ASSERT_FALSE(r.empty());
        EXPECT_GE(r.back(), 1) << a.Logs();

        u.sim->ClearFaults();
        if (!caso.opcoesFTP.empty()) {
            u.ftp.reset();
            u.ftp = std::make_unique<ServidorFTPTeste>(u.loja, u.pasta.Caminho() / "ftp2");
        }
        a.Registra(u);
        ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
        a.Verifica(u, true);
        if (HasFailure()) break;
    }
}

TEST(Confiabilidade, ParadaDuranteImportacaoLongaTerminaRegistraEDepoisCompleta) {
    Ambiente a("confpara");
    EXIGE_SERVIDOR(a.inst);
    Unidade u(1, 160, 29);
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    {
        ProcessoFilho p = a.Inicia();
        ASSERT_TRUE(ponta::Espera([&] { return a.Linhas(1).size() >= 3; }, 180s)) << a.Logs();
        const auto inicio = std::chrono::steady_clock::now();
        p.Sinaliza(SIGTERM);
        int status = 0;
        // Far inside the unit file's stop time.
        ASSERT_TRUE(p.Aguarda(120s, status)) << a.Logs();
        std::printf("stopped %lld ms after SIGTERM\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - inicio)
                                               .count()));
        EXPECT_TRUE(WIFEXITED(status)) << status;
    }
    {
        Attachment att = Attachment::Conecta(a.inst.Principal());
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*) FROM LOGHISTORY WHERE LOG_OPERACAO = 102");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_GE(c.GetInt(0), 1);
    }
    a.Verifica(u, false);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
}

TEST(Confiabilidade, BancoDaUnidadeInalcancavelResultado2EDepoisCompleta) {
    Ambiente a("confsembd", {1});
    EXIGE_SERVIDOR(a.inst);
    Unidade u(2, 12, 53);  // unit 2 has no database yet
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    ASSERT_TRUE(a.RodaAteCarimbar({2})) << a.Logs();
    const auto r = a.Resultados(2);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back(), 2) << a.Logs();
    EXPECT_EQ(ponta::Arquivos(u.loja), ponta::Arquivos(u.original));  // nothing left the unit

    a.inst.opcoes.unidades = {2};
    InstalaParaTeste(a.inst.opcoes);
    a.LiberaJanela(2);
    ASSERT_TRUE(a.RodaAteCarimbar({2})) << a.Logs();
    a.Verifica(u, true);
}

TEST(Confiabilidade, LojaHostilNadaForaDaPastaDaUnidadeORestoArquivado) {
    Ambiente a("confhostil");
    EXIGE_SERVIDOR(a.inst);
    Unidade u(1, 10, 23);
    PastaTemporaria fora;
    Grava(fora.Caminho() / "segredo.txt", "fora da loja");
    // Next to the generated recordings, in one of their device folders.
    fs::path dispositivo;
    for (const auto& e : fs::recursive_directory_iterator(u.loja))
        if (e.is_regular_file() && e.path().extension() == ".WAV") {
            dispositivo = e.path().parent_path();
            break;
        }
    ASSERT_FALSE(dispositivo.empty());
    Grava(dispositivo / "..R0009001.WAV", "RIFF");
    Grava(dispositivo / "R00\x01"
                        "9002.WAV",
          "RIFF");
    fs::create_symlink(fora.Caminho() / "segredo.txt", dispositivo / "R0009003.WAV");
    Grava(dispositivo / "R0009004.WAV", "");
    Grava(dispositivo / "R0009005.WAV", std::string(20, 'x'));
    Grava(dispositivo / "R0009005.XML", std::string(2 << 20, 'y'));
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);
    const auto antesHome = ponta::Arquivos(a.home.Caminho());
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
    // Outside the unit's working folder only the service's own files changed.
    for (const auto& f : ponta::Arquivos(a.home.Caminho())) {
        if (f.rfind("PABX001/", 0) == 0 || antesHome.count(f)) continue;
        EXPECT_TRUE(f.find('/') == std::string::npos &&
                    (f.ends_with(".LOG") || f.ends_with(".txt") || f.ends_with(".pid") ||
                     f.ends_with(".lock") || f.ends_with(".LNG")))
            << "written outside the unit's folder: " << f;
    }
    EXPECT_EQ(ponta::Arquivos(fora.Caminho()), std::set<std::string>{"segredo.txt"});
    EXPECT_EQ(LeTudo(fora.Caminho() / "segredo.txt"), "fora da loja");
}

TEST(Confiabilidade, QuatroUnidadesComMaxPABXDoisTodasCompletamNuncaMaisDeDuas) {
    Ambiente a("confpar", {1, 2, 3, 4});
    EXIGE_SERVIDOR(a.inst);
    std::vector<std::unique_ptr<Unidade>> us;
    for (int c = 1; c <= 4; ++c) {
        us.push_back(std::make_unique<Unidade>(c, 15, 100 + c));
        us.back()->GuardaOriginal();
    }
    a.EscreveINI({{"Veruzadu", "MaxPABX", "2"}});
    for (auto& u : us) a.Registra(*u);
    ASSERT_TRUE(a.RodaAteCarimbar({1, 2, 3, 4})) << a.Logs();
    for (auto& u : us) a.Verifica(*u, true);

    // The runs' intervals: at no run's start were two others still open.
    struct Intervalo {
        DataHora ini, fim;
    };
    std::vector<Intervalo> v;
    {
        Attachment att = Attachment::Conecta(a.inst.Principal());
        Transaction tr(att, true);
        Statement st(tr,
                     "SELECT DWN_DTINIDOWN, COALESCE(DWN_DTFIMIMP, DWN_DTFIMDOWN) FROM DWNHISTORY");
        for (Cursor c = st.Abre(); c.Proxima();)
            v.push_back({c.GetTimestamp(0), c.GetTimestamp(1)});
    }
    ASSERT_GE(v.size(), 4u);
    for (const auto& x : v) {
        int abertas = 0;
        for (const auto& y : v)
            if (SegundosDesdeEpoca(y.ini) <= SegundosDesdeEpoca(x.ini) &&
                (y.fim.Vazia() || SegundosDesdeEpoca(y.fim) > SegundosDesdeEpoca(x.ini)))
                ++abertas;
        EXPECT_LE(abertas, 2);
    }
}

}  // namespace
