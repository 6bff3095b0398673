// Test points: the kill on the chosen pass of the chosen point, and the pause
// that waits for the test's go-ahead.

#include "common/PontoTeste.h"

#include "tests/support/PastaTemporaria.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {
constexpr const char* Variavel = "VERUZADU_PONTO_TESTE";
}

TEST(PontoTeste, MorteSoNoPontoENaPassagemEscolhidos) {
    ::unsetenv(Variavel);
    MorteNoPonto(Variavel, "b");  // without the variable: nothing
    ::setenv(Variavel, "b", 1);
    MorteNoPonto(Variavel, "a");
    MorteNoPonto(Variavel, "");
    ::unsetenv(Variavel);

    EXPECT_EXIT(
        {
            ::setenv(Variavel, "b", 1);
            MorteNoPonto(Variavel, "b");
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EXIT(
        {
            ::setenv(Variavel, "b:3", 1);
            MorteNoPonto(Variavel, "b");
            MorteNoPonto(Variavel, "a");
            MorteNoPonto(Variavel, "b");
            std::fputs("duas passagens\n", stderr);
            MorteNoPonto(Variavel, "b");
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "duas passagens");
    // A new value counts its passes afresh.
    EXPECT_EXIT(
        {
            ::setenv(Variavel, "b:2", 1);
            MorteNoPonto(Variavel, "b");
            ::setenv(Variavel, "b:3", 1);
            MorteNoPonto(Variavel, "b");
            MorteNoPonto(Variavel, "b");
            std::fputs("vivo\n", stderr);
            MorteNoPonto(Variavel, "b");
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "vivo");
}

TEST(PontoTeste, PausaAteOSinalDoTeste) {
    PastaTemporaria pasta;
    ::unsetenv(Variavel);
    PausaNoPonto(Variavel, "backup");  // without the variable: no wait, no file
    EXPECT_FALSE(std::filesystem::exists(pasta / "backup"));

    ::setenv(Variavel, pasta.Caminho().c_str(), 1);
    std::atomic<bool> seguiu{false};
    std::thread t([&] {
        PausaNoPonto(Variavel, "backup");
        seguiu = true;
    });
    for (int i = 0; i < 200 && !std::filesystem::exists(pasta / "backup"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(pasta / "backup"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(seguiu);
    if (std::FILE* f = std::fopen((pasta / "backup.segue").c_str(), "w")) std::fclose(f);
    t.join();
    EXPECT_TRUE(seguiu);
    ::unsetenv(Variavel);
}
