// The read-out's worker: steps handed to the main thread run there, one at a
// time, and destroying it while a step waits for the main thread neither
// deadlocks nor runs the step afterwards.

#include <QApplication>
#include <atomic>
#include <thread>

#include "TesteConsole.h"
#include "console/TrabalhadorPassos.h"

TEST(TrabalhadorPassos, PassosNaPrincipalEFim) {
    const auto principal = std::this_thread::get_id();
    std::atomic<int> verificacoes{0};
    int envios = 0;
    bool terminou = false;
    TrabalhadorPassos t(
        [&] {
            const int n = ++verificacoes;
            if (n >= 6) return TrabalhadorPassos::Acao::Termina;
            return n % 2 ? TrabalhadorPassos::Acao::EnviaNaPrincipal
                         : TrabalhadorPassos::Acao::Aguarda;
        },
        [&] {
            EXPECT_EQ(std::this_thread::get_id(), principal);
            ++envios;
        },
        [&] {
            EXPECT_EQ(std::this_thread::get_id(), principal);
            terminou = true;
        },
        std::chrono::milliseconds(5));
    t.Inicia();
    EXPECT_TRUE(t.Executando());
    ASSERT_TRUE(EsperaAte([&] { return terminou; }));
    EXPECT_EQ(envios, 3);
    EXPECT_FALSE(t.Executando());
}

TEST(TrabalhadorPassos, DestruidoComPassoPendente) {
    std::atomic<bool> pediu{false};
    bool enviou = false, terminou = false;
    {
        TrabalhadorPassos t(
            [&] {
                pediu = true;
                return TrabalhadorPassos::Acao::EnviaNaPrincipal;
            },
            [&] { enviou = true; }, [&] { terminou = true; });
        t.Inicia();
        // The main thread does not run its event loop: the step stays queued.
        while (!pediu) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QApplication::processEvents();
    EXPECT_FALSE(enviou);
    EXPECT_FALSE(terminou);
}
