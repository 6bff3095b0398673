#include "service/LacoPrincipal.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class RelogioFixo final : public Relogio {
  public:
    DataHora agora{2026, 3, 10, 8, 0, 0, 0};
    DataHora Agora() const override { return agora; }
    void Avanca(long long s) { agora = SomaSegundos(agora, s); }
};

// Records the steps a pass calls and answers as the test sets.
class PassosGravados final : public PassosLaco {
  public:
    std::vector<std::string> chamadas;
    bool pararNaProxima = false;
    bool backupDevido = false, compactar = false, restaurar = false;
    bool backupOk = true, restauraOk = true, arquivoAusente = false;
    std::size_t filaLog = 0, filaEmails = 0;
    const RelogioFixo* relogio = nullptr;

    bool ProcessaRequisicoes() override { return !pararNaProxima; }
    bool HoraRealizarBackup(bool& c, bool& r, DataHora& ultima) override {
        chamadas.push_back("decide");
        c = compactar;
        r = restaurar;
        if (!r) ultima = relogio->Agora();
        return backupDevido;
    }
    bool RealizaBackupBaseDadosPrincipal(bool) override {
        chamadas.push_back("backup");
        return backupOk;
    }
    bool RestauraBackupBaseDados(bool, bool& ausente) override {
        chamadas.push_back("restaura");
        ausente = arquivoAusente;
        return restauraOk;
    }
    void BDRegistraControle(ModoRegistroControle m) override {
        chamadas.push_back(m == ModoRegistroControle::Backup ? "registra-backup"
                                                             : "registra-compactacao");
    }
    void BDVerificaDownloadPeriodo() override { chamadas.push_back("janelas"); }
    void VerificaEspacoLivreEmDisco() override { chamadas.push_back("disco"); }
    std::size_t ContagemFilaLogBD() override { return filaLog; }
    void GravaLogEmBancoDados() override {
        chamadas.push_back("historico");
        --filaLog;
    }
    std::size_t ContagemFilaEmails() override { return filaEmails; }
    void EnviaEmailAlerta() override {
        chamadas.push_back("email");
        --filaEmails;
    }
    void LogRestauracaoImpossivel() override { chamadas.push_back("log-restauracao"); }
    int TempoVerDownload() const override { return 60; }
};

// A worker that runs until told to stop.
class Trabalhador final : public ThreadServico {
  public:
    using ThreadServico::ThreadServico;
    std::atomic<bool> rodou{false};

  protected:
    void Execute() override {
        rodou = true;
        while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

struct Laco {
    RelogioFixo relogio;
    PassosGravados passos;
    std::atomic<bool> executando{false};
    ListaThreads downloads, sdcards;
    Evento evento;
    LacoPrincipal laco{passos, relogio, executando, downloads, sdcards, evento};
    Laco() {
        passos.relogio = &relogio;
        laco.Inicia();
    }
    std::vector<std::string> Passo() {
        passos.chamadas.clear();
        laco.Passo();
        return passos.chamadas;
    }
};

using V = std::vector<std::string>;

std::chrono::steady_clock::time_point Prazo(int segundos) {
    return std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
}

}  // namespace

TEST(LacoPrincipal, FirstPassRunsHourlyAndDailyWorkAndLaterPassesWaitForTheirPeriods) {
    Laco l;
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas", "disco"}));
    l.relogio.Avanca(59);
    EXPECT_EQ(l.Passo(), V{});
    l.relogio.Avanca(1);  // one minute after the first pass: window check only
    EXPECT_EQ(l.Passo(), V{"janelas"});
    l.relogio.Avanca(3600);
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas"}));
    l.relogio.Avanca(23 * 3600);
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas", "disco"}));
}

TEST(LacoPrincipal, BackupDecisionOutcomes) {
    struct Caso {
        const char* nome;
        bool compactar, restaurar, backupOk, restauraOk, ausente;
        V esperado;
        bool continua;
    } casos[] = {
        {"due backup", false, false, true, true, false, {"backup", "registra-backup"}, true},
        {"failed backup", false, false, false, true, false, {"backup"}, true},
        {"compaction",
         true,
         false,
         true,
         true,
         false,
         {"backup", "registra-backup", "restaura", "registra-compactacao"},
         true},
        // After a failed backup the file on disk is stale: no restore of it.
        {"compaction, backup failed", true, false, false, true, false, {"backup"}, true},
        {"requested restore",
         false,
         true,
         true,
         true,
         false,
         {"restaura", "registra-compactacao"},
         true},
        {"restore failed", false, true, true, false, false, {"restaura"}, true},
        {"restore source missing",
         false,
         true,
         true,
         false,
         true,
         {"restaura", "log-restauracao"},
         false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Laco l;
        l.passos.backupDevido = true;
        l.passos.compactar = c.compactar;
        l.passos.restaurar = c.restaurar;
        l.passos.backupOk = c.backupOk;
        l.passos.restauraOk = c.restauraOk;
        l.passos.arquivoAusente = c.ausente;
        V esperado{"decide"};
        esperado.insert(esperado.end(), c.esperado.begin(), c.esperado.end());
        esperado.insert(esperado.end(), {"janelas", "disco"});
        const V chamadas = l.Passo();
        EXPECT_EQ(chamadas, esperado);
        EXPECT_EQ(l.executando.load(), c.continua);
    }
}

TEST(LacoPrincipal, ListedDownloadKeepsTheNextBackupDecisionOff) {
    Laco l;
    l.Passo();
    l.downloads.AdicionaSeAusente(std::make_unique<Trabalhador>(7));
    l.relogio.Avanca(2 * 3600);
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas"}));  // the list was empty at the previous pass
    l.relogio.Avanca(2 * 3600);
    EXPECT_EQ(l.Passo(), V{"janelas"});  // a download was listed: no decision
    l.downloads.EncerraTodas(Prazo(5));
    l.Passo();  // sees the empty list
    l.relogio.Avanca(60);
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas"}));
}

TEST(LacoPrincipal, OneHistoryRowAndOneMailPerPassAndStopEndsThePassAtOnce) {
    Laco l;
    l.passos.filaLog = 2;
    l.passos.filaEmails = 1;
    EXPECT_EQ(l.Passo(), (V{"decide", "janelas", "disco", "historico", "email"}));
    EXPECT_EQ(l.Passo(), V{"historico"});
    EXPECT_EQ(l.Passo(), V{});
    l.passos.pararNaProxima = true;
    l.passos.filaLog = 1;
    EXPECT_FALSE(l.laco.Passo());
    EXPECT_EQ(l.passos.chamadas, V{});
}

TEST(ListaThreads, SDCardStartLimit) {
    struct Caso {
        int rodando, novas, esperadoIniciadas;
    } casos[] = {{0, 25, 20}, {18, 5, 2}, {20, 3, 0}, {0, 3, 3}};
    for (const auto& c : casos) {
        SCOPED_TRACE(std::to_string(c.rodando) + " running + " + std::to_string(c.novas) + " new");
        ListaThreads lista;
        std::vector<Trabalhador*> novas;
        for (int i = 0; i < c.rodando; ++i) {
            auto t = std::make_unique<Trabalhador>(i);
            t->Resume();  // listed as started
            lista.AdicionaSeAusente(std::move(t));
        }
        for (int i = 0; i < c.novas; ++i) {
            auto t = std::make_unique<Trabalhador>(100 + i);
            novas.push_back(t.get());
            lista.AdicionaSeAusente(std::move(t));
        }
        lista.IniciaNovasAte(kMaxThreadsSDCard);
        int iniciadas = 0;
        for (auto* t : novas) iniciadas += t->EstadoThread() == 1;
        EXPECT_EQ(iniciadas, c.esperadoIniciadas);
        for (size_t i = 0; i < novas.size(); ++i)
            EXPECT_EQ(novas[i]->EstadoThread() == 1, static_cast<int>(i) < c.esperadoIniciadas);
        EXPECT_EQ(lista.EncerraTodas(Prazo(10)), 0u);
    }
}

TEST(ListaThreads, OnePerUnitFinishedAreFreedAndStopJoinsRunningWorkers) {
    ListaThreads lista;
    EXPECT_TRUE(lista.AdicionaSeAusente(std::make_unique<Trabalhador>(1)));
    EXPECT_FALSE(lista.AdicionaSeAusente(std::make_unique<Trabalhador>(1)));
    auto dois = std::make_unique<Trabalhador>(2);
    auto* pDois = dois.get();
    lista.AdicionaSeAusente(std::move(dois));
    EXPECT_EQ(lista.IniciaNovas(), 2u);
    EXPECT_TRUE(lista.EstaNaLista(2));
    pDois->Terminate();
    ASSERT_TRUE(pDois->AguardaFim(std::chrono::seconds(5)));
    EXPECT_EQ(lista.LiberaConcluidas(), std::vector<int>{2});
    EXPECT_FALSE(lista.EstaNaLista(2));
    EXPECT_TRUE(lista.EstaNaLista(1));
    EXPECT_EQ(lista.EncerraTodas(Prazo(5)), 0u);
    EXPECT_EQ(lista.Contagem(), 0u);
}
