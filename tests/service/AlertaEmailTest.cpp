#include "service/AlertaEmail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

TEST(AlertaEmail, QueuesOnlyEnabledCategoriesWithSomethingToSend) {
    std::atomic<int> ativas{AlertaFalha};
    AlertasEmail alertas([&] { return ativas.load(); });
    auto fila = std::make_shared<FilaEmails>();
    alertas.DefineFila(fila);

    alertas.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, "disco");  // category off
    alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, "");            // nothing to send
    EXPECT_EQ(alertas.ContagemFilaEmails(), 0u);

    const std::vector<std::string> linhas{"a", "b"};
    alertas.EnfileiraAlertaEmail(AlertaFalha, &linhas, "ignored");
    alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, "texto");
    ASSERT_EQ(fila->Quantidade(), 2u);
    auto primeiro = fila->RetiraPrimeiro();
    EXPECT_EQ(primeiro->FCategoria, AlertaFalha);
    EXPECT_EQ(primeiro->FLinhas, linhas);
    EXPECT_EQ(fila->RetiraPrimeiro()->FLinhas, std::vector<std::string>{"texto"});

    // Once released, queuing does nothing.
    alertas.DefineFila(nullptr);
    ativas = AlertaFalha | AlertaCapacidade;
    alertas.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, "x");
    EXPECT_EQ(alertas.ContagemFilaEmails(), 0u);
    EXPECT_EQ(fila->Quantidade(), 0u);
}

TEST(AlertaEmail, CategoriasConfiguradasPorCategoriaDoAlerta) {
    for (int configuradas = 0; configuradas <= 3; ++configuradas) {
        for (std::uint16_t categoria : {AlertaCapacidade, AlertaFalha}) {
            SCOPED_TRACE(std::to_string(configuradas) + " x " + std::to_string(categoria));
            AlertasEmail alertas([&] { return configuradas; });
            alertas.DefineFila(std::make_shared<FilaEmails>());
            alertas.EnfileiraAlertaEmail(categoria, nullptr, "texto");
            EXPECT_EQ(alertas.ContagemFilaEmails(), (configuradas & categoria) ? 1u : 0u);
        }
    }
}

// Workers queue while the main loop takes one alert a pass; then the stop work
// releases the queue. Every alert queued before the release is taken or left
// in the released queue exactly once, in each worker's order with no gap;
// nothing queued after the release lands anywhere.
TEST(AlertaEmail, TrabalhadoresEnfileiramEnquantoOLacoEnviaEAParadaLibera) {
    AlertasEmail alertas([] { return AlertaFalha | AlertaCapacidade; });
    auto fila = std::make_shared<FilaEmails>();
    alertas.DefineFila(fila);

    constexpr int kTrabalhadores = 8;
    std::atomic<bool> liberada{false};
    // First sequence number each worker queued after it saw the release.
    std::vector<int> primeiroDepois(kTrabalhadores, -1);
    std::vector<std::thread> trabalhadores;
    for (int t = 0; t < kTrabalhadores; ++t) {
        trabalhadores.emplace_back([&, t] {
            for (int seq = 0, depois = 0; depois < 100; ++seq) {
                // Keeps the queue bounded while the loop is slow to take.
                while (alertas.ContagemFilaEmails() > 2000 && !liberada.load())
                    std::this_thread::yield();
                const bool jaLiberada = liberada.load();
                if (jaLiberada && primeiroDepois[t] < 0) primeiroDepois[t] = seq;
                alertas.EnfileiraAlertaEmail(t % 2 ? AlertaFalha : AlertaCapacidade, nullptr,
                                             std::to_string(t) + ":" + std::to_string(seq));
                if (jaLiberada) ++depois;
            }
        });
    }
    std::vector<std::string> enviados;
    while (enviados.size() < 5000) {
        if (alertas.ContagemFilaEmails() == 0) {
            std::this_thread::yield();
            continue;
        }
        auto a = alertas.Fila()->RetiraPrimeiro();
        if (a) enviados.push_back(a->FLinhas.at(0));
    }
    alertas.DefineFila(nullptr);
    liberada = true;
    for (auto& t : trabalhadores) t.join();

    EXPECT_EQ(alertas.Fila(), nullptr);
    EXPECT_EQ(alertas.ContagemFilaEmails(), 0u);
    const std::size_t restantes = fila->Quantidade();
    while (auto a = fila->RetiraPrimeiro()) enviados.push_back(a->FLinhas.at(0));
    EXPECT_EQ(enviados.size(), 5000u + restantes);

    // Per worker: 0, 1, 2, ... without a gap or a repeat.
    std::vector<std::vector<int>> porTrabalhador(kTrabalhadores);
    for (const auto& e : enviados) {
        const auto dois = e.find(':');
        porTrabalhador.at(std::stoi(e.substr(0, dois))).push_back(std::stoi(e.substr(dois + 1)));
    }
    for (auto& seqs : porTrabalhador) {
        std::sort(seqs.begin(), seqs.end());
        for (std::size_t i = 0; i < seqs.size(); ++i) ASSERT_EQ(seqs[i], static_cast<int>(i));
    }
    // Alerts queued after the release left no trace.
    for (int t = 0; t < kTrabalhadores; ++t) {
        ASSERT_GE(primeiroDepois[t], 0);
        EXPECT_LE(static_cast<int>(porTrabalhador[t].size()), primeiroDepois[t]);
    }
}
