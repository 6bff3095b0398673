#include "common/Sinais.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void NadaFaz(int) {}

// Other signals interrupting the wait do not restart its limit: with an
// interruption every 20 ms, a wait of 300 ms still ends near 300 ms (a wait
// that restarted its limit would last until the interruptions stop, 5 s).
TEST(Sinais, InterrupcoesNaoRecomecamOLimite) {
    BloqueiaSinaisParada();
    struct sigaction sa {};
    sa.sa_handler = NadaFaz;  // no SA_RESTART: the wait sees EINTR
    struct sigaction antes {};
    ASSERT_EQ(::sigaction(SIGUSR1, &sa, &antes), 0);
    const pthread_t alvo = ::pthread_self();
    std::atomic<bool> parar{false};
    std::thread interruptor([&] {
        const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!parar && std::chrono::steady_clock::now() < fim) {
            ::pthread_kill(alvo, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto t0 = std::chrono::steady_clock::now();
    const int r = AguardaSinalParada(std::chrono::milliseconds(300));
    const auto passou = std::chrono::steady_clock::now() - t0;
    parar = true;
    interruptor.join();
    ::sigaction(SIGUSR1, &antes, nullptr);
    EXPECT_EQ(r, 0);
    EXPECT_GE(passou, std::chrono::milliseconds(300));
    EXPECT_LT(passou, std::chrono::milliseconds(4500));

    // A stop signal that is there is taken at once.
    ::pthread_kill(alvo, SIGTERM);
    EXPECT_EQ(AguardaSinalParada(std::chrono::seconds(30)), SIGTERM);
}

}  // namespace
